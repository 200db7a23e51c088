#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "remote/protocols/QNSsdp.h"
#include "tests/support/VirtualClockTest.h"
#include "tests/support/net/MiniDlnaServer.h"
#include "tests/support/net/NetNamespacePair.h"

namespace {

class Finder : public QNSsdpDelegate {
public:
    void didFindDevice(const std::string& address, const std::string& name) override {
        found.emplace_back(address, name);
    }
    std::vector<std::pair<std::string, std::string>> found;
};

// A small HTTP server on one address (inside a namespace), logging the paths
// asked for. Each path maps to a full response.
class DescriptionServer {
public:
    DescriptionServer(const std::string& address, int port, std::map<std::string, std::string> responses)
        : responses_(std::move(responses)) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int on = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(port));
        ::inet_aton(address.c_str(), &a.sin_addr);
        ok_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(fd_, 8) == 0;
        stop_ = ::eventfd(0, EFD_CLOEXEC);
        if (ok_) thread_ = std::thread([this] { serve(); });
    }
    ~DescriptionServer() {
        uint64_t one = 1;
        if (::write(stop_, &one, sizeof one) < 0) {
        }
        if (thread_.joinable()) thread_.join();
        ::close(fd_);
        ::close(stop_);
    }
    bool ok() const { return ok_; }
    std::vector<std::string> paths() const {
        std::lock_guard<std::mutex> g(m_);
        return paths_;
    }
    size_t count(const std::string& path) const {
        auto p = paths();
        return size_t(std::count(p.begin(), p.end(), path));
    }

private:
    void serve() {
        for (;;) {
            pollfd p[2] = {{stop_, POLLIN, 0}, {fd_, POLLIN, 0}};
            if (::poll(p, 2, -1) < 0 || p[0].revents) return;
            int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) continue;
            std::string request;
            char buf[1024];
            while (request.find("\r\n\r\n") == std::string::npos) {
                pollfd cp{c, POLLIN, 0};
                if (::poll(&cp, 1, 2000) <= 0) break;
                ssize_t n = ::recv(c, buf, sizeof buf, 0);
                if (n <= 0) break;
                request.append(buf, size_t(n));
            }
            size_t sp = request.find(' '), sp2 = request.find(' ', sp + 1);
            std::string path = sp == std::string::npos ? "" : request.substr(sp + 1, sp2 - sp - 1);
            {
                std::lock_guard<std::mutex> g(m_);
                paths_.push_back(path);
            }
            auto it = responses_.find(path);
            std::string response =
                it != responses_.end() ? it->second : "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n";
            for (size_t at = 0; at < response.size();) {
                ssize_t n = ::send(c, response.data() + at, response.size() - at, MSG_NOSIGNAL);
                if (n <= 0) break;
                at += size_t(n);
            }
            ::close(c);
        }
    }

    std::map<std::string, std::string> responses_;
    int fd_ = -1, stop_ = -1;
    bool ok_ = false;
    mutable std::mutex m_;
    std::vector<std::string> paths_;
    std::thread thread_;
};

std::string ok(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

std::string description(const std::string& name) {
    return "<?xml version=\"1.0\"?><root xmlns=\"urn:schemas-upnp-org:device-1-0\"><device>"
           "<deviceType>urn:schemas-upnp-org:device:MediaServer:1</deviceType><friendlyName>" +
           name + "</friendlyName></device></root>";
}

}  // namespace

TEST(QNSsdpTest, AnswerHeaders) {
    const std::string text =
        "HTTP/1.1 200 OK\r\n"
        "CACHE-CONTROL: max-age=1800\r\n"
        "location: http://10.0.0.5:8200/rootDesc.xml\r\n"
        "EXT:\r\n"
        "Server:  two spaces\n"
        "ST: urn:schemas-upnp-org:device:MediaServer:1\r\n"
        "X-Bad: \xff\xfe\r\n"
        "\r\n";
    auto a = QNSsdp::parseAnswer(text.data(), text.size(), "10.0.0.5");
    EXPECT_EQ(a["LOCATION"], "http://10.0.0.5:8200/rootDesc.xml");
    EXPECT_EQ(a["CACHE-CONTROL"], "max-age=1800");
    EXPECT_EQ(a["EXT"], "");
    EXPECT_EQ(a["SERVER"], " two spaces");
    EXPECT_EQ(a["ST"], "urn:schemas-upnp-org:device:MediaServer:1");
    EXPECT_EQ(a["address"], "10.0.0.5");
    EXPECT_EQ(a.count("X-BAD"), 0u);
    EXPECT_EQ(a.size(), 6u);
}

