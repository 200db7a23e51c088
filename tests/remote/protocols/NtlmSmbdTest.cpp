#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/core/Unicode.h"
#include "remote/protocols/NtlmV2.h"
#include "tests/support/TestHome.h"
#include "tests/support/net/SambaServer.h"

namespace {

using Bytes = NtlmV2::Bytes;

constexpr uint32_t kMoreProcessingRequired = 0xC0000016;
constexpr uint32_t kLogonFailure = 0xC000006D;

void put16(Bytes& b, size_t at, uint16_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
void put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}
uint16_t get16(const Bytes& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }
uint32_t get32(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

// Just enough SMB2 to carry the NTLMSSP messages to smbd: negotiate and
// session set-up over one TCP connection.
class Smb2Session {
public:
    explicit Smb2Session(int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~Smb2Session() { ::close(fd_); }
    bool connected() const { return connected_; }

    // Status of the NEGOTIATE (SMB 2.0.2 or 2.1).
    uint32_t negotiate() {
        Bytes body(36 + 4, 0);
        put16(body, 0, 36);
        put16(body, 2, 2);  // dialects
        put16(body, 4, 1);  // signing enabled
        put16(body, 36, 0x0202);
        put16(body, 38, 0x0210);
        Bytes reply;
        return exchange(0, body, reply);
    }

    // Status of a SESSION_SETUP carrying `token`; `reply` gets its security buffer.
    uint32_t sessionSetup(const Bytes& token, Bytes& securityBuffer) {
        Bytes body(24, 0);
        put16(body, 0, 25);
        body[3] = 1;                         // signing enabled
        put16(body, 12, 64 + 24);            // security buffer offset
        put16(body, 14, uint16_t(token.size()));
        body.insert(body.end(), token.begin(), token.end());
        Bytes reply;
        uint32_t status = exchange(1, body, reply);
        securityBuffer.clear();
        if (reply.size() >= 64 + 8) {
            sessionId_ = 0;
            for (int i = 0; i < 8; ++i) sessionId_ |= uint64_t(reply[40 + i]) << (8 * i);
            size_t offset = get16(reply, 64 + 4), length = get16(reply, 64 + 6);
            if (offset + length <= reply.size()) securityBuffer.assign(reply.begin() + long(offset),
                                                                       reply.begin() + long(offset + length));
        }
        return status;
    }

private:
    uint32_t exchange(uint16_t command, const Bytes& body, Bytes& reply) {
        Bytes m(4 + 64, 0);
        m[4] = 0xFE;
        m[5] = 'S';
        m[6] = 'M';
        m[7] = 'B';
        put16(m, 4 + 4, 64);
        put16(m, 4 + 12, command);
        put16(m, 4 + 14, 31);  // credits asked
        put32(m, 4 + 24, uint32_t(messageId_++));
        for (int i = 0; i < 8; ++i) m[4 + 40 + i] = uint8_t(sessionId_ >> (8 * i));
        m.insert(m.end(), body.begin(), body.end());
        uint32_t length = uint32_t(m.size() - 4);
        m[1] = uint8_t(length >> 16);
        m[2] = uint8_t(length >> 8);
        m[3] = uint8_t(length);
        if (::send(fd_, m.data(), m.size(), MSG_NOSIGNAL) != ssize_t(m.size())) return 0xFFFFFFFF;
        Bytes head;
        if (!receive(4, head)) return 0xFFFFFFFF;
        size_t replyLength = size_t(head[1]) << 16 | size_t(head[2]) << 8 | head[3];
        if (replyLength < 64 || !receive(replyLength, reply)) return 0xFFFFFFFF;
        return get32(reply, 8);
    }

    bool receive(size_t n, Bytes& out) {
        out.assign(n, 0);
        size_t got = 0;
        while (got < n) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 10000) != 1) return false;
            ssize_t r = ::recv(fd_, out.data() + got, n - got, 0);
            if (r <= 0) return false;
            got += size_t(r);
        }
        return true;
    }

    int fd_ = -1;
    bool connected_ = false;
    uint64_t messageId_ = 0;
    uint64_t sessionId_ = 0;
};

