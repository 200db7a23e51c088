#include "platform/core/PropertyList.h"

#include <plist/plist.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "platform/core/FileManager.h"
#include "platform/core/Unicode.h"

namespace sys {

namespace {

constexpr std::string_view kBinaryMagic = "bplist00";
// About 3000 years either side of 1970.
constexpr double kDateLimit = 1e11;

struct PlistFree {
    void operator()(void* p) const { plist_free(p); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

std::uint64_t readBigEndian(const unsigned char* p, unsigned bytes) {
    std::uint64_t v = 0;
    for (unsigned i = 0; i < bytes; ++i) v = (v << 8) | p[i];
    return v;
}

void writeBigEndian(unsigned char* p, std::uint64_t v, unsigned bytes) {
    for (unsigned i = 0; i < bytes; ++i) p[bytes - 1 - i] = static_cast<unsigned char>(v >> (8 * i));
}

// ---------------------------------------------------------------------------
// Checks done before the library sees the bytes: its parsers recurse once per
// level of nesting and expand shared objects of binary files into copies, so
// a small hostile file could exhaust the stack or the memory.

bool xmlNestingWithinLimit(std::string_view s) {
    int depth = 0;
    std::size_t i = 0;
    while ((i = s.find('<', i)) != std::string_view::npos) {
        std::string_view rest = s.substr(i);
        if (rest.starts_with("<!--")) {
            i = s.find("-->", i + 4);
            if (i == std::string_view::npos) break;
            i += 3;
            continue;
        }
        if (rest.starts_with("<![CDATA[")) {
            i = s.find("]]>", i + 9);
            if (i == std::string_view::npos) break;
            i += 3;
            continue;
        }
        std::size_t end = s.find('>', i);
        if (end == std::string_view::npos) break;
        if (rest.starts_with("<?") || rest.starts_with("<!")) {
            i = end + 1;
            continue;
        }
        bool closing = rest.size() > 1 && rest[1] == '/';
        std::size_t nameStart = i + (closing ? 2 : 1);
        std::size_t nameEnd = nameStart;
        while (nameEnd < s.size() && ((s[nameEnd] >= 'a' && s[nameEnd] <= 'z') || (s[nameEnd] >= 'A' && s[nameEnd] <= 'Z')))
            ++nameEnd;
        std::string_view name = s.substr(nameStart, nameEnd - nameStart);
        bool container = name == "array" || name == "dict" || name == "plist";
        bool selfClosing = end > i && s[end - 1] == '/';
        if (container && !selfClosing) {
            if (closing) {
                if (depth > 0) --depth;
            } else if (++depth > PropertyList::kMaxDepth + 1) {
                return false;
            }
        }
        i = end + 1;
    }
    return true;
}

struct BinaryLayout {
    const unsigned char* data;
    std::size_t size;
    unsigned offsetSize;
    unsigned refSize;
    std::uint64_t objects;
    std::uint64_t top;
    std::uint64_t table;

    bool offsetOf(std::uint64_t object, std::uint64_t& offset) const {
        offset = readBigEndian(data + table + object * offsetSize, offsetSize);
        return offset >= kBinaryMagic.size() && offset < table;
    }
};

bool readLayout(std::string_view bytes, BinaryLayout& l) {
    if (bytes.size() < kBinaryMagic.size() + 32) return false;
    l.data = reinterpret_cast<const unsigned char*>(bytes.data());
    l.size = bytes.size();
    const unsigned char* trailer = l.data + l.size - 32;
    l.offsetSize = trailer[6];
    l.refSize = trailer[7];
    l.objects = readBigEndian(trailer + 8, 8);
    l.top = readBigEndian(trailer + 16, 8);
    l.table = readBigEndian(trailer + 24, 8);
    if (l.offsetSize < 1 || l.offsetSize > 8 || l.refSize < 1 || l.refSize > 8) return false;
    if (l.objects == 0 || l.objects > l.size || l.top >= l.objects) return false;
    if (l.table < kBinaryMagic.size() || l.table > l.size - 32) return false;
    if ((l.size - 32 - l.table) / l.offsetSize < l.objects) return false;
    return true;
}

// Whether object `key` is a string without NUL characters.
bool keyIsUsable(const BinaryLayout& l, std::uint64_t key) {
    std::uint64_t offset = 0;
    if (!l.offsetOf(key, offset)) return false;
    unsigned char marker = l.data[offset];
    unsigned kind = marker >> 4;
    if (kind != 0x5 && kind != 0x6) return false;
    std::uint64_t length = marker & 0x0F;
    std::uint64_t pos = offset + 1;
    if (length == 0x0F) {
        if (pos >= l.table) return false;
        unsigned char intMarker = l.data[pos];
        if ((intMarker >> 4) != 0x1 || (intMarker & 0x0F) > 3) return false;
        unsigned bytes = 1u << (intMarker & 0x0F);
        if (pos + 1 + bytes > l.table) return false;
        length = readBigEndian(l.data + pos + 1, bytes);
        pos += 1 + bytes;
    }
    unsigned unit = kind == 0x6 ? 2 : 1;
    if (length > (l.table - pos) / unit) return false;
    for (std::uint64_t i = 0; i < length; ++i) {
        bool zero = unit == 1 ? l.data[pos + i] == 0 : (l.data[pos + 2 * i] == 0 && l.data[pos + 2 * i + 1] == 0);
        if (zero) return false;
    }
    return true;
}

// Where a container's references start and how many there are; count 0 for
// objects that are not containers. False when the object is malformed.
bool containerRefs(const BinaryLayout& l, std::uint64_t object, std::uint64_t& refStart, std::uint64_t& refCount) {
    std::uint64_t offset = 0;
    if (!l.offsetOf(object, offset)) return false;
    unsigned char marker = l.data[offset];
    unsigned kind = marker >> 4;
    refCount = 0;
    if (kind != 0xA && kind != 0xC && kind != 0xD) return true;
    std::uint64_t count = marker & 0x0F;
    std::uint64_t pos = offset + 1;
    if (count == 0x0F) {
        if (pos >= l.table) return false;
        unsigned char intMarker = l.data[pos];
        if ((intMarker >> 4) != 0x1 || (intMarker & 0x0F) > 3) return false;
        unsigned bytes = 1u << (intMarker & 0x0F);
        if (pos + 1 + bytes > l.table) return false;
        count = readBigEndian(l.data + pos + 1, bytes);
        pos += 1 + bytes;
    }
    if (kind == 0xD) {
        if (count > l.objects) return false;
        count *= 2;
    }
    if (count > (l.table - pos) / l.refSize) return false;
    if (kind == 0xD) {
        // The library aborts on a key that is not a string or holds a NUL.
        for (std::uint64_t k = 0; k < count / 2; ++k) {
            std::uint64_t key = readBigEndian(l.data + pos + k * l.refSize, l.refSize);
            if (key >= l.objects || !keyIsUsable(l, key)) return false;
        }
    }
    refStart = pos;
    refCount = count;
    return true;
}

bool binaryShapeWithinLimit(std::string_view bytes) {
    BinaryLayout l{};
    if (!readLayout(bytes, l)) return false;
    enum : unsigned char { Unseen, Open, Done };
    std::vector<unsigned char> state(l.objects, Unseen);
    std::vector<std::uint32_t> depth(l.objects, 0);
    std::vector<std::uint64_t> nodes(l.objects, 0);
    struct Frame {
        std::uint64_t object, refStart, refCount, next;
    };
    std::vector<Frame> stack;
    auto open = [&](std::uint64_t object) {
        Frame f{object, 0, 0, 0};
        if (!containerRefs(l, object, f.refStart, f.refCount)) return false;
        state[object] = Open;
        stack.push_back(f);
        return stack.size() <= std::size_t(PropertyList::kMaxDepth) + 1;
    };
    if (!open(l.top)) return false;
    while (!stack.empty()) {
        Frame& f = stack.back();
        if (f.next < f.refCount) {
            std::uint64_t child = readBigEndian(l.data + f.refStart + f.next * l.refSize, l.refSize);
            ++f.next;
            if (child >= l.objects || state[child] == Open) return false;  // bad reference or a cycle
            if (state[child] == Unseen && !open(child)) return false;
            continue;
        }
        std::uint32_t deepest = 0;
        std::uint64_t total = 1;
        for (std::uint64_t k = 0; k < f.refCount; ++k) {
            std::uint64_t child = readBigEndian(l.data + f.refStart + k * l.refSize, l.refSize);
            deepest = std::max(deepest, depth[child]);
            total += nodes[child];
            if (total > PropertyList::kMaxNodes) return false;
        }
        depth[f.object] = deepest + 1;
        nodes[f.object] = total;
        if (depth[f.object] > std::uint32_t(PropertyList::kMaxDepth) + 1) return false;
        state[f.object] = Done;
        stack.pop_back();
    }
    return true;
}

// ---------------------------------------------------------------------------
// The library's accessors cannot tell a large unsigned integer from a negative
// one, and pass dates through 32-bit seconds. Its binary form keeps both
// exactly, so single values go through that form.

// The bytes of the one value `node`, as the binary writer puts them.
std::vector<unsigned char> binaryObjectOf(plist_t node) {
    PlistPtr holder(plist_new_array());
    plist_array_append_item(holder.get(), plist_copy(node));
    char* buf = nullptr;
    uint32_t length = 0;
    plist_to_bin(holder.get(), &buf, &length);
    std::vector<unsigned char> out;
    if (!buf) return out;
    std::string_view bytes(buf, length);
    BinaryLayout l{};
    std::uint64_t offset = 0;
    if (readLayout(bytes, l) && l.objects >= 2 && l.offsetOf(1, offset))
        out.assign(l.data + offset, l.data + l.table);
    plist_to_bin_free(buf);
    return out;
}

// A node made from one value in binary form.
plist_t nodeFromBinaryObject(const unsigned char* object, std::size_t size) {
    std::vector<unsigned char> file(kBinaryMagic.begin(), kBinaryMagic.end());
    file.insert(file.end(), object, object + size);
    std::uint64_t table = file.size();
    file.push_back(static_cast<unsigned char>(kBinaryMagic.size()));  // offset of object 0
    unsigned char trailer[32] = {};
    trailer[6] = 1;
    trailer[7] = 1;
    writeBigEndian(trailer + 8, 1, 8);
    writeBigEndian(trailer + 16, 0, 8);
    writeBigEndian(trailer + 24, table, 8);
    file.insert(file.end(), trailer, trailer + 32);
    plist_t node = nullptr;
    plist_from_bin(reinterpret_cast<const char*>(file.data()), uint32_t(file.size()), &node);
    return node;
}

plist_t makeDate(Date date) {
    unsigned char object[9] = {0x33};
    double seconds = date.timeIntervalSinceReferenceDate();
    std::uint64_t bits = 0;
    std::memcpy(&bits, &seconds, sizeof bits);
    writeBigEndian(object + 1, bits, 8);
    return nodeFromBinaryObject(object, sizeof object);
}

plist_t makeUnsigned(std::uint64_t value) {
    if (value <= std::uint64_t(std::numeric_limits<std::int64_t>::max())) return plist_new_uint(value);
    unsigned char object[17] = {0x14};
    writeBigEndian(object + 9, value, 8);
    return nodeFromBinaryObject(object, sizeof object);
}

std::optional<Date> readDate(plist_t node) {
    std::vector<unsigned char> object = binaryObjectOf(node);
    if (object.size() < 9 || object[0] != 0x33) return std::nullopt;
    std::uint64_t bits = readBigEndian(object.data() + 1, 8);
    double seconds = 0;
    std::memcpy(&seconds, &bits, sizeof seconds);
    return Date::fromTimeIntervalSinceReferenceDate(seconds);
}

// ---------------------------------------------------------------------------

std::optional<PlistValue> fromNode(plist_t node, int depth) {
    if (!node || depth > PropertyList::kMaxDepth) return std::nullopt;
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return PlistValue(b != 0);
    }
    case PLIST_UINT: {
        uint64_t v = 0;
        plist_get_uint_val(node, &v);
        if (v > std::uint64_t(std::numeric_limits<std::int64_t>::max())) {
            std::vector<unsigned char> object = binaryObjectOf(node);
            if (!object.empty() && object[0] == 0x14) return PlistValue(std::uint64_t(v));
        }
        return PlistValue(std::int64_t(v));
    }
    case PLIST_UID: {
        uint64_t v = 0;
        plist_get_uid_val(node, &v);
        return PlistValue(std::uint64_t(v));
    }
    case PLIST_REAL: {
        double d = 0;
        plist_get_real_val(node, &d);
        return PlistValue(d);
    }
    case PLIST_STRING:
    case PLIST_KEY: {
        uint64_t length = 0;
        const char* s = plist_get_string_ptr(node, &length);
        return PlistValue(std::string(s ? s : "", s ? std::size_t(length) : 0));
    }
    case PLIST_DATE: {
        auto date = readDate(node);
        if (!date) return std::nullopt;
        return PlistValue(*date);
    }
    case PLIST_DATA: {
        uint64_t length = 0;
        const char* p = plist_get_data_ptr(node, &length);
        if (!p) return PlistValue(PlistData{});
        return PlistValue(PlistData(reinterpret_cast<const std::uint8_t*>(p),
                                    reinterpret_cast<const std::uint8_t*>(p) + length));
    }
    case PLIST_ARRAY: {
        PlistArray array;
        uint32_t n = plist_array_get_size(node);
        array.reserve(n);
        for (uint32_t i = 0; i < n; ++i) {
            auto item = fromNode(plist_array_get_item(node, i), depth + 1);
            if (!item) return std::nullopt;
            array.push_back(std::move(*item));
        }
        return PlistValue(std::move(array));
    }
    case PLIST_DICT: {
        PlistDictionary dict;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        if (!it) return PlistValue(std::move(dict));
        bool ok = true;
        for (;;) {
            char* key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, it, &key, &value);
            if (!key) break;
            auto item = fromNode(value, depth + 1);
            if (item && !item->isNull()) dict.set(key, std::move(*item));
            else ok = false;
            std::free(key);
            if (!ok) break;
        }
        std::free(it);
        if (!ok) return std::nullopt;
        return PlistValue(std::move(dict));
    }
    default: return std::nullopt;
    }
}

bool writableString(const std::string& s) {
    return s.find('\0') == std::string::npos && Unicode::isValidUtf8(s);
}

plist_t toNode(const PlistValue& value, int depth, int& err) {
    if (depth > PropertyList::kMaxDepth) {
        err = EINVAL;
        return nullptr;
    }
    switch (value.type()) {
    case PlistValue::Type::Null: err = EINVAL; return nullptr;
    case PlistValue::Type::String:
        if (!writableString(value.asString())) {
            err = EILSEQ;
            return nullptr;
        }
        return plist_new_string(value.asString().c_str());
    case PlistValue::Type::Integer:
        if (value.isUnsignedInteger()) return makeUnsigned(value.unsignedIntegerValue());
        return plist_new_uint(std::uint64_t(value.integerValue()));
    case PlistValue::Type::Real: return plist_new_real(value.doubleValue());
    case PlistValue::Type::Bool: return plist_new_bool(value.boolValue() ? 1 : 0);
    case PlistValue::Type::Date: {
        // The library's date printing aborts on years it cannot convert.
        double t = value.asDate()->timeIntervalSince1970();
        if (!(t > -kDateLimit && t < kDateLimit)) {
            err = EINVAL;
            return nullptr;
        }
        return makeDate(*value.asDate());
    }
    case PlistValue::Type::Data: {
        const PlistData& d = value.asData();
        return plist_new_data(reinterpret_cast<const char*>(d.data()), d.size());
    }
    case PlistValue::Type::Array: {
        PlistPtr array(plist_new_array());
        for (const PlistValue& item : value.asArray()) {
            plist_t child = toNode(item, depth + 1, err);
            if (!child) return nullptr;
            plist_array_append_item(array.get(), child);
        }
        return array.release();
    }
    case PlistValue::Type::Dictionary: {
        PlistPtr dict(plist_new_dict());
        for (const auto& [key, item] : value.asDictionary()) {
            if (!writableString(key)) {
                err = EILSEQ;
                return nullptr;
            }
            plist_t child = toNode(item, depth + 1, err);
            if (!child) return nullptr;
            plist_dict_set_item(dict.get(), key.c_str(), child);
        }
        return dict.release();
    }
    }
    err = EINVAL;
    return nullptr;
}

}  // namespace

