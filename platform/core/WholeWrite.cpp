#include "platform/core/WholeWrite.h"

#include <cerrno>
#include <unistd.h>

namespace sys {

namespace {

// `once(done)` writes from byte `done` on and returns what write(2) does.
template <class Once>
bool writeWhole(std::size_t size, Once once) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = once(done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        done += std::size_t(n);
    }
    return true;
}

}  // namespace

bool WholeWrite::write(int fd, const char* data, std::size_t size) {
    return writeWhole(size, [&](std::size_t done) { return ::write(fd, data + done, size - done); });
}

bool WholeWrite::writeAt(int fd, const char* data, std::size_t size, std::uint64_t offset) {
    return writeWhole(size, [&](std::size_t done) { return ::pwrite(fd, data + done, size - done, off_t(offset + done)); });
}

}  // namespace sys
