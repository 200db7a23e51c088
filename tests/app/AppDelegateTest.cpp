#include <gtest/gtest.h>

#include "app/NestlarkAppDelegate.h"
#include "cloud/CloudSignIn.h"
#include "cloud/GoogleDriveAPI.h"
#include "cloud/HttpEasy.h"
#include "foundation/AppDelegateServices.h"
#include "foundation/BookCommon.h"
#include "foundation/FolderLockInfo.h"
#include "foundation/LastStatusRestore.h"
#include "library/LibraryServices.h"
#include "library/PreparedBookOpen.h"
#include "platform/core/AppPaths.h"
#include "platform/core/FileManager.h"
#include "platform/core/RunLoop.h"
#include "platform/core/Keychain.h"
#include "platform/core/Thread.h"
#include "platform/core/UserDefaults.h"
#include "platform/graphics/Canvas.h"
#include "platform/ui/RecordingURLOpener.h"
#include "smb/CIFSStackManager.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"
#include "tests/support/net/CloudApiEmulator.h"

#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class AppDelegateTest : public test::VirtualClockTest {
protected:
    void SetUp() override {
        VirtualClockTest::SetUp();
        home = std::make_unique<test::TempDir>("delegate");
        sys::AppPaths::setHome(home->path());
        sys::UserDefaults::standard().reload();
        delegate = NestlarkAppDelegate::create();
    }
    void TearDown() override {
        // The silent-resume flag and the restore mode are process-wide: no
        // later test inherits them.
        BookCommon::getNextSilentResumeFlag();
        LastStatusRestore::setRestoreMode(0);
        AppDelegateServices::install(nullptr);
        LibraryServices::install(nullptr);
        // A book handed over before the library is up is prepared on a
        // thread of its own, which the program ends as it quits.
        PreparedBookOpen::discard();
        delegate.reset();
        VirtualClockTest::TearDown();
        sys::AppPaths::setHome("");
        sys::UserDefaults::standard().reload();
    }
    std::unique_ptr<test::TempDir> home;
    std::shared_ptr<NestlarkAppDelegate> delegate;
};

TEST_F(AppDelegateTest, TheSmbServerNeverOffersOurOwnFilesOrLockedFolders) {
    EXPECT_TRUE(delegate->isAccessibleFileWithPath("/lib/Comics/a.zip"));
    EXPECT_FALSE(delegate->isAccessibleFileWithPath("/lib/Comics/.thumbs.dat"));
    EXPECT_FALSE(delegate->isAccessibleFileWithPath("/lib/Comics/.thumbs.size"));
    EXPECT_FALSE(delegate->isAccessibleFileWithPath("/lib/Comics/directory.plist"));
    EXPECT_FALSE(delegate->isAccessibleFileWithPath("/lib/site.SHORTCUT"));
    EXPECT_FALSE(delegate->isAccessibleFileWithPath("/lib/.a.LBS"));
    EXPECT_FALSE(delegate->isAccessibleFileWithPath("/lib/Comics/.b.lbsz"));
    EXPECT_FALSE(delegate->isAccessibleFileWithPath("/lib/Comics/Volume1.zip_cache"));
    EXPECT_FALSE(delegate->isAccessibleFileWithPath("/lib/Comics/Volume1.zip_config"));

    // A folder is locked by its record, not by its name: the server asks with
    // the stack's own data source, for folders as files and as folders.
    const std::string docs = BookCommon::getBooksDocumentsFolder();
    const std::string locked = docs + "/Private", renamedOnly = docs + "/.lock_Open", open = docs + "/Comics";
    for (const auto& f : {locked, renamedOnly, open}) std::filesystem::create_directories(f);
    ASSERT_TRUE(FolderLockInfo::lockedWithPasscode("1234", false).writeToFolder(locked));
    auto stack = CIFSStackManager::sharedManager(0);
    stack->setDataSource(std::weak_ptr<CIFSStackManagerDataSource>(delegate));
    auto source = stack->dataSource();
    ASSERT_TRUE(source);
    EXPECT_FALSE(source->isAccessibleDirectoryWithPath(locked));
    EXPECT_FALSE(source->isAccessibleFileWithPath(locked));
    EXPECT_TRUE(source->isAccessibleDirectoryWithPath(renamedOnly));
    EXPECT_TRUE(source->isAccessibleFileWithPath(renamedOnly));
    EXPECT_TRUE(source->isAccessibleDirectoryWithPath(open));
    EXPECT_TRUE(source->isAccessibleFileWithPath(open));
    stack->setDataSource({});
}

