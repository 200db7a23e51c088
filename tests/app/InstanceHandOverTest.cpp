// One running program per home: later runs on the same home hand their book
// over through the socket in the home folder. The socket on its own (stale,
// oversized, refused and foreign messages), then the built program handing a
// book to a program running in this process.
#include <gtest/gtest.h>

#include "app/InstanceHandOver.h"
#include "app/LeafbrightProgram.h"
#include "app/NestlarkAppDelegate.h"
#include "app/ProgramOptions.h"
#include "engine/BookReaderEx.h"
#include "foundation/BookCommon.h"
#include "foundation/ui/QNNoticeView.h"
#include "library/FilelistBaseViewItemListModeCell.h"
#include "library/LocalFilelistViewController.h"
#include "platform/core/FileManager.h"
#include "platform/core/PropertyList.h"
#include "platform/core/RunLoop.h"
#include "platform/core/Thread.h"
#include "platform/graphics/Canvas.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Label.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/Window.h"
#include "remote/screens/ShowHttpAuth.h"
#include "tests/app/ProgramRun.h"
#include "tests/support/TestHome.h"
#include "viewer/BookViewController.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// A raw client: sends `bytes` and returns what came back before the peer closed.
std::string talkTo(const std::string& path, const std::string& bytes) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return "connect failed";
    }
    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += size_t(n);
    }
    ::shutdown(fd, SHUT_WR);
    std::string reply;
    char buf[64];
    ssize_t n;
    while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) reply.append(buf, size_t(n));
    ::close(fd);
    return reply;
}

// Runs `work` on a thread while the main loop serves (real clock, bounded).
template <class F>
void whileServing(F work) {
    std::atomic<bool> done{false};
    std::thread t([&] {
        work();
        done = true;
    });
    sys::RunLoop::main().runUntil([&] { return done.load(); }, 10.0);
    t.join();
}

class InstanceHandOverTest : public ::testing::Test {
protected:
    void SetUp() override {
        sys::RunLoop::main().bindToCurrentThread();
        sys::RunLoop::main().clear();
    }
    void TearDown() override { sys::RunLoop::main().clear(); }

    test::TempDir home{"hand"};
    std::vector<std::string> received;
    bool accept = true;
    InstanceHandOver server{[this](const std::string& url) {
        received.push_back(url);
        return accept;
    }};
};

