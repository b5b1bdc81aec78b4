#pragma once
// Work that may block for a long time (a mail check waits on a server) runs on a thread of its
// own while the window thread keeps handling its events, so the characters go on answering: a
// right click still ends the program at once. Every piece of work runs on the same thread, one
// after another, so objects made by one piece can be used by the next.

#include <functional>

class QObject;

// Puts work on the background thread, after whatever is already there, and returns at once. done
// runs afterwards on the window thread, unless receiver (an object of that thread) is gone by
// then.
void startInBackground(QObject* receiver, std::function<void()> work, std::function<void()> done);
