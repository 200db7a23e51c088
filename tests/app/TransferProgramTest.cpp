// The whole program and its download queue against nginx on loopback: web
// addresses handed to the program are asked about, each question keeping its
// own address, and "Yes" downloads into the library's download folder.
#include <gtest/gtest.h>

#include "app/LeafbrightProgram.h"
#include "app/NestlarkAppDelegate.h"
#include "foundation/BookCommon.h"
#include "foundation/ui/TransferScreenFactory.h"
#include "platform/core/RunLoop.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/Window.h"
#include "platform/ui/NavigationController.h"
#include "remote/BookTransfer.h"
#include "remote/RemoteTransferScreenFactory.h"
#include "remote/transfer/HttpDownload.h"
#include "tests/app/DownloadProgramRun.h"
#include "tests/support/TestHome.h"
#include "tests/support/net/NginxServer.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;

using test::readFile;

class TransferProgramTest : public DownloadProgramRun {
protected:
    void SetUp() override {
        if (test::NginxServer::program().empty()) GTEST_SKIP() << "nginx is not installed";
        www = std::make_unique<test::TempDir>("transferwww");
        makeDownloadHome("transferhome");
    }
    // The address of the question on screen, "" when none.
    std::string question() {
        ui::test::Driver driver(*app().window());
        for (const std::string& url : asked)
            if (driver.findByText(url)) return url;
        return "";
    }
    std::vector<std::string> asked;
    bool runUntilIdle(double seconds) {
        return sys::RunLoop::main().runUntil(
            [&] { return app().bookTransfer() && !app().bookTransfer()->isActive(); }, seconds);
    }
};

TEST_F(TransferProgramTest, AWebAddressIsAskedAboutAndDownloadedEachQuestionWithItsOwnAddress) {
    const std::string book = test::patternBytes(200000, 1), other = test::patternBytes(100000, 2);
    std::ofstream(www->file("book.cbz"), std::ios::binary) << book;
    std::ofstream(www->file("other.cbz"), std::ios::binary) << other;
    ASSERT_TRUE(nginx.start(www->path())) << nginx.lastError();
    asked = {nginx.url("/book.cbz"), nginx.url("/other.cbz")};

    // As "leafbright http://127.0.0.1:PORT/book.cbz" hands it over.
    ASSERT_TRUE(launch(nginx.url("/book.cbz")));
    std::string error;
    ASSERT_TRUE(program->openTarget(&error)) << error;
    play("wait 0.5\n");
    EXPECT_EQ(question(), nginx.url("/book.cbz"));
    play("tap \"Yes\"\nwait 1\n");
    ASSERT_TRUE(runUntilIdle(60));
    const std::string downloads = BookCommon::getBooksTempRoot();
    EXPECT_TRUE(readFile(downloads + "/book.cbz") == book);

    // Two questions at once, the later in front: "No" to it does not take
    // the other's address, and "Yes" downloads the address of its own question.
    ASSERT_TRUE(app().openURL("lbhttp://" + nginx.url("/other.cbz").substr(7)));
    ASSERT_TRUE(app().openURL(nginx.url("/book.cbz")));
    play("wait 0.5\ntap \"No\"\nwait 1\n");
    EXPECT_EQ(question(), nginx.url("/other.cbz"));
    play("tap \"Yes\"\nwait 1\n");
    ASSERT_TRUE(runUntilIdle(60));
    const auto& recent = app().bookTransfer()->getRecentCue();
    ASSERT_EQ(recent.size(), 2u);
    EXPECT_EQ(recent[0]->source, nginx.url("/other.cbz"));
    EXPECT_TRUE(readFile(downloads + "/other.cbz") == other);
    EXPECT_FALSE(fs::exists(downloads + "/book 2.cbz"));
    EXPECT_EQ(question(), "");
    // An address without a path asks nothing.
    ASSERT_TRUE(app().openURL("lbhttp://127.0.0.1"));
    EXPECT_EQ(question(), "");
}

}  // namespace
