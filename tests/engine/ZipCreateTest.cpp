#include "engine/ZipCreate.h"

#include "foundation/QNTextEncoding.h"
#include "platform/core/FileManager.h"
#include "tests/support/TestHome.h"

#include <gtest/gtest.h>
#include <unzip.h>
#include <zlib.h>

#include <cstdio>
#include <fcntl.h>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

uint16_t le16(const std::string& b, size_t at) { return uint16_t(uint8_t(b[at]) | uint8_t(b[at + 1]) << 8); }
uint32_t le32(const std::string& b, size_t at) { return uint32_t(le16(b, at)) | uint32_t(le16(b, at + 2)) << 16; }

std::string slurp(const std::string& path) { return sys::FileManager::contentsOfFile(path).value_or(""); }

void put(const std::string& path, const std::string& bytes) {
    ASSERT_TRUE(sys::FileManager::writeFile(path, bytes, false)) << path;
}

// Output of a shell command, and its exit status.
std::string run(const std::string& cmd, int* status = nullptr) {
    std::string out;
    FILE* p = ::popen((cmd + " 2>&1").c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int rc = ::pclose(p);
    if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

// Every entry as minizip sees it: raw name bytes and contents.
std::vector<std::pair<std::string, std::string>> entries(const std::string& zip) {
    std::vector<std::pair<std::string, std::string>> out;
    unzFile uf = unzOpen64(zip.c_str());
    if (!uf) return out;
    for (int r = unzGoToFirstFile(uf); r == UNZ_OK; r = unzGoToNextFile(uf)) {
        char name[2048];
        unz_file_info64 info{};
        unzGetCurrentFileInfo64(uf, &info, name, sizeof name - 1, nullptr, 0, nullptr, 0);
        name[std::min<size_t>(info.size_filename, sizeof name - 1)] = 0;
        std::string data;
        if (unzOpenCurrentFile(uf) == UNZ_OK) {
            char buf[65536];
            for (int n; (n = unzReadCurrentFile(uf, buf, sizeof buf)) > 0;) data.append(buf, size_t(n));
            if (unzCloseCurrentFile(uf) != UNZ_OK) data = "<crc error>";
        }
        out.emplace_back(name, data);
    }
    unzClose(uf);
    return out;
}

class ZipCreateTest : public ::testing::Test {
protected:
    test::TempDir dir_{"zipcreate"};
    std::string base() { return dir_.path(); }
    std::string zip(const std::string& name = "book.zip") { return dir_.file(name); }
    bool haveInfoZip() { return test::haveProgram("unzip") && test::haveProgram("zipinfo"); }
};

}  // namespace

TEST_F(ZipCreateTest, EmptyListWritesOnlyTheEndRecord) {
    std::error_code ec;
    ASSERT_TRUE(ZipCreate::createZip(zip(), base(), {}, &ec)) << ec.message();
    const std::string z = slurp(zip());
    EXPECT_EQ(z, std::string("PK\x05\x06", 4) + std::string(18, '\0'));
    // A book of the library is the user's alone, whatever the umask.
    struct stat st {};
    ASSERT_EQ(::stat(zip().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(ZipCreateTest, StoredLayoutFieldByField) {
    put(dir_.file("a.jpg"), "abc");
    put(dir_.file("b.jpg"), "hello");
    ASSERT_TRUE(ZipCreate::createZip(zip(), base(), {"a.jpg", "b.jpg"}));
    const std::string z = slurp(zip());
    ASSERT_EQ(z.size(), 38u + 40u + 2 * 51u + 22u);

    // First local header at 0.
    EXPECT_EQ(le32(z, 0), 0x04034B50u);
    EXPECT_EQ(le16(z, 4), 10);
    EXPECT_EQ(le16(z, 6), 0);
    EXPECT_EQ(le16(z, 8), 0);
    EXPECT_EQ(le16(z, 10), 0x66BB);
    EXPECT_EQ(le16(z, 12), 0x28E7);
    EXPECT_EQ(le32(z, 14), 0x352441C2u);
    EXPECT_EQ(le32(z, 18), 3u);
    EXPECT_EQ(le32(z, 22), 3u);
    EXPECT_EQ(le16(z, 26), 5);
    EXPECT_EQ(le16(z, 28), 0);
    EXPECT_EQ(z.substr(30, 8), "a.jpgabc");
    // The second at 38.
    EXPECT_EQ(le32(z, 38), 0x04034B50u);
    EXPECT_EQ(le32(z, 38 + 14), uint32_t(crc32(0, reinterpret_cast<const Bytef*>("hello"), 5)));
    EXPECT_EQ(z.substr(38 + 30, 10), "b.jpghello");

    // Central directory at 78.
    const size_t cd = 78;
    EXPECT_EQ(le32(z, cd), 0x02014B50u);
    EXPECT_EQ(le16(z, cd + 4), 10);
    EXPECT_EQ(le16(z, cd + 6), 10);
    EXPECT_EQ(le16(z, cd + 12), 0x66BB);
    EXPECT_EQ(le16(z, cd + 14), 0x28E7);
    EXPECT_EQ(le32(z, cd + 16), 0x352441C2u);
    EXPECT_EQ(le32(z, cd + 20), 3u);
    EXPECT_EQ(le32(z, cd + 24), 3u);
    EXPECT_EQ(le16(z, cd + 28), 5);
    EXPECT_EQ(le16(z, cd + 30) + le16(z, cd + 32) + le16(z, cd + 34) + le16(z, cd + 36), 0);
    EXPECT_EQ(le32(z, cd + 38), 0u);
    EXPECT_EQ(le32(z, cd + 42), 0u);
    EXPECT_EQ(z.substr(cd + 46, 5), "a.jpg");
    EXPECT_EQ(le32(z, cd + 51 + 42), 38u);

    const size_t end = z.size() - 22;
    EXPECT_EQ(le32(z, end), 0x06054B50u);
    EXPECT_EQ(le16(z, end + 8), 2);
    EXPECT_EQ(le16(z, end + 10), 2);
    EXPECT_EQ(le32(z, end + 12), 102u);
    EXPECT_EQ(le32(z, end + 16), 78u);
    EXPECT_EQ(le16(z, end + 20), 0);
}

TEST_F(ZipCreateTest, InfoZipTestsAndUnpacksWhatWeWrite) {
    if (!haveInfoZip()) GTEST_SKIP() << "no unzip";
    // Pages of real sizes, one over the copy chunk, one empty, one in a folder.
    std::mt19937 rng(7);
    std::string big(3'000'001, '\0');
    for (auto& c : big) c = char(rng());
    ASSERT_TRUE(sys::FileManager::createDirectory(dir_.file("src/vol1"), true));
    put(dir_.file("src/001.jpg"), big);
    put(dir_.file("src/002.jpg"), "");
    put(dir_.file("src/vol1/003.jpg"), "third page");
    ASSERT_TRUE(ZipCreate::createZip(zip(), dir_.file("src"), {"001.jpg", "002.jpg", "vol1/003.jpg"}));

    int rc = 0;
    std::string out = run("unzip -t " + zip(), &rc);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_NE(out.find("No errors detected"), std::string::npos) << out;
    std::string listing = run("zipinfo -1 " + zip(), &rc);
    EXPECT_EQ(listing, "001.jpg\n002.jpg\nvol1/003.jpg\n");
    std::string verbose = run("zipinfo -v " + zip(), &rc);
    EXPECT_NE(verbose.find("compression method:                             none (stored)"), std::string::npos)
        << verbose;

    ASSERT_EQ(run("cd " + dir_.path() + " && mkdir out && cd out && unzip -q ../book.zip", &rc), "");
    EXPECT_EQ(slurp(dir_.file("out/001.jpg")), big);
    EXPECT_EQ(slurp(dir_.file("out/002.jpg")), "");
    EXPECT_EQ(slurp(dir_.file("out/vol1/003.jpg")), "third page");
}

TEST_F(ZipCreateTest, NamesAreShiftJISEvenWithA5CSecondByteElseUTF8) {
    // ソ is 0x83 0x5C and 表 0x95 0x5C: their second byte is a backslash.
    const std::vector<std::string> names = {"ソ.jpg", "表紙.jpg", "第1巻/ソース.jpg", "한국어.jpg"};
    ASSERT_TRUE(sys::FileManager::createDirectory(dir_.file("src/第1巻"), true));
    for (size_t i = 0; i < names.size(); ++i) put(dir_.file("src/" + names[i]), "page " + std::to_string(i));
    ASSERT_TRUE(ZipCreate::createZip(zip(), dir_.file("src"), names));

    auto got = entries(zip());
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0].first, "\x83\x5C.jpg");
    EXPECT_EQ(got[1].first, "\x95\x5C\x8E\x86.jpg");
    EXPECT_EQ(got[2].first, *QNTextEncoding::dataWithString("第1巻/ソース.jpg", "shift_jis"));
    EXPECT_EQ(got[3].first, "한국어.jpg") << "no Shift-JIS form: UTF-8 as it is";
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(got[i].second, "page " + std::to_string(i)) << i;

    if (!haveInfoZip()) return;
    int rc = 0;
    std::string out = run("unzip -t " + zip(), &rc);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_NE(out.find("No errors detected in compressed data"), std::string::npos) << out;
    std::string listing = run("zipinfo -1 " + zip(), &rc);
    EXPECT_EQ(rc, 0) << listing;
    EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 4) << listing;
}

TEST_F(ZipCreateTest, UnreadableSourceIsStoredAsOneBlankByte) {
    put(dir_.file("ok.jpg"), "fine");
    ASSERT_TRUE(sys::FileManager::createDirectory(dir_.file("folder.jpg"), false));
    ASSERT_TRUE(ZipCreate::createZip(zip(), base(), {"ok.jpg", "missing.jpg", "folder.jpg"}));
    auto got = entries(zip());
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0], (std::pair<std::string, std::string>{"ok.jpg", "fine"}));
    EXPECT_EQ(got[1], (std::pair<std::string, std::string>{"missing.jpg", " "}));
    EXPECT_EQ(got[2], (std::pair<std::string, std::string>{"folder.jpg", " "}));
    if (haveInfoZip()) {
        int rc = 0;
        std::string out = run("unzip -t " + zip(), &rc);
        EXPECT_EQ(rc, 0) << out;
    }
}

