#include <gtest/gtest.h>

#include "smb/CIFSStackClient.h"
#include "tests/support/TestHome.h"
#include "tests/support/net/SambaServer.h"
#include "tests/support/net/SmbPeer.h"

#include <memory>

namespace {

constexpr uint32_t kLogonFailure = 0xC000006D;

}  // namespace

// Our negotiate and authenticate messages log on to Samba's smbd (NTLMv2
// only) through our SMB2 client, and a wrong password is refused. The server
// demands signatures, so a session key that differs from the server's fails
// the log-on too.
class NtlmSmbdTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        skip_ = test::SmbPeer::skipReason();
        if (!skip_.empty()) return;
        share_ = new test::TempDir("smbshare");
        smbd_ = new test::SambaServer;
        if (!smbd_->startSmbd("  ntlm auth = ntlmv2-only\n  server min protocol = SMB2_02\n"
                              "  server max protocol = SMB2_10\n  server signing = mandatory\n",
                              0, {{"books", share_->path(), false, false, ""}}, {{"lbntlmtest", "Secret-123"}})) {
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

    // The NT status of the log-on of `user` with `password` (0 when it
    // succeeded with a signed session).
    uint32_t logOn(const std::string& user, const std::string& password) {
        CIFSStackClient c(0);
        c.setUsername(user);
        c.setPassword(password);
        const bool listed = c.getFilelist("127.0.0.1:" + std::to_string(smbd_->port()), "books", "").has_value();
        if (!listed) return c.lastNtStatus() ? c.lastNtStatus() : 0xFFFFFFFF;
        EXPECT_TRUE(c.isSigning());
        return 0;
    }

    static inline test::TempDir* share_ = nullptr;
    static inline test::SambaServer* smbd_ = nullptr;
    static inline std::string skip_, error_;
};

TEST_F(NtlmSmbdTest, LogsOnWithNtlmV2) {
    EXPECT_EQ(logOn("lbntlmtest", "Secret-123"), 0u) << smbd_->log();
    EXPECT_EQ(logOn("LBNTLMTEST", "Secret-123"), 0u);
    EXPECT_EQ(logOn("lbntlmtest", "secret-123"), kLogonFailure);
    EXPECT_EQ(logOn("nosuchuser", "Secret-123"), kLogonFailure);
}
