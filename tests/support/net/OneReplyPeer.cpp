#include "tests/support/net/OneReplyPeer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace test {

OneReplyPeer::OneReplyPeer(std::vector<uint8_t> reply) { serve(std::move(reply), nullptr); }

OneReplyPeer::OneReplyPeer(std::function<void()> afterRequest) { serve({}, std::move(afterRequest)); }

void OneReplyPeer::serve(std::vector<uint8_t> reply, std::function<void()> afterRequest) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listener_, 1);
    socklen_t len = sizeof a;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this, reply = std::move(reply), afterRequest = std::move(afterRequest)] {
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, 10000) != 1) return;
        int fd = ::accept(listener_, nullptr, nullptr);
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
    if (listener_ >= 0) ::close(listener_);
    listener_ = -1;
}

}  // namespace test