// A LOCATION is followed only to the answering device itself, over plain http.
TEST(QNSsdpTest, LocationsFollowedOnlyToTheSender) {
    EXPECT_TRUE(QNSsdp::locationAllowed("http://10.0.0.5:8200/rootDesc.xml", "10.0.0.5"));
    EXPECT_TRUE(QNSsdp::locationAllowed("HTTP://10.0.0.5/desc", "10.0.0.5"));
    EXPECT_TRUE(QNSsdp::locationAllowed("http://10.0.0.5", "10.0.0.5"));
    EXPECT_FALSE(QNSsdp::locationAllowed("http://10.0.0.6:8200/rootDesc.xml", "10.0.0.5"));
    EXPECT_FALSE(QNSsdp::locationAllowed("http://127.0.0.1:8200/rootDesc.xml", "10.0.0.5"));
    EXPECT_FALSE(QNSsdp::locationAllowed("http://10.0.0.5.evil.example/", "10.0.0.5"));
    EXPECT_FALSE(QNSsdp::locationAllowed("http://10.0.0.5@10.0.0.6/", "10.0.0.5"));
    EXPECT_FALSE(QNSsdp::locationAllowed("https://10.0.0.5/desc", "10.0.0.5"));
    EXPECT_FALSE(QNSsdp::locationAllowed("file:///etc/passwd", "10.0.0.5"));
    EXPECT_FALSE(QNSsdp::locationAllowed("http://10.0.0.5:80x/", "10.0.0.5"));
    EXPECT_FALSE(QNSsdp::locationAllowed("", "10.0.0.5"));
}

TEST(QNSsdpTest, FriendlyNames) {
    EXPECT_EQ(QNSsdp::friendlyName(description("Living Room")), "Living Room");
    // An empty element is passed over; the first named one counts; a name
    // with an entity in it comes whole.
    EXPECT_EQ(QNSsdp::friendlyName("<root><device><friendlyName/><friendlyName> </friendlyName></device>"
                                   "<device><friendlyName>Tom &amp; Jerry</friendlyName></device>"
                                   "<friendlyName>Later</friendlyName></root>"),
              "Tom & Jerry");
    EXPECT_FALSE(QNSsdp::friendlyName("<root><device><modelName>X</modelName></device></root>"));
    EXPECT_FALSE(QNSsdp::friendlyName("<root><friendlyName>unclosed</root>"));
    EXPECT_FALSE(QNSsdp::friendlyName(""));

    // Nothing a document refers to is loaded.
    char path[] = "/tmp/lbssdpXXXXXX";
    int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "SECRET", 6), 6);
    ::close(fd);
    std::string xxe = std::string("<?xml version=\"1.0\"?><!DOCTYPE root [<!ENTITY x SYSTEM \"file://") + path +
                      "\">]><root><friendlyName>&x;</friendlyName><friendlyName>Plain</friendlyName></root>";
    auto name = QNSsdp::friendlyName(xxe);
    ::unlink(path);
    ASSERT_TRUE(name);
    EXPECT_EQ(name->find("SECRET"), std::string::npos);

    // Documents beyond the size cap are not read.
    std::string huge = "<root><friendlyName>Big</friendlyName><pad>" + std::string(QNSsdp::kMaxDescriptionBytes, 'x') +
                       "</pad></root>";
    EXPECT_FALSE(QNSsdp::friendlyName(huge));
}

// Searches on the veth side 0 (which plays the Wi-Fi interface there); the
// peers answer from side 1.
class QNSsdpNetworkTest : public test::VirtualClockTest {
protected:
    static void SetUpTestSuite() {
        pair_ = new test::NetNamespacePair;
        if (!pair_->create()) skip_ = pair_->lastError();
    }
    static void TearDownTestSuite() {
        delete pair_;
        pair_ = nullptr;
    }
    void SetUp() override {
        test::VirtualClockTest::SetUp();
        if (!skip_.empty()) GTEST_SKIP() << skip_;
    }
    // Real time: the answers come from real peers.
    bool waitFor(const std::function<bool()>& pred, double seconds) { return test::drainUntil(pred, seconds); }

    static inline test::NetNamespacePair* pair_ = nullptr;
    static inline std::string skip_;
};

TEST_F(QNSsdpNetworkTest, FindsMinidlna) {
    if (!test::MiniDlnaServer::installed()) GTEST_SKIP() << "minidlna is not installed";
    test::MiniDlnaServer dlna;
    ASSERT_TRUE(dlna.start(*pair_, 1, "LB Test Media")) << dlna.lastError();

    test::NetNamespacePair::Enter in(*pair_, 0);
    ASSERT_TRUE(in.ok());
    Finder finder;
    QNSsdp ssdp;
    ssdp.setDelegate(&finder);
    ASSERT_TRUE(ssdp.startSearch());
    EXPECT_FALSE(ssdp.startSearch());
    ASSERT_TRUE(waitFor([&] { return !finder.found.empty(); }, 8)) << dlna.log();
    EXPECT_EQ(finder.found[0], std::make_pair(std::string("10.77.0.2"), std::string("LB Test Media")));

    // Stopping does not wait for the search time to run out.
    auto start = std::chrono::steady_clock::now();
    ssdp.stopSearch();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_FALSE(ssdp.isRunning());
    loop().drain();
    EXPECT_EQ(finder.found.size(), 1u);

    // A delegate may end the search from inside its report.
    struct Stopper : QNSsdpDelegate {
        void didFindDevice(const std::string&, const std::string& name) override {
            names.push_back(name);
            ssdp->stopSearch();
        }
        QNSsdp* ssdp = nullptr;
        std::vector<std::string> names;
    } stopper;
    stopper.ssdp = &ssdp;
    ssdp.setDelegate(&stopper);
    ASSERT_TRUE(ssdp.startSearch());
    ASSERT_TRUE(waitFor([&] { return !stopper.names.empty(); }, 8));
    EXPECT_FALSE(ssdp.isRunning());
    EXPECT_EQ(stopper.names, std::vector<std::string>{"LB Test Media"});
}

