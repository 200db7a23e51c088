#include "fuzz/support/ScriptedPeer.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace {

// How long a quiet client is given at most to send its next request before
// the peer takes it that the client waits for another reply instead (it is
// seen sooner: see pollQuiet).
constexpr int kQuietMs = 20;
// How long the peer waits for the client to connect at all.
constexpr int kAcceptMs = 5000;
// nextConnection: the client is still reading the last reply.
constexpr int kQuiet = -2;
// Requests are small; a longer one ends the conversation.
constexpr size_t kMaxRequest = 1u << 20;

// Whether every other thread of the process sleeps. The client runs in this
// process: asleep, it waits for the peer (or for its own time-out), and all
// it sent is readable here already (a send on loopback is queued at the
// other end before it returns).
bool othersAsleep() {
    const long self = ::syscall(SYS_gettid);
    DIR* dir = ::opendir("/proc/self/task");
    if (!dir) return false;
    bool asleep = true;
    while (const dirent* e = ::readdir(dir)) {
        if (e->d_name[0] == '.' || std::atol(e->d_name) == self) continue;
        const std::string path = std::string("/proc/self/task/") + e->d_name + "/stat";
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;  // ended meanwhile
        char stat[512];
        const ssize_t n = ::read(fd, stat, sizeof stat - 1);
        ::close(fd);
        if (n <= 0) continue;
        stat[n] = 0;
        // The state follows the thread's name, which ends with the last ')'.
        const char* end = std::strrchr(stat, ')');
        if (!end || end[1] != ' ' || (end[2] != 'S' && end[2] != 'T' && end[2] != 't')) {
            asleep = false;
            break;
        }
    }
    ::closedir(dir);
    return asleep;
}

// poll() for the peer's waits on a quiet client: 0 after quietMs at most,
// and at once when nothing has come and every other thread is asleep at two
// looks a moment apart (the client waits for a reply: waiting out the whole
// time would only idle the CPU).
int pollQuiet(pollfd* pf, nfds_t n, int quietMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(quietMs);
    int asleep = 0;
    for (;;) {
        const timespec step{0, 100000};
        const int r = ::ppoll(pf, n, &step, nullptr);
        if (r < 0 && errno == EINTR) continue;
        if (r != 0) return r;
        asleep = othersAsleep() ? asleep + 1 : 0;
        if (asleep >= 2) return ::poll(pf, n, 0);
        if (std::chrono::steady_clock::now() >= end) return 0;
    }
}

bool readAll(int fd, uint8_t* p, size_t n) {
    while (n) {
        pollfd pf{fd, POLLIN, 0};
        const int r = ::poll(&pf, 1, kAcceptMs);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        const ssize_t k = ::recv(fd, p, n, 0);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return false;
        p += k;
        n -= size_t(k);
    }
    return true;
}

bool writeAll(int fd, const uint8_t* p, size_t n) {
    while (n) {
        const ssize_t k = ::send(fd, p, n, MSG_NOSIGNAL);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return false;
        p += k;
        n -= size_t(k);
    }
    return true;
}

}  // namespace

ScriptedPeer& ScriptedPeer::shared() {
    static ScriptedPeer peer;
    return peer;
}

ScriptedPeer::ScriptedPeer() {
    if (listener_.port() == 0 || listener_.wakeFd() < 0) {
        std::perror("ScriptedPeer");
        std::abort();
    }
}

void ScriptedPeer::play(std::span<const uint8_t> script, Ids ids) {
    finish(ids == Ids::Http);
    listener_.rearm();
    thread_ = std::thread([this, script, ids] { converse(script, ids); });
}

void ScriptedPeer::finish(bool hangUp) {
    if (hangUp && thread_.joinable()) listener_.wake();
    if (thread_.joinable()) thread_.join();
}

bool ScriptedPeer::readTextRequest(int fd, Ids ids) {
    const std::string end = ids == Ids::Http ? "\r\n\r\n" : "\n";
    std::string request;
    while (request.size() < kMaxRequest) {
        pollfd pf[2] = {{fd, POLLIN, 0}, {listener_.wakeFd(), POLLIN, 0}};
        const int r = ::poll(pf, 2, kAcceptMs);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0 || (pf[1].revents & POLLIN)) return false;
        char c;
        const ssize_t k = ::recv(fd, &c, 1, 0);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return false;
        request.push_back(c);
        if (request.size() >= end.size() && request.compare(request.size() - end.size(), end.size(), end) == 0) {
            // An HTTP request's body (our clients send small ones).
            if (ids != Ids::Http) return true;
            std::string lower;
            for (const char ch : request) lower.push_back(char(std::tolower(static_cast<unsigned char>(ch))));
            const size_t at = lower.find("\r\ncontent-length:");
            if (at == std::string::npos) return true;
            const size_t n = std::strtoul(lower.c_str() + at + 17, nullptr, 10);
            if (n > kMaxRequest) return false;
            std::vector<uint8_t> body(n);
            return readAll(fd, body.data(), n);
        }
    }
    return false;
}

