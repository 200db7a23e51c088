#include "tests/support/net/OneReplyPeer.h"

#include <algorithm>
#include <sys/socket.h>
#include <unistd.h>

namespace test {

OneReplyPeer::OneReplyPeer(std::vector<uint8_t> reply) { serve(std::move(reply), nullptr); }

OneReplyPeer::OneReplyPeer(std::function<void()> afterRequest) { serve({}, std::move(afterRequest)); }

void OneReplyPeer::serve(std::vector<uint8_t> reply, std::function<void()> afterRequest) {
    thread_ = std::thread([this, reply = std::move(reply), afterRequest = std::move(afterRequest)] {
        const int fd = listener_.accept(10);
        if (fd < 0) return;
        uint8_t head[4];
        if (::recv(fd, head, 4, MSG_WAITALL) == 4) {
            std::vector<uint8_t> rest(size_t(head[1]) << 16 | size_t(head[2]) << 8 | head[3]);
            ::recv(fd, rest.data(), rest.size(), MSG_WAITALL);
            if (afterRequest)
                afterRequest();
            else
                ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
        }
        ::close(fd);
    });
}

std::vector<uint8_t> OneReplyPeer::frame(const std::vector<uint8_t>& message, size_t claimed) {
    const size_t n = claimed ? claimed : message.size();
    std::vector<uint8_t> f(4 + message.size());
    f[1] = uint8_t(n >> 16);
    f[2] = uint8_t(n >> 8);
    f[3] = uint8_t(n);
    std::copy(message.begin(), message.end(), f.begin() + 4);
    return f;
}

OneReplyPeer::~OneReplyPeer() { join(); }

void OneReplyPeer::join() {
    if (thread_.joinable()) thread_.join();
    listener_.close();
}

}  // namespace test