std::optional<PlistValue> PropertyList::parse(std::string_view bytes, Format* format) {
    if (bytes.empty() || bytes.size() > kMaxFileSize) return std::nullopt;
    plist_t root = nullptr;
    if (bytes.starts_with(kBinaryMagic)) {
        if (!binaryShapeWithinLimit(bytes)) return std::nullopt;
        plist_from_bin(bytes.data(), uint32_t(bytes.size()), &root);
        if (format) *format = Format::Binary;
    } else {
        if (!xmlNestingWithinLimit(bytes)) return std::nullopt;
        plist_from_xml(bytes.data(), uint32_t(bytes.size()), &root);
        if (format) *format = Format::Xml;
    }
    if (!root) return std::nullopt;
    PlistPtr holder(root);
    return fromNode(root, 0);
}

std::optional<PlistValue> PropertyList::readFile(const std::string& path, Format* format) {
    auto bytes = FileManager::contentsOfFile(path, kMaxFileSize);
    if (!bytes) return std::nullopt;
    return parse(*bytes, format);
}

std::optional<PlistDictionary> PropertyList::readDictionary(const std::string& path) {
    auto value = readFile(path);
    if (!value || !value->isDictionary()) return std::nullopt;
    return std::move(*value->dictionaryPointer());
}

std::optional<PlistArray> PropertyList::readArray(const std::string& path) {
    auto value = readFile(path);
    if (!value || !value->isArray()) return std::nullopt;
    return std::move(*value->arrayPointer());
}

std::optional<std::string> PropertyList::serialize(const PlistValue& value, Format format, std::error_code* error) {
    int err = 0;
    PlistPtr root(toNode(value, 0, err));
    if (!root) {
        if (error) *error = std::error_code(err ? err : EINVAL, std::generic_category());
        return std::nullopt;
    }
    char* buf = nullptr;
    uint32_t length = 0;
    if (format == Format::Xml)
        plist_to_xml(root.get(), &buf, &length);
    else
        plist_to_bin(root.get(), &buf, &length);
    if (!buf) {
        if (error) *error = std::error_code(ENOMEM, std::generic_category());
        return std::nullopt;
    }
    std::string out(buf, length);
    if (format == Format::Xml)
        plist_to_xml_free(buf);
    else
        plist_to_bin_free(buf);
    if (error) error->clear();
    return out;
}

bool PropertyList::writeFile(const PlistValue& value, const std::string& path, Format format, std::error_code* error) {
    auto bytes = serialize(value, format, error);
    if (!bytes) return false;
    return FileManager::writeFile(path, *bytes, true, error);
}

}  // namespace sys