TEST_F(InstanceHandOverTest, AURLReachesTheRunningProgramOnItsMainLoopAndOnlyThisUserMayConnect) {
    std::string error;
    ASSERT_TRUE(server.listen(home.path(), &error)) << error;
    EXPECT_EQ(server.path(), home.file("leafbright.sock"));
    struct stat st;
    ASSERT_EQ(::lstat(server.path().c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    InstanceHandOver::Result result{};
    whileServing([&] { result = InstanceHandOver::handOver(home.path() + "/", "file:///tmp/a%20b.cbz", &error); });
    EXPECT_EQ(result, InstanceHandOver::Result::Delivered) << error;
    EXPECT_EQ(received, std::vector<std::string>{"file:///tmp/a%20b.cbz"});

    // The program could not open it: the second run hears so.
    accept = false;
    whileServing([&] { result = InstanceHandOver::handOver(home.path(), "file:///nothing.cbz", &error); });
    EXPECT_EQ(result, InstanceHandOver::Result::Failed);
    EXPECT_FALSE(error.empty());

    server.stop();
    EXPECT_FALSE(fs::exists(home.file("leafbright.sock"))) << "the socket outlives the program";
    EXPECT_EQ(InstanceHandOver::handOver(home.path(), "file:///x.cbz", &error),
              InstanceHandOver::Result::NoRunningProgram);
}

TEST_F(InstanceHandOverTest, OversizedUnfinishedAndControlCharacterMessagesAreRefusedUnread) {
    std::string error;
    ASSERT_TRUE(server.listen(home.path(), &error)) << error;
    std::string replyLong, replyOpen, replyCtl, replyTwo;
    whileServing([&] {
        replyLong = talkTo(server.path(), "file:///" + std::string(InstanceHandOver::kMaxMessage + 100, 'a') + "\n");
        // A peer that ends before its line is complete.
        replyOpen = talkTo(server.path(), "file:///half");
        replyCtl = talkTo(server.path(), std::string("file:///a\rb.cbz\n"));
        replyTwo = talkTo(server.path(), "file:///a.cbz\nfile:///b.cbz\n");
    });
    EXPECT_EQ(replyLong, "no\n");
    EXPECT_EQ(replyOpen, "no\n");
    EXPECT_EQ(replyCtl, "no\n");
    EXPECT_EQ(replyTwo, "no\n");
    EXPECT_TRUE(received.empty());
    // The client side refuses to send what the server would refuse.
    EXPECT_EQ(InstanceHandOver::handOver(home.path(), std::string(InstanceHandOver::kMaxMessage, 'x'), &error),
              InstanceHandOver::Result::Failed);
}

TEST_F(InstanceHandOverTest, AStaleSocketIsReplacedButALivingOneOrAnotherFileIsLeftAlone) {
    // A crashed run's socket: bound, never removed, nobody listening.
    {
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", home.file("leafbright.sock").c_str());
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ::close(fd);
    }
    std::string error;
    EXPECT_EQ(InstanceHandOver::handOver(home.path(), "file:///x.cbz", &error),
              InstanceHandOver::Result::NoRunningProgram);
    ASSERT_TRUE(server.listen(home.path(), &error)) << error;

    // A second program on the same home does not steal the first one's socket.
    InstanceHandOver second([](const std::string&) { return true; });
    EXPECT_FALSE(second.listen(home.path(), &error));
    second.stop();
    EXPECT_TRUE(fs::exists(home.file("leafbright.sock"))) << "the second removed the first's socket";
    InstanceHandOver::Result result{};
    whileServing([&] { result = InstanceHandOver::handOver(home.path(), "file:///y.cbz", &error); });
    EXPECT_EQ(result, InstanceHandOver::Result::Delivered);
    EXPECT_EQ(received, std::vector<std::string>{"file:///y.cbz"});

    // Another home is another instance.
    test::TempDir other("hand-other");
    EXPECT_EQ(InstanceHandOver::handOver(other.path(), "file:///z.cbz", &error),
              InstanceHandOver::Result::NoRunningProgram);
    InstanceHandOver third([](const std::string&) { return true; });
    EXPECT_TRUE(third.listen(other.path(), &error)) << error;
    server.stop();

    // A file of the user's at that name is never deleted, and is reported.
    test::TempDir plain("hand-plain");
    { std::ofstream(plain.file("leafbright.sock")) << "mine"; }
    EXPECT_FALSE(server.listen(plain.path(), &error));
    EXPECT_TRUE(server.placeTaken());
    EXPECT_TRUE(fs::is_regular_file(plain.file("leafbright.sock")));
}

TEST_F(InstanceHandOverTest, ALinkInTheSocketsPlaceIsNeverTalkedToAndIsReplaced) {
    // Another listener of the user's, elsewhere, and a link to it in this home.
    test::TempDir elsewhere("hand-elsewhere");
    std::vector<std::string> stolen;
    InstanceHandOver other([&](const std::string& url) {
        stolen.push_back(url);
        return true;
    });
    std::string error;
    ASSERT_TRUE(other.listen(elsewhere.path(), &error)) << error;
    fs::create_symlink(other.path(), home.file("leafbright.sock"));
    InstanceHandOver::Result result{};
    whileServing([&] { result = InstanceHandOver::handOver(home.path(), "file:///book.cbz", &error); });
    EXPECT_EQ(result, InstanceHandOver::Result::NoRunningProgram);
    EXPECT_TRUE(stolen.empty()) << "the book went through the link";

    // The program that starts on this home puts its socket in the link's place.
    ASSERT_TRUE(server.listen(home.path(), &error)) << error;
    EXPECT_FALSE(fs::is_symlink(home.file("leafbright.sock")));
    EXPECT_TRUE(fs::exists(other.path())) << "the link's target went";
    whileServing([&] { result = InstanceHandOver::handOver(home.path(), "file:///book.cbz", &error); });
    EXPECT_EQ(result, InstanceHandOver::Result::Delivered) << error;
    EXPECT_EQ(received, std::vector<std::string>{"file:///book.cbz"});
    EXPECT_TRUE(stolen.empty());
    server.stop();

    // A socket of another user's in its place is neither talked to nor taken.
    if (::geteuid() != 0) return;
    ASSERT_EQ(::lchown(other.path().c_str(), 65534, 65534), 0);
    whileServing([&] { result = InstanceHandOver::handOver(elsewhere.path(), "file:///book.cbz", &error); });
    EXPECT_EQ(result, InstanceHandOver::Result::NoRunningProgram);
    EXPECT_TRUE(stolen.empty());
    EXPECT_FALSE(server.listen(elsewhere.path(), &error));
    EXPECT_TRUE(server.placeTaken()) << error;

    // Nor is a socket of the user's on which another user listens: what it
    // was told comes back through a pipe.
    test::TempDir swapped("hand-swapped");
    int told[2], ready[2];
    ASSERT_EQ(::pipe(told), 0);
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(told[0]);
        ::close(ready[0]);
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", swapped.file("leafbright.sock").c_str());
        if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::setuid(65534) != 0 ||
            ::listen(fd, 1) != 0)
            ::_exit(1);
        (void)!::write(ready[1], "r", 1);
        for (;;) {
            const int c = ::accept(fd, nullptr, nullptr);
            char buf[256];
            const ssize_t n = ::recv(c, buf, sizeof buf, 0);
            if (n > 0) (void)!::write(told[1], buf, size_t(n));
            (void)!::send(c, "ok\n", 3, MSG_NOSIGNAL);
            ::close(c);
        }
    }
    ::close(told[1]);
    ::close(ready[1]);
    char up = 0;
    ASSERT_EQ(::read(ready[0], &up, 1), 1) << "the other user's listener did not start";
    ::close(ready[0]);
    EXPECT_EQ(InstanceHandOver::handOver(swapped.path(), "file:///book.cbz", &error),
              InstanceHandOver::Result::NoRunningProgram);
    // A program starting there does not take the other user's socket over.
    EXPECT_FALSE(server.listen(swapped.path(), &error));
    EXPECT_TRUE(server.placeTaken()) << error;
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    char buf[256];
    const ssize_t n = ::read(told[0], buf, sizeof buf);
    ::close(told[0]);
    EXPECT_LE(n, 0) << "the other user's listener was told " << std::string(buf, size_t(std::max<ssize_t>(n, 0)));
}