// A server that reports its states from a thread of its own, as the stack's would.
class StandInSmbServer : public CIFSStackServer {
public:
    bool start(StatusCallback report) override {
        report_ = report;
        sys::Thread t([report](const std::atomic<bool>&) { report(CIFSStackManager::kStatusRunning); });
        t.join();
        return true;
    }
    void stop() override {
        if (report_) report_(CIFSStackManager::kStatusStopped);
    }

private:
    StatusCallback report_;
};

// While the SMB server runs the machine stays awake: one hold from "running"
// to "stopped", however often the states repeat, and the screen showing the
// server hears every state.
TEST_F(AppDelegateTest, ARunningSmbServerKeepsTheMachineAwakeUntilItStops) {
    struct Screen : CIFSStackManagerDelegate {
        std::vector<int> seen;
        void didChangeServerStatus(int status) override { seen.push_back(status); }
    };
    auto screen = std::make_shared<Screen>();
    delegate->setCifsStackDelegate(screen);
    auto stack = CIFSStackManager::sharedManager(0);
    stack->setServer(std::make_shared<StandInSmbServer>());
    stack->setDelegate(std::weak_ptr<CIFSStackManagerDelegate>(delegate));
    const int before = BookCommon::idleTimerHolders();

    ASSERT_TRUE(stack->startServer());
    advance(0.1);
    EXPECT_TRUE(NestlarkAppDelegate::isSmbServerPublished());
    EXPECT_EQ(BookCommon::idleTimerHolders(), before + 1);
    delegate->didChangeServerStatus(CIFSStackManager::kStatusRunning);  // told twice: still one hold
    delegate->didChangeServerStatus(CIFSStackManager::kStatusStopping);
    EXPECT_EQ(BookCommon::idleTimerHolders(), before + 1);

    stack->suspendState();
    advance(0.1);
    EXPECT_FALSE(NestlarkAppDelegate::isSmbServerPublished());
    EXPECT_EQ(BookCommon::idleTimerHolders(), before);
    delegate->didChangeServerStatus(CIFSStackManager::kStatusIdle);  // never let go twice
    EXPECT_EQ(BookCommon::idleTimerHolders(), before);
    EXPECT_EQ(screen->seen, (std::vector<int>{2, 3, 3, 4, 4, 1, 0}));

    stack->restoreState();
    advance(0.1);
    EXPECT_EQ(BookCommon::idleTimerHolders(), before + 1);
    stack->stopServer();
    advance(0.1);
    EXPECT_EQ(BookCommon::idleTimerHolders(), before);
    stack->setServer(nullptr);
    stack->setDelegate({});
}

// Every URL is taken; only our own schemes and local books do anything.
TEST_F(AppDelegateTest, EveryUrlIsTakenButOnlyLocalBooksComeIn) {
    if (!test::haveProgram("zip")) GTEST_SKIP() << "no zip";
    test::TempDir outside("outside");
    // A book that opens: one that does not stays out of the library.
    gfx::Canvas page(20, 30, 1.0);
    page.fillRect({0, 0, 20, 30}, gfx::Rgba{0.2, 0.4, 0.6, 1});
    ASSERT_TRUE(page.writePNG(outside.file("p.png")));
    ASSERT_EQ(test::shell("cd '" + outside.path() + "' && zip -q -X x.zip p.png"), 0);
    EXPECT_TRUE(delegate->openURL("leafbright://anything"));
    EXPECT_TRUE(delegate->openURL("gopher://example/x.zip"));
    EXPECT_TRUE(delegate->openURL("file://otherhost" + outside.file("x.zip")));
    EXPECT_TRUE(delegate->openURL("file://"));
    EXPECT_TRUE(delegate->openURL("file:///bad%ZZescape.zip"));
    EXPECT_FALSE(sys::FileManager::fileExists(BookCommon::getBooksDocumentsFolder() + "/x.zip"));
    EXPECT_TRUE(delegate->openURL("file://localhost" + outside.file("x.zip")));
    sys::RunLoop::main().drain();
    EXPECT_TRUE(sys::FileManager::fileExists(BookCommon::getBooksDocumentsFolder() + "/x.zip"));
}

