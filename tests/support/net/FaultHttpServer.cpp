#include "tests/support/net/FaultHttpServer.h"

#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace test {

namespace {

std::map<std::string, std::string> parseQuery(const std::string& query) {
    std::map<std::string, std::string> out;
    size_t pos = 0;
    while (pos < query.size()) {
        size_t amp = query.find('&', pos);
        if (amp == std::string::npos) amp = query.size();
        std::string item = query.substr(pos, amp - pos);
        size_t eq = item.find('=');
        if (eq == std::string::npos)
            out[item] = "";
        else
            out[item.substr(0, eq)] = item.substr(eq + 1);
        pos = amp + 1;
    }
    return out;
}

int64_t number(const std::map<std::string, std::string>& q, const char* key, int64_t fallback) {
    auto it = q.find(key);
    if (it == q.end() || it->second.empty()) return fallback;
    return std::strtoll(it->second.c_str(), nullptr, 10);
}

std::string percentDecode(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
            out.push_back(char(std::stoi(s.substr(i + 1, 2), nullptr, 16)));
            i += 2;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

bool sendAll(int fd, const char* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t w = ::send(fd, data + done, size - done, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        done += size_t(w);
    }
    return true;
}

std::string httpDate(time_t t) {
    char buf[64];
    struct tm tm {};
    ::gmtime_r(&t, &tm);
    std::strftime(buf, sizeof buf, "%a, %d %b %Y %H:%M:%S GMT", &tm);
    return buf;
}

std::string percentEncode(const std::string& s) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
            out.push_back(char(c));
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

const char* reason(int status) {
    switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 207: return "Multi-Status";
    case 404: return "Not Found";
    case 400: return "Bad Request";
    case 416: return "Range Not Satisfiable";
    default: return "Error";
    }
}

}  // namespace

FaultHttpServer::FaultHttpServer(std::string root) : root_(std::move(root)) {}

FaultHttpServer::~FaultHttpServer() { stop(); }

std::string FaultHttpServer::url(const std::string& pathAndQuery) const {
    return "http://127.0.0.1:" + std::to_string(port_) + pathAndQuery;
}

bool FaultHttpServer::start(int port) {
    if (listenFd_ >= 0) return true;
    if (::pipe2(wakeFd_, O_CLOEXEC) != 0) return false;
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) return false;
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(uint16_t(port));
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listenFd_, 64) != 0) {
        ::close(listenFd_);
        listenFd_ = -1;
        return false;
    }
    socklen_t len = sizeof addr;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    stopping_ = false;
    acceptor_ = std::thread([this] { acceptLoop(); });
    return true;
}

void FaultHttpServer::stop() {
    if (listenFd_ < 0) return;
    {
        std::lock_guard<std::mutex> g(mutex_);
        stopping_ = true;
    }
    char c = 1;
    (void)!::write(wakeFd_[1], &c, 1);
    if (acceptor_.joinable()) acceptor_.join();
    std::vector<std::thread> conns;
    {
        std::lock_guard<std::mutex> g(mutex_);
        conns.swap(connections_);
    }
    for (auto& t : conns) t.join();
    ::close(listenFd_);
    listenFd_ = -1;
    ::close(wakeFd_[0]);
    ::close(wakeFd_[1]);
    wakeFd_[0] = wakeFd_[1] = -1;
}

void FaultHttpServer::acceptLoop() {
    for (;;) {
        pollfd p[2] = {{listenFd_, POLLIN, 0}, {wakeFd_[0], POLLIN, 0}};
        int r = ::poll(p, 2, -1);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 || (p[1].revents & POLLIN)) return;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::lock_guard<std::mutex> g(mutex_);
        if (stopping_) {
            ::close(fd);
            return;
        }
        connections_.emplace_back([this, fd] { serve(fd); });
    }
}

bool FaultHttpServer::pause(int ms) {
    pollfd p{wakeFd_[0], POLLIN, 0};
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return true;
        int r = ::poll(&p, 1, int(left.count()));
        if (r > 0) return false;
        if (r < 0 && errno != EINTR) return false;
    }
}

std::vector<FaultHttpServer::Request> FaultHttpServer::requests() const {
    std::lock_guard<std::mutex> g(mutex_);
    return std::vector<Request>(log_.begin() + long(logStart_), log_.end());
}

