#include "foundation/QNSocketSync.h"

#include "platform/core/Clock.h"
#include "platform/net/HostLookup.h"
#include "platform/net/ReceiveMeter.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kStepMs = 100;

double secondsSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

QNSocketSync::QNSocketSync() = default;

QNSocketSync::~QNSocketSync() { disconnect(); }

bool QNSocketSync::connect(const std::string& host, int port) {
    disconnect();
    // A cancel stays: one that came before the connect ends it at once.
    if (cancelled_ || host.empty() || port <= 0 || port > 65535) return false;
    std::vector<net::HostLookup::Address> addresses;
    if (net::HostLookup::resolve(host, port, cancelled_, &addresses) != net::HostLookup::Status::Found) return false;
    bool ok = false;
    for (auto it = addresses.begin(); it != addresses.end() && !ok && !cancelled_; ++it) {
        const auto& a = *it;
        const int fd = ::socket(a.family, a.socketType | SOCK_CLOEXEC | SOCK_NONBLOCK, a.protocol);
        if (fd < 0) continue;
        {
            std::lock_guard<std::mutex> lock(fdMutex_);
            fd_ = fd;
            // A cancel between the check above and here found no socket to shut.
            if (cancelled_) ::shutdown(fd, SHUT_RDWR);
        }
        int rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&a.address), a.length);
        if (rc != 0 && errno == EINPROGRESS) {
            sys::Clock::NetworkWait wait;
            const auto t0 = std::chrono::steady_clock::now();
            while (!cancelled_ && secondsSince(t0) < connectTimeout_) {
                pollfd p{fd, POLLOUT, 0};
                const int n = ::poll(&p, 1, kStepMs);
                if (n < 0 && errno != EINTR) break;
                if (n > 0) {
                    int err = 0;
                    socklen_t len = sizeof(err);
                    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
                    rc = err == 0 ? 0 : -1;
                    break;
                }
            }
        }
        if (rc == 0 && !cancelled_) {
            char addr[INET6_ADDRSTRLEN] = {};
            if (a.family == AF_INET) {
                ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&a.address)->sin_addr, addr, sizeof(addr));
            } else if (a.family == AF_INET6) {
                ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&a.address)->sin6_addr, addr,
                            sizeof(addr));
            }
            peerAddress_ = addr;
            heardAt_ = sys::Clock::realNow();
            const int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
            ok = true;
        } else {
            disconnect();
        }
    }
    return ok;
}

bool QNSocketSync::sendString(const std::string& text) { return sendByte(text.data(), text.size()); }

bool QNSocketSync::sendByte(const void* data, size_t length) {
    const int fd = fd_.load();
    if (fd < 0 || cancelled_) return false;
    const char* p = static_cast<const char*>(data);
    auto lastProgress = std::chrono::steady_clock::now();
    while (length > 0) {
        if (cancelled_) return false;
        const ssize_t n = ::send(fd, p, length, MSG_NOSIGNAL);
        if (n > 0) {
            p += n;
            length -= size_t(n);
            lastProgress = std::chrono::steady_clock::now();
            heardAt_ = sys::Clock::realNow();
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            if (secondsSince(lastProgress) > idleTimeout_) return false;
            // A peer that takes nothing in is as silent as one that sends nothing.
            sys::Clock::NetworkWait wait(heardAt_);
            pollfd pf{fd, POLLOUT, 0};
            ::poll(&pf, 1, kStepMs);
            continue;
        }
        return false;
    }
    return true;
}

bool QNSocketSync::waitReadable() {
    sys::Clock::NetworkWait wait(heardAt_);
    const auto t0 = std::chrono::steady_clock::now();
    while (!cancelled_) {
        const int fd = fd_.load();
        if (fd < 0) return false;
        pollfd p{fd, POLLIN, 0};
        const int n = ::poll(&p, 1, kStepMs);
        if (n > 0) return true;
        if (n < 0 && errno != EINTR) return false;
        if (secondsSince(t0) > idleTimeout_) return false;
    }
    return false;
}

long QNSocketSync::recvDataOnce(void* buffer, size_t length) {
    if (length == 0) return 0;
    if (pendingPos_ < pending_.size()) {
        const size_t n = std::min(length, pending_.size() - pendingPos_);
        std::memcpy(buffer, pending_.data() + pendingPos_, n);
        pendingPos_ += n;
        return long(n);
    }
    for (;;) {
        if (!waitReadable()) return -1;
        const ssize_t n = ::recv(fd_.load(), buffer, length, 0);
        if (n > 0) {
            heardAt_ = sys::Clock::realNow();
            net::ReceiveMeter::count(size_t(n));
        }
        if (n >= 0) return cancelled_ ? -1 : long(n);
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return -1;
    }
}

long QNSocketSync::recvData(void* buffer, size_t length) {
    size_t got = 0;
    while (got < length) {
        const long n = recvDataOnce(static_cast<char*>(buffer) + got, length - got);
        if (n <= 0) break;
        got += size_t(n);
    }
    return long(got);
}

int QNSocketSync::recvLine(std::string* line, size_t maxLength) {
    line->clear();
    for (;;) {
        if (pendingPos_ >= pending_.size()) {
            pending_.resize(4096);
            pendingPos_ = 0;
            if (!waitReadable()) {
                pending_.clear();
                return -1;
            }
            const ssize_t n = ::recv(fd_.load(), pending_.data(), pending_.size(), 0);
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
                pending_.clear();
                continue;
            }
            if (n <= 0 || cancelled_) {
                pending_.clear();
                return -1;
            }
            heardAt_ = sys::Clock::realNow();
            net::ReceiveMeter::count(size_t(n));
            pending_.resize(size_t(n));
        }
        const char* start = pending_.data() + pendingPos_;
        const size_t avail = pending_.size() - pendingPos_;
        const void* lf = std::memchr(start, '\n', avail);
        const size_t take = lf ? size_t(static_cast<const char*>(lf) - start) : avail;
        if (line->size() < maxLength) line->append(start, std::min(take, maxLength - line->size()));
        pendingPos_ += take;
        if (lf) {
            ++pendingPos_;
            if (!line->empty() && line->back() == '\r') line->pop_back();
            return int(line->size());
        }
    }
}

void QNSocketSync::setReceiveBufferSize(int bytes) {
    std::lock_guard<std::mutex> lock(fdMutex_);
    if (fd_.load() >= 0 && bytes > 0) ::setsockopt(fd_.load(), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof(bytes));
}

void QNSocketSync::cancel() {
    cancelled_ = true;
    std::lock_guard<std::mutex> lock(fdMutex_);
    if (fd_.load() >= 0) ::shutdown(fd_.load(), SHUT_RDWR);
}

void QNSocketSync::disconnect() {
    std::lock_guard<std::mutex> lock(fdMutex_);
    const int fd = fd_.exchange(-1);
    if (fd >= 0) ::close(fd);
    pending_.clear();
    pendingPos_ = 0;
    peerAddress_.clear();
}
