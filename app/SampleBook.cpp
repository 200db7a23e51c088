#include "app/SampleBook.h"

#include "foundation/BookCommon.h"
#include "foundation/ResourceLocator.h"
#include "platform/core/FileManager.h"
#include "platform/core/Path.h"
#include "platform/core/UserDefaults.h"

#include <unistd.h>

#include <climits>
#include <mutex>

namespace {

std::mutex gMutex;
std::optional<std::optional<std::string>> gOverride;

std::string executableFolder() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "";
    return sys::Path::stringByDeletingLastPathComponent(std::string(buf, size_t(n)));
}

}  // namespace

void SampleBook::setSourcePathOverride(const std::optional<std::string>& path) {
    std::lock_guard<std::mutex> lock(gMutex);
    gOverride = path;
}

std::optional<std::string> SampleBook::sourcePath() {
    {
        std::lock_guard<std::mutex> lock(gMutex);
        if (gOverride) return *gOverride;
    }
    std::vector<std::string> candidates;
    const std::string exe = executableFolder();
    if (!exe.empty()) {
        candidates.push_back(exe + "/sample/" + kBuiltName);
        candidates.push_back(exe + "/../share/leafbright/" + kBuiltName);
    }
#ifdef LEAFBRIGHT_SAMPLE_BOOK
    candidates.push_back(LEAFBRIGHT_SAMPLE_BOOK);
#endif
    for (const auto& c : candidates) {
        bool dir = false;
        if (sys::FileManager::fileExists(c, &dir) && !dir) return c;
    }
    return std::nullopt;
}

bool SampleBook::isFirstRun() {
    const std::string name = ".version.lbs";
    if (sys::FileManager::fileExists(sys::Path::stringByAppendingPathComponent(BookCommon::getSettingsFolder(), name)))
        return false;
    if (sys::FileManager::fileExists(sys::Path::stringByAppendingPathComponent(BookCommon::getBooksDocumentsFolder(), name)))
        return false;
    return sys::UserDefaults::standard().integerForKey("LastVersion") == 0;
}

bool SampleBook::install() {
    auto source = sourcePath();
    if (!source) return false;
    const std::string target =
        sys::Path::stringByAppendingPathComponent(BookCommon::getBooksDocumentsFolder(), kInstalledName);
    if (sys::FileManager::fileExists(target)) return false;
    return sys::FileManager::copyItemPrivately(*source, target);
}

bool SampleBook::installTheme() {
    const std::string source = ResourceLocator::pathForResource(std::string("themes/") + kThemeName);
    if (source.empty() || !sys::FileManager::fileExists(source)) return false;
    const std::string target = sys::Path::stringByAppendingPathComponent(BookCommon::getBooksDocumentsFolder(), kThemeName);
    if (sys::FileManager::fileExists(target)) return false;
    return sys::FileManager::copyItemPrivately(source, target);
}

bool SampleBook::installIfFirstRun() {
    if (!isFirstRun()) return false;
    installTheme();
    return install();
}
