#include "remote/protocols/QNNbns.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/core/Clock.h"
#include "platform/core/Date.h"
#include "platform/core/RunLoop.h"

struct QNNbns::Delivery {
    std::recursive_mutex m;
    QNNbnsDelegate* delegate = nullptr;
    bool cancelled = false;
};

namespace {

constexpr size_t kQueryLength = 50;
constexpr size_t kAnswerLength = 62;
constexpr size_t kReceiveLength = 440;
constexpr int kMaxAnswerEntries = 64;

struct CacheEntry {
    std::string address;
    std::string netbios;
    int64_t date = 0;
};

// The shared cache: resolutions on any thread read, prune and append it.
struct Cache {
    std::mutex m;
    bool exists = false;
    int64_t lifetime = 0;
    std::vector<CacheEntry> entries;
};

Cache& cache() {
    static Cache c;
    return c;
}

double monotonic() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string upper(const std::string& s) {
    std::string out = s;
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    }
    return out;
}

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t at = s.find(sep, start);
        parts.push_back(s.substr(start, at - start));
        if (at == std::string::npos) return parts;
        start = at + 1;
    }
}

void drainEventFd(int fd) {
    uint64_t v;
    while (::read(fd, &v, sizeof v) > 0) {
    }
}

void signalEventFd(int fd) {
    uint64_t one = 1;
    ssize_t r = ::write(fd, &one, sizeof one);
    (void)r;
}

// Waits until `fd` is readable, the wake descriptor is signalled, or
// `seconds` pass (negative: no limit). Returns 1 readable, 0 timed out,
// -1 woken or failed.
int waitReadable(int fd, int wakeFd, double seconds) {
    pollfd p[2] = {{wakeFd, POLLIN, 0}, {fd, POLLIN, 0}};
    int count = fd >= 0 ? 2 : 1;
    for (;;) {
        int ms = seconds < 0 ? -1 : int(seconds * 1000 + 0.999);
        int r = ::poll(p, nfds_t(count), ms);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        if (p[0].revents) return -1;
        if (r == 0) return 0;
        return 1;
    }
}

// The usable interfaces of a snapshot: with an address, not the loopback
// address, not a host mask.
struct Interface {
    uint32_t address = 0, mask = 0, broadcast = 0;  // network byte order
    bool hasBroadcast = false;
};

std::vector<Interface> usableInterfaces(const QNNetworkInfo& info) {
    std::vector<Interface> out;
    if (!info.info()) return out;
    for (const auto& e : *info.info()) {
        auto addr = e.find("ipv4addr");
        auto mask = e.find("ipv4mask");
        if (addr == e.end() || addr->second.empty() || mask == e.end()) continue;
        if (addr->second == "127.0.0.1" || mask->second == "255.255.255.255") continue;
        Interface i;
        i.address = QNNbns::getIPv4Value(addr->second);
        i.mask = QNNbns::getIPv4Value(mask->second);
        auto bc = e.find("ipv4broadcast");
        if (bc != e.end() && !bc->second.empty()) {
            i.broadcast = QNNbns::getIPv4Value(bc->second);
            i.hasBroadcast = true;
        }
        out.push_back(i);
    }
    return out;
}

}  // namespace

QNNbns::QNNbns() {
    delivery_ = std::make_shared<Delivery>();
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    serverWakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

QNNbns::~QNNbns() {
    stopnameResolveServer();
    cancel();
    if (wakeFd_ >= 0) ::close(wakeFd_);
    if (serverWakeFd_ >= 0) ::close(serverWakeFd_);
}

bool QNNbns::isNetBiosName(const std::string& host) {
    if (host.empty() || host.size() > 15) return false;
    if (host.find('.') != std::string::npos || host.find(':') != std::string::npos) return false;
    if (upper(host) == "LOCALHOST") return false;
    // inet_aton also takes the short forms ("127.1", "2130706433", "0x7f000001").
    in_addr a;
    if (::inet_aton(host.c_str(), &a)) return false;
    return true;
}

void QNNbns::initCacheWithTime(int64_t seconds) {
    Cache& c = cache();
    std::lock_guard<std::mutex> g(c.m);
    c.exists = true;
    c.lifetime = seconds;
    c.entries.clear();
}

void QNNbns::releaseCacheWithTime() {
    Cache& c = cache();
    std::lock_guard<std::mutex> g(c.m);
    c.exists = false;
    c.entries.clear();
}

uint32_t QNNbns::getIPv4Value(const std::string& dottedText) {
    auto parts = split(dottedText, '.');
    if (parts.size() != 4) return 0;
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
        unsigned long n = std::strtoul(parts[i].c_str(), nullptr, 10);
        v |= uint32_t(n & 0xFF) << (8 * i);
    }
    return v;
}

