#include "platform/ui/SystemURLOpener.h"

#include "platform/ui/Application.h"
#include "platform/ui/ChildProcess.h"

#include <algorithm>
#include <cctype>

namespace ui {

std::string SystemURLOpener::scheme(const std::string& url) {
    size_t colon = url.find(':');
    if (colon == std::string::npos || colon == 0) return "";
    std::string s = url.substr(0, colon);
    // A scheme is letters, digits, + - . and starts with a letter.
    if (!std::isalpha(static_cast<unsigned char>(s[0]))) return "";
    for (char c : s)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return "";
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

bool SystemURLOpener::canOpen(const std::string& url) {
    static const char* schemes[] = {"http", "https", "mailto", "file", "ftp"};
    std::string s = scheme(url);
    if (std::find(std::begin(schemes), std::end(schemes), s) == std::end(schemes)) return false;
    // Control characters never reach another program.
    for (unsigned char c : url)
        if (c < 0x20 || c == 0x7f) return false;
    return ChildProcess::existsOnPath("xdg-open");
}

bool SystemURLOpener::open(const std::string& url) {
    if (!canOpen(url)) return false;
    return ChildProcess::start({"xdg-open", url}, {}) != nullptr;
}

bool SystemURLOpener::openTelling(const std::string& url, std::function<void(bool)> outcome) {
    if (!canOpen(url)) return false;
    return ChildProcess::start({"xdg-open", url}, [outcome](int code, const std::string&) {
               if (outcome) outcome(code == 0);
           }) != nullptr;
}

void SystemURLOpener::install() {
    Application::shared().setURLOpener({canOpen, open, openTelling});
}

}  // namespace ui
