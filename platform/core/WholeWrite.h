#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace sys {

// Writes that are whole or fail: short writes are continued and EINTR is
// retried. On failure errno tells why (EIO when the file took nothing).
class WholeWrite {
public:
    static bool write(int fd, const char* data, std::size_t size);
    static bool write(int fd, std::string_view data) { return write(fd, data.data(), data.size()); }
    // At `offset`, leaving the file position alone.
    static bool writeAt(int fd, const char* data, std::size_t size, std::uint64_t offset);
};

}  // namespace sys
