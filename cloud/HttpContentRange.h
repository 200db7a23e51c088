#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// The Content-Range of an answer to a range request: "bytes F-L/T", or
// "bytes */T" for a range the file cannot satisfy; T is "*" when the server
// does not know the length. Only what reads exactly so is taken: decimal
// numbers of at most 18 digits, F <= L, and L < T where T is known.
class HttpContentRange {
public:
    // -1 where the value says "*".
    int64_t first = -1;
    int64_t last = -1;
    int64_t total = -1;

    // Whether this is the "bytes */T" form.
    bool unsatisfied() const { return first < 0; }

    static std::optional<HttpContentRange> parse(std::string_view value);
};