TEST_F(InstanceHandOverTest, AHomeTooDeepForASocketAddressHasNoHandOver) {
    const std::string deep = home.path() + "/" + std::string(120, 'd');
    EXPECT_EQ(InstanceHandOver::socketPath(deep), "");
    std::string error;
    EXPECT_FALSE(server.listen(deep, &error));
    EXPECT_NE(error.find("too long"), std::string::npos) << error;
    EXPECT_EQ(InstanceHandOver::handOver(deep, "file:///x.cbz", &error), InstanceHandOver::Result::NoRunningProgram);
}

// ---- Two programs on one home -------------------------------------------------------------------

class HandOverProgramTest : public ProgramRun {
protected:
    void SetUp() override {
        program_ = ::test::workDir() + "/../leafbright";
        if (!fs::exists(program_)) GTEST_SKIP() << "the program is not built: " << program_;
        makeHome("handprog");
        markNotFirstRun();
    }
    // The built program run as a second process on this test's home; its
    // exit status, while this process's main loop serves.
    int secondRun(const std::string& args, std::string* errorOutput = nullptr) {
        std::atomic<int> status{-2};
        const std::string said = home->file("second-run.err");
        sys::Thread runner([&](const std::atomic<bool>&) {
            status = test::shell("'" + program_ + "' --headless --home '" + lib() + "' --shots '" +
                                 home->file("second-shots") + "' " + args + " >/dev/null 2>'" + said + "'");
        });
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (status == -2 && std::chrono::steady_clock::now() < until) sys::RunLoop::main().advance(0.1);
        runner.join();
        if (errorOutput) *errorOutput = test::readFile(said);
        return status;
    }
    FilelistBaseViewItemListModeCell* row(const std::string& name) const {
        ui::test::Driver d(*program->delegate()->window());
        for (auto* cell : d.findAllOf<FilelistBaseViewItemListModeCell>())
            if (cell->filenameLabel()->text() == name) return cell;
        return nullptr;
    }
    static void writePage(const std::string& path) {
        gfx::Canvas c(60, 90, 1.0);
        c.fillRect({0, 0, 60, 90}, gfx::Rgba{0.2, 0.5, 0.8, 1});
        ASSERT_TRUE(c.writePNG(path));
    }
    BookViewController* viewer() const {
        auto nav = program->delegate()->navigationController();
        return nav ? dynamic_cast<BookViewController*>(nav->topViewController()) : nullptr;
    }
    std::string program_;
};