// The browser's way back from a cloud sign-in, handed to the application,
// reaches the pending sign-in (it is a web address, and would otherwise be
// asked about as a download).
TEST_F(AppDelegateTest, ACloudSignInsRedirectHandedToTheApplicationEndsTheSignIn) {
    sys::Keychain::setShared(sys::Keychain::inMemory());
    auto opener = ui::RecordingURLOpener::install();
    test::CloudApiEmulator api;
    ASSERT_TRUE(api.start());
    api.useForAllServices();
    api.setAccountName("reader@example.com");
    struct Answers : CloudClientDelegate {
        void finishAuthorization(CloudClient&, const std::optional<std::string>& e, const std::string&) override {
            ++count;
            error = e;
        }
        void didFinishRecieveFileList(CloudClient&, CloudTicket&, const std::optional<std::vector<sys::PlistDictionary>>&,
                                      bool, const std::optional<std::string>&) override {}
        int count = 0;
        std::optional<std::string> error;
    };
    auto answers = std::make_shared<Answers>();
    auto client = std::make_shared<GoogleDriveAPI>("g");
    client->setDelegate(answers);
    EXPECT_FALSE(client->checkForAuthorization(nullptr));
    ASSERT_EQ(opener->opened.size(), 1u);
    // The service's answer to the browser: where it sends it back.
    HttpEasy easy;
    HttpRequest req;
    req.url = opener->opened[0];
    req.maxRedirects = 0;
    easy.prepare(req);
    const std::string back = easy.perform().header("location");
    ASSERT_EQ(back.rfind(CloudSignIn::pendingRedirectURI(), 0), 0u) << back;

    EXPECT_TRUE(delegate->openURL(back));
    EXPECT_TRUE(loop().runUntil([&] { return answers->count > 0; }, 30));
    EXPECT_FALSE(answers->error);
    EXPECT_TRUE(CloudSignIn::pendingRedirectURI().empty());
    CloudSignIn::cancelPending();
    test::CloudApiEmulator::forgetServiceSettings();
    sys::Keychain::setShared(nullptr);
}

TEST_F(AppDelegateTest, ImportsTakeTheFirstFreeNumberedNameAndLeaveTheSourceAlone) {
    test::TempDir outside("outside");
    const std::string source = outside.file("Book.cbz");
    std::ofstream(source) << "book";
    ASSERT_EQ(::chmod(source.c_str(), 0644), 0);
    const std::string docs = BookCommon::getBooksDocumentsFolder();
    std::ofstream(docs + "/Book.cbz") << "old";
    std::ofstream(docs + "/Book(2).cbz") << "old";
    auto target = delegate->importFile(source);
    ASSERT_TRUE(target);
    EXPECT_EQ(*target, docs + "/Book(3).cbz");
    EXPECT_TRUE(sys::FileManager::fileExists(source));
    // The copy is private, whatever the mode of the file it came from.
    struct stat st {};
    ASSERT_EQ(::stat(target->c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(sys::FileManager::contentsOfFile(docs + "/Book.cbz"), std::string("old"));
    // The same book again is the copy already there, whichever numbered
    // name it took: no third copy.
    EXPECT_EQ(delegate->importFile(source).value_or(""), docs + "/Book(3).cbz");
    EXPECT_FALSE(sys::FileManager::fileExists(docs + "/Book(4).cbz"));
    EXPECT_FALSE(delegate->importFile(outside.file("missing.cbz")));
    EXPECT_FALSE(delegate->importFile(outside.path()));  // a folder is not a book file

    // A name without an extension is numbered without a dot.
    std::ofstream(outside.file("Notes")) << "n";
    std::ofstream(docs + "/Notes") << "old";
    EXPECT_EQ(delegate->importFile(outside.file("Notes")).value_or(""), docs + "/Notes(2)");

    // Our hand-over inbox gives up the imported entry only, once it is copied;
    // another entry waiting there stays.
    const std::string inbox = docs + "/Inbox";
    std::filesystem::create_directories(inbox);
    std::ofstream(inbox + "/Handed.cbz") << "x";
    std::ofstream(inbox + "/Waiting.cbz") << "w";
    auto moved = delegate->importFile(inbox + "/Handed.cbz");
    ASSERT_TRUE(moved);
    EXPECT_EQ(*moved, docs + "/Handed.cbz");
    EXPECT_EQ(sys::FileManager::contentsOfFile(docs + "/Handed.cbz"), std::string("x"));
    EXPECT_FALSE(sys::FileManager::fileExists(inbox + "/Handed.cbz"));
    EXPECT_TRUE(sys::FileManager::fileExists(inbox + "/Waiting.cbz"));

    // A copy that cannot be made loses nothing: the inbox keeps its file.
    if (::geteuid() != 0) {
        std::filesystem::permissions(docs, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
        EXPECT_FALSE(delegate->importFile(inbox + "/Waiting.cbz"));
        std::filesystem::permissions(docs, std::filesystem::perms::owner_all);
        EXPECT_EQ(sys::FileManager::contentsOfFile(inbox + "/Waiting.cbz"), std::string("w"));
    }
}

}  // namespace
