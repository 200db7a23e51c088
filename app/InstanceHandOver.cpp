#include "app/InstanceHandOver.h"

#include "platform/core/Clock.h"
#include "platform/core/RunLoop.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// How long a connected peer may take to send its line.
constexpr int kReadMillis = 2000;

struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

bool fillAddress(const std::string& path, sockaddr_un* addr) {
    std::memset(addr, 0, sizeof *addr);
    addr->sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr->sun_path) return false;
    std::memcpy(addr->sun_path, path.data(), path.size());
    return true;
}

int connectTo(const std::string& path, int* err) {
    sockaddr_un addr;
    if (!fillAddress(path, &addr)) {
        *err = ENAMETOOLONG;
        return -1;
    }
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *err = errno;
        return -1;
    }
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        *err = errno;
        ::close(fd);
        return -1;
    }
    return fd;
}

// The listener waits on the outside world for as long as the program runs:
// while it waits it is not busy work that the main loop should wait for, on
// the virtual clock or the real one.
class Waiting {
public:
    Waiting() : counted_(sys::Clock::currentThreadTracked()) {
        if (counted_) sys::Clock::endWork();
    }
    ~Waiting() {
        if (counted_) sys::Clock::beginWork();
    }
    Waiting(const Waiting&) = delete;
    Waiting& operator=(const Waiting&) = delete;

private:
    bool counted_;
};

long long nowMillis() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Waits for `events` on fd (and, when given, on a wake pipe) until the
// deadline; 1 ready, 0 timed out or woken, -1 error.
int waitFor(int fd, short events, long long deadline, int wakeFd = -1) {
    for (;;) {
        const long long left = deadline - nowMillis();
        if (left <= 0) return 0;
        pollfd fds[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
        int n;
        {
            Waiting idle;
            n = ::poll(fds, wakeFd >= 0 ? 2 : 1, int(left));
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) return 0;
        if (wakeFd >= 0 && fds[1].revents) return 0;
        return 1;
    }
}

// Whether `path` is a socket (not a link to one) that belongs to this user:
// the only kind of file a hand-over is sent to.
bool isOwnSocket(const struct stat& st) { return S_ISSOCK(st.st_mode) && st.st_uid == ::geteuid(); }

// Whether the peer on a connected socket runs as this user.
bool peerIsThisUser(int fd) {
    ucred cred{};
    socklen_t len = sizeof cred;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.uid == ::geteuid();
}

bool isSafeURL(const std::string& url) {
    if (url.empty()) return false;
    for (unsigned char c : url)
        if (c < 0x20 || c == 0x7f) return false;
    return true;
}

}  // namespace

struct InstanceHandOver::Shared {
    std::function<bool(const std::string&)> onURL;
    std::atomic<bool> alive{true};
};

std::string InstanceHandOver::socketPath(const std::string& home) {
    std::string path = home;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    path += "/";
    path += kSocketName;
    sockaddr_un addr;
    return fillAddress(path, &addr) ? path : std::string();
}

InstanceHandOver::Result InstanceHandOver::handOver(const std::string& home, const std::string& url,
                                                    std::string* error, double timeout) {
    const std::string path = socketPath(home);
    if (path.empty()) return Result::NoRunningProgram;
    // A link, or a socket of someone else's, is never talked to: the book
    // would go to whoever listens there. The program that starts instead
    // replaces the link, or says what is in the way.
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !isOwnSocket(st)) return Result::NoRunningProgram;
    int err = 0;
    const int raw = connectTo(path, &err);
    // Nobody there, or a socket left by a run that ended without removing it.
    if (raw < 0) return Result::NoRunningProgram;
    Fd fd(raw);
    if (!peerIsThisUser(fd.fd)) return Result::NoRunningProgram;
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return Result::Failed;
    };
    if (!isSafeURL(url) || url.size() + 1 > kMaxMessage) return fail("the address cannot be handed over");
    ::fcntl(fd.fd, F_SETFL, ::fcntl(fd.fd, F_GETFL) | O_NONBLOCK);
    const long long deadline = nowMillis() + (long long)(timeout * 1000);
    const std::string line = url + "\n";
    size_t sent = 0;
    while (sent < line.size()) {
        const ssize_t n = ::send(fd.fd, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && waitFor(fd.fd, POLLOUT, deadline) == 1) continue;
        return fail("the running program does not take the address");
    }
    std::string reply;
    char buf[16];
    while (reply.find('\n') == std::string::npos && reply.size() < sizeof buf) {
        const ssize_t n = ::recv(fd.fd, buf, sizeof buf, 0);
        if (n > 0) {
            reply.append(buf, size_t(n));
            continue;
        }
        if (n == 0) break;
        if (errno == EINTR) continue;
        if ((errno == EAGAIN || errno == EWOULDBLOCK) && waitFor(fd.fd, POLLIN, deadline) == 1) continue;
        return fail("the running program did not answer");
    }
    if (reply == "ok\n") return Result::Delivered;
    return fail("the running program could not open it");
}

