// The whole program against FTP servers on loopback, used as a new user
// would: a site is added to the site list, listed, a folder with a
// non-ASCII name entered, a book in it read in place, then downloaded into
// the library byte for byte. Three servers: pyftpdlib logging anonymous
// users on at USER (no password asked) and listing with MLSD, vsftpd
// pausing a second after each log-on, and stock vsftpd.
#include <gtest/gtest.h>

#include "app/LeafbrightProgram.h"
#include "app/NestlarkAppDelegate.h"
#include "foundation/BookCommon.h"
#include "library/LocalFilelistViewController.h"
#include "platform/core/RunLoop.h"
#include "platform/graphics/Canvas.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/Window.h"
#include "remote/BookTransfer.h"
#include "remote/ServerListViewControllerEx.h"
#include "remote/screens/RemoteFileListViewController.h"
#include "remote/stream/FtpStreamRead.h"
#include "tests/app/ProgramRun.h"
#include "tests/app/RemoteProgramServices.h"
#include "tests/support/TestHome.h"
#include "tests/support/net/FtpTestServer.h"
#include "viewer/BookViewController.h"

#include <sys/stat.h>
#include <utime.h>

#include <cstdlib>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

// 4 March 2021, 12:00 UTC.
constexpr int64_t kBookDate = 1614859200;
const std::string kFolder = "漫画";
const std::string kBook = "第1巻.cbz";
// A name that reads as escaped.
const std::string kOddFolder = "a%20b#c";

enum class Kind { AnonymousAtUser, LogOnDelay, StockVsftpd };

class FtpProgramTest : public ProgramRun, public ::testing::WithParamInterface<Kind> {
protected:
    void SetUp() override {
        if (!test::haveProgram("zip")) GTEST_SKIP() << "no zip";
        if (GetParam() == Kind::AnonymousAtUser ? !test::FtpTestServer::havePyftpdlib()
                                                : !test::FtpTestServer::haveVsftpd())
            GTEST_SKIP() << "the FTP server is not installed";
        // A comic of four pages made by the zip tool, in a folder of its own.
        fs::create_directories(www_.file("pages"));
        fs::create_directories(www_.file(kFolder));
        std::string list;
        for (int i = 1; i <= 4; ++i) {
            gfx::Canvas c(90, 120, 1.0);
            c.fillRect({0, 0, 90, 120}, gfx::Rgba{0.2 * i, 0.5, 1.0 - 0.2 * i, 1});
            ASSERT_TRUE(c.writePNG(www_.file("pages/p" + std::to_string(i) + ".png")));
            list += " p" + std::to_string(i) + ".png";
        }
        const std::string book = www_.file(kFolder + "/" + kBook);
        ASSERT_EQ(test::shell("cd '" + www_.file("pages") + "' && zip -q -X '" + book + "'" + list + " >/dev/null 2>&1"),
                  0);
        struct utimbuf t {};
        t.actime = t.modtime = time_t(kBookDate);
        ASSERT_EQ(::utime(book.c_str(), &t), 0);
        fs::remove_all(www_.file("pages"));
        test::writeFile(www_.file("Story.cbz"), test::readFile(book));
        fs::create_directories(www_.file(kOddFolder));
        test::writeFile(www_.file(kOddFolder + "/In.cbz"), test::readFile(book));

        switch (GetParam()) {
        case Kind::AnonymousAtUser: {
            test::FtpTestServer::PyOptions o;
            o.anonymousAtUser = true;
            ASSERT_TRUE(server_.startPyftpdlib(www_.path(), o)) << server_.lastError();
            break;
        }
        case Kind::LogOnDelay: {
            test::FtpTestServer::VsOptions o;
            o.loginDelaySeconds = 1;
            ASSERT_TRUE(server_.startVsftpd(www_.path(), o)) << server_.lastError();
            break;
        }
        case Kind::StockVsftpd: ASSERT_TRUE(server_.startVsftpd(www_.path())) << server_.lastError(); break;
        }
        programtest::registerRemoteServices();
        FtpStreamRead::registerWithEngine();
        makeHome("ftpprogram");
        markNotFirstRun();
    }
    void TearDown() override {
        keepShots("ftp-" + std::to_string(int(GetParam())) + "-");
        ProgramRun::TearDown();
        RemoteStreamRead::registerStreamClass(RemoteStreamRead::kFTP, nullptr);
        programtest::unregisterRemoteServices();
        server_.stop();
    }
    template <class T> T* top() const { return dynamic_cast<T*>(nav()->topViewController()); }
    const FilelistItem* row(RemoteFileListViewController& list, const std::string& name) const {
        for (const auto& item : list.itemList())
            if (item->filename() == name) return item.get();
        return nullptr;
    }

