#include "tests/support/net/SmbRelay.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace test {

namespace {

bool sendAll(int fd, const uint8_t* p, size_t n) {
    while (n) {
        const ssize_t k = ::send(fd, p, n, MSG_NOSIGNAL);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return false;
        p += k;
        n -= size_t(k);
    }
    return true;
}

uint16_t get16(const SmbRelay::Bytes& m, size_t at) { return uint16_t(m[at] | m[at + 1] << 8); }

// The whole frames at the front of `buffer`, each through `hook` and on to `to`.
bool drain(SmbRelay::Bytes& buffer, const SmbRelay::Hook& hook, int to) {
    for (;;) {
        if (buffer.size() < 4) return true;
        const size_t length = size_t(buffer[1]) << 16 | size_t(buffer[2]) << 8 | buffer[3];
        if (buffer.size() < 4 + length) return true;
        SmbRelay::Bytes message(buffer.begin() + 4, buffer.begin() + long(4 + length));
        buffer.erase(buffer.begin(), buffer.begin() + long(4 + length));
        std::vector<SmbRelay::Bytes> after;
        if (hook) hook(message, after);
        after.insert(after.begin(), std::move(message));
        for (const auto& m : after) {
            if (m.empty()) continue;
            const size_t n = m.size();
            const uint8_t head[4] = {0, uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
            if (!sendAll(to, head, 4) || !sendAll(to, m.data(), n)) return false;
        }
    }
}

}  // namespace

SmbRelay::SmbRelay(const std::string& host, int port) : host_(host), upstreamPort_(port) {
    acceptor_ = std::thread([this] { acceptLoop(); });
}

SmbRelay::~SmbRelay() { stop(); }

void SmbRelay::stop() {
    if (stopped_.exchange(true)) return;
    listener_.wake();
    if (acceptor_.joinable()) acceptor_.join();
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(mutex_);
        threads.swap(threads_);
    }
    for (auto& t : threads) t.join();
    listener_.close();
}

void SmbRelay::onRequest(Hook hook) {
    std::lock_guard lock(mutex_);
    onRequest_ = std::move(hook);
}

void SmbRelay::onReply(Hook hook) {
    std::lock_guard lock(mutex_);
    onReply_ = std::move(hook);
}

void SmbRelay::acceptLoop() {
    for (;;) {
        const int client = listener_.accept();
        if (client < 0) return;
        const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(upstreamPort_));
        ::inet_pton(AF_INET, host_.c_str(), &a.sin_addr);
        if (server < 0 || ::connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            if (server >= 0) ::close(server);
            ::close(client);
            continue;
        }
        int one = 1;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ++connections_;
        std::lock_guard lock(mutex_);
        threads_.emplace_back([this, client, server] { pump(client, server); });
    }
}

void SmbRelay::pump(int client, int server) {
    Hook onRequest, onReply;
    {
        std::lock_guard lock(mutex_);
        onRequest = onRequest_;
        onReply = onReply_;
    }
    Bytes up, down;  // client to server, server to client
    uint8_t chunk[65536];
    for (bool open = true; open;) {
        pollfd p[3] = {{client, POLLIN, 0}, {server, POLLIN, 0}, {listener_.wakeFd(), POLLIN, 0}};
        if (::poll(p, 3, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (p[2].revents) break;
        for (int side = 0; side < 2 && open; ++side) {
            if (!p[side].revents) continue;
            const ssize_t k = ::recv(p[side].fd, chunk, sizeof chunk, 0);
            if (k < 0 && errno == EINTR) continue;
            if (k <= 0) {
                open = false;
                break;
            }
            Bytes& buffer = side == 0 ? up : down;
            buffer.insert(buffer.end(), chunk, chunk + k);
            open = side == 0 ? drain(up, onRequest, server) : drain(down, onReply, client);
        }
    }
    ::close(client);
    ::close(server);
}

bool SmbRelay::isSmb2(const Bytes& m) {
    return m.size() >= 64 && m[0] == 0xFE && m[1] == 'S' && m[2] == 'M' && m[3] == 'B';
}

uint16_t SmbRelay::command(const Bytes& m) { return isSmb2(m) ? get16(m, 12) : 0; }

uint32_t SmbRelay::status(const Bytes& m) { return isSmb2(m) ? uint32_t(get16(m, 8)) | uint32_t(get16(m, 10)) << 16 : 0; }

uint64_t SmbRelay::messageId(const Bytes& m) {
    if (!isSmb2(m)) return 0;
    uint64_t id = 0;
    for (int i = 7; i >= 0; --i) id = id << 8 | m[24 + size_t(i)];
    return id;
}

uint16_t SmbRelay::creditCharge(const Bytes& m) { return isSmb2(m) ? get16(m, 6) : 0; }

uint16_t SmbRelay::credits(const Bytes& m) { return isSmb2(m) ? get16(m, 14) : 0; }

void SmbRelay::setCredits(Bytes& m, uint16_t credits) {
    if (!isSmb2(m)) return;
    m[14] = uint8_t(credits);
    m[15] = uint8_t(credits >> 8);
}

void SmbRelay::setMessageId(Bytes& m, uint64_t id) {
    if (!isSmb2(m)) return;
    for (int i = 0; i < 8; ++i) m[24 + size_t(i)] = uint8_t(id >> (8 * i));
}

}  // namespace test
