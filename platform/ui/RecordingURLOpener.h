#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace ui {

// The application's URL opener for tests: it opens nothing, remembers
// every URL it was asked to open and answers canOpen for the schemes it is
// given. install() puts it in place; the returned object stays valid while
// the caller holds it.
class RecordingURLOpener {
public:
    static std::shared_ptr<RecordingURLOpener> install(std::set<std::string> schemes = {"http", "https", "mailto"});

    std::vector<std::string> opened;
    std::vector<std::string> asked;
    std::set<std::string> schemes;
    // When set, opening fails (the application reports false).
    bool failOpen = false;
};

}  // namespace ui
