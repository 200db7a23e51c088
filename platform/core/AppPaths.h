#pragma once

#include <string>

namespace sys {

// The application's own folders, laid out as on the platform:
//   home/Documents            the user's books
//   home/Library              settings and state
//   home/Library/Caches       what can be made again
//   home/Library/Preferences  the user defaults
//   home/tmp                  scratch space, private to the user (0700)
//
// The home is, first to last: the folder given to setHome() (the program's
// --home), $LEAFBRIGHT_HOME, $XDG_DATA_HOME/leafbright, ~/.local/share/leafbright.
// Each accessor creates its folder when missing. Safe from any thread.
class AppPaths {
public:
    static std::string home();
    // An empty string drops the override.
    static void setHome(const std::string& folder);

    static std::string documents();
    static std::string library();
    static std::string caches();
    static std::string preferences();
    static std::string tmp();
};

}  // namespace sys
