#pragma once
// The registry of the program's global windows.
//
// win<T>() is the one way to reach a window: the first use creates and loads it without showing
// it, later uses return the same instance; unloading destroys it and the next use creates and loads
// it again. The instance is known before its load handler runs, so a load handler that touches its
// own window gets itself rather than a second copy. A window that unloads itself during its load
// (the startup character when another instance runs) is not handed out: win<T>() gives nullptr.
//
// loaded<T>() reads a window only when it is loaded, and loadedWindows() lists them all.

#include "ProgramWindow.h"

#include <QList>
#include <type_traits>

namespace WindowRegistry {

// Every loaded window, in the order of their loads.
QList<ProgramWindow*>& loadedWindows();

template <class T> T*& slot() {
    static T* instance = nullptr;
    return instance;
}

// The window if it is loaded, without loading it.
template <class T> T* loaded() {
    return slot<T>();
}

template <class T> bool isLoaded() {
    return slot<T>() != nullptr;
}

template <class T> T* get() {
    static_assert(std::is_base_of_v<ProgramWindow, T>);
    T*& s = slot<T>();
    if (!s) {
        T* w = new T();
        s = w;
        loadedWindows().append(w);
        w->setForget([w] {
            if (slot<T>() == w)
                slot<T>() = nullptr;
            loadedWindows().removeOne(w);
        });
        w->onLoad();
        // The load handler may have unloaded the window again.
        return slot<T>();
    }
    return s;
}

template <class T> bool unload() {
    T* s = slot<T>();
    return s ? s->unload() : true;
}

// Unloads every loaded window, the last loaded first; false when one of them refused. The
// characters' unload ends the program.
bool unloadAll();

} // namespace WindowRegistry

template <class T> T* win() {
    return WindowRegistry::get<T>();
}
