// Opens a cbz of 200 pages on a web server in place and reads its first
// page, over a link with a round trip of 50 ms: nginx behind a delay proxy of
// this benchmark's own that holds every chunk 25 ms in each direction. Ours:
// the block cache and HTTPURLStreamRead under the zip reader, as a book read
// in place opens. The peer: curl fetching exactly the byte ranges the first
// page needs (the end record, the directory, the page) one after another on
// one connection.
//
//   build/bench/remote_open [runs]
//
// Prints both medians and our round trips (requests and connections), then
// "ratio: X.XX" (ours over curl's; below 1 means faster).

#include "bench/BenchSupport.h"
#include "engine/ZipArchive.h"
#include "platform/core/RunLoop.h"
#include "remote/stream/HTTPURLStreamRead.h"
#include "tests/support/net/NginxServer.h"

#include <minizip/unzip.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
constexpr int kPages = 200;
constexpr size_t kPageBytes = 300'000;
constexpr double kOneWay = 0.025;

uint64_t le(const std::string& b, size_t at, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | uint8_t(b[at + size_t(i)]);
    return v;
}

// A TCP proxy on 127.0.0.1 that delivers every chunk it reads `delay`
// seconds later, in each direction: a distant server for a client on this
// machine.
class DelayProxy {
public:
    DelayProxy(int targetPort, double delay) : target_(targetPort), delay_(delay) {}
    ~DelayProxy() { stop(); }

    bool start() {
        listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int one = 1;
        ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listen_, 16) != 0) return false;
        socklen_t len = sizeof a;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        threads_.emplace_back([this] { acceptLoop(); });
        return true;
    }
    void stop() {
        if (stopping_.exchange(true)) return;
        ::shutdown(listen_, SHUT_RDWR);
        ::close(listen_);
        {
            std::lock_guard lock(mutex_);
            for (int fd : sockets_) ::shutdown(fd, SHUT_RDWR);
            for (auto& p : pipes_) p->wake.notify_all();
        }
        for (auto& t : threads_) t.join();
        std::lock_guard lock(mutex_);
        for (int fd : sockets_) ::close(fd);
    }
    int port() const { return port_; }
    int connections() const { return connections_.load(); }

private:
    struct Pipe {
        std::mutex mutex;
        std::condition_variable wake;
        std::deque<std::pair<double, std::string>> chunks;  // due time, bytes ("" = end)
    };

    void acceptLoop() {
        while (!stopping_) {
            const int client = ::accept(listen_, nullptr, nullptr);
            if (client < 0) return;
            const int server = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(uint16_t(target_));
            // The connection itself takes a round trip on a distant link.
            std::this_thread::sleep_for(std::chrono::duration<double>(2 * delay_));
            if (::connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
                ::close(client);
                ::close(server);
                continue;
            }
            ++connections_;
            int one = 1;
            ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            std::lock_guard lock(mutex_);
            sockets_.push_back(client);
            sockets_.push_back(server);
            for (const auto& ends : {std::pair{client, server}, std::pair{server, client}}) {
                // Copies: clang cannot capture structured bindings in a lambda.
                const auto from = ends.first, to = ends.second;
                pipes_.push_back(std::make_unique<Pipe>());
                Pipe* p = pipes_.back().get();
                threads_.emplace_back([this, from, p] { readInto(from, *p); });
                threads_.emplace_back([this, to, p] { writeFrom(to, *p); });
            }
        }
    }
    void readInto(int fd, Pipe& p) {
        std::vector<char> buf(1 << 16);
        for (;;) {
            const ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
            std::lock_guard lock(p.mutex);
            p.chunks.emplace_back(bench::now() + delay_, n > 0 ? std::string(buf.data(), size_t(n)) : std::string());
            p.wake.notify_all();
            if (n <= 0) return;
        }
    }
    void writeFrom(int fd, Pipe& p) {
        std::unique_lock lock(p.mutex);
        for (;;) {
            p.wake.wait(lock, [&] { return stopping_ || !p.chunks.empty(); });
            if (stopping_) return;
            auto [due, bytes] = p.chunks.front();
            const double wait = due - bench::now();
            if (wait > 0) {
                p.wake.wait_for(lock, std::chrono::duration<double>(wait));
                continue;
            }
            p.chunks.pop_front();
            if (bytes.empty()) {
                ::shutdown(fd, SHUT_WR);
                return;
            }
            lock.unlock();
            size_t sent = 0;
            while (sent < bytes.size()) {
                const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
                if (n <= 0) break;
                sent += size_t(n);
            }
            lock.lock();
        }
    }

    int target_;
    double delay_;
    int listen_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    std::mutex mutex_;
    std::vector<int> sockets_;
    std::vector<std::unique_ptr<Pipe>> pipes_;
    std::vector<std::thread> threads_;
};

