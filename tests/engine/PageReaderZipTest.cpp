// The zip reader on archives made by real tools (Info-ZIP zip, 7-Zip,
// Python's zipfile) and by our own writer, on a local disk.
#include "engine/PageReaderZip.h"

#include "engine/BookReaderEx.h"
#include "engine/ExtractedEntryFile.h"
#include "engine/ZipArchive.h"
#include "engine/ZipCreate.h"
#include "foundation/ArraySort.h"
#include "foundation/QNTextEncoding.h"
#include "platform/core/FileManager.h"
#include "tests/engine/ArchiveReaderFixture.h"
#include "tests/engine/BookSessionFixture.h"
#include "tests/engine/BookTestPages.h"
#include "tests/support/TestHome.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

using test::colourNear;
using test::readFile;
using test::pageColour;

uint32_t le16(const std::string& b, size_t at) { return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8; }

// Where the data of the entry whose local header starts at `header` begins.
size_t dataOffset(const std::string& zip, size_t header) {
    EXPECT_EQ(zip.compare(header, 4, "PK\x03\x04"), 0);
    return header + 30 + le16(zip, header + 26) + le16(zip, header + 28);
}

class ZipReaderTest : public test::ArchiveReaderFixture<PageReaderZip> {
protected:
    ZipReaderTest() : ArchiveReaderFixture("zip", "zip") {}
};

TEST_F(ZipReaderTest, PagesOfADeflatedAndAStoredZipInNaturalOrder) {
    page("p10.bmp", 2);
    page("p2.bmp", 1);
    page("p1.bmp", 0);
    page(".hidden.bmp", 5);
    page("__MACOSX/._p1.bmp", 6);
    text("notes.txt", "not a page");
    const std::string files = " p10.bmp .hidden.bmp p2.bmp __MACOSX/._p1.bmp notes.txt p1.bmp";
    for (const char* options : {"-q", "-q -0"}) {
        SCOPED_TRACE(options);
        const std::string zip = out.file(std::string("book") + (std::string(options).size() > 2 ? "-stored" : "") + ".cbz");
        ASSERT_TRUE(test::runIn(src.path(), std::string("zip ") + options + " '" + zip + "'" + files));
        auto r = open(zip);
        EXPECT_EQ(test::pageNamesOf(*r), (std::vector<std::string>{"p1.bmp", "p2.bmp", "p10.bmp"}));
        // Numbered in the archive's order, then sorted along with the names.
        EXPECT_EQ(r->getGlobalPageNoList(), (std::vector<int32_t>{2, 1, 0}));
        EXPECT_FALSE(r->isStreamPage());
        for (int i = 0; i < 3; ++i) expectPage(*r, i, i);
        EXPECT_EQ(resultOf(*r, 3), PageReader::kResultFailed);
        EXPECT_EQ(resultOf(*r, -1), PageReader::kResultFailed);
        EXPECT_FALSE(r->isIncludeArchive());
        // Only the resource fork lies in a folder, and it is never looked at.
        EXPECT_FALSE(r->isIncludeFolder());
        EXPECT_FALSE(r->getFolderList(false).has_value());
        r->closeFile();
        EXPECT_TRUE(r->getPageNameList().empty());
        EXPECT_EQ(resultOf(*r, 0), 2) << "nothing open";
    }
}

