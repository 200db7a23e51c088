#include "tests/support/net/LoopbackListener.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <initializer_list>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace test {

LoopbackListener::LoopbackListener(int backlog) {
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(listener_, backlog) == 0 &&
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
        port_ = ntohs(a.sin_port);
    }
}

LoopbackListener::~LoopbackListener() { close(); }

int LoopbackListener::accept(int timeoutMs) {
    for (;;) {
        if (listener_ < 0) return -1;
        pollfd p[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        const int n = ::poll(p, 2, timeoutMs);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0 || p[1].revents) return -1;
        if (!p[0].revents) continue;
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0 || timeoutMs >= 0) return fd;
    }
}

void LoopbackListener::wake() {
    if (wake_[1] < 0) return;
    const char c = 0;
    (void)!::write(wake_[1], &c, 1);
}

void LoopbackListener::rearm() {
    if (wake_[0] < 0) return;
    char drain[64];
    while (::read(wake_[0], drain, sizeof drain) > 0) {
    }
}

void LoopbackListener::close() {
    for (int* fd : {&listener_, &wake_[0], &wake_[1]}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

}  // namespace test