TEST_F(HandOverProgramTest, ASecondRunHandsItsBookToTheRunningProgramWhichListsAndOpensItAtOnce) {
    test::TempDir outside("handout");
    const std::string page = outside.file("Handed Page.png");
    {
        gfx::Canvas c(60, 90, 1.0);
        c.fillRect({0, 0, 60, 90}, gfx::Rgba{0.2, 0.5, 0.8, 1});
        ASSERT_TRUE(c.writePNG(page));
    }
    ASSERT_TRUE(launch());
    ASSERT_TRUE(program->handOver()) << "the running program takes no hand-overs";
    EXPECT_FALSE(row("Handed Page.png"));

    EXPECT_EQ(secondRun("'" + page + "'"), 0);
    EXPECT_FALSE(fs::exists(home->file("second-shots"))) << "the second run ran a program of its own";
    EXPECT_TRUE(fs::exists(docs() + "/Handed Page.png"));
    EXPECT_TRUE(fs::exists(page)) << "copied, never moved";
    sys::RunLoop::main().advance(1.0);
    ASSERT_TRUE(viewer()) << "the handed-over book is not open";
    EXPECT_EQ(viewer()->fileName(), docs() + "/Handed Page.png");
    std::string error;
    ASSERT_EQ(program->playScript("back\nwait 1\n", &error), 0) << error;
    EXPECT_TRUE(row("Handed Page.png")) << "the list does not show the book until a restart";

    // A file:// URL goes the same way, and the same book again is not copied again.
    EXPECT_EQ(secondRun("'" + LeafbrightProgram::targetURL(page) + "'"), 0);
    EXPECT_FALSE(fs::exists(docs() + "/Handed Page(2).png"));
    sys::RunLoop::main().advance(1.0);
    EXPECT_TRUE(viewer());

    // Handed over while another book is read: that book closes and the new
    // one opens; back in the list, its row is there.
    const std::string other = outside.file("Second.png");
    writePage(other);
    EXPECT_EQ(secondRun("'" + other + "'"), 0);
    sys::RunLoop::main().advance(1.0);
    ASSERT_TRUE(viewer());
    EXPECT_EQ(viewer()->fileName(), docs() + "/Second.png");
    EXPECT_EQ(program->delegate()->navigationController()->viewControllers().size(), 2u);
    // A book that does not open: the second run says why and fails, and the
    // running program refuses it where the user looks, in its window and on
    // its error output; the book read stays open.
    const std::string broken = outside.file("Broken.cbz");
    std::ofstream(broken) << "PK\x03\x04 not a zip at all";
    std::string said;
    testing::internal::CaptureStderr();
    const int brokenStatus = secondRun("'" + broken + "'", &said);
    sys::RunLoop::main().advance(1.0);
    const std::string runningSaid = testing::internal::GetCapturedStderr();
    EXPECT_EQ(brokenStatus, 1);
    EXPECT_NE(said.find(broken), std::string::npos) << said;
    EXPECT_NE(runningSaid.find(broken), std::string::npos) << "the running program said nothing: " << runningSaid;
    EXPECT_TRUE(ui::test::Driver(*program->delegate()->window()).findByText("Broken.cbz"))
        << "the running window shows no message";
    EXPECT_FALSE(fs::exists(docs() + "/Broken.cbz"));
    ASSERT_EQ(program->playScript("alert 0\nwait 1\n", &error), 0) << error;
    ASSERT_TRUE(viewer());
    EXPECT_EQ(viewer()->fileName(), docs() + "/Second.png");
    ASSERT_EQ(program->playScript("back\nwait 1\n", &error), 0) << error;
    EXPECT_TRUE(row("Second.png")) << "the list missed a book handed over while reading";

    // Once the first program ended, a later run is a program of its own again.
    stop();
    EXPECT_FALSE(fs::exists(lib() + "/leafbright.sock"));

    // Handed over while the start screen still plays, a book that does not
    // open is not copied in either: it is refused, on the error output at
    // once and in a message once the library is up.
    markNoticeSeen();
    program = std::make_unique<LeafbrightProgram>(headlessOptions());
    ASSERT_TRUE(program->launch(true, &error)) << error;
    ASSERT_TRUE(program->delegate()->isStartScreenShown());
    testing::internal::CaptureStderr();
    EXPECT_TRUE(program->delegate()->openURL(LeafbrightProgram::targetURL(broken)));
    const int played = program->playScript("wait 3\n", &error);
    const std::string atStart = testing::internal::GetCapturedStderr();
    ASSERT_EQ(played, 0) << error;
    EXPECT_NE(atStart.find(broken), std::string::npos) << atStart;
    EXPECT_FALSE(fs::exists(docs() + "/Broken.cbz")) << "copied in while the start screen played";
    EXPECT_TRUE(ui::test::Driver(*program->delegate()->window()).findByText("Broken.cbz"));
    // Its name is said with its control characters escaped: no title set,
    // no screen cleared, no second line forged.
    const std::string odd = outside.file("bad\x1b]0;PWNED\a\x1b[2J\nFAKE: line.cbz");
    fs::copy_file(broken, odd);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(program->delegate()->openURL(LeafbrightProgram::targetURL(odd)));
    const int playedOdd = program->playScript("wait 1\n", &error);
    const std::string oddSaid = testing::internal::GetCapturedStderr();
    ASSERT_EQ(playedOdd, 0) << error;
    EXPECT_NE(oddSaid.find("bad\\e]0;PWNED\\a\\e[2J\\nFAKE: line.cbz: "), std::string::npos) << oddSaid;
    EXPECT_EQ(oddSaid.find('\x1b'), std::string::npos);
}

