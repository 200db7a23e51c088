#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/core/Date.h"
#include "remote/protocols/QNNbns.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"
#include "tests/support/net/NetNamespacePair.h"
#include "tests/support/net/SambaServer.h"

namespace {

using Raw = QNNetworkInfo::RawAddress;

uint32_t ip(const char* dotted) {
    in_addr a{};
    ::inet_aton(dotted, &a);
    return a.s_addr;
}

QNNetworkInfo::RawAddress raw(const char* name, const char* address, const char* mask, bool loopback = false) {
    return Raw{name, ip(address), ip(mask), loopback};
}

// A positive answer for `name` (suffix 0x20) listing `addresses`.
std::vector<uint8_t> answer(const std::string& name, const std::vector<const char*>& addresses,
                            uint16_t transaction = 1, uint8_t flagsHigh = 0x85, uint8_t flagsLow = 0x00) {
    std::vector<uint8_t> p(56, 0);
    p[0] = uint8_t(transaction >> 8);
    p[1] = uint8_t(transaction);
    p[2] = flagsHigh;
    p[3] = flagsLow;
    p[7] = 1;
    QNNbns::encodeName(name, 0x20, p.data() + 12);
    p[47] = 0x20;
    p[49] = 0x01;
    p[55] = uint8_t(6 * addresses.size());
    for (const char* a : addresses) {
        p.push_back(0);
        p.push_back(0);
        uint32_t v = ip(a);
        const uint8_t* b = reinterpret_cast<const uint8_t*>(&v);
        p.insert(p.end(), b, b + 4);
    }
    return p;
}

QNNbns::EncodedName encoded(const std::string& name) {
    QNNbns::EncodedName e;
    QNNbns::encodeName(name, 0x20, e.data());
    return e;
}

class Receiver : public QNNbnsDelegate {
public:
    void finishNetBiosNameResolve(const std::optional<std::string>& address) override {
        ++calls;
        result = address;
    }
    int calls = 0;
    std::optional<std::string> result;
};

double fakeNow = 2000000000.0;
double fakeClock() { return fakeNow; }

}  // namespace

