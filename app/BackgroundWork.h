#pragma once
// Work that may block for a long time (a mail check waits on a server) runs on a thread of its
// own while the window thread keeps handling its events, so the characters go on answering: a
// right click still ends the program at once. Meanwhile the rest of the user's input is held
// off, so nothing else starts in the middle of that work.

#include <functional>

class QObject;

// Runs work on the background thread and returns when it has finished. Every call runs on the
// same thread, one after another, so objects made by one call can be used by the next.
void runInBackground(const std::function<void()>& work);

// Puts work on the same thread, after whatever is already there, and returns at once; the user's
// input is not held off. done runs afterwards on the window thread, unless receiver (an object of
// that thread) is gone by then. A runInBackground that comes while the work runs waits for it.
void startInBackground(QObject* receiver, std::function<void()> work, std::function<void()> done);
