#pragma once

#include "platform/core/SessionBus.h"

#include <string>

namespace sys {

// The number on the program's icon in the desktop's launcher or dock: the
// Update signal of com.canonical.Unity.LauncherEntry on the session bus
// ("count" and "count-visible"), for the program's desktop entry. Where
// there is no session bus nothing happens; whoever shows launchers listens
// for the signal, so nobody needs to answer. Main thread only.
class LauncherEntry {
public:
    static constexpr const char* kInterface = "com.canonical.Unity.LauncherEntry";
    static constexpr const char* kPath = "/io/leafbright/LauncherEntry";

    // `busAddress` empty: the session bus of the environment.
    explicit LauncherEntry(std::string busAddress = {}, std::string appUri = "application://leafbright.desktop");
    ~LauncherEntry();
    LauncherEntry(const LauncherEntry&) = delete;
    LauncherEntry& operator=(const LauncherEntry&) = delete;

    // Shows `count` on the icon; 0 or less takes the number away. True when
    // the signal went out (it goes again only when the number changes).
    bool setCount(long count);
    long count() const { return count_; }

private:
    SessionBus bus_;
    std::string appUri_;
    long count_ = 0;
};

}  // namespace sys
