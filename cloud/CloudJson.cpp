#include "cloud/CloudJson.h"

#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>

namespace {

using json = nlohmann::json;

sys::PlistValue toPlist(const json& j, int depth);

sys::PlistDictionary objectToPlist(const json& j, int depth) {
    sys::PlistDictionary d;
    for (auto it = j.begin(); it != j.end(); ++it) {
        if (it->is_null()) continue;
        d.set(it.key(), toPlist(*it, depth + 1));
    }
    return d;
}

sys::PlistValue toPlist(const json& j, int depth) {
    // The services nest a few levels at most; deeper input is cut.
    if (depth > 32) return sys::PlistValue();
    switch (j.type()) {
    case json::value_t::string: return sys::PlistValue(j.get<std::string>());
    case json::value_t::boolean: return sys::PlistValue(j.get<bool>());
    case json::value_t::number_integer: return sys::PlistValue(j.get<int64_t>());
    case json::value_t::number_unsigned: return sys::PlistValue(int64_t(j.get<uint64_t>() > uint64_t(INT64_MAX) ? INT64_MAX : j.get<uint64_t>()));
    case json::value_t::number_float: return sys::PlistValue(j.get<double>());
    case json::value_t::object: return sys::PlistValue(objectToPlist(j, depth));
    case json::value_t::array: {
        sys::PlistArray a;
        for (const auto& e : j) {
            if (!e.is_null()) a.push_back(toPlist(e, depth + 1));
        }
        return sys::PlistValue(std::move(a));
    }
    default: return sys::PlistValue();
    }
}

}  // namespace

std::optional<sys::PlistDictionary> CloudJson::parseObject(const std::string& text) {
    json j = json::parse(text, nullptr, false);
    if (!j.is_object()) return std::nullopt;
    return objectToPlist(j, 0);
}

std::optional<int64_t> CloudJson::parseDate(const std::string& text) {
    int y, mo, d, h, mi, s, used = 0;
    if (text.size() < 19 || std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &y, &mo, &d, &h, &mi, &s, &used) != 6 ||
        used != 19) {
        return std::nullopt;
    }
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60) return std::nullopt;
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    int64_t t = int64_t(timegm(&tm));
    size_t p = 19;
    if (p < text.size() && text[p] == '.') {
        ++p;
        while (p < text.size() && std::isdigit(static_cast<unsigned char>(text[p]))) ++p;
    }
    if (p + 6 == text.size() && (text[p] == '+' || text[p] == '-') && text[p + 3] == ':') {
        int oh = 0, om = 0;
        if (std::sscanf(text.c_str() + p + 1, "%2d:%2d", &oh, &om) == 2) {
            const int64_t offset = int64_t(oh) * 3600 + om * 60;
            t += text[p] == '+' ? -offset : offset;
        }
    }
    return t;
}

std::string CloudJson::quote(const std::string& text) { return json(text).dump(-1, ' ', false, json::error_handler_t::replace); }
