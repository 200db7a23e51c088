#include "platform/core/PlistValue.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <utility>

namespace sys {

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view skipSpaces(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && isSpace(s[i])) ++i;
    return s.substr(i);
}

bool stringBool(std::string_view s) {
    s = skipSpaces(s);
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    while (i < s.size() && s[i] == '0') ++i;
    if (i >= s.size()) return false;
    char c = s[i];
    return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

std::int64_t stringInteger(std::string_view s) {
    s = skipSpaces(s);
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    // Accumulate as a negative number so that INT64_MIN fits.
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    std::int64_t value = 0;
    bool saturated = false;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        int digit = s[i] - '0';
        if (saturated) continue;
        if (value < (kMin + digit) / 10) {
            saturated = true;
            continue;
        }
        value = value * 10 - digit;
    }
    if (saturated) return negative ? kMin : std::numeric_limits<std::int64_t>::max();
    if (negative) return value;
    if (value == kMin) return std::numeric_limits<std::int64_t>::max();
    return -value;
}

double stringDouble(std::string_view s) {
    s = skipSpaces(s);
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    // The longest prefix of the form digits [. digits] [e [sign] digits].
    std::size_t start = i;
    std::size_t digits = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
    }
    if (digits == 0) return 0.0;
    std::size_t mantissaEnd = i;
    bool tinyExponent = false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) {
            tinyExponent = s[j] == '-';
            ++j;
        }
        if (j < s.size() && s[j] >= '0' && s[j] <= '9') {
            while (j < s.size() && s[j] >= '0' && s[j] <= '9') ++j;
            i = j;
        } else {
            tinyExponent = false;
        }
    }
    if (i == mantissaEnd) tinyExponent = false;
    double value = 0.0;
    auto [ptr, ec] = std::from_chars(s.data() + start, s.data() + i, value, std::chars_format::general);
    (void)ptr;
    if (ec == std::errc::result_out_of_range) value = tinyExponent ? 0.0 : std::numeric_limits<double>::infinity();
    else if (ec != std::errc()) value = 0.0;
    return negative ? -value : value;
}

std::int64_t saturate(double d) {
    if (std::isnan(d)) return 0;
    if (d >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
    if (d < -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
    return std::int64_t(d);
}

}  // namespace

PlistValue PlistValue::data(std::string_view bytes) {
    return PlistValue(PlistData(bytes.begin(), bytes.end()));
}

PlistValue::Type PlistValue::type() const {
    switch (v_.index()) {
    case 0: return Type::Null;
    case 1: return Type::String;
    case 2:
    case 3: return Type::Integer;
    case 4: return Type::Real;
    case 5: return Type::Bool;
    case 6: return Type::Date;
    case 7: return Type::Data;
    case 8: return Type::Array;
    default: return Type::Dictionary;
    }
}

bool PlistValue::isNumber() const {
    Type t = type();
    return t == Type::Integer || t == Type::Real || t == Type::Bool;
}

const PlistValue& PlistValue::null() {
    static const PlistValue n;
    return n;
}

const std::string& PlistValue::asString() const {
    static const std::string empty;
    auto* p = std::get_if<std::string>(&v_);
    return p ? *p : empty;
}

const PlistData& PlistValue::asData() const {
    static const PlistData empty;
    auto* p = std::get_if<PlistData>(&v_);
    return p ? *p : empty;
}

const PlistArray& PlistValue::asArray() const {
    static const PlistArray empty;
    auto* p = std::get_if<PlistArray>(&v_);
    return p ? *p : empty;
}

const PlistDictionary& PlistValue::asDictionary() const {
    static const PlistDictionary empty;
    auto* p = std::get_if<PlistDictionary>(&v_);
    return p ? *p : empty;
}

std::optional<Date> PlistValue::asDate() const {
    auto* p = std::get_if<Date>(&v_);
    if (!p) return std::nullopt;
    return *p;
}

PlistArray* PlistValue::arrayPointer() { return std::get_if<PlistArray>(&v_); }

PlistDictionary* PlistValue::dictionaryPointer() { return std::get_if<PlistDictionary>(&v_); }

bool PlistValue::boolValue() const {
    switch (v_.index()) {
    case 1: return stringBool(std::get<std::string>(v_));
    case 2: return std::get<std::int64_t>(v_) != 0;
    case 3: return std::get<std::uint64_t>(v_) != 0;
    case 4: return std::get<double>(v_) != 0.0;
    case 5: return std::get<bool>(v_);
    default: return false;
    }
}

std::int64_t PlistValue::integerValue() const {
    switch (v_.index()) {
    case 1: return stringInteger(std::get<std::string>(v_));
    case 2: return std::get<std::int64_t>(v_);
    case 3: {
        std::uint64_t u = std::get<std::uint64_t>(v_);
        return u > std::uint64_t(std::numeric_limits<std::int64_t>::max()) ? std::numeric_limits<std::int64_t>::max()
                                                                           : std::int64_t(u);
    }
    case 4: return saturate(std::get<double>(v_));
    case 5: return std::get<bool>(v_) ? 1 : 0;
    default: return 0;
    }
}

std::uint64_t PlistValue::unsignedIntegerValue() const {
    if (auto* u = std::get_if<std::uint64_t>(&v_)) return *u;
    if (auto* i = std::get_if<std::int64_t>(&v_)) return std::uint64_t(*i);
    if (auto* d = std::get_if<double>(&v_)) {
        if (std::isnan(*d) || *d <= 0) return 0;
        if (*d >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
        return std::uint64_t(*d);
    }
    std::int64_t i = integerValue();
    return i < 0 ? 0 : std::uint64_t(i);
}

double PlistValue::doubleValue() const {
    switch (v_.index()) {
    case 1: return stringDouble(std::get<std::string>(v_));
    case 2: return double(std::get<std::int64_t>(v_));
    case 3: return double(std::get<std::uint64_t>(v_));
    case 4: return std::get<double>(v_);
    case 5: return std::get<bool>(v_) ? 1.0 : 0.0;
    default: return 0.0;
    }
}

const PlistValue& PlistValue::at(std::size_t index) const {
    const auto* a = std::get_if<PlistArray>(&v_);
    if (!a || index >= a->size()) return null();
    return (*a)[index];
}

const PlistValue& PlistValue::get(std::string_view key) const {
    const auto* d = std::get_if<PlistDictionary>(&v_);
    return d ? d->get(key) : null();
}

bool PlistValue::operator==(const PlistValue& other) const {
    Type a = type();
    Type b = other.type();
    bool aNumeric = a == Type::Integer || a == Type::Real;
    bool bNumeric = b == Type::Integer || b == Type::Real;
    if (aNumeric && bNumeric) {
        auto asLong = [](const PlistValue& v) -> long double {
            switch (v.v_.index()) {
            case 2: return (long double)std::get<std::int64_t>(v.v_);
            case 3: return (long double)std::get<std::uint64_t>(v.v_);
            default: return (long double)std::get<double>(v.v_);
            }
        };
        if (v_.index() == 2 && other.v_.index() == 3)
            return std::cmp_equal(std::get<std::int64_t>(v_), std::get<std::uint64_t>(other.v_));
        if (v_.index() == 3 && other.v_.index() == 2)
            return std::cmp_equal(std::get<std::uint64_t>(v_), std::get<std::int64_t>(other.v_));
        // long double holds every 64-bit integer exactly here.
        return asLong(*this) == asLong(other);
    }
    return v_ == other.v_;
}

}  // namespace sys
