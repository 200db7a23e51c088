#include "tests/support/net/HttpGetRequest.h"

#include "foundation/QNUrl.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace test {

namespace {
constexpr int kPollSliceMs = 20;
// A server that says nothing for this long, in real time, is treated as gone
// unless the caller stops earlier.
constexpr int kIdleLimitMs = 30000;

std::string lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string trim(const std::string& s) {
    size_t a = s.find_first_not_of(" \t");
    size_t b = s.find_last_not_of(" \t\r");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}
}  // namespace

HttpGetRequest::~HttpGetRequest() { close(); }

void HttpGetRequest::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool HttpGetRequest::waitReadable() {
    for (int waited = 0; waited < kIdleLimitMs; waited += kPollSliceMs) {
        if (stop_ && stop_()) return false;
        pollfd p{fd_, POLLIN, 0};
        int r = ::poll(&p, 1, kPollSliceMs);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return false;
        if (r > 0) return true;
    }
    return false;
}

bool HttpGetRequest::open(const std::string& url, const std::vector<std::string>& headers, StopTest stop,
                          const std::string& method) {
    close();
    stop_ = std::move(stop);
    status_ = 0;
    headers_.clear();
    pending_.clear();
    remaining_ = -1;

    auto u = QNUrl::URLWithString(url);
    if (!u || lower(u->scheme()) != "http") return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(u->port().value_or(80)));
    std::string host = u->host() == "localhost" ? "127.0.0.1" : u->host();
    if (::inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1) return false;
    // Loopback only: tests never leave the machine.
    if ((ntohl(addr.sin_addr.s_addr) >> 24) != 127) return false;

    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return false;
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close();
        return false;
    }
    int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

    std::string target = u->pathWithQueryAndFragment().empty() ? "/" : u->pathWithQueryAndFragment();
    if (auto hash = target.find('#'); hash != std::string::npos) target.resize(hash);
    std::string req = method + " " + target + " HTTP/1.1\r\nHost: " + u->host();
    if (u->port()) req += ":" + std::to_string(*u->port());
    req += "\r\nConnection: close\r\nUser-Agent: leafbright-test\r\n";
    for (const auto& h : headers) req += h + "\r\n";
    req += "\r\n";
    for (size_t done = 0; done < req.size();) {
        ssize_t w = ::send(fd_, req.data() + done, req.size() - done, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            close();
            return false;
        }
        done += size_t(w);
    }

    // Status line and headers.
    std::string head;
    size_t end;
    while ((end = head.find("\r\n\r\n")) == std::string::npos) {
        if (head.size() > 65536 || !waitReadable()) {
            close();
            return false;
        }
        char buf[4096];
        ssize_t r = ::recv(fd_, buf, sizeof buf, 0);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) {
            close();
            return false;
        }
        head.append(buf, size_t(r));
    }
    pending_ = head.substr(end + 4);
    head.resize(end);
    size_t lineEnd = head.find("\r\n");
    std::string statusLine = head.substr(0, lineEnd);
    if (statusLine.compare(0, 5, "HTTP/") != 0 || statusLine.size() < 12) {
        close();
        return false;
    }
    status_ = std::atoi(statusLine.c_str() + 9);
    size_t pos = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
    while (pos < head.size()) {
        size_t e = head.find("\r\n", pos);
        if (e == std::string::npos) e = head.size();
        std::string line = head.substr(pos, e - pos);
        if (auto colon = line.find(':'); colon != std::string::npos) {
            headers_[lower(trim(line.substr(0, colon)))] = trim(line.substr(colon + 1));
        }
        pos = e + 2;
    }
    remaining_ = method == "HEAD" ? 0 : contentLength();
    return true;
}

std::string HttpGetRequest::header(const std::string& lowerName) const {
    auto it = headers_.find(lowerName);
    return it == headers_.end() ? std::string() : it->second;
}

int64_t HttpGetRequest::contentLength() const {
    std::string v = header("content-length");
    if (v.empty() || v.find_first_not_of("0123456789") != std::string::npos) return -1;
    return std::stoll(v);
}

int64_t HttpGetRequest::read(char* buffer, size_t capacity) {
    if (remaining_ == 0) return 0;
    size_t cap = capacity;
    if (remaining_ > 0) cap = size_t(std::min<int64_t>(int64_t(cap), remaining_));
    if (!pending_.empty()) {
        size_t n = std::min(cap, pending_.size());
        std::memcpy(buffer, pending_.data(), n);
        pending_.erase(0, n);
        if (remaining_ > 0) remaining_ -= int64_t(n);
        return int64_t(n);
    }
    if (fd_ < 0) return -1;
    for (;;) {
        if (!waitReadable()) return -1;
        ssize_t r = ::recv(fd_, buffer, cap, 0);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        if (r == 0) return remaining_ < 0 ? 0 : -1;  // closed before the announced end
        if (remaining_ > 0) remaining_ -= r;
        return r;
    }
}

bool HttpGetRequest::readAll(std::string& body, size_t limit) {
    char buf[65536];
    for (;;) {
        int64_t r = read(buf, sizeof buf);
        if (r == 0) return true;
        if (r < 0) return false;
        body.append(buf, size_t(r));
        if (body.size() > limit) return false;
    }
}

}  // namespace test
