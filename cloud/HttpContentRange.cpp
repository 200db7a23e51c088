#include "cloud/HttpContentRange.h"

namespace {

// A run of 1 to 18 decimal digits (no sign, no spaces); -1 otherwise.
int64_t number(std::string_view s) {
    if (s.empty() || s.size() > 18) return -1;
    int64_t n = 0;
    for (const char c : s) {
        if (c < '0' || c > '9') return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

}  // namespace

std::optional<HttpContentRange> HttpContentRange::parse(std::string_view value) {
    constexpr std::string_view kUnit = "bytes ";
    if (value.substr(0, kUnit.size()) != kUnit) return std::nullopt;
    value.remove_prefix(kUnit.size());
    const size_t slash = value.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    const std::string_view span = value.substr(0, slash), length = value.substr(slash + 1);
    HttpContentRange r;
    if (length != "*" && (r.total = number(length)) < 0) return std::nullopt;
    if (span == "*") {
        // An unsatisfied range names the length it could not satisfy.
        if (r.total < 0) return std::nullopt;
        return r;
    }
    const size_t dash = span.find('-');
    if (dash == std::string_view::npos) return std::nullopt;
    r.first = number(span.substr(0, dash));
    r.last = number(span.substr(dash + 1));
    if (r.first < 0 || r.last < r.first || (r.total >= 0 && r.last >= r.total)) return std::nullopt;
    return r;
}
