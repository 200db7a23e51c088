#include <gtest/gtest.h>

#include "app/NestlarkAppDelegate.h"
#include "foundation/AppDelegateServices.h"
#include "foundation/BookCommon.h"
#include "library/LibraryServices.h"
#include "platform/core/AppPaths.h"
#include "platform/core/FileManager.h"
#include "platform/core/UserDefaults.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"

#include <filesystem>
#include <fstream>
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
        AppDelegateServices::install(nullptr);
        LibraryServices::install(nullptr);
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
    EXPECT_FALSE(delegate->isAccessibleFileWithPath("/lib/Comics/directory.plist"));
    EXPECT_FALSE(delegate->isAccessibleFileWithPath("/lib/site.SHORTCUT"));
    EXPECT_FALSE(delegate->isAccessibleFileWithPath("/lib/.a.LBS"));
    EXPECT_FALSE(delegate->isAccessibleDirectoryWithPath("/lib/.lock_Private"));
    EXPECT_TRUE(delegate->isAccessibleDirectoryWithPath("/lib/Comics"));
}

TEST_F(AppDelegateTest, OnlyOurSchemesAndLocalFilesAreTaken) {
    EXPECT_TRUE(delegate->openURL("leafbright://anything"));
    EXPECT_FALSE(delegate->openURL("gopher://example/x.zip"));
    EXPECT_FALSE(delegate->openURL("file://otherhost/tmp/x.zip"));
    EXPECT_FALSE(delegate->openURL("file://"));
    EXPECT_FALSE(delegate->openURL("file:///bad%ZZescape.zip"));
}

TEST_F(AppDelegateTest, ImportsTakeTheFirstFreeNumberedNameAndLeaveTheSourceAlone) {
    test::TempDir outside("outside");
    const std::string source = outside.file("Book.cbz");
    std::ofstream(source) << "book";
    const std::string docs = BookCommon::getBooksDocumentsFolder();
    std::ofstream(docs + "/Book.cbz") << "old";
    std::ofstream(docs + "/Book(2).cbz") << "old";
    auto target = delegate->importFile(source);
    ASSERT_TRUE(target);
    EXPECT_EQ(*target, docs + "/Book(3).cbz");
    EXPECT_TRUE(sys::FileManager::fileExists(source));
    EXPECT_EQ(sys::FileManager::contentsOfFile(docs + "/Book.cbz"), std::string("old"));
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
