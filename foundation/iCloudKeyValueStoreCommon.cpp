#include "foundation/iCloudKeyValueStoreCommon.h"

#include "foundation/BookCommon.h"
#include "foundation/LibMD5.h"
#include "foundation/QNUrl.h"
#include "foundation/UrlPercent.h"
#include "platform/core/CloudKeyValueStore.h"
#include "platform/core/Date.h"
#include "platform/core/Path.h"
#include "platform/core/Unicode.h"

#include <cmath>
#include <limits>

namespace {

// The cloud entry's keys, in the order of the reading-position array.
constexpr const char* kEntryKeys[] = {
    "page",          "isSecond",         "numPages",       "targetFolder",           "is2NowPageLoaded",
    "isSubReadingPage", "subReadingPage", "subReadingPageIsSecound", "lastBookmarkDate",
};
constexpr size_t kEntryKeyCount = sizeof kEntryKeys / sizeof kEntryKeys[0];

bool hasBookmarkPrefix(const std::string& key) {
    return key.compare(0, std::char_traits<char>::length(iCloudKeyValueStoreCommon::kKeyPrefix),
                       iCloudKeyValueStoreCommon::kKeyPrefix) == 0;
}

int64_t nowSeconds() { return int64_t(std::floor(sys::Date::now().timeIntervalSince1970())); }

// Makes room for one more key: drops the entry with the oldest "date" that
// lies before now. Entries without a date are never chosen.
void dropOldestEntry(sys::CloudKeyValueStore& store, int64_t now) {
    sys::PlistDictionary all = store.dictionaryRepresentation();
    if (all.size() < iCloudKeyValueStoreCommon::kMaxKeys) return;
    std::optional<std::string> oldestKey;
    int64_t oldest = std::numeric_limits<int64_t>::max();
    for (const auto& [key, value] : all) {
        if (!value.isDictionary()) continue;
        const sys::PlistValue* date = value.asDictionary().find("date");
        if (!date || !date->isNumber()) continue;
        int64_t seconds = date->integerValue();
        if (seconds < now && seconds < oldest) {
            oldest = seconds;
            oldestKey = key;
        }
    }
    if (oldestKey) store.removeObjectForKey(*oldestKey);
}

}  // namespace

std::optional<std::string> iCloudKeyValueStoreCommon::getTitleWithFilepath(const std::string& path) {
    std::string source = path;
    if (BookCommon::isURL(path)) {
        auto url = QNUrl::URLWithString(path);
        if (!url) return std::nullopt;
        std::string decoded = UrlPercent::decoded(url->path());
        source = sys::Unicode::isValidUtf8(decoded) ? decoded : url->path();
    }
    std::string title = sys::Path::lastPathComponent(source);
    if (BookCommon::isImageFileWithFile(title)) {
        title = sys::Path::lastPathComponent(sys::Path::stringByDeletingLastPathComponent(source));
    }
    // The same name reaches us precomposed from one file system or server
    // and decomposed from another; the key must not depend on that.
    return sys::Unicode::nfd(title);
}

std::optional<std::string> iCloudKeyValueStoreCommon::getKeyWithFilepath(const std::string& path) {
    auto title = getTitleWithFilepath(path);
    if (!title) return std::nullopt;
    // Other devices form the same keys: the digest is in upper case.
    std::string digest = LibMD5::getMD5StringHexWithBytes(title->data(), title->size());
    bool isImage = BookCommon::isImageFileWithFile(path);
    return std::string(isImage ? "_bkf_" : "_bk_") + digest;
}

void iCloudKeyValueStoreCommon::updateBookmark(const std::string& path, const sys::PlistArray& info) {
    auto key = getKeyWithFilepath(path);
    auto title = getTitleWithFilepath(path);
    if (!key || !title) return;
    auto store = sys::CloudKeyValueStore::defaultStore();
    int64_t now = nowSeconds();
    if (store->objectForKey(*key).isNull()) dropOldestEntry(*store, now);

    sys::PlistDictionary entry;
    entry.set("title", *title);
    for (size_t i = 0; i < info.size() && i < kEntryKeyCount; ++i) entry.set(kEntryKeys[i], info[i]);
    entry.set("date", now);
    store->setObject(std::move(entry), *key);
    store->synchronize();
}

std::optional<sys::PlistArray> iCloudKeyValueStoreCommon::getBookmark(const std::string& path) {
    auto key = getKeyWithFilepath(path);
    if (!key) return std::nullopt;
    auto entry = sys::CloudKeyValueStore::defaultStore()->dictionaryForKey(*key);
    if (!entry) return std::nullopt;
    sys::PlistArray info;
    for (const char* k : kEntryKeys) {
        const sys::PlistValue* v = entry->find(k);
        if (!v) break;
        info.push_back(*v);
    }
    return info;
}

size_t iCloudKeyValueStoreCommon::getBookmarkCount() {
    size_t count = 0;
    for (const auto& key : sys::CloudKeyValueStore::defaultStore()->dictionaryRepresentation().keys()) {
        if (hasBookmarkPrefix(key)) ++count;
    }
    return count;
}

void iCloudKeyValueStoreCommon::removeAllValues() {
    auto store = sys::CloudKeyValueStore::defaultStore();
    for (const auto& key : store->dictionaryRepresentation().keys()) {
        if (hasBookmarkPrefix(key)) store->removeObjectForKey(key);
    }
    store->synchronize();
}