TEST_F(ZipCreateTest, NeverOverwritesAnExistingArchive) {
    put(dir_.file("a.jpg"), "abc");
    put(zip(), "someone's archive");
    std::error_code ec;
    EXPECT_FALSE(ZipCreate::createZip(zip(), base(), {"a.jpg"}, &ec));
    EXPECT_EQ(ec, std::errc::file_exists);
    EXPECT_EQ(slurp(zip()), "someone's archive");
    EXPECT_FALSE(ZipCreate::createZip(dir_.file("no/such/folder/x.zip"), base(), {"a.jpg"}, &ec));
    EXPECT_EQ(ec, std::errc::no_such_file_or_directory);
}

TEST_F(ZipCreateTest, WriteErrorsFailAndLeaveNoHalfArchive) {
    std::string page(200'000, 'p');
    put(dir_.file("page.jpg"), page);
    // A child process whose files may not grow past 100 kB: the write fails
    // half-way, as on a full disk.
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim {100'000, 100'000};
        ::setrlimit(RLIMIT_FSIZE, &lim);
        std::error_code ec;
        bool ok = ZipCreate::createZip(zip(), base(), {"page.jpg"}, &ec);
        ::_exit(ok ? 0 : ec == std::errc::file_too_large ? 3 : 4);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3) << "the write error is reported";
    EXPECT_FALSE(sys::FileManager::fileExists(zip())) << "no half-written archive is left";
}