size_t QNNbns::encodeName(const std::string& name, uint8_t suffix, uint8_t out[kEncodedNameLength]) {
    uint8_t plain[16];
    std::memset(plain, ' ', 15);
    std::memcpy(plain, name.data(), std::min<size_t>(name.size(), 15));
    plain[15] = suffix;
    out[0] = 0x20;
    for (int i = 0; i < 16; ++i) {
        out[1 + i * 2] = uint8_t('A' + (plain[i] >> 4));
        out[2 + i * 2] = uint8_t('A' + (plain[i] & 15));
    }
    out[33] = 0;
    return kEncodedNameLength;
}

std::vector<uint8_t> QNNbns::queryPacket(const std::string& upperName) {
    std::vector<uint8_t> q(kQueryLength, 0);
    q[1] = 0x01;  // transaction id 1
    q[2] = 0x01;  // recursion desired, broadcast
    q[3] = 0x10;
    q[5] = 0x01;  // one question
    encodeName(upperName, 0x20, q.data() + 12);
    q[47] = 0x20;  // NB
    q[49] = 0x01;  // IN
    return q;
}

std::vector<std::string> QNNbns::answerAddresses(const uint8_t* packet, size_t length, const EncodedName& encoded) {
    std::vector<std::string> out;
    if (length < 56) return out;
    if (packet[0] != 0x00 || packet[1] != 0x01) return out;
    if (!(packet[2] & 0x80)) return out;
    // A negative answer (a name error from a name server) carries no address.
    if (packet[3] & 0x0F) return out;
    if (std::memcmp(packet + 13, encoded.data() + 1, 32) != 0) return out;
    for (int i = 0; i < kMaxAnswerEntries; ++i) {
        size_t at = 56 + size_t(i) * 6;
        if (at + 6 > length) break;
        const uint8_t* a = packet + at + 2;
        if (!a[0] && !a[1] && !a[2] && !a[3]) break;
        out.push_back(std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." +
                      std::to_string(a[3]));
    }
    return out;
}

std::optional<std::string> QNNbns::chooseAddress(const std::vector<std::string>& answers, const QNNetworkInfo& info) {
    if (answers.empty()) return std::nullopt;
    auto interfaces = usableInterfaces(info);
    for (const auto& answer : answers) {
        uint32_t a = getIPv4Value(answer);
        for (const auto& i : interfaces) {
            if (i.address && ((a ^ i.address) & i.mask) == 0) return answer;
        }
    }
    return answers.front();
}

void QNNbns::setDelegate(QNNbnsDelegate* delegate) {
    std::lock_guard<std::mutex> g(mutex_);
    std::lock_guard<std::recursive_mutex> d(delivery_->m);
    delivery_->delegate = delegate;
}

QNNbnsDelegate* QNNbns::delegate() const {
    std::lock_guard<std::mutex> g(mutex_);
    std::lock_guard<std::recursive_mutex> d(delivery_->m);
    return delivery_->delegate;
}

void QNNbns::setNetworkInfo(std::shared_ptr<const QNNetworkInfo> info) {
    std::lock_guard<std::mutex> g(mutex_);
    networkInfo_ = std::move(info);
}

std::shared_ptr<const QNNetworkInfo> QNNbns::networkInfo() {
    std::lock_guard<std::mutex> g(mutex_);
    if (!networkInfo_) networkInfo_ = std::make_shared<QNNetworkInfo>();
    return networkInfo_;
}