// Whatever the program shows, a book handed to it closes what is open and
// opens: a book (with its menu, its settings or its bookmark list over it),
// a folder, a search of the library, the transfer screens, a sheet.
TEST_F(HandOverProgramTest, AHandedBookOpensAtOnceWhateverTheProgramShows) {
    test::TempDir outside("handstates");
    std::string list;
    for (int i = 0; i < 3; ++i) {
        writePage(outside.file("p" + std::to_string(i) + ".png"));
        list += " p" + std::to_string(i) + ".png";
    }
    ASSERT_EQ(test::shell("cd '" + outside.path() + "' && zip -q -X Reading.cbz" + list), 0);
    fs::create_directories(docs() + "/Folder");
    fs::copy_file(outside.file("Reading.cbz"), docs() + "/Reading.cbz");
    ASSERT_TRUE(launch());
    std::string error;
    auto play = [&](const std::string& script) { ASSERT_EQ(program->playScript(script, &error), 0) << error; };
    auto nav = [&] { return program->delegate()->navigationController().get(); };
    auto presented = [&] { return nav()->presentedViewController(); };
    int n = 0;
    // Hands over a new book and checks that it, alone, is open.
    auto handOver = [&](const std::string& state) {
        const std::string name = "Handed " + std::to_string(++n) + ".cbz";
        fs::copy_file(outside.file("Reading.cbz"), outside.file(name));
        play("open " + LeafbrightProgram::targetURL(outside.file(name)) + "\nwait 2\n");
        ASSERT_TRUE(viewer()) << state << ": the handed book is not open";
        EXPECT_EQ(viewer()->fileName(), docs() + "/" + name) << state;
        EXPECT_EQ(nav()->viewControllers().size(), 2u) << state << ": more than the library and the book";
        EXPECT_FALSE(presented()) << state << ": something is still presented";
        EXPECT_FALSE(viewer()->isOpenBar()) << state << ": the new book opened with a menu up";
        EXPECT_FALSE(ui::test::Driver(*program->delegate()->window()).findByText("Resume reading book?")) << state;
        for (auto* notice : ui::test::Driver(*program->delegate()->window()).findAllOf<QNNoticeView>())
            EXPECT_TRUE(notice->isClosing()) << state << ": a notice stays over the book: " << notice->messageLabel()->text();
        for (const auto& vc : nav()->viewControllers())
            if (auto* list = dynamic_cast<LocalFilelistViewController*>(vc.get())) {
                EXPECT_FALSE(list->isEditMode()) << state << ": the library is still being edited under the book";
            }
        play("back\nwait 1\n");
        EXPECT_FALSE(presented()) << state << ": a sheet came up after the book closed";
        if (auto* list = dynamic_cast<LocalFilelistViewController*>(nav()->topViewController())) {
            EXPECT_FALSE(list->searchMaskView() && !list->searchMaskView()->isHidden())
                << state << ": the library is left under the search's mask";
        }
    };
    auto openReading = [&](const std::string& state) {
        SCOPED_TRACE(state);
        play("tap \"Reading\"\nwait 1\nsheet 0\nwait 2\n");
        ASSERT_TRUE(viewer());
    };
    const ui::Rect w = program->delegate()->window()->bounds();
    const std::string middle = "tap " + std::to_string(int(w.width() / 2)) + " " + std::to_string(int(w.height() / 2)) + "\n";

    openReading("open 1");
    handOver("reading");
    openReading("open 2");
    play(middle + "wait 1\n");
    ASSERT_TRUE(viewer()->isOpenBar());
    handOver("the reader's menu open");
    openReading("open 3");
    viewer()->showBookmarkList();
    play("wait 1\n");
    ASSERT_TRUE(presented());
    handOver("the bookmark list");
    // The settings pushed over the book from its menu: settings, book and
    // menu bars all go.
    openReading("open 4");
    play(middle + "wait 1\n");
    viewer()->onSettingsBtn();
    play("wait 1\n");
    ASSERT_EQ(nav()->viewControllers().size(), 3u) << "the settings are not over the book";
    handOver("the settings over the book");
    play("tap \"Folder\"\nwait 1\n");
    ASSERT_EQ(nav()->viewControllers().size(), 2u);
    handOver("a folder");
    play("tap \"Reading\"\nwait 1\n");
    ASSERT_TRUE(presented()) << "no open sheet";
    handOver("the open sheet");
    auto* root = dynamic_cast<LocalFilelistViewController*>(nav()->topViewController());
    ASSERT_TRUE(root);
    root->onSetSearchString("Read");
    play("wait 1\n");
    handOver("a search");
    EXPECT_FALSE(root->searchString());
    // A search being typed, the keyboard up, after a book was read (the
    // library would offer to resume it).
    openReading("open 5");
    play("back\nwait 1\ntap \"Search\"\ntype Han\nwait 1\n");
    ASSERT_TRUE(root->searchString());
    handOver("a search being typed");
    EXPECT_FALSE(root->searchString());
    // The question about deleting a folder selected in the library's edit
    // mode: answered as "Cancel" (the folder stays), editing ends.
    play("tap \"Edit\"\nwait 1\ntap \"Folder\"\nwait 1\ntap \"Delete\"\nwait 1\n");
    ASSERT_TRUE(ui::test::Driver(*program->delegate()->window()).findByText("Are you sure you want to delete this file?"));
    handOver("the delete question");
    EXPECT_TRUE(fs::is_directory(docs() + "/Folder")) << "the folder went behind the book";
    // The sign-in panel a server's listing put up: answered as its Cancel.
    struct SignInAnswer : ShowHttpAuthDelegate {
        int count = 0;
        std::optional<std::string> user;
        void onFinishInput(const std::string&, const std::optional<std::string>& u, const std::optional<std::string>&,
                           bool) override {
            ++count;
            user = u;
        }
    };
    auto signInAnswer = std::make_shared<SignInAnswer>();
    auto signIn = std::make_shared<ShowHttpAuth>();
    signIn->getUserAuth("http://127.0.0.1:9/shelf/", std::string("reader"), false, true, signInAnswer);
    play("wait 1\n");
    ASSERT_TRUE(signIn->isShown());
    fs::copy_file(outside.file("Reading.cbz"), outside.file("Signed.cbz"));
    play("open " + LeafbrightProgram::targetURL(outside.file("Signed.cbz")) + "\nwait 2\n");
    EXPECT_FALSE(signIn->isShown()) << "the sign-in panel stays over the book";
    EXPECT_EQ(signInAnswer->count, 1);
    EXPECT_FALSE(signInAnswer->user);
    ASSERT_TRUE(viewer());
    EXPECT_EQ(viewer()->fileName(), docs() + "/Signed.cbz");
    play("back\nwait 1\n");
    // A book that does not open, handed over while another is read: it is
    // refused with a message and not copied in; the book read stays open.
    openReading("open 6");
    std::ofstream(outside.file("Broken.cbz")) << "PK\x03\x04 not a zip at all";
    play("open " + LeafbrightProgram::targetURL(outside.file("Broken.cbz")) + "\nwait 2\n");
    ASSERT_TRUE(viewer()) << "the book read was closed for a book that does not open";
    EXPECT_EQ(viewer()->fileName(), docs() + "/Reading.cbz");
    EXPECT_FALSE(fs::exists(docs() + "/Broken.cbz"));
    EXPECT_TRUE(ui::test::Driver(*program->delegate()->window()).findByText("Broken.cbz"));
    play("alert 0\nwait 1\nback\nwait 1\n");
    // A solid archive's notice, then an archive holding another (its sheet).
    if (test::haveProgram("7z")) {
        ASSERT_EQ(test::shell("cd '" + outside.path() + "' && 7z a -t7z -ms=on Solid.cb7" + list + " >/dev/null"), 0);
        play("open " + LeafbrightProgram::targetURL(outside.file("Solid.cb7")) + "\nwait 2\n");
        ASSERT_TRUE(ui::test::Driver(*program->delegate()->window())
                        .findByText("Loading may take time because this file is a \"Solid Archive\""));
        handOver("a solid archive's notice");
    }
    // The question of a start after a run that ended while a book was read,
    // closed by an archive holding another (which asks its own question and
    // opens nothing yet): answered as "No", the book is no longer recorded
    // to be resumed, and the next start does not ask again.
    openReading("open 7");
    stop();
    const std::string lastFile = BookCommon::getLastBookSettingFilePath();
    ASSERT_NE(sys::FileManager::contentsOfFile(lastFile).value_or("").find("Reading.cbz"), std::string::npos);
    ASSERT_TRUE(launch());
    play("wait 2\n");
    ASSERT_TRUE(ui::test::Driver(*program->delegate()->window()).findByText("Resume reading book?"));
    ASSERT_EQ(test::shell("cd '" + outside.path() + "' && zip -q -X Nested.zip Reading.cbz"), 0);
    play("open " + LeafbrightProgram::targetURL(outside.file("Nested.zip")) + "\nwait 2\n");
    EXPECT_TRUE(ui::test::Driver(*program->delegate()->window())
                    .findByText("This file includes another archive. Do you want to extract it?"));
    EXPECT_FALSE(ui::test::Driver(*program->delegate()->window()).findByText("Resume reading book?"));
    EXPECT_EQ(sys::FileManager::contentsOfFile(lastFile).value_or("").find("Reading.cbz"), std::string::npos)
        << "the book asked about is still recorded to be resumed";
}

