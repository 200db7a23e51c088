#include "foundation/ActiveLog.h"
#include "platform/core/Date.h"
#include "platform/core/FileManager.h"
#include "platform/core/UserDefaults.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string kLaunch = "A---------------0\n";
const std::string kForeground = "A---------------1\n";
const std::string kBackground = "X---------------1\n";
const std::string kTerminate = "X---------------0\n";

class ActiveLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ActiveLog::applicationWillTerminate();  // no instance left by another test
        sys::FileManager::removeItem(ActiveLog::logFilePath());
        setEnabled(true);
    }
    void TearDown() override {
        ActiveLog::applicationWillTerminate();
        sys::FileManager::removeItem(ActiveLog::logFilePath());
        setEnabled(false);
    }
    static void setEnabled(bool on) { sys::UserDefaults::standard().setBool(on, "enable_crashlog"); }
    static void writePrevious(const std::string& contents) {
        ASSERT_TRUE(sys::FileManager::writeFile(ActiveLog::logFilePath(), contents));
    }
    static std::string fileContents() { return sys::FileManager::contentsOfFile(ActiveLog::logFilePath()).value_or("<none>"); }
    static std::string report(const std::string& body) {
        return "\n\n\n[Leafbright " LEAFBRIGHT_VERSION " crash report]\n" + body + "[end]\n";
    }
};

TEST_F(ActiveLogTest, EntriesKeepOnlyTheFirstHalfOfTheMessageDigest) {
    // MD5("openBook") = 213573865c32c0c0..., computed independently.
    EXPECT_EQ(ActiveLog::entryLine("openBook", "C"), "C213573865c32c0c0\n");
    EXPECT_EQ(ActiveLog::entryLine("openBook", "E"), "E213573865c32c0c0\n");
    EXPECT_EQ(ActiveLog::entryLine("", "C").size(), ActiveLog::kLineBytes);
}

TEST_F(ActiveLogTest, ALifeCycleIsWrittenAsFixedLines) {
    ActiveLog::applicationdidFinishLaunching();
    ActiveLog::writeCheckpoint("openBook");
    ActiveLog::writeError("loadPage failed");
    ActiveLog::applicationDidEnterBackground();
    ActiveLog::applicationWillEnterForeground();
    EXPECT_EQ(ActiveLog::getActiveLog(), kLaunch + ActiveLog::entryLine("openBook", "C") +
                                             ActiveLog::entryLine("loadPage failed", "E") + kBackground + kForeground);
    ActiveLog::applicationWillTerminate();
    EXPECT_FALSE(ActiveLog::hasInstance());
    EXPECT_EQ(fileContents().substr(5 * 18), kTerminate);
    // After termination nothing more is written.
    ActiveLog::writeCheckpoint("late");
    EXPECT_EQ(fileContents().size(), 6u * 18);
}

TEST_F(ActiveLogTest, DisabledLogWritesNothing) {
    setEnabled(false);
    ActiveLog::applicationdidFinishLaunching();
    ActiveLog::writeCheckpoint("openBook");
    EXPECT_FALSE(ActiveLog::hasInstance());
    EXPECT_FALSE(sys::FileManager::fileExists(ActiveLog::logFilePath()));
    EXPECT_EQ(ActiveLog::getActiveLog(), "[CrashLog is disabled]");
}

TEST_F(ActiveLogTest, OnlyACleanLastMarkMeansNoCrash) {
    struct Case {
        std::string previous;
        bool crashed;
    };
    const std::vector<Case> cases = {
        {kLaunch + kTerminate, false},
        {kLaunch + kBackground, false},
        {kLaunch + ActiveLog::entryLine("x", "E"), true},
        {kLaunch + ActiveLog::entryLine("x", "C"), true},
        {kLaunch, true},
        {kLaunch + kForeground, true},
        {"", false},  // died before the first mark: nothing to tell
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.previous);
        ActiveLog::applicationWillTerminate();
        writePrevious(c.previous);
        ActiveLog::applicationdidFinishLaunching();
        auto pending = ActiveLog::pendingCrashReport();
        EXPECT_EQ(pending.has_value(), c.crashed);
        if (pending) {
            EXPECT_EQ(*pending, report(c.previous));
        }
        // The old file is gone either way: the new run starts a new file.
        EXPECT_EQ(fileContents(), kLaunch);
    }
}

TEST_F(ActiveLogTest, ReportsHoldTheTailOfLongLogsAndAllOfShortOnes) {
    std::string longLog;
    for (int i = 0; longLog.size() < 2000; ++i) longLog += ActiveLog::entryLine(std::to_string(i), "C");
    writePrevious(longLog);
    ActiveLog::createInstance();
    EXPECT_EQ(ActiveLog::pendingCrashReport(), report(longLog.substr(longLog.size() - 900)));

    ActiveLog::applicationWillTerminate();
    std::string shortLog = longLog.substr(0, 504);
    writePrevious(shortLog);
    ActiveLog::createInstance();
    EXPECT_EQ(ActiveLog::pendingCrashReport(), report(shortLog));

    // Shorter than one line: a torn first mark, reported whole (no read
    // before the start of the file).
    ActiveLog::applicationWillTerminate();
    writePrevious("A-------");
    ActiveLog::createInstance();
    EXPECT_EQ(ActiveLog::pendingCrashReport(), report("A-------"));
}

