#include "remote/protocols/SmbSocket.h"

#include "platform/core/Clock.h"
#include "platform/net/HostLookup.h"
#include "platform/net/ReceiveMeter.h"

#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

SmbSocket::Connect SmbSocket::connect(const std::string& host, int port, int timeoutMs,
                                      const std::atomic<bool>& cancelled, std::mutex& slotMutex, int& slot) {
    std::vector<net::HostLookup::Address> addresses;
    switch (net::HostLookup::resolve(host, port, cancelled, &addresses)) {
    case net::HostLookup::Status::Found: break;
    case net::HostLookup::Status::NotFound: return Connect::Unresolved;
    case net::HostLookup::Status::Cancelled: return Connect::Unreachable;
    }
    int fd = -1;
    for (auto it = addresses.begin(); it != addresses.end() && fd < 0 && !cancelled; ++it) {
        const auto& a = *it;
        int s = ::socket(a.family, a.socketType | SOCK_CLOEXEC | SOCK_NONBLOCK, a.protocol);
        if (s < 0) continue;
        {
            std::lock_guard lock(slotMutex);
            slot = s;
        }
        bool ok = ::connect(s, reinterpret_cast<const sockaddr*>(&a.address), a.length) == 0;
        if (!ok && errno == EINPROGRESS) {
            sys::Clock::NetworkWait wait;
            for (int waited = 0; waited < timeoutMs && !cancelled; waited += 100) {
                pollfd p{s, POLLOUT, 0};
                if (::poll(&p, 1, 100) == 1) {
                    int err = 0;
                    socklen_t len = sizeof err;
                    ok = ::getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
                    break;
                }
            }
        }
        if (ok && !cancelled) {
            fd = s;
        } else {
            std::lock_guard lock(slotMutex);
            ::close(s);
            slot = -1;
        }
    }
    if (fd < 0) return Connect::Unreachable;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return Connect::Ok;
}

bool SmbSocket::sendAll(int fd, const uint8_t* p, size_t n, const std::atomic<bool>& cancelled) {
    size_t done = 0;
    while (done < n) {
        ssize_t k = ::send(fd, p + done, n - done, MSG_NOSIGNAL);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0 || cancelled) return false;
        done += size_t(k);
    }
    return true;
}

bool SmbSocket::recvExact(int fd, uint8_t* p, size_t n, int timeoutMs, const std::atomic<bool>& cancelled) {
    size_t got = 0;
    double heardAt = sys::Clock::realNow();
    while (got < n) {
        if (cancelled) return false;
        pollfd pf{fd, POLLIN, 0};
        int r;
        {
            sys::Clock::NetworkWait wait(heardAt);
            r = ::poll(&pf, 1, timeoutMs);
        }
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        ssize_t k = ::recv(fd, p + got, n - got, 0);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return false;
        got += size_t(k);
        heardAt = sys::Clock::realNow();
        net::ReceiveMeter::count(size_t(k));
    }
    return !cancelled;
}

SmbSocket::Wait SmbSocket::waitReadable(int fd, int timeoutMs, const std::atomic<bool>& cancelled) {
    for (;;) {
        if (cancelled) return Wait::Failed;
        pollfd pf{fd, POLLIN, 0};
        int r;
        {
            sys::Clock::NetworkWait wait;
            r = ::poll(&pf, 1, timeoutMs);
        }
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return Wait::Failed;
        if (r == 0) return Wait::TimedOut;
        return cancelled ? Wait::Failed : Wait::Ready;
    }
}