std::optional<std::string> QNNbns::getIPAddressWithNETBIOSName(const std::string& name) {
    {
        std::lock_guard<std::mutex> g(mutex_);
        isCancel_ = false;
        if (wakeFd_ >= 0) drainEventFd(wakeFd_);
        ++running_;
    }
    auto result = resolve(name);
    std::lock_guard<std::mutex> g(mutex_);
    --running_;
    idle_.notify_all();
    return result;
}

void QNNbns::getIPAddressWithNETBIOSNameAsync(const std::string& name) {
    // One resolution at a time: a previous one is stopped and its result dropped.
    cancel();
    std::shared_ptr<Delivery> delivery;
    {
        std::lock_guard<std::mutex> g(mutex_);
        auto fresh = std::make_shared<Delivery>();
        {
            std::lock_guard<std::recursive_mutex> d(delivery_->m);
            fresh->delegate = delivery_->delegate;
        }
        delivery_ = fresh;
        delivery = fresh;
        isCancel_ = false;
        if (wakeFd_ >= 0) drainEventFd(wakeFd_);
    }
    resolveThread_ = sys::Thread(
        [this, name, delivery](const std::atomic<bool>&) {
            auto address = resolve(name);
            if (isCancel_) return;
            // Handed over without waiting: cancel() on the main thread waits
            // for this thread, so this thread must never wait for the main one.
            sys::RunLoop::main().post([delivery, address] {
                std::lock_guard<std::recursive_mutex> d(delivery->m);
                if (!delivery->cancelled && delivery->delegate) {
                    delivery->delegate->finishNetBiosNameResolve(address);
                }
            });
        },
        "nbns-resolve");
}

void QNNbns::cancel() {
    {
        std::lock_guard<std::mutex> g(mutex_);
        isCancel_ = true;
        if (wakeFd_ >= 0) signalEventFd(wakeFd_);
        std::lock_guard<std::recursive_mutex> d(delivery_->m);
        delivery_->cancelled = true;
    }
    if (resolveThread_.joinable() && !resolveThread_.isCurrent()) resolveThread_.join();
    std::unique_lock<std::mutex> g(mutex_);
    idle_.wait(g, [this] { return running_ == 0; });
}

std::optional<std::string> QNNbns::resolve(const std::string& name) {
    if (name.size() > 15) return std::nullopt;
    std::string upperName = upper(name);
    if (split(upperName, '.').size() == 4) return upperName;

    Cache& c = cache();
    {
        std::lock_guard<std::mutex> g(c.m);
        if (c.exists) {
            int64_t now = int64_t(sys::Date::now().timeIntervalSince1970());
            std::erase_if(c.entries, [&](const CacheEntry& e) { return e.date + c.lifetime < now; });
            for (const auto& e : c.entries) {
                if (e.netbios == upperName) return e.address;
            }
        }
    }

    auto info = networkInfo();
    if (isCancel_) return std::nullopt;
    // The time-out counts from here, a tenth of a second short of the whole.
    int64_t timeout = timeout_;
    double deadline = timeout > 0 ? monotonic() + double(timeout) - 0.1 : -1;
    auto answers = sendPacket(upperName, deadline);
    if (!answers) return std::nullopt;
    auto chosen = chooseAddress(*answers, *info);
    if (!chosen) return std::nullopt;

    std::lock_guard<std::mutex> g(c.m);
    if (c.exists) {
        c.entries.push_back({*chosen, upperName, int64_t(sys::Date::now().timeIntervalSince1970())});
    }
    return chosen;
}

