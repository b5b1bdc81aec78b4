#pragma once
// A check by hand's calls run on the background thread (BackgroundThread.h) while the user's
// input, but for the right button, is held off, so nothing else starts in the middle of them.

#include "BackgroundThread.h"

#include <functional>

// Runs work on the background thread and returns when it has finished; a runInBackground that
// comes while other work runs there waits for it.
void runInBackground(const std::function<void()>& work);
