#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/Date.h"

namespace sys {

class PlistValue;
using PlistArray = std::vector<PlistValue>;
using PlistData = std::vector<std::uint8_t>;

// A property-list dictionary: string keys, kept sorted by their bytes (the
// order written files show them in).
//
// The typed getters treat a value of the wrong type as absent: getString
// answers only for strings; getInteger, getDouble and getBool for numbers
// (integers, reals and booleans); a string "1" gives the default. For the
// platform's loose reading of "whatever is stored", use
// get(key).boolValue() / integerValue().
class PlistDictionary {
public:
    using Map = std::map<std::string, PlistValue, std::less<>>;
    using const_iterator = Map::const_iterator;
    using iterator = Map::iterator;

    PlistDictionary();
    PlistDictionary(std::initializer_list<std::pair<const std::string, PlistValue>> items);
    PlistDictionary(const PlistDictionary&);
    PlistDictionary(PlistDictionary&&) noexcept;
    PlistDictionary& operator=(const PlistDictionary&);
    PlistDictionary& operator=(PlistDictionary&&) noexcept;
    ~PlistDictionary();

    std::size_t size() const;
    bool empty() const;
    bool contains(std::string_view key) const;
    std::vector<std::string> keys() const;

    // nullptr when absent.
    const PlistValue* find(std::string_view key) const;
    PlistValue* find(std::string_view key);
    // A null value when absent.
    const PlistValue& get(std::string_view key) const;
    // Inserts a null value when absent.
    PlistValue& operator[](std::string_view key);

    // Setting a null value removes the key.
    void set(std::string_view key, PlistValue value);
    bool remove(std::string_view key);
    void clear();

    std::string getString(std::string_view key, std::string fallback = {}) const;
    std::int64_t getInteger(std::string_view key, std::int64_t fallback = 0) const;
    double getDouble(std::string_view key, double fallback = 0) const;
    bool getBool(std::string_view key, bool fallback = false) const;
    std::optional<Date> getDate(std::string_view key) const;
    std::optional<PlistData> getData(std::string_view key) const;
    std::optional<PlistArray> getArray(std::string_view key) const;
    std::optional<PlistDictionary> getDictionary(std::string_view key) const;

    const_iterator begin() const;
    const_iterator end() const;
    iterator begin();
    iterator end();

    bool operator==(const PlistDictionary& other) const;

private:
    Map items_;
};

}  // namespace sys

#include "platform/core/PlistValue.h"
