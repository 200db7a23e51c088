#include "platform/ui/DesktopShareService.h"

#include "platform/core/RunLoop.h"
#include "platform/ui/ChildProcess.h"
#include "platform/ui/SystemURLOpener.h"

#include <sys/stat.h>

namespace ui {

namespace {

bool isRegularFile(const std::string& path) {
    struct stat st;
    return !path.empty() && path.front() == '/' && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

bool DesktopShareService::openIn(const std::string& path, const Anchor&) {
    if (!isRegularFile(path) || !ChildProcess::existsOnPath("xdg-open")) return false;
    return ChildProcess::start({"xdg-open", path}, {}) != nullptr;
}

void DesktopShareService::share(const std::vector<std::string>& items, const Anchor&, Completion completion) {
    bool started = false;
    if (items.size() == 1) {
        const std::string& item = items.front();
        if (isRegularFile(item)) {
            size_t slash = item.rfind('/');
            std::string folder = slash == 0 ? std::string(1, '/') : item.substr(0, slash);
            if (ChildProcess::existsOnPath("xdg-open")) started = ChildProcess::start({"xdg-open", folder}, {}) != nullptr;
        } else if (SystemURLOpener::canOpen(item)) {
            started = SystemURLOpener::open(item);
        }
    }
    if (completion) sys::RunLoop::main().post([completion, started] { completion(started); });
}

}  // namespace ui