// A peer of our own answers the M-SEARCH with a list of LOCATIONs: one
// fetch per location, none elsewhere than the device itself, no redirect
// followed, no oversized description read, one report per document.
TEST_F(QNSsdpNetworkTest, AnswersAreFollowedWithCare) {
    test::NetNamespacePair::Enter peerSide(*pair_, 1);
    ASSERT_TRUE(peerSide.ok());
    std::string big = description("Too Big") + std::string(QNSsdp::kMaxDescriptionBytes, ' ');
    DescriptionServer http("10.77.0.2", 8300,
                           {{"/desc.xml", ok(description("Fake Device"))},
                            {"/redirect.xml", "HTTP/1.1 302 Found\r\nLocation: http://10.77.0.2:8300/moved.xml\r\n"
                                              "Content-Length: 0\r\n\r\n"},
                            {"/moved.xml", ok(description("Moved Device"))},
                            {"/huge.xml", ok(big)},
                            {"/last.xml", ok(description("Last Device"))}});
    ASSERT_TRUE(http.ok());

    int udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int on = 1;
    ::setsockopt(udp, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(1900);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(::bind(udp, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    ip_mreq group{};
    ::inet_aton("239.255.255.250", &group.imr_multiaddr);
    ::inet_aton("10.77.0.2", &group.imr_interface);
    ASSERT_EQ(::setsockopt(udp, IPPROTO_IP, IP_ADD_MEMBERSHIP, &group, sizeof group), 0);

    Finder finder;
    QNSsdp ssdp;
    ssdp.setDelegate(&finder);
    {
        test::NetNamespacePair::Enter searchSide(*pair_, 0);
        ASSERT_TRUE(ssdp.startSearch());
    }

    pollfd p{udp, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 5000), 1);
    char request[2048];
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    ssize_t n = ::recvfrom(udp, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(request, size_t(n)), QNSsdp::kSearchRequest);
    EXPECT_EQ(ntohs(from.sin_port), QNSsdp::kLocalPort);

    for (const char* location :
         {"http://10.77.0.2:8300/desc.xml", "http://10.77.0.2:8300/desc.xml", "https://10.77.0.2:8300/tls.xml",
          "http://10.77.0.1:8300/elsewhere.xml", "http://10.77.0.2:8300/redirect.xml",
          "http://10.77.0.2:8300/huge.xml", "http://10.77.0.2:8300/desc.xml", "http://10.77.0.2:8300/last.xml"}) {
        std::string answer = std::string("HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=1800\r\nlocation: ") + location +
                             "\r\nST: upnp:rootdevice\r\n\r\n";
        ASSERT_GT(::sendto(udp, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLength), 0);
    }
    ::close(udp);

    EXPECT_TRUE(waitFor([&] { return finder.found.size() >= 2; }, 10));
    ssdp.stopSearch();
    loop().drain();
    ASSERT_EQ(finder.found.size(), 2u);
    EXPECT_EQ(finder.found[0], std::make_pair(std::string("10.77.0.2"), std::string("Fake Device")));
    EXPECT_EQ(finder.found[1], std::make_pair(std::string("10.77.0.2"), std::string("Last Device")));
    EXPECT_EQ(http.count("/desc.xml"), 1u);
    EXPECT_EQ(http.count("/redirect.xml"), 1u);
    EXPECT_EQ(http.count("/moved.xml"), 0u);
    EXPECT_EQ(http.count("/huge.xml"), 1u);
    EXPECT_EQ(http.count("/tls.xml"), 0u);
    EXPECT_EQ(http.paths().size(), 4u);
}

// Without a Wi-Fi interface nothing is sent and nothing found; the search
// can still be stopped at once.
TEST_F(QNSsdpNetworkTest, NoWifiInterface) {
    test::NetNamespacePair::Enter in(*pair_, 0);
    ASSERT_TRUE(in.ok());
    Finder finder;
    QNSsdp ssdp;
    ssdp.setDelegate(&finder);
    ssdp.setNetworkInfo(std::make_shared<QNNetworkInfo>(
        std::vector<QNNetworkInfo::RawAddress>{{"lo", htonl(INADDR_LOOPBACK), htonl(0xFF000000), true}}));
    ASSERT_TRUE(ssdp.startSearch());
    auto start = std::chrono::steady_clock::now();
    ssdp.stopSearch();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_TRUE(finder.found.empty());
    EXPECT_TRUE(ssdp.startSearch());
    ssdp.stopSearch();
}