// A folder of pictures handed over comes in as a folder of the library and
// opens as the book its pictures make, where it was last read, as opening the
// folder and its first picture would: given while the launch animation runs,
// handed to the running program, and the same pictures again (no second copy)
// or other pictures under the same name (a numbered folder). Only the
// pictures come in. A folder with no picture is refused.
TEST_F(HandOverProgramTest, AFolderOfPicturesOpensAsABookFromItsCopyInTheLibrary) {
    test::TempDir outside("handfolder");
    const std::string scans = outside.file("Scans");
    fs::create_directories(scans + "/sub");
    for (int i = 0; i < 3; ++i) writePage(scans + "/p" + std::to_string(i) + ".png");
    ASSERT_EQ(::chmod((scans + "/p2.png").c_str(), 0644), 0);
    writePage(scans + "/sub/deeper.png");
    writePage(scans + "/.hidden.png");
    test::writeFile(scans + "/notes.txt", "not a picture");
    // A pipe with a picture's name is no picture: the folder is read without it.
    ASSERT_EQ(::mkfifo((scans + "/p9.png").c_str(), 0600), 0);
    auto nav = [&] { return program->delegate()->navigationController().get(); };
    auto pages = [&] { return viewer() && viewer()->bookReader() ? viewer()->bookReader()->getPageNum() : 0; };
    std::string error;

    // Given on the command line as the program starts (the version's notice seen).
    markNoticeSeen();
    program = std::make_unique<LeafbrightProgram>(headlessOptions(scans));
    ASSERT_TRUE(program->launch(true, &error)) << error;
    ASSERT_TRUE(program->delegate()->isStartScreenShown());
    ASSERT_TRUE(program->openTarget(&error)) << error;
    ASSERT_EQ(program->playScript("wait 3\nshot folder-at-start\n", &error), 0) << error;
    ASSERT_TRUE(viewer()) << "the folder did not open as a book";
    EXPECT_EQ(viewer()->fileName(), docs() + "/Scans/p0.png");
    EXPECT_EQ(pages(), 3);
    EXPECT_EQ(nav()->viewControllers().size(), 3u) << "the library, the folder and the book";
    EXPECT_TRUE(fs::exists(docs() + "/Scans/p2.png"));
    struct stat copied {};
    ASSERT_EQ(::stat((docs() + "/Scans/p2.png").c_str(), &copied), 0);
    EXPECT_EQ(copied.st_mode & 07777, 0600u) << "a copy open to others";
    EXPECT_FALSE(fs::exists(docs() + "/Scans/notes.txt"));
    EXPECT_FALSE(fs::exists(docs() + "/Scans/sub"));
    EXPECT_FALSE(fs::exists(docs() + "/Scans/.hidden.png"));
    EXPECT_FALSE(fs::exists(docs() + "/Scans/p9.png"));
    EXPECT_TRUE(fs::exists(scans + "/p0.png")) << "copied, never moved";
    ASSERT_EQ(program->playScript("key pagedown\nwait 1\n", &error), 0) << error;
    const int readTo = viewer()->page();
    EXPECT_GT(readTo, 0);
    ASSERT_EQ(program->playScript("back\nwait 1\nback\nwait 1\n", &error), 0) << error;
    ASSERT_EQ(nav()->viewControllers().size(), 1u);

    // The same folder handed to the running program: the copy there opens where it was left.
    ASSERT_EQ(program->playScript("open " + LeafbrightProgram::targetURL(scans + "/") + "\nwait 3\n", &error), 0)
        << error;
    ASSERT_TRUE(viewer());
    EXPECT_EQ(pages(), 3);
    EXPECT_EQ(viewer()->page(), readTo) << "not resumed";
    EXPECT_FALSE(fs::exists(docs() + "/Scans(2)")) << "the same pictures were copied again";

    // Other pictures of the same name, handed over while that book is read: a folder of their own.
    writePage(scans + "/p3.png");
    ASSERT_EQ(program->playScript("open " + LeafbrightProgram::targetURL(scans) + "\nwait 3\n", &error), 0) << error;
    ASSERT_TRUE(viewer());
    EXPECT_EQ(viewer()->fileName(), docs() + "/Scans(2)/p0.png");
    EXPECT_EQ(pages(), 4);
    EXPECT_EQ(nav()->viewControllers().size(), 3u) << "the first book stayed open beneath";

    // A folder without a picture: said so, nothing comes in, the book read stays.
    const std::string empty = outside.file("Empty");
    fs::create_directories(empty);
    test::writeFile(empty + "/notes.txt", "not a picture");
    ASSERT_EQ(program->playScript("open " + LeafbrightProgram::targetURL(empty) + "\nwait 1\n", &error), 0) << error;
    EXPECT_FALSE(fs::exists(docs() + "/Empty"));
    std::string said;
    for (auto* n : ui::test::Driver(*program->delegate()->window()).findAllOf<QNNoticeView>())
        if (!n->isClosing()) said = n->titleLabel()->text() + ": " + n->messageLabel()->text();
    EXPECT_EQ(said, "Empty: This file is not a book and was not added to the library.");
    EXPECT_EQ(viewer()->fileName(), docs() + "/Scans(2)/p0.png");
}