    test::TempDir www_{"ftpprogramwww"};
    test::FtpTestServer server_;
};

TEST_P(FtpProgramTest, AddASiteEnterAFolderReadABookInPlaceAndDownloadIt) {
    const std::string site = server_.url("/");
    ASSERT_TRUE(launch());
    auto* library = top<LocalFilelistViewController>();
    ASSERT_TRUE(library);
    library->onDownLoadBtn();
    play("wait 1\ntap \"Add Site\"\nwait 1\ntap \"URL\"\ntype " + site + "\ntap \"Display Name\"\ntype Books\n"
         "tap \"Save\"\nwait 1\ntap \"Books\"\nwait 3\nshot site\n");
    auto* remote = top<RemoteFileListViewController>();
    ASSERT_TRUE(remote) << "the site is listed";
    EXPECT_TRUE(row(*remote, "Story.cbz"));
    ASSERT_TRUE(row(*remote, kFolder));

    // The folder whose name reads as escaped is titled and shown as it is,
    // and lists.
    ASSERT_TRUE(row(*remote, kOddFolder));
    play("tap \"" + kOddFolder + "\"\nwait 3\nshot odd-folder\n");
    auto* odd = top<RemoteFileListViewController>();
    ASSERT_TRUE(odd && odd != remote);
    EXPECT_EQ(odd->title(), kOddFolder);
    EXPECT_TRUE(ui::test::Driver(window()).findByText(kOddFolder)) << "the title shows the name";
    EXPECT_TRUE(row(*odd, "In.cbz"));
    play("back\nwait 1\n");

    play("tap \"" + kFolder + "\"\nwait 3\nshot folder\n");
    remote = top<RemoteFileListViewController>();
    ASSERT_TRUE(remote);
    EXPECT_EQ(remote->targetURL(), site + "%E6%BC%AB%E7%94%BB/");
    const FilelistItem* book = row(*remote, kBook);
    ASSERT_TRUE(book) << "the folder's book is a row";
    ASSERT_TRUE(book->creationDate());
    // LIST gives the day (vsftpd lists universal time), MLSD the second.
    const int64_t shown = int64_t(book->creationDate()->timeIntervalSince1970());
    EXPECT_LE(std::llabs(shown - kBookDate), 12 * 3600) << "the book's own day, not " << shown;
    if (GetParam() == Kind::AnonymousAtUser) {
        // MLSD: the file's own time, to the second.
        EXPECT_EQ(int64_t(book->creationDate()->timeIntervalSince1970()), kBookDate);
    }

    // Read in place: the first page, then the next.
    play("tap \"Streaming\"\nwait 0.5\ntap \"" + kBook + "\"\nwait 1\nsheet 0\nwait 3\nkey space\nwait 1\nshot reading\n");
    auto* viewer = top<BookViewController>();
    ASSERT_TRUE(viewer) << "the book opened";
    EXPECT_TRUE(viewer->isStreamingMode());
    EXPECT_EQ(viewer->page(), 1);
    EXPECT_FALSE(fs::exists(docs() + "/" + kBook)) << "read from the server, not downloaded";
    play("back\nwait 2\n");

    // Downloaded into the library, byte for byte.
    ASSERT_TRUE(top<RemoteFileListViewController>());
    play("tap \"Download\"\nwait 0.5\ntap \"" + kBook + "\"\nwait 1\ntap \"Download Selected File\"\nwait 1\n");
    auto transfer = program->delegate()->bookTransfer();
    ASSERT_TRUE(transfer);
    EXPECT_TRUE(sys::RunLoop::main().runUntil([&] { return !transfer->isActive(); }, 60));
    play("wait 1\nshot downloaded\n");
    EXPECT_TRUE(test::readFile(docs() + "/" + kBook) == test::readFile(www_.file(kFolder + "/" + kBook)));
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpProgramTest,
                         ::testing::Values(Kind::AnonymousAtUser, Kind::LogOnDelay, Kind::StockVsftpd),
                         [](const ::testing::TestParamInfo<Kind>& info) {
                             switch (info.param) {
                             case Kind::AnonymousAtUser: return std::string("PyftpdlibAnonymousAtUser");
                             case Kind::LogOnDelay: return std::string("VsftpdLogOnDelay");
                             case Kind::StockVsftpd: return std::string("StockVsftpd");
                             }
                             return std::string();
                         });

}  // namespace