TEST_F(ZipCreateTest, WhatTheClassicFormatCannotHoldIsRefusedUpFront) {
    std::error_code ec;
    // Entry count: 65,535 fits, one more does not (names of missing files are
    // cheap: each becomes a blank byte).
    std::vector<std::string> many;
    for (int i = 0; i < 65'536; ++i) many.push_back(std::to_string(i));
    EXPECT_FALSE(ZipCreate::createZip(zip("many.zip"), base(), many, &ec));
    EXPECT_EQ(ec, std::errc::argument_list_too_long);
    EXPECT_FALSE(sys::FileManager::fileExists(zip("many.zip")));
    many.pop_back();
    ASSERT_TRUE(ZipCreate::createZip(zip("max.zip"), base(), many, &ec)) << ec.message();
    unzFile uf = unzOpen64(zip("max.zip").c_str());
    ASSERT_NE(uf, nullptr);
    unz_global_info64 gi{};
    ASSERT_EQ(unzGetGlobalInfo64(uf, &gi), UNZ_OK);
    EXPECT_EQ(gi.number_entry, 65'535u);
    ASSERT_EQ(unzLocateFile(uf, "65534", 1), UNZ_OK);
    unzClose(uf);

    // Size: sparse sources, nothing is read before the refusal. With its
    // 92 bytes of headers and name, 4,294,967,202 bytes is the largest
    // "huge.jpg" the last 32-bit offset can still hold.
    for (uint64_t size : {uint64_t(4) << 30, uint64_t(4'294'967'203)}) {
        int fd = ::open(dir_.file("huge.jpg").c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, off_t(size)), 0);
        ::close(fd);
        EXPECT_FALSE(ZipCreate::createZip(zip("huge.zip"), base(), {"huge.jpg"}, &ec)) << size;
        EXPECT_EQ(ec, std::errc::file_too_large);
        EXPECT_FALSE(sys::FileManager::fileExists(zip("huge.zip")));
    }
    // Two that fit alone but not together.
    for (const char* n : {"half1.jpg", "half2.jpg"}) {
        int fd = ::open(dir_.file(n).c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
        ASSERT_EQ(::ftruncate(fd, off_t(2200) << 20), 0);
        ::close(fd);
    }
    EXPECT_FALSE(ZipCreate::createZip(zip("two.zip"), base(), {"half1.jpg", "half2.jpg"}, &ec));
    EXPECT_EQ(ec, std::errc::file_too_large);

    // A name of more than 1,023 bytes.
    std::string longName;
    while (longName.size() < 1020) longName += "dir/";
    EXPECT_FALSE(ZipCreate::createZip(zip("long.zip"), base(), {longName + "p.jpg"}, &ec));
    EXPECT_EQ(ec, std::errc::filename_too_long);
    EXPECT_FALSE(sys::FileManager::fileExists(zip("long.zip")));
}

TEST_F(ZipCreateTest, NamesMustStayInsideTheBaseFolder) {
    put(dir_.file("a.jpg"), "abc");
    std::error_code ec;
    for (std::string bad : {"../a.jpg", "/etc/passwd", "x/../../a.jpg", "", "./a.jpg", "a//b.jpg"}) {
        EXPECT_FALSE(ZipCreate::createZip(zip(), base(), {"a.jpg", bad}, &ec)) << bad;
        EXPECT_EQ(ec, std::errc::invalid_argument) << bad;
        EXPECT_FALSE(sys::FileManager::fileExists(zip())) << bad;
    }
}
