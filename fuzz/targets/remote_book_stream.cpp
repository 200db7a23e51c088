// A book read in place from a web server that lies: our HTTP stream reader
// and its block cache under the zip page reader, which lists the book and
// loads its first pages. The server holds the book and answers each range
// request as the input orders: honestly, or with bytes shifted (told or
// not), a short or an oversized range, a body cut off or running past its
// length, the whole file, another total or version of the file, 416, 503,
// a 206 without its Content-Range, or no answer at all. Once the orders run
// out it answers honestly, so every read comes to an end. Waits between
// tries run on the virtual clock.
//
// The input is [pad][n][n orders][the book]. The book is served behind
// (pad & 7) x 128 KiB of zeros, so that it spans several blocks of the
// cache; each order byte is an answer (its value % 14) and a parameter
// (its value / 14).
#include "engine/PageReaderZip.h"
#include "engine/RemoteStreamRead.h"
#include "fuzz/support/FuzzEnvironment.h"
#include "fuzz/support/ImageCheck.h"
#include "fuzz/support/ServingPeer.h"
#include "platform/core/Clock.h"
#include "platform/core/RunLoop.h"
#include "remote/stream/HTTPURLStreamRead.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

class LyingServer {
public:
    int port() const { return peer_.port(); }

    void start(std::string file, std::vector<uint8_t> orders) {
        file_ = std::move(file);
        orders_ = std::move(orders);
        next_ = 0;
        // The client closes once it has read what it wants.
        peer_.start([this](int fd) {
            std::string request;
            if (readRequest(fd, request)) answer(fd, request);
            ::shutdown(fd, SHUT_WR);
        });
    }
    void stop() { peer_.stop(); }

private:
    bool readRequest(int fd, std::string& request) {
        char buf[2048];
        while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
            pollfd pf[2] = {{fd, POLLIN, 0}, {peer_.wakeFd(), POLLIN, 0}};
            if (::poll(pf, 2, 5000) <= 0 || (pf[1].revents & POLLIN)) return false;
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) return false;
            request.append(buf, size_t(n));
        }
        return true;
    }

    static void sendAll(int fd, const std::string& s) {
        size_t at = 0;
        while (at < s.size()) {
            const ssize_t n = ::send(fd, s.data() + at, s.size() - at, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            at += size_t(n);
        }
    }

    void answer(int fd, const std::string& request) {
        const int64_t size = int64_t(file_.size());
        int64_t first = 0, last = size - 1;
        bool ranged = false;
        std::string lower = request;
        for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
        if (const size_t at = lower.find("\r\nrange: bytes="); at != std::string::npos) {
            char* end = nullptr;
            first = std::strtoll(lower.c_str() + at + 15, &end, 10);
            if (end && *end == '-') last = std::min<int64_t>(std::strtoll(end + 1, nullptr, 10), size - 1);
            ranged = first >= 0 && first < size && first <= last;
        }
        const uint8_t order = next_ < orders_.size() ? orders_[next_++] : 0;
        const int kind = ranged ? order % 14 : 0;
        const int64_t param = order / 14;
        std::string etag = "\"book-1\"";
        int64_t total = size;
        int64_t sendFirst = first, sendLast = last;     // the bytes sent
        int64_t toldFirst = first, toldLast = last;     // the range told
        int64_t length = -1;                            // Content-Length told (-1: the bytes')
        int status = ranged ? 206 : 200;
        bool withRange = ranged;
        switch (kind) {
        case 1:  // shifted, and said so
            sendFirst = toldFirst = std::min(size - 1, first + param * 7 + 1);
            sendLast = toldLast = std::min(size - 1, last + param * 7 + 1);
            break;
        case 2:  // shifted, the range asked for told
            sendFirst = std::min(size - 1, first + param + 1);
            sendLast = std::min(size - 1, sendFirst + (last - first));
            break;
        case 3:  // short, and said so
            sendLast = toldLast = std::min(last, first + param * 100);
            break;
        case 4:  // the head promises the range, half of it comes
            length = last - first + 1;
            sendLast = first + (last - first) / 2;
            break;
        case 5:  // more than asked, and said so
            sendLast = toldLast = std::min(size - 1, last + param * 1000 + 1);
            break;
        case 6:  // bytes past the length told
            length = last - first + 1;
            sendLast = std::min(size - 1, last + param * 100 + 1);
            break;
        case 7:  // the whole file
            status = 200;
            withRange = false;
            sendFirst = 0;
            sendLast = size - 1;
            break;
        case 8:  // another total
            total = size + param - 9;
            break;
        case 9:  // another version of the file
            etag = "\"book-" + std::to_string(param + 2) + "\"";
            break;
        case 10: {
            sendAll(fd, "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */" + std::to_string(size) +
                            "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            return;
        }
        case 11:
            sendAll(fd, "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            return;
        case 12:  // 206 without its range
            withRange = false;
            break;
        case 13:
            return;
        default: break;
        }
        const std::string body = size > 0 && sendFirst <= sendLast
                                     ? file_.substr(size_t(sendFirst), size_t(sendLast - sendFirst + 1))
                                     : std::string();
        std::string head = "HTTP/1.1 " + std::to_string(status) + (status == 206 ? " Partial Content" : " OK") +
                           "\r\nAccept-Ranges: bytes\r\nETag: " + etag +
                           "\r\nLast-Modified: Sat, 03 Feb 2024 11:02:00 GMT\r\nConnection: close\r\nContent-Length: " +
                           std::to_string(length >= 0 ? length : int64_t(body.size())) + "\r\n";
        if (withRange) {
            head += "Content-Range: bytes " + std::to_string(toldFirst) + "-" + std::to_string(toldLast) + "/" +
                    std::to_string(total) + "\r\n";
        }
        sendAll(fd, head + "\r\n" + body);
    }

    ServingPeer peer_{"LyingServer", 16, 10000, 50};
    std::string file_;
    std::vector<uint8_t> orders_;
    size_t next_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzEnvironment::setUp();
    static LyingServer server;
    static const bool ready = [] {
        sys::Clock::setVirtual(true);
        HTTPURLStreamRead::registerWithEngine();
        for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) ::unsetenv(name);
        return true;
    }();
    (void)ready;
    if (size < 2) return 0;
    const size_t pad = size_t(data[0] & 7) * (128u << 10);
    const size_t n = std::min<size_t>(data[1], size - 2);
    std::vector<uint8_t> orders(data + 2, data + 2 + n);
    std::string file(pad, '\0');
    file.append(reinterpret_cast<const char*>(data + 2 + n), size - 2 - n);
    if (file.empty()) return 0;
    server.start(std::move(file), std::move(orders));
    {
        const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/books/book.cbz";
        auto reader = std::make_shared<PageReaderZip>();
        if (reader->openFile(url, std::nullopt, std::nullopt, false, false)) {
            reader->getFolderList(false);
            const auto names = reader->getPageNameList();
            for (int page = 0; page < int(names.size()) && page < 3; ++page) {
                int result = -1;
                checkFuzzImage(reader->newLoadAndCreateImage(page, result));
            }
        }
        reader->isServerBusy();
        reader->isUnsupportedServer();
        reader->closeFile();
        FuzzEnvironment::settle();
    }
    server.stop();
    RemoteStreamRead::removeCache();
    FuzzEnvironment::settle();
    return 0;
}