TEST_F(ZipReaderTest, RealPhotosDecodeAndARarThatIsAZipOpensInTheSession) {
    for (const char* name : {"01.jpg", "06.png", "08.jpg"})
        ASSERT_TRUE(sys::FileManager::copyItem(test::dataPath(std::string("pages/") + name), src.file(name)));
    ASSERT_TRUE(test::runIn(src.path(), "zip -q '" + out.file("photos.rar") + "' 01.jpg 06.png 08.jpg"));
    auto r = open(out.file("photos.rar"));
    ASSERT_EQ(r->getPageNameList().size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(resultOf(*r, i), PageReader::kResultImage);

    auto session = std::make_shared<BookReaderEx>();
    ASSERT_TRUE(session->openBookWithName(out.file("photos.rar"), {}, std::nullopt, std::nullopt, std::nullopt, false,
                                          false));
    EXPECT_EQ(session->readerKind(), BookReaderEx::ReaderKind::Zip);
    EXPECT_EQ(session->getPageNum(), 3);
    EXPECT_EQ(session->getPageFilename(1), std::string("06.png", 7));
    auto original = session->getOriginalImage(1);
    ASSERT_TRUE(original);
    EXPECT_GT(original->width(), 0);
    session->closeBook();
}

TEST_F(ZipReaderTest, TargetFolderListsOnlyItsPagesWithGlobalNumbersOfTheWholeArchive) {
    page("vol1/a.bmp", 0);
    page("vol1/b.bmp", 1);
    page("vol2/a.bmp", 2);
    page("vol2/b.bmp", 3);
    page("vol2/c.bmp", 4);
    const std::string zip = out.file("volumes.zip");
    ASSERT_TRUE(test::runIn(src.path(), "zip -q '" + zip + "' vol1/a.bmp vol1/b.bmp vol2/a.bmp vol2/b.bmp vol2/c.bmp"));

    auto r = open(zip, std::nullopt, std::string("vol2"));
    EXPECT_EQ(test::pageNamesOf(*r), (std::vector<std::string>{"vol2/a.bmp", "vol2/b.bmp", "vol2/c.bmp"}));
    EXPECT_EQ(r->getGlobalPageNoList(), (std::vector<int32_t>{2, 3, 4}));
    for (int i = 0; i < 3; ++i) expectPage(*r, i, 2 + i);
    EXPECT_EQ(r->getFolderList(false), (std::vector<std::string>{"vol1", "vol2"}));
    // Folders of images only show in the check, not in the open's flag.
    EXPECT_FALSE(r->isIncludeFolder());
    EXPECT_EQ(r->getFolderList(true), (std::vector<std::string>{"vol1"})) << "the first find only";
    EXPECT_FALSE(r->getArchiveList(false).has_value());

    auto all = open(zip);
    EXPECT_EQ(all->getPageNameList().size(), 5u);
    EXPECT_TRUE(open(zip, std::nullopt, std::string("vol3"))->getPageNameList().empty())
        << "an unknown folder opens with no page";

    EXPECT_EQ(PageReaderZip::getFolderList(zip, false, {}, "", "", nullptr, {}),
              (std::vector<std::string>{"vol1", "vol2"}));
    EXPECT_EQ(BookReaderEx::getFolderList(zip, false, {}, "", "", nullptr, {}),
              (std::vector<std::string>{"vol1", "vol2"}));
}

TEST_F(ZipReaderTest, PasswordsOfZipAnd7zipWithTheRightTheWrongAndNone) {
    page("p1.bmp", 0);
    page("p2.bmp", 1);
    ASSERT_TRUE(test::runIn(src.path(), "zip -q -P secret '" + out.file("deflate.zip") + "' p1.bmp p2.bmp"));
    ASSERT_TRUE(test::runIn(src.path(), "zip -q -0 -P secret '" + out.file("stored.zip") + "' p1.bmp p2.bmp"));
    std::vector<std::string> zips{out.file("deflate.zip"), out.file("stored.zip")};
    if (test::haveProgram("7z")) {
        ASSERT_TRUE(test::runIn(src.path(), "7z a -tzip -psecret -mem=ZipCrypto '" + out.file("7z.zip") + "' p1.bmp p2.bmp"));
        zips.push_back(out.file("7z.zip"));
    }
    for (const auto& zip : zips) {
        SCOPED_TRACE(zip);
        EXPECT_EQ(resultOf(*open(zip), 0), PageReader::kResultPassword) << "no password";
        EXPECT_EQ(resultOf(*open(zip, std::string("Secret")), 0), PageReader::kResultPassword) << "wrong password";
        EXPECT_EQ(resultOf(*open(zip, std::string("")), 1), PageReader::kResultPassword) << "empty password";
        auto r = open(zip, std::string("secret"));
        expectPage(*r, 0, 0);
        expectPage(*r, 1, 1);
    }
    // A password that cannot be typed in Shift-JIS opens nothing; asking
    // again would not help.
    EXPECT_EQ(resultOf(*open(out.file("deflate.zip"), std::string("s\xC3\xA9" "cret")), 0), PageReader::kResultFailed);
}

TEST_F(ZipReaderTest, AJapanesePasswordIsUsedInItsShiftJisForm) {
    page("p1.bmp", 3);
    // 日本 in Shift-JIS, the bytes a Japanese system's zip tool stores.
    ASSERT_TRUE(test::runIn(src.path(), "zip -q -P \"$(printf '\\223\\372\\226\\173')\" '" + out.file("ja.zip") + "' p1.bmp"));
    expectPage(*open(out.file("ja.zip"), std::string("日本")), 0, 3);
    EXPECT_EQ(resultOf(*open(out.file("ja.zip"), std::string("日")), 0), PageReader::kResultPassword);
}

TEST_F(ZipReaderTest, StrongEncryptionThatCannotBeReadFailsCleanly) {
    page("p1.bmp", 0);
    page("p2.bmp", 1);
    ASSERT_TRUE(test::runIn(src.path(), "zip -q -P secret '" + out.file("locked.zip") + "' p1.bmp p2.bmp"));
    // PKWARE's strong encryption (flag bit 6) on the second entry: its
    // records are read like any other, its bytes never.
    std::string zip = readFile(out.file("locked.zip"));
    const size_t eocd = zip.rfind("PK\x05\x06");
    size_t central = le16(zip, eocd + 16) | size_t(le16(zip, eocd + 18)) << 16;
    central += 46 + le16(zip, central + 28) + le16(zip, central + 30) + le16(zip, central + 32);
    ASSERT_EQ(zip.compare(central, 4, "PK\x01\x02"), 0);
    const size_t local = le16(zip, central + 42) | size_t(le16(zip, central + 44)) << 16;
    zip[central + 8] = char(zip[central + 8] | 0x40);
    zip[local + 6] = char(zip[local + 6] | 0x40);
    ASSERT_TRUE(sys::FileManager::writeFile(out.file("strong.zip"), zip, false));
    auto r = open(out.file("strong.zip"), std::string("secret"));
    ASSERT_EQ(r->getPageNameList().size(), 2u);
    expectPage(*r, 0, 0);
    // Never the enciphered bytes handed on as if they were the page, and
    // never a password question that no password can answer.
    EXPECT_EQ(resultOf(*r, 1), PageReader::kResultFailed);
    EXPECT_EQ(resultOf(*open(out.file("strong.zip")), 1), PageReader::kResultFailed);
}

TEST_F(ZipReaderTest, ShiftJisNamesFromOurOwnWriter) {
    // ソ is 0x83 0x5C and 表 is 0x95 0x5C: their second byte is a backslash.
    const std::vector<std::string> names{"ソ表紙.bmp", "表/01.bmp", "表/02.bmp"};
    for (size_t i = 0; i < names.size(); ++i) page(names[i], int(i));
    text("ソ", "a file whose name ends in 0x5C");
    std::vector<std::string> list = names;
    list.push_back("ソ");
    ASSERT_TRUE(ZipCreate::createZip(out.file("sjis.zip"), src.path(), list));

    auto r = open(out.file("sjis.zip"));
    std::vector<std::string> sjis;
    for (const auto& n : names) sjis.push_back(*QNTextEncoding::dataWithString(n, QNTextEncoding::kShiftJIS));
    ASSERT_EQ(sjis[0].substr(0, 2), "\x83\x5C");
    auto got = test::pageNamesOf(*r);
    ASSERT_EQ(got.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        auto at = std::find(got.begin(), got.end(), sjis[i]);
        ASSERT_NE(at, got.end()) << "names keep their stored bytes";
        expectPage(*r, int(at - got.begin()), int(i));
    }
    // The folder reads as text; the file "ソ" is neither a folder nor a directory.
    EXPECT_EQ(r->getFolderList(false), (std::vector<std::string>{"表"}));
    EXPECT_FALSE(PageReaderZip::isDirectoryEntry("\x95\x5C"));
    EXPECT_FALSE(PageReaderZip::isDirectoryEntry("\x95\x5C.bmp\x83\x5C"));
    EXPECT_TRUE(PageReaderZip::isDirectoryEntry("a\\"));
    EXPECT_TRUE(PageReaderZip::isDirectoryEntry("ab/"));
    EXPECT_FALSE(PageReaderZip::isDirectoryEntry("/"));
    EXPECT_FALSE(PageReaderZip::isDirectoryEntry("ab"));
}

TEST_F(ZipReaderTest, LongNamesAreFoundAndOverlongOnesCutAndTerminated) {
    const std::string deep = std::string(150, 'a') + "/" + std::string(150, 'b') + "/page.bmp";
    page(deep, 4);
    page("short.bmp", 2);
    ASSERT_TRUE(test::runIn(src.path(), "zip -q -r '" + out.file("long.zip") + "' ."));
    auto r = open(out.file("long.zip"));
    ASSERT_EQ(test::pageNamesOf(*r), (std::vector<std::string>{deep, "short.bmp"}));
    // The library's lookup by name stops at 255 bytes; ours does not look up.
    expectPage(*r, 0, 4);
    expectPage(*r, 1, 2);

    // A name of 6,000 bytes (Python writes what it is given).
    const std::string huge = std::string(6000, 'n') + ".bmp";
    ASSERT_TRUE(test::runIn(out.path(), "python3 -c \"import zipfile; z=zipfile.ZipFile('huge.zip','w'); "
                                "z.writestr('" + huge + "', b'x'); z.writestr('ok.bmp', open('" +
                                    src.file("short.bmp") + "','rb').read()); z.close()\""));
    auto h = open(out.file("huge.zip"));
    EXPECT_EQ(test::pageNamesOf(*h), (std::vector<std::string>{"ok.bmp"})) << "the cut name is no image name";
    auto archive = ZipArchive::openFile(out.file("huge.zip"));
    ASSERT_TRUE(archive);
    ASSERT_EQ(archive->goToFirst(), ZipArchive::Step::Ok);
    ZipArchive::Entry e;
    ASSERT_TRUE(archive->current(e));
    EXPECT_TRUE(e.isNameTruncated);
    EXPECT_EQ(e.name, huge.substr(0, ZipArchive::kNameBufferBytes - 1));
}

TEST_F(ZipReaderTest, BrokenAndLyingEntriesNeverPassAsPages) {
    page("a.bmp", 0);
    page("b.bmp", 1);
    ASSERT_TRUE(test::runIn(src.path(), "zip -q -0 '" + out.file("stored.zip") + "' a.bmp b.bmp"));
    const std::string good = readFile(out.file("stored.zip"));
    const size_t data = dataOffset(good, 0);
    ASSERT_EQ(good.compare(data, 2, "BM"), 0);

    // One pixel changed in the stored data: the CRC says so at the end.
    std::string flipped = good;
    flipped[data + 100] ^= 0x55;
    ASSERT_TRUE(sys::FileManager::writeFile(out.file("flipped.zip"), flipped, false));
    auto r = open(out.file("flipped.zip"));
    EXPECT_EQ(resultOf(*r, 0), PageReader::kResultFailed);
    { SCOPED_TRACE("flipped"); expectPage(*r, 1, 1); }

    // Sizes that claim 4 GiB in both headers: refused before anything is read.
    std::string bomb = good;
    for (size_t at = 0; (at = bomb.find("a.bmp", at)) != std::string::npos; at += 5) {
        const bool central = at >= 46 && bomb.compare(at - 46, 4, "PK\x01\x02") == 0;
        const size_t sizeField = central ? at - 46 + 24 : at - 30 + 22;
        bomb.replace(sizeField, 4, "\xF0\xFF\xFF\xFF");
    }
    ASSERT_TRUE(sys::FileManager::writeFile(out.file("bomb.zip"), bomb, false));
    r = open(out.file("bomb.zip"));
    EXPECT_EQ(resultOf(*r, 0), PageReader::kResultFailed);
    { SCOPED_TRACE("bomb"); expectPage(*r, 1, 1); }

    // A page that truly is 300 MiB (a picture followed by zeros, deflated
    // small): over the page limit, it is refused, not read whole into memory
    // and shown.
    page("c.bmp", 2);
    ASSERT_EQ(test::shell("head -c " + std::to_string(300u << 20) + " /dev/zero >> '" + src.file("c.bmp") + "'"), 0);
    ASSERT_TRUE(test::runIn(src.path(), "zip -q -1 '" + out.file("huge.zip") + "' a.bmp c.bmp"));
    std::filesystem::remove(src.file("c.bmp"));
    ASSERT_LT(std::filesystem::file_size(out.file("huge.zip")), 2u << 20);
    r = open(out.file("huge.zip"));
    EXPECT_EQ(resultOf(*r, 1), PageReader::kResultFailed);
    { SCOPED_TRACE("huge"); expectPage(*r, 0, 0); }

    // Deflated data whose first block has the reserved type: corrupt, not a
    // password matter.
    ASSERT_TRUE(test::runIn(src.path(), "zip -q '" + out.file("deflated.zip") + "' a.bmp b.bmp"));
    std::string garbled = readFile(out.file("deflated.zip"));
    garbled[dataOffset(garbled, 0)] = char(0xFF);
    ASSERT_TRUE(sys::FileManager::writeFile(out.file("garbled.zip"), garbled, false));
    r = open(out.file("garbled.zip"));
    EXPECT_EQ(resultOf(*r, 0), PageReader::kResultFailed);
    expectPage(*r, 1, 1);
}

TEST_F(ZipReaderTest, WhatIsNoZipOrNoZipOfOursDoesNotOpen) {
    page("a.bmp", 0);
    auto r = std::make_shared<PageReaderZip>();
    EXPECT_FALSE(r->openFile("", std::nullopt, std::nullopt, false, false));
    EXPECT_FALSE(r->openFile(out.file("missing.zip"), std::nullopt, std::nullopt, false, false));
    ASSERT_TRUE(sys::FileManager::writeFile(out.file("empty.zip"), "", false));
    EXPECT_FALSE(r->openFile(out.file("empty.zip"), std::nullopt, std::nullopt, false, false));
    ASSERT_TRUE(sys::FileManager::writeFile(out.file("text.zip"), "PK but nothing else", false));
    EXPECT_FALSE(r->openFile(out.file("text.zip"), std::nullopt, std::nullopt, false, false));
    EXPECT_FALSE(r->openFile(src.path(), std::nullopt, std::nullopt, false, false)) << "a folder";
    EXPECT_FALSE(r->isUnsupportedServer());

    // A zip split over several disks: its last part is refused, not misread.
    for (int i = 0; i < 6; ++i)
        ASSERT_TRUE(test::writeBmp(src.file("big" + std::to_string(i) + ".bmp"), 120, 120,
                                   [&](int x, int y) { return uint32_t(0xFF000000 | ((x * 2654435761u) ^ (y * 40503u) ^ unsigned(i))); }));
    ASSERT_TRUE(test::runIn(src.path(), "zip -q -0 -s 64k '" + out.file("split.zip") + "' big*.bmp"));
    ASSERT_TRUE(sys::FileManager::fileExists(out.file("split.z01")));
    EXPECT_FALSE(r->openFile(out.file("split.zip"), std::nullopt, std::nullopt, false, false));

    // Zip64 records read like the classic ones: the sizes are taken from
    // them (the library leaves them at 0xFFFFFFFF, and so never compares
    // the CRC of such an entry).
    ASSERT_TRUE(test::runIn(src.path(), "zip -q -fz '" + out.file("z64.zip") + "' a.bmp"));
    ASSERT_TRUE(r->openFile(out.file("z64.zip"), std::nullopt, std::nullopt, false, false));
    expectPage(*r, 0, 0);
    ASSERT_TRUE(test::runIn(src.path(), "zip -q -0 -fz '" + out.file("z64s.zip") + "' a.bmp"));
    std::string z64 = readFile(out.file("z64s.zip"));
    z64[dataOffset(z64, 0) + 60] ^= 0x01;
    ASSERT_TRUE(sys::FileManager::writeFile(out.file("z64s.zip"), z64, false));
    ASSERT_TRUE(r->openFile(out.file("z64s.zip"), std::nullopt, std::nullopt, false, false));
    EXPECT_EQ(resultOf(*r, 0), PageReader::kResultFailed);
}

TEST_F(ZipReaderTest, InnerArchivesAreListedAndExtractedBesideTheBookWithoutReplacingAnything) {
    page("inner/p1.bmp", 0);
    page("inner/p2.bmp", 1);
    ASSERT_TRUE(test::runIn(src.file("inner"), "zip -q '" + src.file("inner.cbz") + "' p1.bmp p2.bmp"));
    page("cover.bmp", 2);
    text("extra/read me.pdf", "%PDF-1.4 not really");
    const std::string book = out.file("outer.zip");
    ASSERT_TRUE(test::runIn(src.path(), "zip -q -r '" + book + "' cover.bmp inner.cbz extra"));

    auto r = open(book);
    EXPECT_EQ(test::pageNamesOf(*r), (std::vector<std::string>{"cover.bmp"}));
    EXPECT_TRUE(r->isIncludeArchive());
    EXPECT_TRUE(r->isIncludeFolder());
    auto inner = r->getArchiveList(false);
    ASSERT_TRUE(inner.has_value());
    std::sort(inner->begin(), inner->end());
    EXPECT_EQ(*inner, (std::vector<std::string>{"extra/read me.pdf", "inner.cbz"}));
    EXPECT_EQ(r->getArchiveList(true), std::vector<std::string>{}) << "the open already saw one";
    EXPECT_EQ(BookReaderEx::getArchiveList(book, true, {}, "", "", nullptr, {})->size(), 1u);

    // Extracting beside the book, while inner.cbz and inner 2.cbz exist and
    // "inner 3.cbz" is a link to a file elsewhere.
    const std::string original = readFile(src.file("inner.cbz"));
    ASSERT_TRUE(sys::FileManager::writeFile(out.file("inner.cbz"), "mine", false));
    ASSERT_TRUE(sys::FileManager::writeFile(out.file("inner 2.cbz"), "mine too", false));
    ASSERT_EQ(::symlink(src.file("elsewhere.cbz").c_str(), out.file("inner 3.cbz").c_str()), 0);
    std::string written = "untouched";
    EXPECT_EQ(BookReaderEx::extractFile(book, {}, std::nullopt, "inner.cbz", "", "", &written), 0);
    EXPECT_EQ(written, out.file("inner 4.cbz")) << "the caller is told the name the copy took";
    EXPECT_EQ(readFile(out.file("inner.cbz")), "mine");
    EXPECT_EQ(readFile(out.file("inner 2.cbz")), "mine too");
    EXPECT_FALSE(sys::FileManager::fileExists(src.file("elsewhere.cbz"))) << "the link was not followed";
    ASSERT_EQ(readFile(out.file("inner 4.cbz")), original);
    EXPECT_EQ(std::filesystem::status(out.file("inner 4.cbz")).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write)
        << "readable by others";
    auto extracted = open(out.file("inner 4.cbz"));
    expectPage(*extracted, 1, 1);

    // The name bytes as listed, with or without the NUL, and a nested name.
    EXPECT_EQ(PageReaderZip::extractFile(book, {}, std::nullopt, std::string("inner.cbz\0", 10), "", ""), 0);
    EXPECT_TRUE(sys::FileManager::fileExists(out.file("inner 5.cbz")));
    EXPECT_EQ(PageReaderZip::extractFile(book, {}, std::nullopt, "extra/read me.pdf", "", ""), 0);
    EXPECT_EQ(readFile(out.file("read me.pdf")), "%PDF-1.4 not really");

    written.clear();
    EXPECT_EQ(PageReaderZip::extractFile(book, {}, std::nullopt, "missing.cbz", "", "", &written), 2);
    EXPECT_EQ(written, "") << "a failure names no file";
    EXPECT_EQ(PageReaderZip::extractFile("http://127.0.0.1:1/outer.zip", {}, std::nullopt, "inner.cbz", "", ""), 2);
    EXPECT_EQ(PageReaderZip::extractFile(out.file("nothing.zip"), {}, std::nullopt, "inner.cbz", "", ""), 2);
}

TEST_F(ZipReaderTest, ExtractingAnEncryptedArchiveNeedsItsPasswordAndLeavesNothingOnFailure) {
    page("p1.bmp", 0);
    ASSERT_TRUE(test::runIn(src.path(), "zip -q inner.cbz p1.bmp"));
    const std::string book = out.file("locked.zip");
    ASSERT_TRUE(test::runIn(src.path(), "zip -q -P pw '" + book + "' inner.cbz"));
    EXPECT_EQ(PageReaderZip::extractFile(book, {}, std::nullopt, "inner.cbz", "", ""), 1);
    EXPECT_EQ(PageReaderZip::extractFile(book, {}, std::string("wrong"), "inner.cbz", "", ""), 1);
    EXPECT_FALSE(sys::FileManager::fileExists(out.file("inner.cbz")));
    EXPECT_EQ(PageReaderZip::extractFile(book, {}, std::string("pw"), "inner.cbz", "", ""), 0);
    EXPECT_EQ(readFile(out.file("inner.cbz")), readFile(src.file("inner.cbz")));

    // Damaged data behind the right password: the half-written file goes.
    std::string damaged = readFile(book);
    const size_t at = dataOffset(damaged, 0) + 12 + 20;
    for (size_t i = 0; i < 16; ++i) damaged[at + i] ^= 0x5A;
    ASSERT_TRUE(sys::FileManager::writeFile(out.file("damaged.zip"), damaged, false));
    EXPECT_NE(PageReaderZip::extractFile(out.file("damaged.zip"), {}, std::string("pw"), "inner.cbz", "", ""), 0);
    EXPECT_FALSE(sys::FileManager::fileExists(out.file("inner 2.cbz")));
}

// A small book may hold an inner archive of many times its size (zeros pack
// to almost nothing). It is written only when the disk keeps its margin
// free after it; otherwise it is refused before a byte is written.
TEST_F(ZipReaderTest, AnInnerArchiveTheDiskHasNoRoomForIsRefusedBeforeWriting) {
    constexpr uint64_t kInner = 16ull << 20;
    {
        std::ofstream(src.file("big.cbz"));
    }
    std::filesystem::resize_file(src.file("big.cbz"), kInner);
    const std::string book = out.file("small.cbz");
    ASSERT_TRUE(test::runIn(src.path(), "zip -q '" + book + "' big.cbz"));
    ASSERT_LT(std::filesystem::file_size(book), kInner / 100);

    struct Disk {
        uint64_t free = 0;
        std::vector<std::string> asked;
        Disk() {
            ExtractedEntryFile::setFreeSpaceProbe([this](const std::string& folder) -> std::optional<uint64_t> {
                asked.push_back(folder);
                return free;
            });
        }
        ~Disk() { ExtractedEntryFile::setFreeSpaceProbe(nullptr); }
    } disk;
    for (uint64_t free : {uint64_t(0), kInner, kInner + ExtractedEntryFile::kFreeSpaceMargin - 1}) {
        disk.free = free;
        std::string written = "untouched";
        EXPECT_EQ(BookReaderEx::extractFile(book, {}, std::nullopt, "big.cbz", "", "", &written),
                  BookReaderEx::kExtractNoRoom)
            << free;
        EXPECT_EQ(written, "untouched");
        EXPECT_FALSE(sys::FileManager::fileExists(out.file("big.cbz"))) << free;
    }
    ASSERT_FALSE(disk.asked.empty());
    EXPECT_EQ(disk.asked.back(), out.path()) << "the disk of the book's folder";
    disk.free = kInner + ExtractedEntryFile::kFreeSpaceMargin;
    EXPECT_EQ(BookReaderEx::extractFile(book, {}, std::nullopt, "big.cbz", "", ""), 0);
    EXPECT_EQ(std::filesystem::file_size(out.file("big.cbz")), kInner);
}

// The session asks for the password of an encrypted book and reopens with it.
class ZipSessionTest : public test::BookSessionFixture {};

TEST_F(ZipSessionTest, AnEncryptedCbzAsksForItsPasswordThroughTheSession) {
    if (!test::haveProgram("zip")) GTEST_SKIP() << "no zip";
    const std::string book = bookDir.file("locked.cbz");
    ASSERT_TRUE(test::shell("cd '" + bookDir.path() + "' && zip -q -P pw locked.cbz p0.bmp p1.bmp p2.bmp") == 0);
    session = std::make_shared<BookReaderEx>();
    session->setSettings(settings);
    ASSERT_TRUE(session->openBookWithName(book, {}, std::nullopt, std::nullopt, std::nullopt, false, false));
    EXPECT_EQ(session->getPageNum(), 3);
    EXPECT_EQ(session->loadPage(request(PageLoadRequest::kCompose, 0, {200, 300})), BookReaderEx::kLoadPassword);
    ASSERT_TRUE(session->openBookWithName(book, {}, std::nullopt, std::string("pw"), std::nullopt, false, false));
    auto p = load(PageLoadRequest::kCompose, 1, {200, 300});
    ASSERT_TRUE(p && p->image);
    EXPECT_TRUE(colourNear(p->image->pixel(50, 150), pageColour(1, false)));
    EXPECT_TRUE(colourNear(p->image->pixel(150, 150), pageColour(1, true)));
}

}  // namespace
