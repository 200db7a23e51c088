#include "platform/core/PlistDictionary.h"

namespace sys {

PlistDictionary::PlistDictionary() = default;
PlistDictionary::PlistDictionary(std::initializer_list<std::pair<const std::string, PlistValue>> items) {
    for (const auto& [key, value] : items) set(key, value);
}
PlistDictionary::PlistDictionary(const PlistDictionary&) = default;
PlistDictionary::PlistDictionary(PlistDictionary&&) noexcept = default;
PlistDictionary& PlistDictionary::operator=(const PlistDictionary&) = default;
PlistDictionary& PlistDictionary::operator=(PlistDictionary&&) noexcept = default;
PlistDictionary::~PlistDictionary() = default;

std::size_t PlistDictionary::size() const { return items_.size(); }
bool PlistDictionary::empty() const { return items_.empty(); }
bool PlistDictionary::contains(std::string_view key) const { return items_.find(key) != items_.end(); }

std::vector<std::string> PlistDictionary::keys() const {
    std::vector<std::string> out;
    out.reserve(items_.size());
    for (const auto& item : items_) out.push_back(item.first);
    return out;
}

const PlistValue* PlistDictionary::find(std::string_view key) const {
    auto it = items_.find(key);
    return it == items_.end() ? nullptr : &it->second;
}

PlistValue* PlistDictionary::find(std::string_view key) {
    auto it = items_.find(key);
    return it == items_.end() ? nullptr : &it->second;
}

const PlistValue& PlistDictionary::get(std::string_view key) const {
    const PlistValue* v = find(key);
    return v ? *v : PlistValue::null();
}

PlistValue& PlistDictionary::operator[](std::string_view key) {
    auto it = items_.find(key);
    if (it == items_.end()) it = items_.emplace(std::string(key), PlistValue()).first;
    return it->second;
}

void PlistDictionary::set(std::string_view key, PlistValue value) {
    if (value.isNull()) {
        remove(key);
        return;
    }
    (*this)[key] = std::move(value);
}

bool PlistDictionary::remove(std::string_view key) {
    auto it = items_.find(key);
    if (it == items_.end()) return false;
    items_.erase(it);
    return true;
}

void PlistDictionary::clear() { items_.clear(); }

std::string PlistDictionary::getString(std::string_view key, std::string fallback) const {
    const PlistValue* v = find(key);
    return v && v->isString() ? v->asString() : fallback;
}

std::int64_t PlistDictionary::getInteger(std::string_view key, std::int64_t fallback) const {
    const PlistValue* v = find(key);
    return v && v->isNumber() ? v->integerValue() : fallback;
}

double PlistDictionary::getDouble(std::string_view key, double fallback) const {
    const PlistValue* v = find(key);
    return v && v->isNumber() ? v->doubleValue() : fallback;
}

bool PlistDictionary::getBool(std::string_view key, bool fallback) const {
    const PlistValue* v = find(key);
    return v && v->isNumber() ? v->boolValue() : fallback;
}

std::optional<Date> PlistDictionary::getDate(std::string_view key) const {
    const PlistValue* v = find(key);
    return v ? v->asDate() : std::nullopt;
}

std::optional<PlistData> PlistDictionary::getData(std::string_view key) const {
    const PlistValue* v = find(key);
    if (!v || !v->isData()) return std::nullopt;
    return v->asData();
}

std::optional<PlistArray> PlistDictionary::getArray(std::string_view key) const {
    const PlistValue* v = find(key);
    if (!v || !v->isArray()) return std::nullopt;
    return v->asArray();
}

std::optional<PlistDictionary> PlistDictionary::getDictionary(std::string_view key) const {
    const PlistValue* v = find(key);
    if (!v || !v->isDictionary()) return std::nullopt;
    return v->asDictionary();
}

PlistDictionary::const_iterator PlistDictionary::begin() const { return items_.begin(); }
PlistDictionary::const_iterator PlistDictionary::end() const { return items_.end(); }
PlistDictionary::iterator PlistDictionary::begin() { return items_.begin(); }
PlistDictionary::iterator PlistDictionary::end() { return items_.end(); }

bool PlistDictionary::operator==(const PlistDictionary& other) const { return items_ == other.items_; }

}  // namespace sys