InstanceHandOver::InstanceHandOver(std::function<bool(const std::string&)> onURL)
    : shared_(std::make_shared<Shared>()) {
    shared_->onURL = std::move(onURL);
}

InstanceHandOver::~InstanceHandOver() { stop(); }

bool InstanceHandOver::listen(const std::string& home, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    placeTaken_ = false;
    if (listening()) return fail("already listening");
    const std::string path = socketPath(home);
    if (path.empty()) return fail("the home folder's path is too long for a hand-over socket");
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) {
            // A link in the socket's place (to whatever it leads) is no socket
            // of this home: it goes, and the socket takes its place.
            if (::unlink(path.c_str()) != 0) return fail(path + ": " + std::strerror(errno));
        }
        else if (!isOwnSocket(st)) {
            placeTaken_ = true;
            return fail(path + (S_ISSOCK(st.st_mode) ? " is another user's socket" : " is not a socket") +
                        "; it is left alone");
        }
        else {
            int err = 0;
            const int other = connectTo(path, &err);
            if (other >= 0) {
                const bool ours = peerIsThisUser(other);
                ::close(other);
                placeTaken_ = !ours;
                return fail(ours ? "another program runs on this home" : path + " is another user's listener");
            }
            if (err != ECONNREFUSED) return fail(path + ": " + std::strerror(err));
            // Left by a run that crashed: nobody listens on it any more.
            ::unlink(path.c_str());
        }
    }
    sockaddr_un addr;
    fillAddress(path, &addr);
    Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.fd < 0) return fail(std::string("socket: ") + std::strerror(errno));
    if (::bind(fd.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        return fail(path + ": " + std::strerror(errno));
    // Only this user hands books over.
    if (::chmod(path.c_str(), 0600) != 0 || ::listen(fd.fd, 8) != 0) {
        const std::string why = std::strerror(errno);
        ::unlink(path.c_str());
        return fail(path + ": " + why);
    }
    if (::pipe2(wakeFds_, O_CLOEXEC) != 0) {
        const std::string why = std::strerror(errno);
        ::unlink(path.c_str());
        return fail("pipe: " + why);
    }
    struct stat made;
    if (::lstat(path.c_str(), &made) == 0) {
        socketIno_ = made.st_ino;
        socketDev_ = made.st_dev;
    }
    listenFd_ = fd.fd;
    fd.fd = -1;
    path_ = path;
    shared_->alive = true;
    thread_ = sys::Thread([this](const std::atomic<bool>& stop) { serve(stop); }, "hand-over");
    return true;
}

void InstanceHandOver::stop() {
    shared_->alive = false;
    if (listenFd_ < 0) return;
    thread_.requestStop();
    const char wake = 1;
    (void)!::write(wakeFds_[1], &wake, 1);
    thread_.join();
    // Remove the socket only while it is still ours (not one a later run made).
    struct stat there;
    if (::lstat(path_.c_str(), &there) == 0 && there.st_ino == socketIno_ && there.st_dev == socketDev_)
        ::unlink(path_.c_str());
    ::close(listenFd_);
    ::close(wakeFds_[0]);
    ::close(wakeFds_[1]);
    listenFd_ = wakeFds_[0] = wakeFds_[1] = -1;
}

void InstanceHandOver::serve(const std::atomic<bool>& stop) {
    while (!stop.load()) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
        int n;
        {
            Waiting idle;
            n = ::poll(fds, 2, -1);
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || fds[1].revents) return;
        if (!(fds[0].revents & POLLIN)) continue;
        const int c = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (c >= 0) answer(c);
    }
}

void InstanceHandOver::answer(int raw) {
    auto conn = std::make_shared<Fd>(raw);
    auto refuse = [&] { (void)::send(conn->fd, "no\n", 3, MSG_NOSIGNAL); };
    if (!peerIsThisUser(conn->fd)) return;
    // One line, bounded, from a peer that has a moment to send it.
    const long long deadline = nowMillis() + kReadMillis;
    std::string line;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::recv(conn->fd, buf, sizeof buf, 0);
        if (n > 0) {
            line.append(buf, size_t(n));
            if (line.find('\n') != std::string::npos) break;
            if (line.size() >= kMaxMessage) return refuse();
            continue;
        }
        if (n == 0) return refuse();
        if (errno == EINTR) continue;
        if ((errno == EAGAIN || errno == EWOULDBLOCK) && waitFor(conn->fd, POLLIN, deadline, wakeFds_[0]) == 1)
            continue;
        return refuse();
    }
    const size_t end = line.find('\n');
    if (end + 1 > kMaxMessage || end + 1 != line.size()) return refuse();
    std::string url = line.substr(0, end);
    if (!isSafeURL(url)) return refuse();
    sys::RunLoop::main().post([shared = shared_, conn, url] {
        const bool taken = shared->alive.load() && shared->onURL && shared->onURL(url);
        (void)::send(conn->fd, taken ? "ok\n" : "no\n", 3, MSG_NOSIGNAL);
    });
}
