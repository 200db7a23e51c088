// The desktop's file chooser through the XDG desktop portal, against a
// stand-in portal on a session bus of the test's own: the question asked,
// each kind of answer, a portal that never answers or leaves, and none.
#include "platform/core/PortalFileChooser.h"

#include "platform/core/RunLoop.h"
#include "tests/support/FakePortal.h"
#include "tests/support/PrivateSessionBus.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

using Outcome = sys::PortalFileChooser::Outcome;
using Answer = test::FakePortal::Answer;

struct Result {
    Outcome outcome;
    std::vector<std::string> paths;
};

class PortalFileChooserTest : public test::VirtualClockTest {
protected:
    void SetUp() override {
        test::VirtualClockTest::SetUp();
        if (!test::haveProgram("dbus-daemon")) GTEST_SKIP() << "no dbus-daemon";
        ASSERT_TRUE(bus.start());
    }
    sys::PortalFileChooser::Filter books() {
        return {"Books", {"application/vnd.comicbook+zip", "application/pdf"}, {"*.cbz", "*.CBZ"}};
    }
    // Asks and waits (in real time) for the answer.
    std::optional<Result> ask(sys::PortalFileChooser& chooser, const std::string& parent = {}) {
        std::optional<Result> got;
        EXPECT_TRUE(chooser.openFile("Import a Book", books(), parent, [&](Outcome o, const std::vector<std::string>& p) {
            got = Result{o, p};
        }));
        test::drainUntil([&] { return got.has_value(); }, 10);
        return got;
    }
    test::PrivateSessionBus bus;
};

TEST_F(PortalFileChooserTest, TheQuestionCarriesTitleWindowOneFileAndTheBookKinds) {
    test::FakePortal portal(bus.address);
    ASSERT_TRUE(portal.owned());
    portal.answer(Answer::Pick, {"file:///home/reader/Comics/Vol%201.cbz"});
    sys::PortalFileChooser chooser(bus.address);
    auto got = ask(chooser, "x11:3a00007");
    ASSERT_TRUE(got);
    EXPECT_EQ(got->outcome, Outcome::Picked);
    EXPECT_EQ(got->paths, std::vector<std::string>{"/home/reader/Comics/Vol 1.cbz"});
    auto calls = portal.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].title, "Import a Book");
    EXPECT_EQ(calls[0].parentWindow, "x11:3a00007");
    EXPECT_FALSE(calls[0].multiple);
    EXPECT_FALSE(calls[0].token.empty());
    EXPECT_EQ(calls[0].filter, (std::vector<std::pair<uint32_t, std::string>>{
                                   {1, "application/vnd.comicbook+zip"}, {1, "application/pdf"}, {0, "*.cbz"},
                                   {0, "*.CBZ"}}));
    EXPECT_FALSE(chooser.isOpen());
    // The next question gets a token of its own.
    ask(chooser);
    ASSERT_EQ(portal.calls().size(), 2u);
    EXPECT_NE(portal.calls()[1].token, calls[0].token);
}

TEST_F(PortalFileChooserTest, AnAnswerSentBeforeTheReplyIsNotMissedAndOnlyLocalFilesCount) {
    test::FakePortal portal(bus.address);
    portal.answer(Answer::PickBeforeReply, {"file:///tmp/a.cbz"});
    sys::PortalFileChooser chooser(bus.address);
    auto got = ask(chooser);
    ASSERT_TRUE(got) << "the answer came before the handle and was lost";
    EXPECT_EQ(got->outcome, Outcome::Picked);
    // Files elsewhere or no files at all are no choice.
    portal.answer(Answer::Pick, {"sftp://host/a.cbz", "file://otherhost/b.cbz", "relative.cbz"});
    got = ask(chooser);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->outcome, Outcome::Cancelled);
    EXPECT_TRUE(got->paths.empty());
    EXPECT_EQ(sys::PortalFileChooser::localPaths({"file:///x/%C3%A9.pdf", "file://localhost/y.cbz", "http://a/b"}),
              (std::vector<std::string>{"/x/\xC3\xA9.pdf", "/y.cbz"}));
}

TEST_F(PortalFileChooserTest, CancelledAndFailedAnswersAndAPortalThatLeavesEndTheQuestion) {
    test::FakePortal portal(bus.address);
    sys::PortalFileChooser chooser(bus.address);
    portal.answer(Answer::Cancel);
    auto got = ask(chooser);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->outcome, Outcome::Cancelled);
    // The portal could not ask (no back end): our own screen is for that.
    portal.answer(Answer::Fail);
    got = ask(chooser);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->outcome, Outcome::Unavailable);
    portal.answer(Answer::Leave);
    got = ask(chooser);
    ASSERT_TRUE(got) << "waited for a portal that had gone";
    EXPECT_EQ(got->outcome, Outcome::Unavailable);
}

TEST_F(PortalFileChooserTest, OneQuestionAtATimeAndAQuestionGivenUpClosesTheDialog) {
    test::FakePortal portal(bus.address);
    portal.answer(Answer::Never);
    int answers = 0;
    {
        sys::PortalFileChooser chooser(bus.address);
        ASSERT_TRUE(chooser.openFile("t", books(), {}, [&](Outcome, const std::vector<std::string>&) { ++answers; }));
        EXPECT_FALSE(chooser.openFile("t", books(), {}, [&](Outcome, const std::vector<std::string>&) { ++answers; }));
        ASSERT_TRUE(test::drainUntil([&] { return portal.calls().size() == 1; }, 10));
        EXPECT_TRUE(chooser.isOpen());
        chooser.cancel();
        EXPECT_FALSE(chooser.isOpen());
        // Asking again is possible at once; this one goes with its owner.
        EXPECT_TRUE(chooser.openFile("t", books(), {}, [&](Outcome, const std::vector<std::string>&) { ++answers; }));
        ASSERT_TRUE(test::drainUntil([&] { return portal.calls().size() == 2; }, 10));
    }
    sys::RunLoop::main().drain();
    EXPECT_EQ(answers, 0);
    auto closes = portal.closes();
    ASSERT_EQ(closes.size(), 2u);
    EXPECT_NE(closes[0].find("/org/freedesktop/portal/desktop/request/"), std::string::npos);
}

TEST_F(PortalFileChooserTest, WithoutAPortalOrAFileChooserOrABusTheAnswerIsUnavailable) {
    sys::PortalFileChooser nobody(bus.address);
    auto got = ask(nobody);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->outcome, Outcome::Unavailable);
    {
        test::FakePortal settingsOnly(bus.address, false);
        ASSERT_TRUE(settingsOnly.owned());
        got = ask(nobody);
        ASSERT_TRUE(got);
        EXPECT_EQ(got->outcome, Outcome::Unavailable);
    }
    sys::PortalFileChooser unreachable("unix:path=/nonexistent/bus");
    got = ask(unreachable);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->outcome, Outcome::Unavailable);
    EXPECT_EQ(sys::PortalFileChooser::requestPath(":1.42", "tok"), "/org/freedesktop/portal/desktop/request/1_42/tok");
}

}  // namespace
