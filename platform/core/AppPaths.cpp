#include "platform/core/AppPaths.h"

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/core/FileManager.h"
#include "platform/core/Path.h"

namespace sys {

namespace {

std::mutex gMutex;
std::string gOverride;

std::string absolute(const std::string& path) {
    std::error_code ec;
    auto p = std::filesystem::absolute(path, ec);
    return ec ? path : Path::standardizedSlashes(p.lexically_normal().string());
}

std::string userHome() {
    if (const char* h = std::getenv("HOME"); h && *h) return h;
    if (struct passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/tmp";
}

std::string resolveHome() {
    {
        std::lock_guard lock(gMutex);
        if (!gOverride.empty()) return gOverride;
    }
    if (const char* env = std::getenv("LEAFBRIGHT_HOME"); env && *env) return absolute(env);
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg && xdg[0] == '/')
        return Path::stringByAppendingPathComponent(xdg, "leafbright");
    return Path::stringByAppendingPathComponent(userHome(), ".local/share/leafbright");
}

// Makes the folder, private to the user; once per process, one that was
// there already is made private as well (a folder of ours, not a link).
void makePrivate(const std::string& path) {
    FileManager::createDirectory(path, true);
    static std::mutex checkedMutex;
    static std::set<std::string> checked;
    {
        std::lock_guard lock(checkedMutex);
        if (!checked.insert(path).second) return;
    }
    struct stat st{};
    if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 077) != 0)
        ::chmod(path.c_str(), st.st_mode & 0700);
}

std::string ensure(const std::string& relative) {
    std::string path = Path::stringByAppendingPathComponent(resolveHome(), relative);
    makePrivate(path);
    return path;
}

}  // namespace

std::string AppPaths::home() {
    std::string h = resolveHome();
    FileManager::createDirectory(h, true);
    return h;
}

std::string AppPaths::homePath() { return resolveHome(); }

void AppPaths::setHome(const std::string& folder) {
    std::string resolved = folder.empty() ? std::string() : absolute(folder);
    std::lock_guard lock(gMutex);
    gOverride = resolved;
}

std::string AppPaths::documents() { return ensure("Documents"); }
std::string AppPaths::library() { return ensure("Library"); }
std::string AppPaths::caches() { return ensure("Library/Caches"); }
std::string AppPaths::preferences() { return ensure("Library/Preferences"); }

std::string AppPaths::tmp() {
    std::string path = Path::stringByAppendingPathComponent(resolveHome(), "tmp");
    FileManager::createDirectory(Path::stringByDeletingLastPathComponent(path), true);
    ::mkdir(path.c_str(), 0700);
    // Also when it existed, every time: what is left here can be a
    // half-downloaded book.
    struct stat st{};
    if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & 077) != 0)
        ::chmod(path.c_str(), 0700);
    return path;
}

std::vector<std::string> AppPaths::makeHomePrivate() {
    std::vector<std::string> changed;
    const uid_t me = ::getuid();
    auto tighten = [&](const std::string& path, mode_t mode) {
        struct stat st{};
        if (::lstat(path.c_str(), &st) != 0 || st.st_uid != me || (st.st_mode & 077) == 0) return;
        if (::chmod(path.c_str(), mode) == 0) changed.push_back(path);
    };
    const std::string h = home();
    {
        // The home may be a link the user made to a folder of theirs: the
        // folder it names is the home.
        struct stat st{};
        if (::stat(h.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == me && (st.st_mode & 077) != 0 &&
            ::chmod(h.c_str(), 0700) == 0)
            changed.push_back(h);
    }
    const std::string lib = library();
    const std::string caches = Path::stringByAppendingPathComponent(lib, "Caches");
    std::error_code ec;
    namespace fs = std::filesystem;
    for (auto it = fs::recursive_directory_iterator(lib, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const std::string path = it->path().string();
        struct stat st{};
        if (::lstat(path.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            tighten(path, 0700);
            if (path == caches) it.disable_recursion_pending();
        } else if (S_ISREG(st.st_mode)) {
            tighten(path, 0600);
        }
    }
    return changed;
}

}  // namespace sys
