#pragma once

#include <functional>
#include <string>

namespace ui {

// Opening URLs in the desktop's own programs (the web browser, the mail
// program, the file manager) through xdg-open. install() makes it the
// application's opener; canOpen answers for the schemes a desktop hands
// on, and only when xdg-open is there.
class SystemURLOpener {
public:
    static void install();
    static bool canOpen(const std::string& url);
    // Starts xdg-open; false when it could not be started. Its exit status
    // is not waited for here.
    static bool open(const std::string& url);
    // Starts xdg-open and tells, once it ended, whether it opened the URL
    // (its status 0: a desktop without a browser makes it fail at once);
    // false when it could not be started.
    static bool openTelling(const std::string& url, std::function<void(bool)> outcome);
    // The scheme of a URL in lower case ("" when it has none).
    static std::string scheme(const std::string& url);
};

}  // namespace ui