// The NTLMSSP message inside a security buffer, raw or wrapped in SPNEGO.
Bytes ntlmsspMessage(const Bytes& buffer) {
    static const uint8_t sig[8] = {'N', 'T', 'L', 'M', 'S', 'S', 'P', 0};
    auto it = std::search(buffer.begin(), buffer.end(), sig, sig + 8);
    return Bytes(it, buffer.end());
}

std::u16string upper16(const std::string& s) {
    std::string u = s;
    for (char& c : u) {
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    }
    return sys::Unicode::toUtf16(u);
}

}  // namespace

// Our negotiate and authenticate messages log on to Samba's smbd (NTLMv2
// only) over SMB2, and a wrong password is refused.
class NtlmSmbdTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string missing = test::SambaServer::missingPrograms();
        if (!missing.empty()) {
            skip_ = "Samba is not installed (" + missing + ")";
            return;
        }
        if (::geteuid() != 0) {
            skip_ = "smbd's test user needs a Unix account, which only root can make";
            return;
        }
        share_ = new test::TempDir("smbshare");
        smbd_ = new test::SambaServer;
        if (!smbd_->startSmbd("  ntlm auth = ntlmv2-only\n  server min protocol = SMB2_02\n", 0,
                              {{"books", share_->path(), false, false}}, {{"lbntlmtest", "Secret-123"}})) {
            error_ = smbd_->lastError();
        }
    }
    static void TearDownTestSuite() {
        delete smbd_;
        delete share_;
        smbd_ = nullptr;
        share_ = nullptr;
    }
    void SetUp() override {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        ASSERT_TRUE(error_.empty()) << error_;
    }

    // The status of the final session set-up for `user` with `password`.
    uint32_t logOn(const std::string& user, const std::string& password, NtlmV2::Key* sessionKey = nullptr) {
        Smb2Session smb(smbd_->port());
        EXPECT_TRUE(smb.connected());
        EXPECT_EQ(smb.negotiate(), 0u);
        Bytes buffer;
        uint32_t status = smb.sessionSetup(NtlmV2::negotiateMessage(NtlmV2::kNegotiateFlags, "", "LEAFBRIGHT"), buffer);
        EXPECT_EQ(status, kMoreProcessingRequired);
        Bytes challengeBytes = ntlmsspMessage(buffer);
        auto challenge = NtlmV2::parseChallenge(challengeBytes.data(), challengeBytes.size());
        EXPECT_TRUE(challenge);
        if (!challenge) return 0xFFFFFFFF;
        // The domain the server names in its target information.
        std::u16string domain;
        if (auto pairs = NtlmV2::parseAvPairs(challenge->targetInfo)) {
            for (const auto& p : *pairs) {
                if (p.id != NtlmV2::kAvNbDomainName) continue;
                for (size_t i = 0; i + 1 < p.value.size(); i += 2) domain += char16_t(p.value[i] | p.value[i + 1] << 8);
            }
        }
        EXPECT_FALSE(domain.empty());
        auto a = NtlmV2::authenticateMessage(*challenge, domain, upper16(user), u"LEAFBRIGHT",
                                             sys::Unicode::toUtf16(password),
                                             NtlmV2::timestampFromUnix(int64_t(::time(nullptr))));
        EXPECT_TRUE(a);
        if (!a) return 0xFFFFFFFF;
        if (sessionKey) *sessionKey = a->sessionBaseKey;
        return smb.sessionSetup(a->message, buffer);
    }

    static inline test::TempDir* share_ = nullptr;
    static inline test::SambaServer* smbd_ = nullptr;
    static inline std::string skip_, error_;
};

TEST_F(NtlmSmbdTest, LogsOnWithNtlmV2) {
    NtlmV2::Key key{};
    EXPECT_EQ(logOn("lbntlmtest", "Secret-123", &key), 0u) << smbd_->log();
    EXPECT_NE(key, NtlmV2::Key{});
    EXPECT_EQ(logOn("lbntlmtest", "secret-123"), kLogonFailure);
    EXPECT_EQ(logOn("nosuchuser", "Secret-123"), kLogonFailure);
}
