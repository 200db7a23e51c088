#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "platform/core/Date.h"
#include "platform/core/PlistDictionary.h"

namespace sys {

// One property-list value: string, integer (signed or unsigned 64-bit), real,
// boolean, date, data, array or dictionary, or null for "nothing here" (null
// cannot be written to a file).
//
// Equality is by type: a number never equals a string. Integers and reals
// compare by their numeric value (5, 5u and 5.0 are equal); booleans equal
// only booleans.
//
// The coercions read "the value of whatever is stored", as the platform does:
// boolValue(), integerValue() and doubleValue() accept strings and numbers.
class PlistValue {
public:
    enum class Type { Null, String, Integer, Real, Bool, Date, Data, Array, Dictionary };

    PlistValue() = default;
    PlistValue(std::string s) : v_(std::move(s)) {}
    PlistValue(std::string_view s) : v_(std::string(s)) {}
    PlistValue(const char* s) : v_(std::string(s ? s : "")) {}
    PlistValue(bool b) : v_(b) {}
    PlistValue(double d) : v_(d) {}
    PlistValue(float f) : v_(double(f)) {}
    template <typename T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool> &&
                                               !std::is_same_v<T, char>, int> = 0>
    PlistValue(T i) {
        if constexpr (std::is_signed_v<T>)
            v_ = std::int64_t(i);
        else
            v_ = std::uint64_t(i);
    }
    PlistValue(Date d) : v_(d) {}
    PlistValue(PlistData d) : v_(std::move(d)) {}
    PlistValue(PlistArray a) : v_(std::move(a)) {}
    PlistValue(PlistDictionary d) : v_(std::move(d)) {}

    static PlistValue data(std::string_view bytes);

    Type type() const;
    bool isNull() const { return type() == Type::Null; }
    bool isString() const { return type() == Type::String; }
    bool isInteger() const { return type() == Type::Integer; }
    // An integer that was stored as unsigned (meaningful above INT64_MAX).
    bool isUnsignedInteger() const { return std::holds_alternative<std::uint64_t>(v_); }
    bool isReal() const { return type() == Type::Real; }
    bool isBool() const { return type() == Type::Bool; }
    // Integers, reals and booleans: what the platform calls a number.
    bool isNumber() const;
    bool isDate() const { return type() == Type::Date; }
    bool isData() const { return type() == Type::Data; }
    bool isArray() const { return type() == Type::Array; }
    bool isDictionary() const { return type() == Type::Dictionary; }

    // Typed views: an empty value of the type when the value is another type.
    const std::string& asString() const;
    const PlistData& asData() const;
    const PlistArray& asArray() const;
    const PlistDictionary& asDictionary() const;
    std::optional<Date> asDate() const;
    // Mutable views: nullptr when the value is another type.
    PlistArray* arrayPointer();
    PlistDictionary* dictionaryPointer();

    // Strings: skip spaces, a sign and leading zeros, then Y, y, T, t or 1-9
    // is true. Numbers: non-zero. Anything else: false.
    bool boolValue() const;
    // Strings: leading spaces, a sign and the digits that follow, saturating.
    // Reals: truncated toward zero, saturating (NaN gives 0). Booleans 0 or 1.
    std::int64_t integerValue() const;
    // The stored 64 bits of an integer (a negative one wraps, as on the
    // platform); other types as integerValue(), negatives giving 0.
    std::uint64_t unsignedIntegerValue() const;
    // Strings: leading spaces and the longest decimal number (0 when none).
    double doubleValue() const;

    // Element `index` of an array, or key of a dictionary; null when absent.
    const PlistValue& at(std::size_t index) const;
    const PlistValue& get(std::string_view key) const;

    bool operator==(const PlistValue& other) const;

    static const PlistValue& null();

private:
    std::variant<std::monostate, std::string, std::int64_t, std::uint64_t, double, bool, Date, PlistData, PlistArray,
                 PlistDictionary>
        v_;
};

}  // namespace sys
