// LIST lines as real servers write them (kept under tests/data/ftp-list):
// Unix ls -l from vsftpd, ProFTPD and Pure-FTPd, IIS's DOS style, EPLF,
// MLSD facts and VMS, read into item dictionaries.
#include "remote/protocols/FtpListParser.h"
#include "remote/protocols/FtpListRead.h"

#include "platform/core/Date.h"
#include "tests/support/TestHome.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

namespace {

// 2026-12-07 12:00 UTC: "today" for the dates listed without a year.
double fixedNow() { return 1796644800.0; }

int64_t secondsOf(int y, int m, int d, int h, int mi, int s) {
    struct tm t {};
    t.tm_year = y - 1900;
    t.tm_mon = m - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = s;
    return int64_t(timegm(&t));
}

// Listed wall times are taken as universal time (as vsftpd and pyftpdlib list them).
int64_t listed(int y, int m, int d, int h, int mi, int s = 0) { return secondsOf(y, m, d, h, mi, s); }

struct Item {
    int64_t size = 0, date = 0;
    bool isFolder = false;
};

class FtpListParserTest : public ::testing::Test {
protected:
    void SetUp() override { sys::Date::setNowSource(&fixedNow); }
    void TearDown() override { sys::Date::setNowSource(nullptr); }

    // Every line of a sample that reads, by name; the style of the listing.
    std::map<std::string, Item> read(const std::string& file, int* style = nullptr) {
        std::ifstream in(test::dataPath("ftp-list/" + file), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        const std::string text = ss.str();
        if (style) *style = ftpListDetectStyle(text.c_str());
        std::map<std::string, Item> out;
        for (size_t b = 0; b < text.size();) {
            size_t e = text.find('\n', b);
            e = e == std::string::npos ? text.size() : e + 1;
            const auto d = FtpListRead::GetFileListWithFtpListData(text.substr(b, e - b));
            b = e;
            if (!d) continue;
            EXPECT_TRUE(d->contains("name"));
            out[d->getString("name")] = {d->getInteger("size"), d->getInteger("date"), d->getBool("isFolder")};
        }
        return out;
    }
};

TEST_F(FtpListParserTest, UnixListingsWithBothDateForms) {
    int style = 0;
    auto items = read("unix.txt", &style);
    EXPECT_EQ(style, kFtpListStyleUnix) << "the \"total\" line does not decide the style";
    ASSERT_EQ(items.size(), 8u);

    EXPECT_TRUE(items["Comics"].isFolder);
    EXPECT_EQ(items["Comics"].date, listed(2019, 3, 5, 0, 0));
    EXPECT_FALSE(items["epoch.cbz"].isFolder);
    EXPECT_EQ(items["epoch.cbz"].size, 1048576);
    EXPECT_EQ(items["epoch.cbz"].date, 0);
    // Without a year: this year, unless the date lies ahead of today.
    EXPECT_EQ(items["recent.zip"].date, listed(2026, 12, 1, 9, 30));
    EXPECT_EQ(items["last christmas.cbz"].date, listed(2025, 12, 25, 10, 0));
    // A link is listed under its own name, as a file.
    ASSERT_TRUE(items.count("link.cbz"));
    EXPECT_FALSE(items["link.cbz"].isFolder);
    // Sizes past 32 bits, spaces inside names, no group column, ACL marks.
    EXPECT_EQ(items["two  words.cbr"].size, 52428800000LL);
    EXPECT_EQ(items["two  words.cbr"].date, listed(2020, 2, 29, 0, 0));
    EXPECT_EQ(items["nogroup.pdf"].size, 12345);
    EXPECT_TRUE(items["acl folder"].isFolder);

    int flags = 0;
    char name[64];
    EXPECT_EQ(ftpListParseLine("lrwxrwxrwx 1 0 0 11 Apr 10  2021 link.cbz -> target.cbz", kFtpListStyleUnix, name,
                               sizeof name, nullptr, nullptr, &flags),
              1);
    EXPECT_EQ(flags, kFtpListFlagLink);
}

TEST_F(FtpListParserTest, DosEplfMlsdAndVmsListings) {
    int style = 0;
    auto dos = read("dos.txt", &style);
    EXPECT_EQ(style, kFtpListStyleDos);
    ASSERT_EQ(dos.size(), 5u);
    EXPECT_TRUE(dos["Comics"].isFolder);
    EXPECT_EQ(dos["Comics"].date, listed(2019, 3, 5, 10, 15));
    EXPECT_EQ(dos["book one.cbz"].size, 1048576);
    EXPECT_EQ(dos["book one.cbz"].date, listed(2020, 1, 31, 23, 59));
    EXPECT_EQ(dos["noon.zip"].date, listed(1999, 12, 1, 12, 0));
    EXPECT_EQ(dos["midnight.zip"].date, listed(1999, 12, 1, 0, 0));
    EXPECT_EQ(dos["iso date.cb7"].size, 2048);
    EXPECT_EQ(dos["iso date.cb7"].date, listed(2021, 7, 4, 13, 5));
    // Midnight listed on 1970-01-01 is the epoch itself.
    auto epoch = FtpListRead::GetFileListWithFtpListData("01-01-70  12:00AM  100 x.zip\r\n");
    ASSERT_TRUE(epoch);
    EXPECT_EQ(epoch->getInteger("date"), 0);

    // EPLF and MLSD give universal time.
    auto eplf = read("eplf.txt", &style);
    EXPECT_EQ(style, kFtpListStyleEplf);
    EXPECT_TRUE(eplf["Comics"].isFolder);
    EXPECT_EQ(eplf["book.cbz"].size, 10376);
    EXPECT_EQ(eplf["book.cbz"].date, 839956783);

    auto mlsd = read("mlsd.txt", &style);
    EXPECT_EQ(style, kFtpListStyleMlsd);
    EXPECT_TRUE(mlsd["Comics"].isFolder);
    EXPECT_TRUE(mlsd["."].isFolder) << "the folder entries stay for the listing to drop";
    EXPECT_EQ(mlsd["book with spaces.cbz"].size, 52428800);
    EXPECT_EQ(mlsd["book with spaces.cbz"].date, secondsOf(2021, 3, 4, 5, 6, 7));
    EXPECT_EQ(mlsd["epoch.zip"].date, 0) << "fact names in any case";
    // A size fact is optional: a line without one tells no size (not 0 bytes).
    for (const char* line : {"type=file;modify=20210304050607; nosize.cbz\r\n", "+i8388621.1,m839956783,r,\tnosize.cbz\r\n"}) {
        auto noSize = FtpListRead::GetFileListWithFtpListData(line);
        ASSERT_TRUE(noSize) << line;
        EXPECT_EQ(noSize->getString("name"), "nosize.cbz");
        EXPECT_FALSE(noSize->contains("size")) << line;
    }
    // An empty file says size=0: a size of 0 bytes, not an unknown one.
    for (const char* line : {"type=file;size=0;modify=20210304050607; empty.cbz\r\n", "+i8388621.1,m839956783,s0,r,\tempty.cbz\r\n"}) {
        auto empty = FtpListRead::GetFileListWithFtpListData(line);
        ASSERT_TRUE(empty) << line;
        EXPECT_EQ(empty->getString("name"), "empty.cbz");
        EXPECT_EQ(empty->getInteger("size", -1), 0) << line;
    }
    // A date cut short is no date, and reads nothing past its end.
    std::optional<sys::PlistDictionary> shortDate;
    EXPECT_NO_THROW(shortDate = FtpListRead::GetFileListWithFtpListData("modify=2024;type=file; a.cbz\r\n"));
    const auto undated = FtpListRead::GetFileListWithFtpListData("type=file; a.cbz\r\n");
    ASSERT_TRUE(shortDate && undated);
    EXPECT_EQ(shortDate->getString("name"), "a.cbz");
    EXPECT_FALSE(shortDate->getBool("isFolder"));
    EXPECT_EQ(shortDate->getInteger("date"), undated->getInteger("date"));
    // A stamp with a field out of its range is no date either (it is not
    // carried over into the next month, day or hour); the last valid one is.
    for (const char* stamp : {"20211301000000", "20210132000000", "20210101240000", "20210101006000",
                              "20210101000061"}) {
        const auto bad = FtpListRead::GetFileListWithFtpListData("type=file;modify=" + std::string(stamp) + "; a.cbz\r\n");
        ASSERT_TRUE(bad) << stamp;
        EXPECT_EQ(bad->getInteger("date"), undated->getInteger("date")) << stamp;
    }
    const auto last = FtpListRead::GetFileListWithFtpListData("type=file;modify=20211231235959; a.cbz\r\n");
    ASSERT_TRUE(last);
    EXPECT_EQ(last->getInteger("date"), secondsOf(2021, 12, 31, 23, 59, 59));
    auto folder = FtpListRead::GetFileListWithFtpListData("type=dir;modify=20210304050607; Comics\r\n");
    ASSERT_TRUE(folder);
    EXPECT_FALSE(folder->contains("size"));
    EXPECT_FALSE(mlsd["epoch.zip"].isFolder);

    auto vms = read("vms.txt", &style);
    EXPECT_EQ(style, kFtpListStyleVms);
    EXPECT_TRUE(vms["COMICS"].isFolder);
    EXPECT_EQ(vms["BOOK.CBZ"].size, 2048 * 512);
    EXPECT_EQ(vms["BOOK.CBZ"].date, listed(2020, 1, 31, 23, 59));
}

TEST_F(FtpListParserTest, LinesThatAreNoEntries) {
    int style = 0;
    EXPECT_TRUE(read("junk.txt", &style).empty());
    EXPECT_EQ(style, -1);
    EXPECT_EQ(ftpListDetectStyle("total 0\r\n226 Transfer complete\r\n"), -1);
    EXPECT_EQ(ftpListDetectStyle(""), -1);
    EXPECT_EQ(ftpListDetectStyle(nullptr), -1);
    char name[16];
    EXPECT_EQ(ftpListParseLine("drwxr-xr-x 2 0 0 4096 Mar 05  2019 x", kFtpListStyleDos, name, sizeof name, nullptr,
                               nullptr, nullptr),
              -1)
        << "a line read in another style";
    EXPECT_EQ(ftpListParseLine("drwxr-xr-x 2 0 0 4096 Mar 05  2019 x", 40, name, sizeof name, nullptr, nullptr,
                               nullptr),
              -1);
}

TEST_F(FtpListParserTest, NamesAreCutAtCharactersAndCheckedForUtf8) {
    // "漫画本.cbz": the buffer holds "漫画" and not half of "本".
    const std::string line = "-rw-r--r-- 1 ftp ftp 10 Jan 01  2020 \xE6\xBC\xAB\xE7\x94\xBB\xE6\x9C\xAC.cbz";
    char name[9];
    std::memset(name, 'X', sizeof name);
    EXPECT_EQ(ftpListParseLine(line.c_str(), kFtpListStyleUnix, name, sizeof name, nullptr, nullptr, nullptr), 1);
    EXPECT_STREQ(name, "\xE6\xBC\xAB\xE7\x94\xBB");

    const char* s = "\xE6\xBC\xAB" "a";
    EXPECT_EQ(FtpListNextChar(s), s + 3);
    EXPECT_EQ(FtpListNextChar(s + 3), s + 4);
    const char* bad = "\xE6\x41";
    EXPECT_EQ(FtpListNextChar(bad), bad + 1);

    // A name that is not UTF-8 gives an item without keys.
    auto item = FtpListRead::GetFileListWithFtpListData("-rw-r--r-- 1 ftp ftp 10 Jan 01  2020 \x8A\xBF.zip\r\n");
    ASSERT_TRUE(item);
    EXPECT_FALSE(item->contains("name"));
    EXPECT_FALSE(FtpListRead::GetFileListWithFtpListData("226 Transfer complete\r\n"));
}

}  // namespace