// An address of a kind the program does not open is said so, never dropped
// in silence: on the command line the run ends with status 1 before any
// program starts; handed to a running program, that program says so in a
// message and on its error output, and the handing run fails as well. The
// kinds it does open are still taken.
TEST_F(HandOverProgramTest, AnAddressOfAKindTheProgramDoesNotOpenIsSaidSoAndFailsTheRun) {
    const std::string ftp = "ftp://127.0.0.1:9/books/x.cbz";
    std::string said;
    EXPECT_EQ(secondRun("'" + ftp + "'", &said), 1);
    EXPECT_NE(said.find(ftp + ": This kind of address is not opened."), std::string::npos) << said;
    EXPECT_FALSE(fs::exists(home->file("second-shots"))) << "a program started for it";

    ASSERT_TRUE(launch());
    ASSERT_TRUE(program->handOver());
    auto notice = [&] {
        std::string text;
        for (auto* n : ui::test::Driver(*program->delegate()->window()).findAllOf<QNNoticeView>())
            if (!n->isClosing()) text = n->titleLabel()->text() + ": " + n->messageLabel()->text();
        return text;
    };
    std::string error;
    for (const std::string url : {"smb://127.0.0.1/books/", "lbftp://127.0.0.1/x/", "FTP://127.0.0.1/x.cbz"}) {
        testing::internal::CaptureStderr();
        const int status = secondRun("'" + url + "'", &said);
        sys::RunLoop::main().advance(1.0);
        const std::string runningSaid = testing::internal::GetCapturedStderr();
        EXPECT_EQ(status, 1) << url;
        EXPECT_NE(said.find(url + ": This kind of address is not opened."), std::string::npos) << said;
        EXPECT_NE(runningSaid.find(url + ": This kind of address is not opened."), std::string::npos)
            << "the running program said nothing: " << runningSaid;
        EXPECT_EQ(notice(), url + ": This kind of address is not opened.") << "the running window shows no message";
        ASSERT_EQ(program->playScript("alert 0\nwait 1\n", &error), 0) << error;
    }

    // Its own addresses and web addresses are taken: a web folder is asked about.
    EXPECT_EQ(secondRun("leafbright://"), 0);
    EXPECT_EQ(secondRun("'lbhttp://127.0.0.1:9/shelf/'"), 0);
    sys::RunLoop::main().advance(1.0);
    EXPECT_TRUE(ui::test::Driver(*program->delegate()->window()).findByText("Do you want to open this URL?"));
    EXPECT_EQ(notice().find("This kind of address"), std::string::npos);
}

}  // namespace
