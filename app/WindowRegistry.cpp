#include "WindowRegistry.h"

namespace WindowRegistry {

QList<ProgramWindow*>& loadedWindows() {
    static QList<ProgramWindow*> windows;
    return windows;
}

bool unloadAll() {
    bool all = true;
    // A window's unload may load or unload others; take them one at a time from the end.
    QList<ProgramWindow*> refused;
    while (loadedWindows().size() > refused.size()) {
        ProgramWindow* last = nullptr;
        for (auto it = loadedWindows().crbegin(); it != loadedWindows().crend(); ++it) {
            if (!refused.contains(*it)) {
                last = *it;
                break;
            }
        }
        if (!last)
            break;
        const bool unloaded = last->unload();
        // One that stays (refused, or already unloading further up the stack) is passed over.
        if (loadedWindows().contains(last)) {
            refused << last;
            all = all && unloaded;
        }
    }
    return all;
}

} // namespace WindowRegistry