// Opens the book in place and reads its first page; false when that failed.
bool readFirstPage(const std::string& url, uint64_t expected) {
    RemoteStreamRead::removeCache();
    auto stream = RemoteStreamRead::newStreamWithProtocol(RemoteStreamRead::getProtocolWithURL(url));
    bool ok = stream && stream->openURL(url);
    std::unique_ptr<ZipArchive> zip = ok ? ZipArchive::openStream(stream) : nullptr;
    ok = zip && zip->goToFirst() == ZipArchive::Step::Ok && unzOpenCurrentFile(zip->handle()) == UNZ_OK;
    uint64_t read = 0;
    std::vector<char> buf(1 << 16);
    while (ok) {
        const int n = unzReadCurrentFile(zip->handle(), buf.data(), unsigned(buf.size()));
        if (n <= 0) break;
        read += uint64_t(n);
    }
    if (ok) unzCloseCurrentFile(zip->handle());
    zip.reset();
    if (stream) stream->closeURL();
    return ok && read == expected;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = bench::runsFrom(argc, argv, 5);
    sys::RunLoop::main().bindToCurrentThread();
    bench::WorkFolder work("remote_open");
    if (!work.made()) return 1;
    bench::useHomeIn(work);
    fs::create_directories(work / "pages");
    fs::create_directories(work / "www");
    std::mt19937 rng(7);
    std::string bytes(kPageBytes, '\0');
    for (int i = 0; i < kPages; ++i) {
        for (auto& c : bytes) c = char(rng());
        bench::writeBytes(work / "pages" / bench::pageName(i), std::vector<uint8_t>(bytes.begin(), bytes.end()));
    }
    const fs::path book = work / "www" / "book.cbz";
    if (!bench::shell("cd '" + (work / "pages").string() + "' && zip -q -0 '" + book.string() + "' *.jpg"))
        return bench::fail("zip failed");
    fs::remove_all(work / "pages");

    // The byte ranges the first page needs: the end record, the directory,
    // the page's local header and data.
    uint64_t dirAt = 0, dirSize = 0, pageEnd = 0;
    {
        std::ifstream in(book, std::ios::binary);
        in.seekg(-22, std::ios::end);
        std::string eocd(22, '\0');
        in.read(eocd.data(), 22);
        if (eocd.compare(0, 4, "PK\x05\x06") != 0) return bench::fail("the book's end record is not where expected");
        dirSize = le(eocd, 12, 4);
        dirAt = le(eocd, 16, 4);
        in.seekg(0);
        std::string head(30, '\0');
        in.read(head.data(), 30);
        pageEnd = 30 + le(head, 26, 2) + le(head, 28, 2) + le(head, 18, 4) - 1;
    }

    test::NginxServer nginx;
    if (!nginx.start((work / "www").string())) return bench::fail("nginx did not start: " + nginx.lastError());
    DelayProxy proxy(nginx.port(), kOneWay);
    if (!proxy.start()) return bench::fail("the delay proxy did not start");
    const std::string url = "http://127.0.0.1:" + std::to_string(proxy.port()) + "/book.cbz";
    HTTPURLStreamRead::registerWithEngine();
    const std::vector<std::string> curl{
        "curl", "-s", "-o", "/dev/null", "-r", "-22", url, "--next", "-s", "-o", "/dev/null", "-r",
        std::to_string(dirAt) + "-" + std::to_string(dirAt + dirSize - 1), url, "--next", "-s", "-o", "/dev/null",
        "-r", "0-" + std::to_string(pageEnd), url};

    std::printf("a cbz of %d pages of %zu bytes, through a proxy adding %.0f ms each way\n", kPages, kPageBytes,
                kOneWay * 1000);
    std::vector<double> ours, theirs;
    size_t requests = 0;
    int connections = 0;
    for (int i = 0; i < runs; ++i) {
        const size_t before = nginx.requests().size();
        const int connBefore = proxy.connections();
        double t0 = bench::now();
        if (!readFirstPage(url, kPageBytes)) return bench::fail("reading the first page failed");
        ours.push_back(bench::now() - t0);
        nginx.waitForRequests(before + 1, 1.0);
        requests = nginx.requests().size() - before;
        connections = proxy.connections() - connBefore;
        t0 = bench::now();
        if (!bench::spawn(curl)) return bench::fail("curl failed");
        theirs.push_back(bench::now() - t0);
    }
    std::printf("round trips: %zu requests on %d connections (curl: 3 requests on 1 connection)\n", requests,
                connections);
    bench::printRatio("first page, ours", ours, "first page, curl", theirs);
    return 0;
}