TEST_F(ActiveLogTest, ARunThatDiesMidBookIsReportedAtTheNextLaunch) {
    ActiveLog::applicationdidFinishLaunching();
    ActiveLog::writeCheckpoint("openBook");
    ActiveLog::writeCheckpoint("loadPage start");
    const std::string leftBehind = fileContents();  // what the process leaves when it dies here
    ActiveLog::applicationWillTerminate();
    writePrevious(leftBehind);

    ActiveLog::applicationdidFinishLaunching();
    auto pending = ActiveLog::pendingCrashReport();
    ASSERT_TRUE(pending);
    EXPECT_NE(pending->find(ActiveLog::entryLine("loadPage start", "C")), std::string::npos);
}

TEST_F(ActiveLogTest, LinesFromManyThreadsNeverInterleave) {
    ActiveLog::applicationdidFinishLaunching();
    constexpr int kThreads = 6, kEach = 100;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kEach; ++i) ActiveLog::writeCheckpoint("thread " + std::to_string(t));
        });
    }
    // Termination racing the writers must not tear a line either.
    ActiveLog::applicationDidEnterBackground();
    for (auto& th : threads) th.join();
    std::string log = fileContents();
    ASSERT_EQ(log.size(), size_t(kThreads * kEach + 2) * 18);
    std::set<std::string> allowed{kLaunch, kBackground};
    for (int t = 0; t < kThreads; ++t) allowed.insert(ActiveLog::entryLine("thread " + std::to_string(t), "C"));
    for (size_t off = 0; off < log.size(); off += 18) {
        ASSERT_TRUE(allowed.count(log.substr(off, 18))) << "torn line at " << off;
    }
}

// A presenter that records what the log asks of the screen.
struct FakePresenter : CrashReportPresenter {
    std::vector<std::string> questionTexts;
    std::function<void(int)> answer;
    std::vector<std::string> alerts;
    bool mailAvailable = true;
    std::string subject, recipient, body;
    std::function<void(MailResult, const MailError&)> mailFinished;
    int dismissed = 0;

    void showQuestion(const std::string& title, const std::string& message, const std::vector<std::string>& buttons,
                      std::function<void(int)> a) override {
        questionTexts = {title, message};
        questionTexts.insert(questionTexts.end(), buttons.begin(), buttons.end());
        answer = std::move(a);
    }
    void showAlert(const std::string& title, const std::string& message, const std::string& button) override {
        alerts.push_back(title + "|" + message + "|" + button);
    }
    bool canSendMail() override { return mailAvailable; }
    void composeMail(const std::string& s, const std::string& r, const std::string& b,
                     std::function<void(MailResult, const MailError&)> f) override {
        subject = s;
        recipient = r;
        body = b;
        mailFinished = std::move(f);
    }
    void dismissMailComposer() override { ++dismissed; }
};

TEST_F(ActiveLogTest, TheReportIsOfferedOnceAndMailed) {
    writePrevious(kLaunch);
    ActiveLog::applicationdidFinishLaunching();
    auto presenter = std::make_shared<FakePresenter>();
    ActiveLog::presentCrashLog(presenter);
    ASSERT_EQ(presenter->questionTexts.size(), 4u);
    EXPECT_EQ(presenter->questionTexts[0], "Crash Detected");
    EXPECT_EQ(presenter->questionTexts[1], "Sorry for the inconvenience.\nPlease send the crash log.");
    EXPECT_EQ(presenter->questionTexts[2], "Send Crash Log");
    EXPECT_EQ(presenter->questionTexts[3], "Cancel");

    presenter->answer(0);
    EXPECT_EQ(presenter->subject, "Leafbright Crash report");
    EXPECT_EQ(presenter->recipient, ActiveLog::kCrashReportAddress);
    EXPECT_EQ(presenter->body, report(kLaunch));
    EXPECT_FALSE(ActiveLog::pendingCrashReport()) << "the report is dropped once answered";

    // A failed send leaves the composer open and says why.
    presenter->mailFinished(CrashReportPresenter::MailResult::Failed, {"Not sent", "No network", "Try later"});
    EXPECT_EQ(presenter->alerts, (std::vector<std::string>{"Not sent|No network\nTry later|OK"}));
    EXPECT_EQ(presenter->dismissed, 0);
    presenter->mailFinished(CrashReportPresenter::MailResult::Sent, {});
    EXPECT_EQ(presenter->dismissed, 1);

    // Nothing more to offer.
    auto again = std::make_shared<FakePresenter>();
    ActiveLog::presentCrashLog(again);
    EXPECT_TRUE(again->questionTexts.empty());
}

TEST_F(ActiveLogTest, WithoutMailOrOnCancelTheReportIsDropped) {
    writePrevious(kLaunch);
    ActiveLog::applicationdidFinishLaunching();
    auto presenter = std::make_shared<FakePresenter>();
    presenter->mailAvailable = false;
    ActiveLog::presentCrashLog(presenter);
    presenter->answer(0);
    EXPECT_EQ(presenter->alerts, (std::vector<std::string>{"Error|Please configure your Mail account|OK"}));
    EXPECT_TRUE(presenter->subject.empty());
    EXPECT_FALSE(ActiveLog::pendingCrashReport());

    ActiveLog::applicationWillTerminate();
    writePrevious(kLaunch);
    ActiveLog::applicationdidFinishLaunching();
    auto cancelled = std::make_shared<FakePresenter>();
    ActiveLog::presentCrashLog(cancelled);
    cancelled->answer(1);
    EXPECT_TRUE(cancelled->alerts.empty());
    EXPECT_TRUE(cancelled->subject.empty());
    EXPECT_FALSE(ActiveLog::pendingCrashReport());
}

}  // namespace
