#include "foundation/ResourceLocator.h"
#include "LeafbrightPaths.h"

#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::mutex gMutex;
std::string gOverride;
std::string gFound;
bool gSearched = false;

bool isDirectory(const std::string& path) {
    struct stat st{};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string executableDirectory() {
    std::vector<char> buf(4096);
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) return {};
    std::string exe(buf.data(), static_cast<size_t>(n));
    auto slash = exe.rfind('/');
    return slash == std::string::npos ? std::string() : exe.substr(0, slash);
}

std::string search() {
    std::string exeDir = executableDirectory();
    std::vector<std::string> candidates;
    if (!exeDir.empty()) {
        candidates.push_back(exeDir + "/resources");
        auto up = exeDir.rfind('/');
        if (up != std::string::npos) candidates.push_back(exeDir.substr(0, up) + "/resources");
    }
#ifdef LEAFBRIGHT_SOURCE_DIR
    candidates.push_back(std::string(LEAFBRIGHT_SOURCE_DIR) + "/resources");
#endif
    for (const auto& c : candidates) {
        if (isDirectory(c)) return c;
    }
    return {};
}

}  // namespace

std::string ResourceLocator::resourcesDirectory() {
    std::lock_guard<std::mutex> lock(gMutex);
    if (!gOverride.empty()) return gOverride;
    if (!gSearched) {
        gFound = search();
        gSearched = true;
    }
    return gFound;
}

std::string ResourceLocator::pathForResource(const std::string& relative) {
    std::string dir = resourcesDirectory();
    if (dir.empty()) return {};
    return dir + "/" + relative;
}

void ResourceLocator::setResourcesDirectoryOverride(const std::string& path) {
    std::lock_guard<std::mutex> lock(gMutex);
    gOverride = path;
    while (gOverride.size() > 1 && gOverride.back() == '/') gOverride.pop_back();
}
