#include "viewer/BookMarkIndex.h"

#include "foundation/QNTextEncoding.h"
#include "platform/core/FileManager.h"
#include "platform/core/PropertyList.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>

namespace {
constexpr size_t kHeader = 8;

uint32_t loadId(const std::vector<uint8_t>& raw) {
    return uint32_t(raw[0]) | uint32_t(raw[1]) << 8 | uint32_t(raw[2]) << 16 | uint32_t(raw[3]) << 24;
}

// Seeded once: re-seeding with the time on every add hands out the same id
// to every bookmark made within one second.
std::mt19937& generator() {
    static std::mt19937 g(static_cast<uint32_t>(std::random_device{}() ^
                                                uint32_t(std::chrono::steady_clock::now().time_since_epoch().count())));
    return g;
}
}  // namespace

std::vector<std::vector<uint8_t>> BookMarkIndex::readRaw(const std::string& indexFile) {
    std::vector<std::vector<uint8_t>> out;
    if (indexFile.empty()) return out;
    const auto array = sys::PropertyList::readArray(indexFile);
    if (!array) return out;
    for (const auto& v : *array)
        if (v.isData()) out.push_back(v.asData());
    return out;
}

bool BookMarkIndex::writeRaw(const std::string& indexFile, const std::vector<std::vector<uint8_t>>& items) {
    sys::PlistArray array;
    for (const auto& i : items) array.push_back(sys::PlistValue(sys::PlistData(i)));
    return sys::PropertyList::writeFile(sys::PlistValue(std::move(array)), indexFile);
}

std::optional<BookMarkIndex::Item> BookMarkIndex::parseItem(const std::vector<uint8_t>& raw) {
    if (raw.size() <= kHeader) return std::nullopt;
    Item item;
    item.id = loadId(raw);
    item.pageName.assign(reinterpret_cast<const char*>(raw.data()) + kHeader, raw.size() - kHeader);
    return item;
}

std::vector<BookMarkIndex::Item> BookMarkIndex::read(const std::string& indexFile) {
    std::vector<Item> out;
    for (const auto& raw : readRaw(indexFile))
        if (auto item = parseItem(raw)) out.push_back(std::move(*item));
    return out;
}

std::vector<uint8_t> BookMarkIndex::makeItem(uint32_t id, const std::string& pageName) {
    std::vector<uint8_t> raw(kHeader + pageName.size(), 0);
    for (int i = 0; i < 4; ++i) raw[i] = uint8_t(id >> (8 * i));
    std::copy(pageName.begin(), pageName.end(), raw.begin() + kHeader);
    return raw;
}

bool BookMarkIndex::isExistBookMarkID(const std::vector<std::vector<uint8_t>>& items, uint32_t id) {
    for (const auto& raw : items)
        if (raw.size() > kHeader && loadId(raw) == id) return true;
    return false;
}

std::optional<uint32_t> BookMarkIndex::newId(const std::vector<std::vector<uint8_t>>& items) {
    uint32_t id = generator()();
    // Each try is a distinct value, and at most items.size() values are taken.
    for (size_t tries = 0; tries <= items.size(); ++tries, ++id)
        if (!isExistBookMarkID(items, id)) return id;
    return std::nullopt;
}

std::string BookMarkIndex::thumbnailName(uint32_t id) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08X.jpg", unsigned(id));
    return buf;
}

std::string BookMarkIndex::displayName(const std::string& pageName) {
    // The entry ends at its NUL; one stored without one ends with the item.
    const std::string bytes = pageName.substr(0, pageName.find('\0'));
    const auto text = QNTextEncoding::stringWithCString(bytes.c_str());
    if (!text) return "";
    std::string s = *text;
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    const auto slash = s.rfind('/');
    return slash == std::string::npos ? s : s.substr(slash + 1);
}

std::optional<uint32_t> BookMarkIndex::add(const std::string& indexFile, const std::string& pageName) {
    if (indexFile.empty() || pageName.empty()) return std::nullopt;
    auto items = readRaw(indexFile);
    const auto id = newId(items);
    if (!id) return std::nullopt;
    items.push_back(makeItem(*id, pageName));
    if (!writeRaw(indexFile, items)) return std::nullopt;
    return id;
}

bool BookMarkIndex::remove(const std::string& indexFile, uint32_t id) {
    auto items = readRaw(indexFile);
    for (auto it = items.begin(); it != items.end(); ++it) {
        if (it->size() > kHeader && loadId(*it) == id) {
            items.erase(it);
            if (items.empty()) return sys::FileManager::removeItem(indexFile);
            return writeRaw(indexFile, items);
        }
    }
    return false;
}