int ScriptedPeer::nextConnection(int fd, Ids ids, int quietMs) {
    for (;;) {
        pollfd pf[3] = {{listener_.wakeFd(), POLLIN, 0}, {listener_.fd(), POLLIN, 0}, {fd, POLLIN, 0}};
        // Only HTTP clients come back on a new connection.
        const nfds_t n = ids == Ids::Http ? (fd >= 0 ? 3 : 2) : 3;
        if (ids != Ids::Http) pf[1].fd = -1;
        const int r = quietMs < kAcceptMs ? pollQuiet(pf, n, quietMs) : ::poll(pf, n, quietMs);
        if (r < 0 && errno == EINTR) continue;
        if (r == 0 && quietMs < kAcceptMs && fd >= 0) return kQuiet;
        if (r <= 0 || (pf[0].revents & POLLIN)) {
            if (fd >= 0) ::close(fd);
            return -1;
        }
        if (n == 3 && (pf[2].revents & (POLLIN | POLLHUP | POLLERR))) return fd;
        if (pf[1].revents & POLLIN) {
            const int c = ::accept4(listener_.fd(), nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) continue;
            if (fd >= 0) ::close(fd);
            return c;
        }
    }
}

void ScriptedPeer::refuseLateComers() {
    for (;;) {
        pollfd pf[2] = {{listener_.wakeFd(), POLLIN, 0}, {listener_.fd(), POLLIN, 0}};
        const int r = ::poll(pf, 2, kAcceptMs);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0 || (pf[0].revents & POLLIN)) return;
        const int c = ::accept4(listener_.fd(), nullptr, nullptr, SOCK_CLOEXEC);
        if (c >= 0) ::close(c);
    }
}

void ScriptedPeer::converse(std::span<const uint8_t> script, Ids ids) {
    const bool text = ids == Ids::Ftp || ids == Ids::Http;
    pollfd lp{listener_.fd(), POLLIN, 0};
    if (::poll(&lp, 1, kAcceptMs) <= 0) return;
    int fd = ::accept4(listener_.fd(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

    std::vector<uint8_t> request;
    size_t at = 0;
    while (script.size() - at >= 3) {
        const uint8_t flags = script[at];
        const size_t length = std::min<size_t>(script[at + 1] | script[at + 2] << 8, script.size() - at - 3);
        std::vector<uint8_t> reply(script.begin() + long(at + 3), script.begin() + long(at + 3 + length));
        at += 3 + length;

        if (ids == Ids::Http && !(flags & kUnsolicited)) {
            // An HTTP reply answers a request, maybe on a new connection. A
            // client that says nothing for a moment on its connection is
            // still reading the last reply (it was cut short): this one
            // goes on from there, so that the client never sits out its
            // own time-outs.
            for (;;) {
                const int next = nextConnection(fd, ids, fd >= 0 ? kQuietMs : kAcceptMs);
                if (next == kQuiet) break;
                if ((fd = next) < 0) return;
                if (readTextRequest(fd, ids)) break;
                ::close(fd);
                fd = -1;
            }
        } else if (ids == Ids::Ftp && !(flags & kUnsolicited)) {
            pollfd pf{fd, POLLIN, 0};
            if (pollQuiet(&pf, 1, kQuietMs) > 0 && !readTextRequest(fd, ids)) break;
        } else if (!(flags & kUnsolicited)) {
            pollfd pf{fd, POLLIN, 0};
            if (pollQuiet(&pf, 1, kQuietMs) > 0) {
                uint8_t head[4];
                if (!readAll(fd, head, 4)) break;
                const size_t n = size_t(head[1]) << 16 | size_t(head[2]) << 8 | head[3];
                if (n > kMaxRequest) break;
                request.resize(n);
                if (!readAll(fd, request.data(), n)) break;
                if (requestFilter_) request = requestFilter_(std::move(request));
            }
        }
        if ((flags & kPatchId) && !request.empty()) {
            if (ids == Ids::Smb2 && request.size() >= 32 && reply.size() >= 32) {
                std::copy(request.begin() + 24, request.begin() + 32, reply.begin() + 24);
            } else if (ids == Ids::Smb1 && request.size() >= 32 && reply.size() >= 32) {
                reply[4] = request[4];
                std::copy(request.begin() + 30, request.begin() + 32, reply.begin() + 30);
            }
        }
        if (replyFilter_) reply = replyFilter_(std::move(reply), flags);
        if (!(flags & kRaw) && !text) {
            const size_t n = reply.size();
            const uint8_t head[4] = {0, uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
            if (!writeAll(fd, head, 4)) break;
        }
        if (!writeAll(fd, reply.data(), reply.size())) break;
    }
    if (fd >= 0) {
        // Requests left unread would turn the close into a reset, which may
        // cost the client replies it has not read yet.
        ::shutdown(fd, SHUT_WR);
        uint8_t sink[4096];
        while (::recv(fd, sink, sizeof sink, MSG_DONTWAIT) > 0) {
        }
        ::close(fd);
    }
    // An HTTP client goes on with a new connection after the script's end
    // (a redirect, an authentication round): it finds it closed at once.
    if (ids == Ids::Http) refuseLateComers();
}
