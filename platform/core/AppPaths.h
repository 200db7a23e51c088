#pragma once

#include <string>
#include <vector>

namespace sys {

// The application's own folders, laid out as on the platform:
//   home/Documents            the user's books
//   home/Library              settings and state
//   home/Library/Caches       what can be made again
//   home/Library/Preferences  the user defaults
//   home/tmp                  scratch space
// Each is private to the user (0700): made so, and made so when found open
// to others (they hold site addresses, user names and reading history). A
// home the program makes is private too; one given that exists is left as
// it is here, and made private by makeHomePrivate() when the program starts.
//
// The home is, first to last: the folder given to setHome() (the program's
// --home), $LEAFBRIGHT_HOME, $XDG_DATA_HOME/leafbright, ~/.local/share/leafbright.
// Each accessor creates its folder when missing. Safe from any thread.
class AppPaths {
public:
    static std::string home();
    // Where the home is, without making it (to look for a program running
    // on it, say).
    static std::string homePath();
    // An empty string drops the override.
    static void setHome(const std::string& folder);

    static std::string documents();
    static std::string library();
    static std::string caches();
    static std::string preferences();
    static std::string tmp();

    // Once at start: the home itself made private (0700) and each file the
    // program keeps settings, records or secrets in (under Library, its
    // caches aside: their folder is private) made 0600, where they were open
    // to others and are the user's own. Folders of books under Documents are
    // left as they are: the private home guards them. What it changed, as
    // paths (none when all was private already).
    static std::vector<std::string> makeHomePrivate();
};

}  // namespace sys
