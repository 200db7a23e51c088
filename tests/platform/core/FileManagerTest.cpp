#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "platform/core/FileManager.h"
#include "tests/support/TestHome.h"

using sys::FileManager;
using FileType = sys::FileManager::FileType;

namespace {

void put(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string get(const std::string& path) { return FileManager::contentsOfFile(path).value_or("<missing>"); }

bool exists(const std::string& path) {
    struct stat st{};
    return ::lstat(path.c_str(), &st) == 0;
}

// A small tree: a/one.txt, a/.hidden, a/sub/two.txt, a/link -> sub.
void makeTree(const std::string& a) {
    ASSERT_TRUE(FileManager::createDirectory(a + "/sub", true));
    put(a + "/one.txt", "one");
    put(a + "/.hidden", "secret");
    put(a + "/sub/two.txt", "two");
    ASSERT_EQ(::symlink("sub", (a + "/link").c_str()), 0);
}

class FileManagerTest : public ::testing::Test {
protected:
    test::TempDir dir{"files"};
    std::string at(const std::string& name) const { return dir.file(name); }
};

}  // namespace

TEST_F(FileManagerTest, MoveNeverReplacesAnExistingItem) {
    put(at("book.cbz"), "the new book");
    put(at("taken.cbz"), "a book already there");
    std::error_code ec;
    EXPECT_FALSE(FileManager::moveItem(at("book.cbz"), at("taken.cbz"), &ec));
    EXPECT_EQ(ec, std::errc::file_exists);
    EXPECT_EQ(get(at("book.cbz")), "the new book");
    EXPECT_EQ(get(at("taken.cbz")), "a book already there");

    // Onto a folder, an empty one included, and a folder onto a file.
    ASSERT_TRUE(FileManager::createDirectory(at("empty"), false));
    EXPECT_FALSE(FileManager::moveItem(at("book.cbz"), at("empty"), &ec));
    makeTree(at("tree"));
    EXPECT_FALSE(FileManager::moveItem(at("tree"), at("taken.cbz"), &ec));
    EXPECT_FALSE(FileManager::moveItem(at("tree"), at("empty"), &ec));
    EXPECT_EQ(get(at("tree/sub/two.txt")), "two");
    EXPECT_EQ(get(at("book.cbz")), "the new book");

    // Onto a dangling link: the name is taken all the same.
    ASSERT_EQ(::symlink("nowhere", at("dangling").c_str()), 0);
    EXPECT_FALSE(FileManager::moveItem(at("book.cbz"), at("dangling"), &ec));
    EXPECT_EQ(get(at("book.cbz")), "the new book");
}

TEST_F(FileManagerTest, MoveRenamesFilesAndFolders) {
    put(at("a.zip"), "zip");
    EXPECT_TRUE(FileManager::moveItem(at("a.zip"), at("b.zip")));
    EXPECT_FALSE(exists(at("a.zip")));
    EXPECT_EQ(get(at("b.zip")), "zip");

    makeTree(at("tree"));
    ASSERT_TRUE(FileManager::createDirectory(at("dest"), false));
    EXPECT_TRUE(FileManager::moveItem(at("tree"), at("dest/tree")));
    EXPECT_EQ(get(at("dest/tree/sub/two.txt")), "two");

    std::error_code ec;
    EXPECT_FALSE(FileManager::moveItem(at("dest"), at("dest/tree/inside"), &ec));
    EXPECT_EQ(get(at("dest/tree/one.txt")), "one");
    EXPECT_FALSE(FileManager::moveItem(at("missing"), at("x"), &ec));
    EXPECT_EQ(ec, std::errc::no_such_file_or_directory);
}

TEST_F(FileManagerTest, MoveAcrossFileSystemsCopiesAndStillRefusesToReplace) {
    // /dev/shm is a separate file system on most machines.
    struct stat here{}, there{};
    if (::stat(dir.path().c_str(), &here) != 0 || ::stat("/dev/shm", &there) != 0 || here.st_dev == there.st_dev)
        GTEST_SKIP() << "no second file system to move to";
    std::string other = "/dev/shm/leafbright-fm-" + std::to_string(::getpid());
    FileManager::removeItem(other);
    ASSERT_TRUE(FileManager::createDirectory(other, false));

    makeTree(at("tree"));
    put(at("book.cbz"), "pages");
    ASSERT_EQ(::chmod(at("book.cbz").c_str(), 0640), 0);
    ASSERT_TRUE(FileManager::setModificationDate(at("book.cbz"), sys::Date(1000000000.0)));

    EXPECT_TRUE(FileManager::moveItem(at("book.cbz"), other + "/book.cbz"));
    EXPECT_FALSE(exists(at("book.cbz")));
    EXPECT_EQ(get(other + "/book.cbz"), "pages");
    EXPECT_DOUBLE_EQ(FileManager::modificationDate(other + "/book.cbz")->timeIntervalSince1970(), 1000000000.0);
    EXPECT_EQ(FileManager::attributesOfItem(other + "/book.cbz")->permissions, 0640u);

    EXPECT_TRUE(FileManager::moveItem(at("tree"), other + "/tree"));
    EXPECT_FALSE(exists(at("tree")));
    EXPECT_EQ(get(other + "/tree/sub/two.txt"), "two");
    EXPECT_EQ(FileManager::attributesOfItem(other + "/tree/link")->type, FileType::SymbolicLink);

    put(at("again.cbz"), "second");
    put(other + "/again.cbz", "first");
    std::error_code ec;
    EXPECT_FALSE(FileManager::moveItem(at("again.cbz"), other + "/again.cbz", &ec));
    EXPECT_EQ(ec, std::errc::file_exists);
    EXPECT_EQ(get(at("again.cbz")), "second");
    EXPECT_EQ(get(other + "/again.cbz"), "first");

    FileManager::removeItem(other);
}

TEST_F(FileManagerTest, CopyKeepsTreesLinksModesAndDates) {
    makeTree(at("tree"));
    ASSERT_EQ(::chmod(at("tree/one.txt").c_str(), 0600), 0);
    ASSERT_TRUE(FileManager::setModificationDate(at("tree/one.txt"), sys::Date(1234567890.5)));

    EXPECT_TRUE(FileManager::copyItem(at("tree"), at("copy")));
    EXPECT_EQ(get(at("copy/one.txt")), "one");
    EXPECT_EQ(get(at("copy/.hidden")), "secret");
    EXPECT_EQ(get(at("copy/sub/two.txt")), "two");
    auto link = FileManager::attributesOfItem(at("copy/link"));
    ASSERT_TRUE(link.has_value());
    EXPECT_EQ(link->type, FileType::SymbolicLink);
    auto one = FileManager::attributesOfItem(at("copy/one.txt"));
    EXPECT_EQ(one->permissions, 0600u);
    EXPECT_NEAR(one->modificationDate.timeIntervalSince1970(), 1234567890.5, 1e-6);
    // The original is untouched.
    EXPECT_EQ(get(at("tree/one.txt")), "one");
    // A private copy is the user's own, whatever the modes it came with.
    ASSERT_EQ(::chmod(at("tree/one.txt").c_str(), 0644), 0);
    ASSERT_EQ(::chmod(at("tree/sub").c_str(), 0755), 0);
    EXPECT_TRUE(FileManager::copyItemPrivately(at("tree"), at("own")));
    EXPECT_EQ(get(at("own/sub/two.txt")), "two");
    EXPECT_EQ(FileManager::attributesOfItem(at("own/one.txt"))->permissions, 0600u);
    EXPECT_EQ(FileManager::attributesOfItem(at("own/sub"))->permissions, 0700u);
    EXPECT_EQ(FileManager::attributesOfItem(at("own/link"))->type, FileType::SymbolicLink);

    std::error_code ec;
    EXPECT_FALSE(FileManager::copyItem(at("tree/one.txt"), at("copy/one.txt"), &ec));
    EXPECT_EQ(ec, std::errc::file_exists);
    EXPECT_FALSE(FileManager::copyItem(at("tree"), at("tree/sub/again"), &ec));
    EXPECT_EQ(ec, std::errc::invalid_argument);
    EXPECT_FALSE(exists(at("tree/sub/again")));
    EXPECT_FALSE(FileManager::copyItem(at("missing"), at("x"), &ec));
}

TEST_F(FileManagerTest, FailedCopyLeavesNothingBehind) {
    makeTree(at("tree"));
    // Deep inside, something that cannot be copied.
    ASSERT_EQ(::mkfifo(at("tree/sub/zz-pipe").c_str(), 0600), 0);
    std::error_code ec;
    EXPECT_FALSE(FileManager::copyItem(at("tree"), at("copy"), &ec));
    EXPECT_EQ(ec, std::errc::not_supported);
    EXPECT_FALSE(exists(at("copy")));
    EXPECT_EQ(get(at("tree/sub/two.txt")), "two");
}

TEST_F(FileManagerTest, RemoveDoesNotFollowLinks) {
    ASSERT_TRUE(FileManager::createDirectory(at("outside/keep"), true));
    put(at("outside/keep/precious.cbz"), "do not lose");
    makeTree(at("tree"));
    ASSERT_EQ(::symlink(at("outside").c_str(), at("tree/sub/escape").c_str()), 0);
    ASSERT_EQ(::symlink(at("outside/keep/precious.cbz").c_str(), at("tree/file-link").c_str()), 0);

    EXPECT_TRUE(FileManager::removeItem(at("tree")));
    EXPECT_FALSE(exists(at("tree")));
    EXPECT_EQ(get(at("outside/keep/precious.cbz")), "do not lose");

    // A link to a folder: only the link goes.
    ASSERT_EQ(::symlink(at("outside").c_str(), at("dirlink").c_str()), 0);
    EXPECT_TRUE(FileManager::removeItem(at("dirlink")));
    EXPECT_FALSE(exists(at("dirlink")));
    EXPECT_EQ(get(at("outside/keep/precious.cbz")), "do not lose");

    std::error_code ec;
    EXPECT_FALSE(FileManager::removeItem(at("gone"), &ec));
    EXPECT_EQ(ec, std::errc::no_such_file_or_directory);
    EXPECT_FALSE(FileManager::removeItem("", &ec));
}

TEST_F(FileManagerTest, ListingShowsDotFilesAndLinksAsTheyAre) {
    makeTree(at("tree"));
    ASSERT_EQ(::symlink("nowhere", at("tree/dangling").c_str()), 0);
    ASSERT_EQ(::mkfifo(at("tree/pipe").c_str(), 0600), 0);

    auto names = FileManager::contentsOfDirectory(at("tree"));
    ASSERT_TRUE(names.has_value());
    EXPECT_EQ(*names, (std::vector<std::string>{".hidden", "dangling", "link", "one.txt", "pipe", "sub"}));

    auto entries = FileManager::entriesOfDirectory(at("tree"));
    ASSERT_TRUE(entries.has_value());
    std::vector<FileManager::DirectoryEntry> expected{
        {".hidden", FileType::Regular},     {"dangling", FileType::SymbolicLink}, {"link", FileType::SymbolicLink},
        {"one.txt", FileType::Regular},     {"pipe", FileType::Other},            {"sub", FileType::Directory},
    };
    EXPECT_EQ(*entries, expected);

    // Through a link to a folder, the folder is listed.
    EXPECT_EQ(*FileManager::contentsOfDirectory(at("tree/link")), (std::vector<std::string>{"two.txt"}));

    std::error_code ec;
    EXPECT_FALSE(FileManager::contentsOfDirectory(at("tree/missing"), &ec).has_value());
    EXPECT_EQ(ec, std::errc::no_such_file_or_directory);
    EXPECT_FALSE(FileManager::contentsOfDirectory(at("tree/one.txt"), &ec).has_value());
    EXPECT_EQ(ec, std::errc::not_a_directory);
    ASSERT_TRUE(FileManager::createDirectory(at("void"), false));
    EXPECT_TRUE(FileManager::contentsOfDirectory(at("void"))->empty());
}

TEST_F(FileManagerTest, ExistenceFollowsLinks) {
    makeTree(at("tree"));
    ASSERT_EQ(::symlink("nowhere", at("tree/dangling").c_str()), 0);
    bool isDir = false;
    EXPECT_TRUE(FileManager::fileExists(at("tree/link"), &isDir));
    EXPECT_TRUE(isDir);
    EXPECT_TRUE(FileManager::fileExists(at("tree/one.txt"), &isDir));
    EXPECT_FALSE(isDir);
    EXPECT_FALSE(FileManager::fileExists(at("tree/dangling"), &isDir));
    EXPECT_FALSE(FileManager::fileExists(""));
}

TEST_F(FileManagerTest, CreateDirectoryWithAndWithoutIntermediates) {
    std::error_code ec;
    EXPECT_FALSE(FileManager::createDirectory(at("a/b/c"), false, &ec));
    EXPECT_EQ(ec, std::errc::no_such_file_or_directory);
    EXPECT_TRUE(FileManager::createDirectory(at("a//b/c/"), true));
    bool isDir = false;
    EXPECT_TRUE(FileManager::fileExists(at("a/b/c"), &isDir) && isDir);
    EXPECT_TRUE(FileManager::createDirectory(at("a/b/c"), true));
    EXPECT_FALSE(FileManager::createDirectory(at("a/b/c"), false, &ec));
    EXPECT_EQ(ec, std::errc::file_exists);

    put(at("file"), "x");
    EXPECT_FALSE(FileManager::createDirectory(at("file/sub"), true, &ec));
    EXPECT_FALSE(FileManager::createDirectory(at("file"), true, &ec));
    EXPECT_EQ(ec, std::errc::not_a_directory);
}

TEST_F(FileManagerTest, WhatItMakesIsPrivateToTheUser) {
    // Whatever the umask lets through.
    const mode_t oldMask = ::umask(0);
    auto modeOf = [](const std::string& path) {
        struct stat st{};
        ::stat(path.c_str(), &st);
        return st.st_mode & 0777;
    };
    EXPECT_TRUE(FileManager::createDirectory(at("p/q/r"), true));
    for (const char* d : {"p", "p/q", "p/q/r"}) EXPECT_EQ(modeOf(at(d)), 0700u) << d;
    EXPECT_TRUE(FileManager::createDirectory(at("p/one"), false));
    EXPECT_EQ(modeOf(at("p/one")), 0700u);
    EXPECT_TRUE(FileManager::writeFile(at("p/whole.plist"), "x", true));
    EXPECT_TRUE(FileManager::writeFile(at("p/plain.log"), "x", false));
    EXPECT_EQ(modeOf(at("p/whole.plist")), 0600u);
    EXPECT_EQ(modeOf(at("p/plain.log")), 0600u);
    ::umask(oldMask);
}

TEST_F(FileManagerTest, SizesAndDates) {
    put(at("f"), "12345");
    ASSERT_EQ(::symlink("f", at("l").c_str()), 0);
    EXPECT_EQ(FileManager::fileSize(at("f")), 5u);
    EXPECT_EQ(FileManager::fileSize(at("l")), 5u);  // followed
    EXPECT_EQ(FileManager::attributesOfItem(at("l"))->type, FileType::SymbolicLink);
    EXPECT_EQ(FileManager::attributesOfItem(at("l"), true)->type, FileType::Regular);
    EXPECT_FALSE(FileManager::fileSize(at("none")).has_value());

    sys::Date before = sys::Date::now().dateByAddingTimeInterval(-5);
    auto created = FileManager::creationDate(at("f"));
    ASSERT_TRUE(created.has_value());
    EXPECT_GT(*created, before);

    ASSERT_TRUE(FileManager::setModificationDate(at("f"), sys::Date(-86400.25)));  // before 1970
    EXPECT_NEAR(FileManager::modificationDate(at("f"))->timeIntervalSince1970(), -86400.25, 1e-6);
    ASSERT_TRUE(FileManager::setModificationDate(at("f"), sys::Date(4102444800.75)));  // 2100
    EXPECT_NEAR(FileManager::modificationDate(at("f"))->timeIntervalSince1970(), 4102444800.75, 1e-6);
    EXPECT_FALSE(FileManager::setModificationDate(at("none"), sys::Date(0)));
    EXPECT_FALSE(FileManager::setModificationDate(at("f"), sys::Date(NAN)));
}

TEST_F(FileManagerTest, ReadAndWriteFiles) {
    std::string bytes("with\0nul", 8);
    EXPECT_TRUE(FileManager::writeFile(at("w"), bytes));
    EXPECT_EQ(FileManager::contentsOfFile(at("w")), bytes);
    EXPECT_TRUE(FileManager::writeFile(at("w"), "short", false));
    EXPECT_EQ(FileManager::contentsOfFile(at("w")), "short");

    std::error_code ec;
    EXPECT_FALSE(FileManager::contentsOfFile(at("w"), 4, &ec).has_value());
    EXPECT_EQ(ec, std::errc::file_too_large);
    EXPECT_FALSE(FileManager::contentsOfFile(dir.path(), 100, &ec).has_value());
    EXPECT_EQ(ec, std::errc::is_a_directory);
    EXPECT_EQ(*FileManager::contentsOfDirectory(dir.path()), (std::vector<std::string>{"w"}));

    // A pipe with no writer must not hang the reader.
    ASSERT_EQ(::mkfifo(at("pipe").c_str(), 0600), 0);
    EXPECT_FALSE(FileManager::contentsOfFile(at("pipe"), 100, &ec).has_value());
    EXPECT_EQ(ec, std::errc::invalid_argument);
}

TEST_F(FileManagerTest, BackupExclusionMark) {
    put(at("f"), "x");
    ASSERT_TRUE(FileManager::createDirectory(at("d"), false));
    std::error_code ec;
    if (!FileManager::setExcludedFromBackup(at("f"), true, &ec)) {
        if (ec == std::errc::not_supported || ec == std::errc::operation_not_supported)
            GTEST_SKIP() << "no user extended attributes on this file system";
        FAIL() << ec.message();
    }
    EXPECT_TRUE(FileManager::isExcludedFromBackup(at("f")));
    EXPECT_FALSE(FileManager::isExcludedFromBackup(at("d")));
    EXPECT_TRUE(FileManager::setExcludedFromBackup(at("d"), true));
    EXPECT_TRUE(FileManager::isExcludedFromBackup(at("d")));
    EXPECT_TRUE(FileManager::setExcludedFromBackup(at("f"), false));
    EXPECT_FALSE(FileManager::isExcludedFromBackup(at("f")));
    EXPECT_TRUE(FileManager::setExcludedFromBackup(at("f"), false));  // clearing twice is fine
    EXPECT_FALSE(FileManager::setExcludedFromBackup(at("none"), true, &ec));
    EXPECT_FALSE(FileManager::isExcludedFromBackup(at("none")));
}