size_t FaultHttpServer::requestCount(const std::string& path) const {
    size_t n = 0;
    for (const auto& r : requests()) n += path.empty() || r.path == path;
    return n;
}

void FaultHttpServer::clearRequests() {
    std::lock_guard<std::mutex> g(mutex_);
    logStart_ = log_.size();
}

bool FaultHttpServer::waitForStalled(int n, double seconds) {
    std::unique_lock<std::mutex> lk(mutex_);
    return changed_.wait_for(lk, std::chrono::duration<double>(seconds), [&] { return stalled_ >= n; });
}

bool FaultHttpServer::waitForAnswered(double seconds) {
    std::unique_lock<std::mutex> lk(mutex_);
    return changed_.wait_for(lk, std::chrono::duration<double>(seconds), [&] {
        for (size_t i = logStart_; i < log_.size(); ++i) {
            if (!log_[i].finished) return false;
        }
        return true;
    });
}

void FaultHttpServer::holdUntilClosed(int fd) {
    for (;;) {
        pollfd p[2] = {{fd, POLLIN, 0}, {wakeFd_[0], POLLIN, 0}};
        int r = ::poll(p, 2, -1);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 || (p[1].revents & POLLIN)) break;
        char buf[256];
        if (::recv(fd, buf, sizeof buf, 0) <= 0) break;
    }
}

