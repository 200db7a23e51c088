#include "tests/support/net/SilentServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace test {

SilentServer::SilentServer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(listener_, 4) == 0 &&
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port_ = ntohs(a.sin_port);
}

SilentServer::~SilentServer() { close(); }

int SilentServer::accept(int seconds) {
    pollfd p{listener_, POLLIN, 0};
    if (listener_ < 0 || ::poll(&p, 1, seconds * 1000) != 1) return -1;
    return ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
}

void SilentServer::close() {
    if (listener_ >= 0) ::close(listener_);
    listener_ = -1;
}

}  // namespace test