TEST(QNNbnsTest, NamesAndAddressLiterals) {
    EXPECT_TRUE(QNNbns::isNetBiosName("fileserver"));
    EXPECT_TRUE(QNNbns::isNetBiosName("NAS-2"));
    EXPECT_TRUE(QNNbns::isNetBiosName("ABCDEFGHIJKLMNO"));
    EXPECT_FALSE(QNNbns::isNetBiosName("ABCDEFGHIJKLMNOP"));
    EXPECT_FALSE(QNNbns::isNetBiosName(""));
    EXPECT_FALSE(QNNbns::isNetBiosName("nas.local"));
    EXPECT_FALSE(QNNbns::isNetBiosName("192.168.0.5"));
    // Address literals without a dot, and the local host in any spelling.
    EXPECT_FALSE(QNNbns::isNetBiosName("localhost"));
    EXPECT_FALSE(QNNbns::isNetBiosName("LocalHost"));
    EXPECT_FALSE(QNNbns::isNetBiosName("::1"));
    EXPECT_FALSE(QNNbns::isNetBiosName("fe80::1"));
    EXPECT_FALSE(QNNbns::isNetBiosName("2130706433"));
    EXPECT_FALSE(QNNbns::isNetBiosName("0x7f000001"));

    EXPECT_EQ(QNNbns::getIPv4Value("192.168.0.5"), ip("192.168.0.5"));
    EXPECT_EQ(QNNbns::getIPv4Value("1.2.3"), 0u);
    EXPECT_EQ(QNNbns::getIPv4Value("1.2.3.4.5"), 0u);

    // No network needed for these: a dotted address comes back as it is, a
    // name too long for NetBIOS gives nothing at once.
    QNNbns nbns;
    EXPECT_EQ(nbns.getIPAddressWithNETBIOSName("192.168.0.5"), "192.168.0.5");
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(nbns.getIPAddressWithNETBIOSName("ABCDEFGHIJKLMNOP"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
}

TEST(QNNbnsTest, QueryEncoding) {
    auto q = QNNbns::queryPacket("FILESERVER");
    ASSERT_EQ(q.size(), 50u);
    EXPECT_EQ(std::vector<uint8_t>(q.begin(), q.begin() + 12),
              (std::vector<uint8_t>{0, 1, 0x01, 0x10, 0, 1, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(q[12], 0x20);
    std::string letters(q.begin() + 13, q.begin() + 45);
    EXPECT_EQ(letters.substr(0, 8), "EGEJEMEF");
    EXPECT_EQ(letters.substr(20, 10), "CACACACACA");  // five spaces
    EXPECT_EQ(letters.substr(30, 2), "CA");          // suffix 0x20
    EXPECT_EQ(q[45], 0);
    EXPECT_EQ(std::vector<uint8_t>(q.begin() + 46, q.end()), (std::vector<uint8_t>{0, 0x20, 0, 1}));

    uint8_t own[34];
    EXPECT_EQ(QNNbns::encodeName("ab", 0x00, own), 34u);
    EXPECT_EQ(std::string(own + 1, own + 5), "GBGC");  // case is kept
    EXPECT_EQ(std::string(own + 31, own + 33), "AA");
}

// Only a positive answer to our query counts, and its address list is read
// no further than the datagram goes.
TEST(QNNbnsTest, AnswersAreReadWithCare) {
    auto name = encoded("NAS");
    auto two = answer("NAS", {"10.0.0.7", "192.168.1.20"});
    EXPECT_EQ(QNNbns::answerAddresses(two.data(), two.size(), name),
              (std::vector<std::string>{"10.0.0.7", "192.168.1.20"}));

    auto other = answer("OTHER", {"10.0.0.7"});
    EXPECT_TRUE(QNNbns::answerAddresses(other.data(), other.size(), name).empty());
    auto otherTransaction = answer("NAS", {"10.0.0.7"}, 2);
    EXPECT_TRUE(QNNbns::answerAddresses(otherTransaction.data(), otherTransaction.size(), name).empty());
    auto query = QNNbns::queryPacket("NAS");
    query.resize(62, 0xFF);
    EXPECT_TRUE(QNNbns::answerAddresses(query.data(), query.size(), name).empty());
    auto negative = answer("NAS", {}, 1, 0x85, 0x03);
    EXPECT_TRUE(QNNbns::answerAddresses(negative.data(), negative.size(), name).empty());
    // A name error is no address even when the answer still carries one.
    auto negativeWithAddress = answer("NAS", {"10.0.0.7"}, 1, 0x85, 0x03);
    EXPECT_TRUE(QNNbns::answerAddresses(negativeWithAddress.data(), negativeWithAddress.size(), name).empty());

    // The list ends at a zero address or at the end of the datagram, never
    // in the bytes after it.
    auto cut = two;
    cut.resize(cut.size() - 3);
    EXPECT_EQ(QNNbns::answerAddresses(cut.data(), cut.size(), name), (std::vector<std::string>{"10.0.0.7"}));
    auto zeroFirst = answer("NAS", {"0.0.0.0", "10.0.0.7"});
    EXPECT_TRUE(QNNbns::answerAddresses(zeroFirst.data(), zeroFirst.size(), name).empty());

    // Of two answers the one in our subnet wins; the loopback and host-mask
    // interfaces do not count; with no match the first answer is taken.
    QNNetworkInfo info(std::vector<Raw>{raw("lo", "127.0.0.1", "255.0.0.0", true),
                                        raw("tun0", "10.0.0.9", "255.255.255.255"),
                                        raw("eth0", "192.168.1.4", "255.255.255.0")});
    EXPECT_EQ(QNNbns::chooseAddress({"10.0.0.7", "192.168.1.20"}, info), "192.168.1.20");
    EXPECT_EQ(QNNbns::chooseAddress({"127.0.0.5", "10.0.0.7"}, info), "127.0.0.5");
    EXPECT_FALSE(QNNbns::chooseAddress({}, info));
}

// Two namespaces joined by a veth pair: nmbd (the real peer) answers on side
// 1, our responder (which needs port 137 free) runs on side 0; our client
// runs on either.
class QNNbnsNetworkTest : public test::VirtualClockTest {
protected:
    static void SetUpTestSuite() {
        pair_ = new test::NetNamespacePair;
        if (!pair_->create()) {
            skip_ = pair_->lastError();
            return;
        }
    }
    // nmbd is started once, by the first test that needs it.
    static void startNmbd() {
        if (nmbd_ || !skip_.empty()) return;
        nmbd_ = new test::SambaServer;
        if (!test::SambaServer::missingPrograms().empty()) {
            nmbdError_ = "Samba is not installed";
        } else if (!nmbd_->startNmbd(*pair_, 1, "LBPEER")) {
            nmbdError_ = nmbd_->lastError();
        } else {
            // nmbd claims its names for a few seconds before it answers.
            test::NetNamespacePair::Enter in(*pair_, 0);
            QNNbns probe;
            probe.setTimeout(1);
            for (int i = 0; i < 20 && !probe.getIPAddressWithNETBIOSName("LBPEER"); ++i) {
            }
        }
    }
    static void TearDownTestSuite() {
        delete nmbd_;
        delete pair_;
        nmbd_ = nullptr;
        pair_ = nullptr;
    }
    void SetUp() override {
        test::VirtualClockTest::SetUp();
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        QNNbns::releaseCacheWithTime();
    }
    void TearDown() override {
        QNNbns::releaseCacheWithTime();
        sys::Date::setNowSource(nullptr);
        test::VirtualClockTest::TearDown();
    }

    static inline test::NetNamespacePair* pair_ = nullptr;
    static inline test::SambaServer* nmbd_ = nullptr;
    static inline std::string skip_, nmbdError_;
};

#define REQUIRE_NMBD()                                          \
    do {                                                        \
        startNmbd();                                            \
        if (!test::SambaServer::missingPrograms().empty())      \
            GTEST_SKIP() << "Samba is not installed";           \
        ASSERT_TRUE(nmbdError_.empty()) << nmbdError_;          \
    } while (0)

TEST_F(QNNbnsNetworkTest, ResolvesThroughNmbd) {
    REQUIRE_NMBD();
    test::NetNamespacePair::Enter in(*pair_, 0);
    ASSERT_TRUE(in.ok());
    QNNbns nbns;
    nbns.setTimeout(2);
    // Asked in lower case, sent upper-cased.
    EXPECT_EQ(nbns.getIPAddressWithNETBIOSName("lbpeer"), "10.77.0.2") << nmbd_->log();

    // The asynchronous form answers on the main thread.
    Receiver receiver;
    nbns.setDelegate(&receiver);
    nbns.getIPAddressWithNETBIOSNameAsync("LBPEER");
    EXPECT_TRUE(loop().runUntil([&] { return receiver.calls > 0; }, 10));
    EXPECT_EQ(receiver.calls, 1);
    EXPECT_EQ(receiver.result, "10.77.0.2");

    // The receiver may drop the resolver inside the report, as a listing does.
    struct Dropper : QNNbnsDelegate {
        void finishNetBiosNameResolve(const std::optional<std::string>& address) override {
            result = address;
            resolver.reset();
        }
        std::unique_ptr<QNNbns> resolver;
        std::optional<std::string> result;
    } dropper;
    dropper.resolver = std::make_unique<QNNbns>();
    dropper.resolver->setDelegate(&dropper);
    dropper.resolver->getIPAddressWithNETBIOSNameAsync("LBPEER");
    EXPECT_TRUE(loop().runUntil([&] { return !dropper.resolver; }, 10));
    EXPECT_EQ(dropper.result, "10.77.0.2");

    // A name nobody holds: nothing, after the time-out.
    nbns.setTimeout(1);
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(nbns.getIPAddressWithNETBIOSName("NOSUCHHOST"));
    auto spent = std::chrono::steady_clock::now() - start;
    EXPECT_GE(spent, std::chrono::milliseconds(800));
    EXPECT_LT(spent, std::chrono::milliseconds(3000));
}

// The cache answers within its lifetime without asking the network; an
// entry past it is dropped and the name asked again.
TEST_F(QNNbnsNetworkTest, CacheLifetime) {
    QNNbns responder;
    auto startResponder = [&] {
        test::NetNamespacePair::Enter in(*pair_, 0);
        return in.ok() && responder.startNameResolveServer("CACHEDHOST");
    };
    ASSERT_TRUE(startResponder());

    test::NetNamespacePair::Enter client(*pair_, 1);
    fakeNow = 2000000000.0;
    sys::Date::setNowSource(fakeClock);
    QNNbns::initCacheWithTime(3600);
    QNNbns nbns;
    nbns.setTimeout(1);
    EXPECT_EQ(nbns.getIPAddressWithNETBIOSName("CACHEDHOST"), "10.77.0.1");
    responder.stopnameResolveServer();

    fakeNow += 3600;
    EXPECT_EQ(nbns.getIPAddressWithNETBIOSName("cachedhost"), "10.77.0.1");
    fakeNow += 2;
    EXPECT_FALSE(nbns.getIPAddressWithNETBIOSName("CACHEDHOST"));

    // Without a cache every lookup goes to the network.
    QNNbns::releaseCacheWithTime();
    ASSERT_TRUE(startResponder());
    EXPECT_EQ(nbns.getIPAddressWithNETBIOSName("CACHEDHOST"), "10.77.0.1");
    responder.stopnameResolveServer();
    EXPECT_FALSE(nbns.getIPAddressWithNETBIOSName("CACHEDHOST"));
}

// Our responder: it answers with the address of the interface facing the
// asker, to the asker's own port, for whatever suffix was asked (naming that
// suffix in its answer, so that the asker can match it), and ignores
// datagrams that are not queries for its name.
TEST_F(QNNbnsNetworkTest, ResponderAnswers) {
    test::NetNamespacePair::Enter in(*pair_, 0);
    ASSERT_TRUE(in.ok());
    QNNbns responder;
    ASSERT_TRUE(responder.startNameResolveServer("LEAFDEVICE"));
    {
        test::NetNamespacePair::Enter asker(*pair_, 1);
        QNNbns client;
        client.setTimeout(2);
        EXPECT_EQ(client.getIPAddressWithNETBIOSName("leafdevice"), "10.77.0.1");
    }

    // A longer datagram carrying the name is not answered; the query sent
    // after it is, with its own transaction id.
    test::NetNamespacePair::Enter asker(*pair_, 1);
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(137);
    to.sin_addr.s_addr = ip("10.77.0.1");
    auto longer = QNNbns::queryPacket("LEAFDEVICE");
    longer[1] = 0x07;
    longer.push_back(0);
    auto query = QNNbns::queryPacket("LEAFDEVICE");
    query[1] = 0x09;
    auto other = QNNbns::queryPacket("SOMEONEELSE");
    other[1] = 0x0b;
    for (auto* p : {&longer, &other, &query}) {
        ASSERT_EQ(::sendto(fd, p->data(), p->size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
                  ssize_t(p->size()));
    }
    pollfd pfd{fd, POLLIN, 0};
    ASSERT_EQ(::poll(&pfd, 1, 5000), 1);
    uint8_t reply[128];
    ssize_t n = ::recv(fd, reply, sizeof reply, 0);
    ::close(fd);
    ASSERT_EQ(n, 62);
    EXPECT_EQ(reply[1], 0x09);
    EXPECT_EQ(reply[2], 0x84);
    EXPECT_EQ(reply[7], 1);
    EXPECT_EQ(std::string(reply + 13, reply + 33), "EMEFEBEGEEEFFGEJEDEF");
    EXPECT_EQ(std::string(reply + 43, reply + 45), "CA");  // the suffix asked for
    uint32_t addr;
    std::memcpy(&addr, reply + 58, 4);
    EXPECT_EQ(addr, ip("10.77.0.1"));
}

// cancel() on the main thread ends a resolution that would wait for ever,
// and no result reaches the delegate afterwards; nor after the resolver is
// gone.
TEST_F(QNNbnsNetworkTest, CancelEndsWaitsWithoutDelivering) {
    test::NetNamespacePair::Enter in(*pair_, 0);
    ASSERT_TRUE(in.ok());
    Receiver receiver;
    {
        QNNbns nbns;
        nbns.setTimeout(0);
        nbns.setDelegate(&receiver);
        nbns.getIPAddressWithNETBIOSNameAsync("NOBODYHERE");
        auto start = std::chrono::steady_clock::now();
        nbns.cancel();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
        nbns.getIPAddressWithNETBIOSNameAsync("NOBODYHERE");
    }
    loop().drain();
    EXPECT_EQ(receiver.calls, 0);

    // A result already on its way to the main thread is dropped by cancel().
    QNNbns responder;
    ASSERT_TRUE(responder.startNameResolveServer("QUICKHOST"));
    test::NetNamespacePair::Enter client(*pair_, 1);
    QNNbns nbns;
    nbns.setTimeout(2);
    nbns.setDelegate(&receiver);
    nbns.getIPAddressWithNETBIOSNameAsync("QUICKHOST");
    // Let the worker finish and post without running the main loop.
    for (int i = 0; i < 500 && loop().pendingPosts() == 0; ++i) ::poll(nullptr, 0, 10);
    ASSERT_EQ(loop().pendingPosts(), 1u);
    nbns.cancel();
    loop().drain();
    EXPECT_EQ(receiver.calls, 0);
}
