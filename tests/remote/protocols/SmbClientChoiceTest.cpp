// The choice of SMB client: what the site and the setting ask for, and the
// automatic choice that meets each server with what it speaks (SMB2/3
// wherever offered, our SMB1 client only where nothing newer is), asks a
// server once and remembers the answer, and follows a server that changed.

#include "remote/protocols/SmbClientChoice.h"

#include "platform/core/UserDefaults.h"
#include "remote/protocols/QNSmb.h"
#include "remote/protocols/QNSmbClient.h"
#include "remote/protocols/SmbAutoClient.h"
#include "smb/CIFSStackClient.h"
#include "tests/support/net/SilentServer.h"
#include "tests/support/net/SmbPeer.h"

#include <gtest/gtest.h>

#include <future>

namespace {

using test::SmbPeer;
using Library = SmbClientChoice::Library;

bool hasShare(const std::vector<SmbStackClient::ShareInfo>& shares, const std::string& name) {
    for (const auto& s : shares)
        if (s.name == name) return true;
    return false;
}

class SmbClientChoiceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        CIFSStackClient::registerWithRemote();
        skip_ = SmbPeer::skipReason();
        if (!skip_.empty()) return;
        modern_ = new SmbPeer;
        old_ = new SmbPeer;
        for (SmbPeer* p : {modern_, old_}) SmbPeer::writeFile(p->booksDir(), "a.cbz", SmbPeer::noise(700'000, 3));
        if (!modern_->start("  server min protocol = SMB2_02\n")) error_ = modern_->error();
        if (!old_->start("  server min protocol = NT1\n  server max protocol = NT1\n")) error_ += old_->error();
    }
    static void TearDownTestSuite() {
        delete modern_;
        delete old_;
        modern_ = old_ = nullptr;
    }
    void SetUp() override {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        ASSERT_TRUE(error_.empty()) << error_;
        for (SmbPeer* p : {modern_, old_}) SmbClientChoice::forget(p->server());
    }
    static std::shared_ptr<SmbAutoClient> automatic(const std::string& password = SmbPeer::kPassword) {
        auto c = std::make_shared<SmbAutoClient>(0);
        c->setUsername(SmbPeer::kUser);
        c->setPassword(password);
        return c;
    }

    static inline SmbPeer* modern_ = nullptr;
    static inline SmbPeer* old_ = nullptr;
    static inline std::string skip_, error_;
};

TEST_F(SmbClientChoiceTest, TheSiteAndTheSettingChoose) {
    sys::PlistDictionary site;
    EXPECT_EQ(SmbClientChoice::libraryOf(site, 2), Library::Auto);  // "auto", the default
    EXPECT_EQ(SmbClientChoice::libraryOf(site, 1), Library::Own);   // "assmb"
    EXPECT_EQ(SmbClientChoice::libraryOf(site, 3), Library::Stack);  // "auto2"
    EXPECT_TRUE(std::dynamic_pointer_cast<SmbAutoClient>(SmbClientChoice::makeClient(Library::Auto, 0)));
    EXPECT_TRUE(std::dynamic_pointer_cast<QNSmbClient>(SmbClientChoice::makeClient(Library::Own, 0)));
    EXPECT_TRUE(std::dynamic_pointer_cast<CIFSStackClient>(SmbClientChoice::makeClient(Library::Stack, 1)));
}

TEST_F(SmbClientChoiceTest, ServersAreAskedWhatTheySpeak) {
    QNSmb probe;
    EXPECT_EQ(probe.probeDialects(modern_->server(), ""), QNSmb::Dialects::Newer);
    QNSmb again;
    EXPECT_EQ(again.probeDialects(old_->server(), ""), QNSmb::Dialects::Smb1Only);
    test::SilentServer closed;
    const std::string nobody = closed.server();
    closed.close();
    QNSmb none;
    EXPECT_EQ(none.probeDialects(nobody, ""), QNSmb::Dialects::Unreachable);
}

TEST_F(SmbClientChoiceTest, AutomaticUsesSmb2WhereOfferedAndSmb1OnlyWhereNothingNewerIs) {
    auto c = automatic();
    auto shares = c->getTreeList(modern_->server(), false);
    ASSERT_TRUE(shares) << std::hex << c->lastError() << " " << c->lastMessage();
    EXPECT_FALSE(c->smb1());
    EXPECT_EQ(SmbClientChoice::remembered(modern_->server()), Library::Stack);
    EXPECT_TRUE(hasShare(*shares, SmbPeer::kShelfShare));

    auto o = automatic();
    auto oldShares = o->getTreeList(old_->server(), false);
    ASSERT_TRUE(oldShares) << std::hex << o->lastError() << " " << o->lastMessage();
    EXPECT_TRUE(o->smb1());
    EXPECT_EQ(SmbClientChoice::remembered(old_->server()), Library::Own);
    EXPECT_TRUE(hasShare(*oldShares, SmbPeer::kShelfShare));
    // Files read through the same calls, whichever client serves them.
    const auto book = SmbPeer::noise(700'000, 3);
    for (auto* client : {c.get(), o.get()}) {
        const std::string server = client == c.get() ? modern_->server() : old_->server();
        auto file = client->openFileForRead(server, "books", "\\a.cbz", false);
        ASSERT_TRUE(file) << std::hex << client->lastError();
        EXPECT_EQ(file->size, 700'000u);
        auto tail = client->readFileAt(file, 699'000, 5000);
        ASSERT_TRUE(tail);
        EXPECT_EQ(*tail, std::vector<uint8_t>(book.begin() + 699'000, book.end()));
        client->closeFile(file);
    }

    // A wrong password on the SMB1 server is told as our SMB1 client tells it.
    auto wrong = automatic("wrong");
    EXPECT_FALSE(wrong->getFilelist(old_->server(), "books", ""));
    ASSERT_TRUE(wrong->smb1());
    EXPECT_EQ(wrong->lastError(), SmbStackClient::kErrorLogonFailure);
    EXPECT_EQ(wrong->smb1()->ownError(), QNSmb::kErrorNtStatus);
    EXPECT_EQ(wrong->lastNtStatus(), QNSmb::kStatusLogonFailure);
}

TEST_F(SmbClientChoiceTest, WhatWasRememberedIsFollowedUntilItFails) {
    // Remembered: the client is taken as it was.
    SmbClientChoice::remember(old_->server(), Library::Own);
    auto o = automatic();
    ASSERT_TRUE(o->getFilelist(old_->server(), "books", ""));
    EXPECT_TRUE(o->smb1());
    // A server that now speaks SMB2 while SMB1 was remembered for it is asked
    // again, listed through SMB2, and remembered so.
    SmbClientChoice::remember(modern_->server(), Library::Own);
    auto c = automatic();
    auto list = c->getFilelist(modern_->server(), "books", "");
    ASSERT_TRUE(list) << std::hex << c->lastError() << " " << c->lastMessage();
    EXPECT_FALSE(c->smb1());
    EXPECT_EQ(SmbClientChoice::remembered(modern_->server()), Library::Stack);
    // And the memory outlives the run: it is in the user defaults.
    sys::UserDefaults::standard().reload();
    EXPECT_EQ(SmbClientChoice::remembered(modern_->server()), Library::Stack);
    EXPECT_EQ(SmbClientChoice::remembered(old_->server()), Library::Own);
}

TEST_F(SmbClientChoiceTest, ACancelEndsTheQuestionToASilentServer) {
    test::SilentServer silent;
    auto c = automatic();
    auto listing = std::async(std::launch::async, [&] { return c->getTreeList(silent.server(), false); });
    const int fd = silent.accept(10);
    ASSERT_GE(fd, 0);
    c->cancel();
    const bool quick = listing.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    ::close(fd);
    ASSERT_TRUE(quick) << "the cancel waited for the server";
    EXPECT_FALSE(listing.get());
    EXPECT_EQ(c->lastError(), SmbStackClient::kErrorCancelled);
    EXPECT_FALSE(SmbClientChoice::remembered(silent.server()));
}

}  // namespace