void FaultHttpServer::serve(int fd) {
    Request req;
    size_t index = SIZE_MAX;
    auto finish = [&](int status, uint64_t bytes) {
        req.status = status;
        req.bodyBytes = bytes;
        req.finished = true;
        {
            std::lock_guard<std::mutex> g(mutex_);
            if (index < log_.size()) log_[index] = req;
            changed_.notify_all();
        }
        ::close(fd);
    };

    // The request head.
    std::string head;
    while (head.find("\r\n\r\n") == std::string::npos) {
        pollfd p[2] = {{fd, POLLIN, 0}, {wakeFd_[0], POLLIN, 0}};
        if (::poll(p, 2, 10000) <= 0 || (p[1].revents & POLLIN) || head.size() > 65536) {
            ::close(fd);
            return;
        }
        char buf[4096];
        ssize_t r = ::recv(fd, buf, sizeof buf, 0);
        if (r <= 0) {
            ::close(fd);
            return;
        }
        head.append(buf, size_t(r));
    }
    size_t sp1 = head.find(' ');
    size_t sp2 = head.find(' ', sp1 + 1);
    if (sp1 == std::string::npos || sp2 == std::string::npos) {
        ::close(fd);
        return;
    }
    req.method = head.substr(0, sp1);
    req.target = head.substr(sp1 + 1, sp2 - sp1 - 1);
    size_t qm = req.target.find('?');
    req.path = req.target.substr(0, qm);
    auto query = parseQuery(qm == std::string::npos ? "" : req.target.substr(qm + 1));
    std::string depth;
    uint64_t contentLength = 0;
    {
        std::string lowerHead = head;
        for (char& c : lowerHead) c = char(std::tolower(static_cast<unsigned char>(c)));
        auto header = [&](const std::string& name) {
            size_t at = lowerHead.find("\r\n" + name + ":");
            if (at == std::string::npos) return std::string();
            size_t b = at + 3 + name.size();
            size_t e = head.find("\r\n", b);
            std::string v = head.substr(b, e - b);
            size_t a = v.find_first_not_of(" \t");
            return a == std::string::npos ? std::string() : v.substr(a);
        };
        req.range = header("range");
        req.authorization = header("authorization");
        depth = header("depth");
        contentLength = std::strtoull(header("content-length").c_str(), nullptr, 10);
    }
    // Logged before anything is answered, so that a client that has its
    // answer always finds its request counted.
    int number_ = 0;
    {
        std::lock_guard<std::mutex> g(mutex_);
        number_ = ++perPath_[req.path];
        index = log_.size();
        log_.push_back(req);
        changed_.notify_all();
    }

    if (int64_t from = number(query, "stall_from", 0); from > 0 && number_ >= from) {
        {
            std::lock_guard<std::mutex> g(mutex_);
            ++stalled_;
            changed_.notify_all();
        }
        holdUntilClosed(fd);
        {
            std::lock_guard<std::mutex> g(mutex_);
            --stalled_;
        }
        return finish(0, 0);
    }
    if (int64_t ms = number(query, "delay_ms", 0); ms > 0 && !pause(int(ms))) return finish(0, 0);

    // The file, confined to the root.
    std::string rel = percentDecode(req.path);
    if (rel.find("/../") != std::string::npos || rel.ends_with("/..") || rel.empty() || rel[0] != '/') {
        std::string msg = "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        sendAll(fd, msg.data(), msg.size());
        return finish(400, 0);
    }
    if (req.method == "PROPFIND") {
        // The request's body (which properties) is read and not looked at:
        // every answer carries the same ones.
        uint64_t body = head.size() - (head.find("\r\n\r\n") + 4);
        while (body < contentLength && body < (1u << 20)) {
            pollfd p[2] = {{fd, POLLIN, 0}, {wakeFd_[0], POLLIN, 0}};
            char buf[4096];
            ssize_t r = ::poll(p, 2, 10000) > 0 && !(p[1].revents & POLLIN) ? ::recv(fd, buf, sizeof buf, 0) : -1;
            if (r <= 0) return finish(0, 0);
            body += uint64_t(r);
        }
        const std::string xml = query.count("propfind_body") ? query["propfind_body"] : propfind(rel, depth == "0");
        const int status = xml.empty() ? 404 : 207;
        std::string msg = "HTTP/1.1 " + std::to_string(status) + " " + reason(status) +
                          "\r\nContent-Type: application/xml; charset=utf-8\r\nContent-Length: " +
                          std::to_string(xml.size()) + "\r\nConnection: close\r\n\r\n" + xml;
        sendAll(fd, msg.data(), msg.size());
        return finish(status, xml.size());
    }
    int file = ::open((root_ + rel).c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (file < 0 || ::fstat(file, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (file >= 0) ::close(file);
        std::string msg = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        sendAll(fd, msg.data(), msg.size());
        return finish(404, 0);
    }
    const uint64_t size = uint64_t(st.st_size);
    char etagBuf[64];
    std::snprintf(etagBuf, sizeof etagBuf, "\"%lx-%llx\"", long(st.st_mtime), (unsigned long long)size);
    std::string etag = query.count("etag") ? "\"" + query["etag"] + "\"" : etagBuf;
    std::string common = "Accept-Ranges: bytes\r\nETag: " + etag + "\r\nLast-Modified: " + httpDate(st.st_mtime) +
                         "\r\nConnection: close\r\n";
    if (const int64_t n = number(query, "header_bytes", 0); n > 0) common += "X-Filler: " + std::string(size_t(n), 'a') + "\r\n";

    int status = 200;
    uint64_t first = 0, last = size ? size - 1 : 0;
    int64_t shortRange = number(query, "short_range", 0);
    if (int64_t times = number(query, "short_times", -1); times >= 0 && number_ > times) shortRange = 0;
    const int64_t norangeFrom = number(query, "norange_from", 0);
    bool ranged = !req.range.empty() && number(query, "norange", 0) == 0 &&
                  !(norangeFrom > 0 && int64_t(number_) >= norangeFrom);
    if (ranged) {
        int64_t from416 = number(query, "fail416_from", 0);
        bool ok = req.range.compare(0, 6, "bytes=") == 0 && req.range.find(',') == std::string::npos;
        std::string def = ok ? req.range.substr(6) : "";
        size_t dash = def.find('-');
        ok = ok && dash != std::string::npos;
        if (ok && dash == 0) {
            uint64_t n = std::strtoull(def.c_str() + 1, nullptr, 10);
            ok = n > 0 && size > 0;
            first = n >= size ? 0 : size - n;
        } else if (ok) {
            first = std::strtoull(def.c_str(), nullptr, 10);
            if (dash + 1 < def.size()) last = std::min<uint64_t>(std::strtoull(def.c_str() + dash + 1, nullptr, 10), last);
            ok = first < size && first <= last;
        }
        if (!ok || (from416 > 0 && number_ >= from416)) {
            std::string msg = "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */" + std::to_string(size) +
                              "\r\nContent-Length: 0\r\n" + common + "\r\n";
            sendAll(fd, msg.data(), msg.size());
            ::close(file);
            return finish(416, 0);
        }
        status = 206;
        const int64_t shift = number(query, "range_shift", 0);
        if (shift != 0 && int64_t(first) + shift >= 0 && int64_t(last) + shift < int64_t(size)) {
            first = uint64_t(int64_t(first) + shift);
            last = uint64_t(int64_t(last) + shift);
        }
    }
    if (shortRange > 0 && size > 0) {
        status = 206;
        last = std::min<uint64_t>(last, first + uint64_t(shortRange) - 1);
    }
    const uint64_t length = size == 0 ? 0 : last - first + 1;
    std::string msg = "HTTP/1.1 " + std::to_string(status) + " " + reason(status) +
                      "\r\nContent-Type: application/octet-stream\r\nContent-Length: " + std::to_string(length) +
                      "\r\n" + common;
    if (status == 206) {
        msg += "Content-Range: bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
               std::to_string(size) + "\r\n";
    }
    msg += "\r\n";
    if (const int64_t drip = number(query, "drip_ms", 0); drip > 0) {
        // The head, then the body a byte at a time.
        uint64_t sent = 0;
        bool ok = sendAll(fd, msg.data(), msg.size());
        while (ok && req.method != "HEAD" && sent < length) {
            char c = 0;
            ok = ::pread(file, &c, 1, off_t(first + sent)) == 1 && sendAll(fd, &c, 1);
            if (ok) ++sent;
            ok = ok && pause(int(drip));
        }
        ::close(file);
        return finish(status, sent);
    }
    if (!sendAll(fd, msg.data(), msg.size()) || req.method == "HEAD") {
        ::close(file);
        return finish(status, 0);
    }

    int64_t dropAfter = number(query, "drop_after", -1);
    int64_t dropTimes = number(query, "drop_times", -1);
    if (dropTimes >= 0 && number_ > dropTimes) dropAfter = -1;
    const int64_t stallAfter = number(query, "stall_after", -1);
    const int64_t rate = number(query, "rate", 0);
    const size_t chunk = rate > 0 ? size_t(std::max<int64_t>(1, rate / 50)) : 65536;
    std::vector<char> buf(chunk);
    uint64_t sent = 0;
    while (sent < length) {
        size_t want = size_t(std::min<uint64_t>(chunk, length - sent));
        if (dropAfter >= 0) {
            if (int64_t(sent) >= dropAfter) break;
            want = size_t(std::min<int64_t>(int64_t(want), dropAfter - int64_t(sent)));
        }
        if (stallAfter >= 0) {
            if (int64_t(sent) >= stallAfter) {
                holdUntilClosed(fd);
                break;
            }
            want = size_t(std::min<int64_t>(int64_t(want), stallAfter - int64_t(sent)));
        }
        ssize_t r = ::pread(file, buf.data(), want, off_t(first + sent));
        if (r <= 0 || !sendAll(fd, buf.data(), size_t(r))) break;
        sent += uint64_t(r);
        if (rate > 0 && sent < length && !pause(20)) break;
    }
    ::close(file);
    finish(status, sent);
}

std::string FaultHttpServer::propfind(const std::string& rel, bool depthZero) const {
    struct stat st {};
    if (::stat((root_ + rel).c_str(), &st) != 0 || !(S_ISDIR(st.st_mode) || S_ISREG(st.st_mode))) return {};
    auto response = [&](const std::string& path, const struct stat& s) {
        const bool dir = S_ISDIR(s.st_mode);
        std::string href = percentEncode(path);
        while (href.size() > 1 && href.back() == '/') href.pop_back();
        if (dir && davFolderSlash_ && href.back() != '/') href += '/';
        std::string out = "<D:response><D:href>" + href + "</D:href><D:propstat><D:prop>";
        out += dir ? "<D:resourcetype><D:collection/></D:resourcetype>" : "<D:resourcetype/>";
        if (!dir) out += "<D:getcontentlength>" + std::to_string(s.st_size) + "</D:getcontentlength>";
        out += "<D:getlastmodified>" + httpDate(s.st_mtime) + "</D:getlastmodified>";
        return out + "</D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>\n";
    };
    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<D:multistatus xmlns:D=\"DAV:\">\n";
    xml += response(rel, st);
    if (S_ISDIR(st.st_mode) && !depthZero) {
        std::string folder = rel;
        if (folder.back() != '/') folder += '/';
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(root_ + folder, ec)) {
            struct stat child {};
            const std::string name = e.path().filename().string();
            if (::stat(e.path().c_str(), &child) == 0) xml += response(folder + name, child);
        }
    }
    return xml + "</D:multistatus>\n";
}

}  // namespace test
