#include "platform/ui/DocumentPicker.h"

#include "platform/core/AppPaths.h"
#include "platform/core/RunLoop.h"
#include "platform/ui/ChildProcess.h"
#include "platform/ui/Log.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <sys/stat.h>

namespace ui {

namespace {

std::mutex& sharedMutex() {
    static std::mutex m;
    return m;
}
std::shared_ptr<DocumentPicker>& sharedPicker() {
    static std::shared_ptr<DocumentPicker> p;
    return p;
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

}  // namespace

DocumentPicker::~DocumentPicker() {
    if (child_) child_->kill();
}

std::shared_ptr<DocumentPicker> DocumentPicker::shared() {
    std::lock_guard<std::mutex> lock(sharedMutex());
    if (!sharedPicker()) sharedPicker() = std::make_shared<DocumentPicker>();
    return sharedPicker();
}

void DocumentPicker::setShared(std::shared_ptr<DocumentPicker> p) {
    std::lock_guard<std::mutex> lock(sharedMutex());
    sharedPicker() = std::move(p);
}

std::vector<std::string> DocumentPicker::acceptable(const std::string& output,
                                                    const std::vector<std::string>& extensions, bool multiple) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        if (end == std::string::npos) end = output.size();
        std::string line = output.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line.front() != '/') continue;
        struct stat st;
        if (::stat(line.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (!extensions.empty()) {
            size_t slash = line.rfind('/');
            size_t dot = line.rfind('.');
            if (dot == std::string::npos || dot < slash) continue;
            std::string ext = lower(line.substr(dot + 1));
            bool ok = false;
            for (auto& e : extensions) ok = ok || lower(e) == ext;
            if (!ok) continue;
        }
        out.push_back(line);
        if (!multiple) break;
    }
    return out;
}

void DocumentPicker::pickDocuments(const std::vector<std::string>& extensions, bool allowsMultiple,
                                   Completion completion) {
    auto answer = [completion](std::vector<std::string> paths) {
        if (completion) sys::RunLoop::main().post([completion, paths] { completion(paths); });
    };
    if (child_) {
        logWarning("document picker: a chooser is already open");
        return answer({});
    }
    std::string patterns;
    for (auto& e : extensions) {
        bool safe = !e.empty() && std::all_of(e.begin(), e.end(), [](unsigned char c) { return std::isalnum(c); });
        if (!safe) continue;
        if (!patterns.empty()) patterns += ' ';
        patterns += "*." + lower(e);
    }
    std::vector<std::string> argv;
    if (ChildProcess::existsOnPath("zenity")) {
        argv = {"zenity", "--file-selection", "--separator=\n"};
        if (allowsMultiple) argv.push_back("--multiple");
        if (!patterns.empty()) argv.push_back("--file-filter=Books | " + patterns);
    } else if (ChildProcess::existsOnPath("kdialog")) {
        argv = {"kdialog", "--getopenfilename", sys::AppPaths::home()};
        if (!patterns.empty()) argv.push_back(patterns);
        if (allowsMultiple) {
            argv.push_back("--multiple");
            argv.push_back("--separate-output");
        }
    } else {
        return answer({});
    }
    std::weak_ptr<bool> alive = alive_;
    child_ = ChildProcess::start(argv, [this, alive, extensions, allowsMultiple, answer](int code,
                                                                                       const std::string& out) {
        if (alive.lock()) child_.reset();
        answer(code == 0 ? acceptable(out, extensions, allowsMultiple) : std::vector<std::string>{});
    });
    if (!child_) answer({});
}

}  // namespace ui
