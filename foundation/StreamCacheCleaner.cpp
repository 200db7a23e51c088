#include "foundation/StreamCacheCleaner.h"

#include "platform/core/AppPaths.h"
#include "platform/core/Date.h"
#include "platform/core/FileManager.h"
#include "platform/core/Path.h"

#include <algorithm>
#include <optional>

namespace {

constexpr double kPeriods[] = {86400, 259200, 604800, 2592000, 7776000, 31536000, 94608000};

// The newest modification date of the item or anything inside it (links are
// not followed, so nothing outside the cache is looked at).
std::optional<double> newestModification(const std::string& path, int depth) {
    auto attrs = sys::FileManager::attributesOfItem(path);
    if (!attrs) return std::nullopt;
    double newest = attrs->modificationDate.timeIntervalSince1970();
    if (attrs->type == sys::FileManager::FileType::Directory && depth < 64) {
        if (auto names = sys::FileManager::contentsOfDirectory(path)) {
            for (const auto& n : *names) {
                auto t = newestModification(sys::Path::stringByAppendingPathComponent(path, n), depth + 1);
                if (t) newest = std::max(newest, *t);
            }
        }
    }
    return newest;
}

}  // namespace

double StreamCacheCleaner::getExpireDateWIthStreamConfigExpireDays(int code) {
    if (code < 0) return kPeriods[6];
    if (code > 6) return 0;
    return kPeriods[code];
}

void StreamCacheCleaner::removeStreamConfigWithDays(int code) {
    std::string root = sys::Path::stringByAppendingPathComponent(sys::AppPaths::caches(), "_st");
    auto names = sys::FileManager::contentsOfDirectory(root);
    if (!names) return;
    double period = getExpireDateWIthStreamConfigExpireDays(code);
    double now = sys::Date::now().timeIntervalSince1970();
    for (const auto& name : *names) {
        std::string entry = sys::Path::stringByAppendingPathComponent(root, name);
        auto newest = newestModification(entry, 0);
        if (newest && now - *newest > period) sys::FileManager::removeItem(entry);
    }
}
