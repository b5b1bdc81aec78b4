#pragma once
// One of the program's windows, made and loaded at its first use and destroyed by its unload; the
// next use makes and loads a new one. The program's root keeps one of these for each window that
// is not needed at the start, so that a dozing character never pays for the others.
//
// The window is known before its load handler runs, so a load handler that reaches its own window
// gets itself rather than a second copy; a window that unloads itself during its load is not
// handed out.

#include "ProgramWindow.h"

#include <functional>
#include <type_traits>

template <class T> class LazyWindow {
    static_assert(std::is_base_of_v<ProgramWindow, T>);

  public:
    explicit LazyWindow(std::function<T*()> make) : m_make(std::move(make)) {}
    ~LazyWindow() {
        if (m_window) {
            m_window->setForget({});
            delete m_window;
        }
    }
    LazyWindow(const LazyWindow&) = delete;
    LazyWindow& operator=(const LazyWindow&) = delete;

    // The window, made and loaded (not shown) if it is not loaded.
    T* get() {
        if (!m_window) {
            T* w = m_make();
            m_window = w;
            w->setForget([this, w] {
                if (m_window == w)
                    m_window = nullptr;
            });
            w->onLoad();
        }
        return m_window;
    }
    T* operator->() { return get(); }

    // The window if it is loaded, without loading it.
    T* loaded() const { return m_window; }
    bool isLoaded() const { return m_window != nullptr; }

    // True when nothing is loaded or the loaded window unloaded; false when it refused.
    bool unload() { return m_window ? m_window->unload() : true; }

  private:
    std::function<T*()> m_make;
    T* m_window = nullptr;
};