std::optional<std::vector<std::string>> QNNbns::sendPacket(const std::string& upperName, double deadline) {
    auto remaining = [deadline] { return deadline < 0 ? -1.0 : std::max(0.0, deadline - monotonic()); };
    auto query = queryPacket(upperName);
    EncodedName encoded;
    std::memcpy(encoded.data(), query.data() + 12, encoded.size());

    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return std::nullopt;
    int on = 1;
    // An ephemeral source port: port 137 may belong to a name server or to our
    // own responder, and answers come back to the port the query came from.
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        ::close(fd);
        return std::nullopt;
    }
    {
        std::lock_guard<std::mutex> g(mutex_);
        socket_ = fd;
    }
    auto finish = [&](std::optional<std::vector<std::string>> r) {
        std::lock_guard<std::mutex> g(mutex_);
        ::close(fd);
        socket_ = -1;
        return r;
    };

    auto interfaces = usableInterfaces(*networkInfo());
    for (int pass = 0; pass < 3; ++pass) {
        for (const auto& i : interfaces) {
            if (!i.hasBroadcast || !i.address) continue;
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_port = htons(servicePort_);
            to.sin_addr.s_addr = i.broadcast;
            if (::sendto(fd, query.data(), query.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0) {
                return finish(std::nullopt);
            }
        }
        double pause = 0.1;
        if (deadline >= 0 && remaining() < pause) return finish(std::nullopt);
        if (waitReadable(-1, wakeFd_, pause) < 0) return finish(std::nullopt);
    }

    uint8_t buffer[kReceiveLength];
    for (;;) {
        double left = remaining();
        if (deadline >= 0 && left <= 0) return finish(std::nullopt);
        int w = waitReadable(fd, wakeFd_, left);
        if (w <= 0) return finish(std::nullopt);
        std::memset(buffer, 0, sizeof buffer);
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return finish(std::nullopt);
        }
        auto addresses = answerAddresses(buffer, size_t(n), encoded);
        if (!addresses.empty()) return finish(addresses);
    }
}

bool QNNbns::startNameResolveServer(const std::string& ownName) {
    stopnameResolveServer();
    EncodedName name;
    encodeName(ownName, 0x00, name.data());

    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(servicePort_);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        ::close(fd);
        return false;
    }
    networkInfo();
    {
        std::lock_guard<std::mutex> g(mutex_);
        myName_ = name;
        serverSocket_ = fd;
        drainEventFd(serverWakeFd_);
    }
    int wakeFd = serverWakeFd_;
    serverThread_ = sys::Thread(
        [this, fd, wakeFd](const std::atomic<bool>&) {
            sys::Clock::IdleScope idle;
            serve(fd, wakeFd);
        },
        "nbns-responder");
    return true;
}

void QNNbns::serve(int fd, int wakeFd) {
    EncodedName own;
    {
        std::lock_guard<std::mutex> g(mutex_);
        own = myName_;
    }
    auto interfaces = usableInterfaces(*networkInfo());
    uint8_t buffer[512];
    for (;;) {
        if (waitReadable(fd, wakeFd, -1) <= 0) return;
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        // MSG_TRUNC gives the datagram's real length, so longer ones are told apart.
        ssize_t n = ::recvfrom(fd, buffer, sizeof buffer, MSG_TRUNC, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return;
        }
        if (size_t(n) != kQueryLength || std::memcmp(buffer + 13, own.data() + 1, 30) != 0) continue;

        const Interface* chosen = nullptr;
        for (const auto& i : interfaces) {
            if (i.address && ((from.sin_addr.s_addr ^ i.address) & i.mask) == 0) chosen = &i;
        }
        if (!chosen) continue;

        uint8_t answer[kAnswerLength] = {};
        answer[0] = buffer[0];
        answer[1] = buffer[1];
        answer[2] = 0x84;  // response, authoritative
        answer[7] = 0x01;  // one answer
        // The answer names what was asked, suffix included: a client matches
        // it against its question, and would drop an answer carrying our
        // suffix 0 to a query for the server service (0x20).
        std::memcpy(answer + 12, buffer + 12, own.size());
        answer[47] = 0x20;  // NB
        answer[49] = 0x01;  // IN
        answer[55] = 0x06;  // data length; TTL and NB flags stay 0
        std::memcpy(answer + 58, &chosen->address, 4);
        // Back to the port the query came from: clients that do not own port
        // 137 would never see an answer sent there.
        ::sendto(fd, answer, sizeof answer, 0, reinterpret_cast<sockaddr*>(&from), fromLength);
    }
}

void QNNbns::stopnameResolveServer() {
    signalEventFd(serverWakeFd_);
    if (serverThread_.joinable() && !serverThread_.isCurrent()) serverThread_.join();
    std::lock_guard<std::mutex> g(mutex_);
    if (serverSocket_ >= 0) ::close(serverSocket_);
    serverSocket_ = -1;
    drainEventFd(serverWakeFd_);
}
