// The RAR reader on archives made at test time by the rar packer (RAR 5)
// and on RAR 4 archives kept in the test data, on a local disk.
#include "engine/PageReaderRar.h"

#include "engine/BookReaderEx.h"
#include "engine/ExtractedEntryFile.h"
#include "engine/ImageLoader.h"
#include "engine/RarStreamShim.h"
#include "engine/UnrarArchive.h"
#include "foundation/ArraySort.h"
#include "platform/core/FileManager.h"
#include "platform/core/Thread.h"
#include "tests/engine/ArchiveReaderFixture.h"
#include "tests/engine/BookSessionFixture.h"
#include "tests/engine/BookTestPages.h"
#include "tests/support/TestHome.h"
#include "tests/engine/StreamTestBlocks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <unistd.h>

namespace {

using test::samePixels;

using test::colourNear;
using test::readFile;
using test::pageColour;
using Status = UnrarArchive::Status;

// The eight sample pages the RAR 4 archives hold.
const char* const kSamplePages[] = {"01.jpg", "02.jpg", "03.jpg", "04.jpg", "05.jpg", "06.png", "07.jpg", "08.jpg"};

gfx::ImageRef samplePage(const std::string& name) {
    return ImageLoader::imageWithAnyContentsOfFile(test::dataPath("pages/" + name));
}

class PageReaderRarTest : public test::ArchiveReaderFixture<PageReaderRar> {
protected:
    PageReaderRarTest() : ArchiveReaderFixture("rar", "rar") {}
    void TearDown() override {
        ArchiveReaderFixture::TearDown();
        EXPECT_EQ(RarStreamShim::openDescriptorCount(), 0u) << "every archive was closed";
    }

    // rar with `options` on `files` of src/, into out/`name`.
    std::string pack(const std::string& name, const std::string& options, const std::string& files) {
        const std::string book = out.file(name);
        EXPECT_TRUE(test::runIn(src.path(), "rar a -idq " + options + " '" + book + "' " + files)) << name;
        return book;
    }
    // The volume set is kept under neutral names; UnRAR finds a set's next
    // volume by its ".partN.rar" name, so the set is laid out under those.
    std::string rar4(const std::string& name) {
        const std::string volumes = "volumes4.part";
        if (name.compare(0, volumes.size(), volumes) != 0) return test::dataPath("rar4/" + name);
        for (int i = 1; i <= 3; ++i) {
            const std::string target = src.file(volumes + std::to_string(i) + ".rar");
            if (!sys::FileManager::fileExists(target)) {
                EXPECT_TRUE(sys::FileManager::copyItem(
                    test::dataPath("rar4/volumes4-vol" + std::to_string(i) + ".rar"), target));
            }
        }
        return src.file(name);
    }

    void expectSample(PageReader& r, int page, const std::string& name) {
        int result = -1;
        auto image = r.newLoadAndCreateImage(page, result);
        ASSERT_EQ(result, PageReader::kResultImage) << "page " << page << " " << name;
        EXPECT_TRUE(samePixels(image, samplePage(name))) << "page " << page << " " << name;
    }
    PageReader::OpenFailure openFailure(const std::string& path, std::optional<std::string> password = std::nullopt) {
        auto r = std::make_shared<PageReaderRar>();
        EXPECT_FALSE(r->openFile(path, password, std::nullopt, false, false)) << path;
        EXPECT_TRUE(r->getPageNameList().empty());
        return r->openFailure();
    }
};

TEST_F(PageReaderRarTest, PagesOfAPlainAndASolidRar5InNaturalOrderInAnyOrderOfReading) {
    page("p10.bmp", 2);
    page("p2.bmp", 1);
    page("p1.bmp", 0);
    page(".hidden.bmp", 5);
    page("__MACOSX/._p1.bmp", 6);
    text("notes.txt", "not a page");
    const std::string files = "p10.bmp .hidden.bmp p2.bmp __MACOSX/._p1.bmp notes.txt p1.bmp";
    for (const char* options : {"", "-s -ds", "-m0"}) {
        SCOPED_TRACE(options);
        const std::string book = pack(std::string("book") + options + ".cbr", options, files);
        auto r = open(book);
        EXPECT_EQ(r->isSolidArhive(), std::string(options) == "-s -ds");
        EXPECT_EQ(PageReaderRar::isSolidArchiveFile(book), std::string(options) == "-s -ds");
        EXPECT_EQ(test::pageNamesOf(*r), (std::vector<std::string>{"p1.bmp", "p2.bmp", "p10.bmp"}));
        EXPECT_EQ(r->getGlobalPageNoList(), (std::vector<int32_t>{2, 1, 0}));
        EXPECT_FALSE(r->isStreamPage());
        EXPECT_FALSE(r->getFolderList(false).has_value()) << "only the resource fork lies in a folder";
        EXPECT_FALSE(r->getArchiveList(true).has_value());
        // Backwards, forwards, the same page twice, and around again.
        for (int i : {2, 1, 0, 0, 1, 2, 0, 2}) expectPage(*r, i, i);
        EXPECT_EQ(resultOf(*r, 3), PageReader::kResultFailed);
        EXPECT_EQ(resultOf(*r, -1), PageReader::kResultFailed);
        r->closeFile();
        EXPECT_TRUE(r->getPageNameList().empty());
        EXPECT_EQ(resultOf(*r, 0), 2) << "nothing open";
    }
}

TEST_F(PageReaderRarTest, Rar4ArchivesPlainSolidAndInVolumesGiveTheSamplePages) {
    for (const char* name : {"plain4.rar", "solid4.rar", "volumes4.part1.rar"}) {
        SCOPED_TRACE(name);
        auto r = open(rar4(name));
        ASSERT_EQ(test::pageNamesOf(*r), std::vector<std::string>(std::begin(kSamplePages), std::end(kSamplePages)));
        EXPECT_EQ(r->isSolidArhive(), std::string(name) == "solid4.rar");
        for (int i = 0; i < 8; ++i) expectSample(*r, i, kSamplePages[i]);
        // Pages split over two volumes, read out of order.
        for (int i : {3, 6, 0}) expectSample(*r, i, kSamplePages[i]);
    }
    // A later volume on its own: the pages it starts, not the one continued from before.
    auto part2 = open(rar4("volumes4.part2.rar"));
    EXPECT_EQ(test::pageNamesOf(*part2), (std::vector<std::string>{"05.jpg", "06.png", "07.jpg", "08.jpg"}));
    expectSample(*part2, 1, "06.png");
}

TEST_F(PageReaderRarTest, Rar5VolumesAndAPageSpanningThem) {
    for (int i = 0; i < 4; ++i) {
        const std::string name = "p" + std::to_string(i) + ".bmp";
        ASSERT_TRUE(test::writeBmp(src.file(name), 64, 64, [&](int x, int y) {
            return 0xFF000000u | uint32_t((x * 37 + y * 11 + i * 101) * 2654435761u >> 8 & 0xFFFFFF);
        }));
    }
    pack("vols.rar", "-m0 -v8k", "p0.bmp p1.bmp p2.bmp p3.bmp");
    ASSERT_TRUE(sys::FileManager::fileExists(out.file("vols.part3.rar")));
    auto r = open(out.file("vols.part1.rar"));
    ASSERT_EQ(r->getPageNameList().size(), 4u);
    for (int i : {3, 0, 2, 1}) {
        int result = -1;
        auto image = r->newLoadAndCreateImage(i, result);
        ASSERT_EQ(result, PageReader::kResultImage) << i;
        EXPECT_TRUE(samePixels(image, ImageLoader::imageWithAnyContentsOfFile(src.file("p" + std::to_string(i) + ".bmp"))));
    }
    // A missing later volume fails the pages in it, never waits for it.
    ASSERT_EQ(::unlink(out.file("vols.part3.rar").c_str()), 0);
    auto cut = open(out.file("vols.part1.rar"));
    EXPECT_EQ(resultOf(*cut, 0), PageReader::kResultImage);
    EXPECT_EQ(resultOf(*cut, 3), PageReader::kResultFailed);
}

TEST_F(PageReaderRarTest, TargetFolderListsOnlyItsPagesWithGlobalNumbersOfTheWholeArchive) {
    auto r = open(rar4("folders4.rar"));
    EXPECT_EQ(test::pageNamesOf(*r), (std::vector<std::string>{"Vol1/01.jpg", "Vol1/02.jpg", "Vol1/03.jpg", "Vol1/sub/04.jpg",
                                                     "Vol1/sub/05.jpg"}));
    // Archive order: Vol1/03, sub/04, sub/05, Vol1/02, Vol1/01.
    EXPECT_EQ(r->getGlobalPageNoList(), (std::vector<int32_t>{4, 3, 0, 1, 2}));
    EXPECT_EQ(r->getFolderList(false), (std::vector<std::string>{"Vol1", "Vol1/sub"}));
    auto sub = open(rar4("folders4.rar"), std::nullopt, std::string("Vol1/sub"));
    EXPECT_EQ(test::pageNamesOf(*sub), (std::vector<std::string>{"Vol1/sub/04.jpg", "Vol1/sub/05.jpg"}));
    EXPECT_EQ(sub->getGlobalPageNoList(), (std::vector<int32_t>{1, 2}));
    expectSample(*sub, 1, "05.jpg");
    auto checked = BookReaderEx::getFolderList(rar4("folders4.rar"), false, {}, "", "", nullptr, {});
    ASSERT_TRUE(checked.has_value());
    EXPECT_EQ(std::set<std::string>(checked->begin(), checked->end()), (std::set<std::string>{"Vol1", "Vol1/sub"}));

    page("vol1/a.bmp", 0);
    page("vol2/b.bmp", 1);
    page("vol2/c.bmp", 2);
    pack("two.cbr", "", "vol2/c.bmp vol1/a.bmp vol2/b.bmp");
    auto two = open(out.file("two.cbr"), std::nullopt, std::string("vol2"));
    EXPECT_EQ(test::pageNamesOf(*two), (std::vector<std::string>{"vol2/b.bmp", "vol2/c.bmp"}));
    EXPECT_EQ(two->getGlobalPageNoList(), (std::vector<int32_t>{2, 0}));
    expectPage(*two, 1, 2);
    EXPECT_TRUE(open(out.file("two.cbr"), std::nullopt, std::string("none"))->getPageNameList().empty());
}

TEST_F(PageReaderRarTest, ShiftJisNamesKeepTheirBackslashByteAndAreRead) {
    auto r = open(rar4("shift-jis-names4.rar"));
    const std::vector<std::string> names = test::pageNamesOf(*r);
    // The second byte of each character is 0x5C, not a folder separator.
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()),
              (std::set<std::string>{"\x95\\.png", "vol1/\x83\\.png", "vol2/a.png"}));
    EXPECT_EQ(r->getFolderList(false), (std::vector<std::string>{"vol1", "vol2"}));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(resultOf(*r, i), PageReader::kResultImage) << i;

    // A UTF-8 name whose last byte before a "/" looks like a lead byte
    // stays as it is ("ぁ" is E3 81 81).
    page("\xE3\x81\x81/x.bmp", 3);
    auto utf8 = open(pack("utf8.cbr", "-r", "'\xE3\x81\x81'"));
    EXPECT_EQ(test::pageNamesOf(*utf8), std::vector<std::string>{"\xE3\x81\x81/x.bmp"});
    expectPage(*utf8, 0, 3);
    EXPECT_TRUE(PageReaderRar::isDirectoryName("a/"));
    EXPECT_FALSE(PageReaderRar::isDirectoryName("\x95/")) << "a Shift-JIS character, not a folder";
    EXPECT_FALSE(PageReaderRar::isDirectoryName("/"));
}

TEST_F(PageReaderRarTest, PasswordsOfDataAndOfHeadersWithTheRightTheWrongAndNone) {
    page("p1.bmp", 0);
    page("p2.bmp", 1);
    const std::string data5 = pack("data.cbr", "-pse\xC3\xA7ret", "p1.bmp p2.bmp");
    const std::string head5 = pack("head.cbr", "-hpse\xC3\xA7ret", "p1.bmp p2.bmp");
    const std::string solid5 = pack("solid.cbr", "-s -pse\xC3\xA7ret", "p1.bmp p2.bmp");
    const std::string right = "se\xC3\xA7ret";
    for (const std::string& book : {data5, solid5}) {
        SCOPED_TRACE(book);
        auto none = open(book);
        EXPECT_EQ(test::pageNamesOf(*none), (std::vector<std::string>{"p1.bmp", "p2.bmp"})) << "names are not encrypted";
        EXPECT_EQ(resultOf(*none, 1), PageReader::kResultPassword);
        EXPECT_EQ(resultOf(*open(book, std::string("wrong")), 1), PageReader::kResultPassword);
        auto r = open(book, right);
        expectPage(*r, 1, 1);
        expectPage(*r, 0, 0);
    }
    // Encrypted headers: not even the names without the password.
    EXPECT_EQ(openFailure(head5), PageReader::OpenFailure::Password);
    EXPECT_EQ(openFailure(head5, std::string("wrong")), PageReader::OpenFailure::Password);
    EXPECT_FALSE(PageReaderRar::isSolidArchiveFile(head5));
    auto head = open(head5, right);
    EXPECT_EQ(test::pageNamesOf(*head), (std::vector<std::string>{"p1.bmp", "p2.bmp"}));
    expectPage(*head, 1, 1);
    expectPage(*head, 0, 0);

    // The same on RAR 4 (password "secret"), where a wrong password shows
    // only as a checksum error.
    for (const char* name : {"encrypted4.rar", "solid-encrypted4.rar"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(resultOf(*open(rar4(name)), 2), PageReader::kResultPassword);
        EXPECT_EQ(resultOf(*open(rar4(name), std::string("wrong")), 2), PageReader::kResultPassword);
        auto r = open(rar4(name), std::string("secret"));
        for (int i : {2, 7, 0}) expectSample(*r, i, kSamplePages[i]);
    }
    EXPECT_EQ(openFailure(rar4("header-encrypted4.rar")), PageReader::OpenFailure::Password);
    EXPECT_EQ(openFailure(rar4("header-encrypted4.rar"), std::string("wrong")), PageReader::OpenFailure::Password);
    auto r = open(rar4("header-encrypted4.rar"), std::string("secret"));
    ASSERT_EQ(r->getPageNameList().size(), 8u);
    for (int i : {5, 1}) expectSample(*r, i, kSamplePages[i]);
}

TEST_F(PageReaderRarTest, DamagedTruncatedAndForeignFilesFailCleanlyWithTheirReason) {
    for (uint32_t i = 0; i < 3; ++i)
        ASSERT_TRUE(test::writeBmp(src.file("p" + std::to_string(i) + ".bmp"), 40, 40, [&](int x, int y) {
            return 0xFF000000u | ((uint32_t(x * 40 + y) ^ (i * 0x9E3779B9u)) * 2654435761u >> 8 & 0xFFFFFF);
        }));
    const std::string good = readFile(pack("good.cbr", "-m0", "p0.bmp p1.bmp p2.bmp"));
    const std::string solidGood = readFile(pack("solid.cbr", "-s", "p0.bmp p1.bmp p2.bmp"));
    const std::string p1 = readFile(src.file("p1.bmp"));
    const size_t at = good.find(p1.substr(200, 64));
    ASSERT_NE(at, std::string::npos) << "stored data of p1";

    // A flipped byte in stored data: its checksum fails, the page is not
    // shown, the others still are.
    std::string flipped = good;
    flipped[at + 10] ^= 0x01;
    ASSERT_TRUE(sys::FileManager::writeFile(out.file("flipped.cbr"), flipped, false));
    auto r = open(out.file("flipped.cbr"));
    EXPECT_EQ(resultOf(*r, 1), PageReader::kResultFailed);
    EXPECT_EQ(resultOf(*r, 0), PageReader::kResultImage);
    EXPECT_EQ(resultOf(*r, 2), PageReader::kResultImage);
    EXPECT_EQ(resultOf(*r, 1), PageReader::kResultFailed) << "never a partly filled page";
    std::string data;
    EXPECT_EQ(r->readPage(1, data), Status::Damaged);
    EXPECT_TRUE(data.empty());

    // Damage in the middle of a solid stream.
    std::string solidDamaged = solidGood;
    for (size_t i = solidGood.size() / 2; i < solidGood.size() / 2 + 32; ++i) solidDamaged[i] ^= 0x5A;
    ASSERT_TRUE(sys::FileManager::writeFile(out.file("soliddamaged.cbr"), solidDamaged, false));
    auto s = std::make_shared<PageReaderRar>();
    if (s->openFile(out.file("soliddamaged.cbr"), std::nullopt, std::nullopt, false, false)) {
        int failed = 0;
        for (int i = 0; i < 3; ++i) failed += resultOf(*s, i) != PageReader::kResultImage;
        EXPECT_GT(failed, 0);
    } else {
        EXPECT_EQ(s->openFailure(), PageReader::OpenFailure::Damaged);
    }

    // Truncated inside the last page: the listing stops short or the page fails.
    ASSERT_TRUE(sys::FileManager::writeFile(out.file("cut.cbr"), good.substr(0, good.size() - 3000), false));
    auto cut = std::make_shared<PageReaderRar>();
    if (cut->openFile(out.file("cut.cbr"), std::nullopt, std::nullopt, false, false)) {
        EXPECT_EQ(resultOf(*cut, 0), PageReader::kResultImage);
        EXPECT_NE(resultOf(*cut, int(cut->getPageNameList().size()) - 1), PageReader::kResultImage);
    } else {
        EXPECT_EQ(cut->openFailure(), PageReader::OpenFailure::Damaged);
    }
    // Cut inside the first header: no page, whether or not it opens.
    ASSERT_TRUE(sys::FileManager::writeFile(out.file("stub.cbr"), good.substr(0, 12), false));
    auto stub = std::make_shared<PageReaderRar>();
    if (stub->openFile(out.file("stub.cbr"), std::nullopt, std::nullopt, false, false))
        EXPECT_TRUE(stub->getPageNameList().empty());
    else
        EXPECT_EQ(stub->openFailure(), PageReader::OpenFailure::Damaged);

    ASSERT_TRUE(sys::FileManager::writeFile(out.file("text.cbr"), std::string(4000, 'x'), false));
    EXPECT_EQ(openFailure(out.file("text.cbr")), PageReader::OpenFailure::NotArchive);
    ASSERT_TRUE(sys::FileManager::writeFile(out.file("empty.cbr"), "", false));
    EXPECT_NE(openFailure(out.file("empty.cbr")), PageReader::OpenFailure::None);
    EXPECT_EQ(openFailure(out.file("missing.cbr")), PageReader::OpenFailure::Unreadable);
    EXPECT_EQ(openFailure(""), PageReader::OpenFailure::Unreadable);
}

TEST_F(PageReaderRarTest, EntriesAreReadOnlyWithinTheCapAndExactlyAsAnnounced) {
    ASSERT_TRUE(test::writeBmp(src.file("big.bmp"), 100, 100, [](int x, int y) { return 0xFF000000u | uint32_t(x * y); }));
    page("small.bmp", 1);
    const std::string book = pack("cap.cbr", "", "big.bmp small.bmp");
    UnrarArchive archive(book, std::nullopt);
    std::vector<UnrarArchive::Entry> entries;
    ASSERT_EQ(archive.unrarListFilesNoEncodingWithFileSizeArray(entries), Status::Ok);
    ASSERT_EQ(entries.size(), 2u);
    const uint64_t bigSize = entries[0].size;
    EXPECT_EQ(bigSize, readFile(src.file("big.bmp")).size());
    std::string data = "stale";
    EXPECT_EQ(archive.extractStreamWithPoint(0, entries[0], bigSize - 1, data), Status::TooLarge);
    EXPECT_TRUE(data.empty());
    EXPECT_EQ(archive.extractStreamWithPoint(0, entries[0], bigSize, data), Status::Ok);
    EXPECT_EQ(data, readFile(src.file("big.bmp")));
    // A listing that claims less than the entry holds: the library's bytes
    // are never written past what was announced.
    UnrarArchive::Entry lying = entries[0];
    lying.size = 100;
    EXPECT_NE(archive.extractStreamWithPoint(0, lying, PageReaderRar::kMaxPageBytes, data), Status::Ok);
    EXPECT_TRUE(data.empty());
    EXPECT_EQ(archive.extractStreamWithPoint(1, entries[1], PageReaderRar::kMaxPageBytes, data), Status::Ok);
    EXPECT_EQ(data, readFile(src.file("small.bmp")));
    // An entry listed where the archive has another is never read in its place.
    UnrarArchive::Entry other = entries[1];
    other.name = "elsewhere.bmp";
    EXPECT_EQ(archive.extractStreamWithPoint(1, other, PageReaderRar::kMaxPageBytes, data), Status::NotFound);
    EXPECT_TRUE(UnrarArchive::handleLayoutUsable()) << "the library's handle has the layout the seek needs";
}

TEST_F(PageReaderRarTest, InnerArchivesAreListedAndExtractedBesideTheBookConfinedAndNeverReplacing) {
    page("inner/p1.bmp", 0);
    page("inner/p2.bmp", 1);
    ASSERT_TRUE(test::runIn(src.file("inner"), "rar a -idq '" + src.file("inner.cbr") + "' p1.bmp p2.bmp"));
    page("cover.bmp", 2);
    text("extra/read me.pdf", "%PDF-1.4 not really");
    text("evil.cbz", "escaped");
    const bool zip = test::haveProgram("zip");
    if (zip) {
        ASSERT_TRUE(test::runIn(src.file("inner"), "zip -q '" + src.file("nested.cbz") + "' p1.bmp p2.bmp"));
    }
    const std::string book = pack("outer.rar", "-r", "cover.bmp inner.cbr extra");
    ASSERT_TRUE(test::runIn(src.path(), "rar a -idq -ap'sub/../..' '" + book + "' evil.cbz"));

    auto r = open(book);
    EXPECT_EQ(test::pageNamesOf(*r), (std::vector<std::string>{"cover.bmp"}));
    auto inner = r->getArchiveList(false);
    ASSERT_TRUE(inner.has_value());
    std::sort(inner->begin(), inner->end());
    EXPECT_EQ(*inner, (std::vector<std::string>{"extra/read me.pdf", "inner.cbr", "sub/../../evil.cbz"}));
    EXPECT_EQ(r->getArchiveList(true), std::vector<std::string>{});
    EXPECT_EQ(BookReaderEx::getArchiveList(book, true, {}, "", "", nullptr, {})->size(), 1u);
    EXPECT_EQ(BookReaderEx::getArchiveList(book, false, {}, "", "", nullptr, {})->size(), 3u);

    const std::string original = readFile(src.file("inner.cbr"));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(BookReaderEx::extractFile(book, {}, std::nullopt, std::string("inner.cbr\0", 10), "", ""), 0);
    EXPECT_EQ(readFile(out.file("inner.cbr")), original);
    EXPECT_EQ(readFile(out.file("inner 2.cbr")), original);
    EXPECT_EQ(readFile(out.file("inner 3.cbr")), original);
    std::string written;
    EXPECT_EQ(PageReaderRar::extractFile(book, {}, std::nullopt, "inner.cbr", "", "", &written), 0);
    EXPECT_EQ(written, out.file("inner 4.cbr"));
    written.clear();
    EXPECT_EQ(PageReaderRar::extractFile(book, {}, std::nullopt, "missing.cbz", "", "", &written), 2);
    EXPECT_EQ(written, "");
    auto extracted = open(out.file("inner 3.cbr"));
    expectPage(*extracted, 1, 1);

    EXPECT_EQ(PageReaderRar::extractFile(book, {}, std::nullopt, "extra/read me.pdf", "", ""), 0);
    EXPECT_EQ(readFile(out.file("read me.pdf")), "%PDF-1.4 not really");
    // A name that climbs out of the folder lands beside the book.
    EXPECT_EQ(PageReaderRar::extractFile(book, {}, std::nullopt, "sub/../../evil.cbz", "", ""), 0);
    EXPECT_EQ(readFile(out.file("evil.cbz")), "escaped");
    EXPECT_FALSE(sys::FileManager::fileExists(std::filesystem::path(out.path()).parent_path().parent_path() / "evil.cbz"));

    // A cbz inside, extracted and read by the zip reader.
    if (zip) {
        ASSERT_TRUE(test::runIn(src.path(), "rar a -idq '" + book + "' nested.cbz"));
        EXPECT_EQ(BookReaderEx::extractFile(book, {}, std::nullopt, "nested.cbz", "", ""), 0);
        auto session = std::make_shared<BookReaderEx>();
        ASSERT_TRUE(session->openBookWithName(out.file("nested.cbz"), {}, std::nullopt, std::nullopt, std::nullopt,
                                              false, false));
        EXPECT_EQ(session->readerKind(), BookReaderEx::ReaderKind::Zip);
        EXPECT_EQ(session->getPageNum(), 2);
        session->closeBook();
    }

    EXPECT_EQ(PageReaderRar::extractFile(book, {}, std::nullopt, "missing.cbz", "", ""), 2);
    EXPECT_EQ(PageReaderRar::extractFile("http://127.0.0.1:1/outer.rar", {}, std::nullopt, "inner.cbr", "", ""), 2);
    EXPECT_EQ(PageReaderRar::extractFile(out.file("nothing.rar"), {}, std::nullopt, "inner.cbr", "", ""), 2);

    // Encrypted: the password is needed, and nothing is left on failure.
    const std::string locked = pack("locked.rar", "-ppw", "inner.cbr");
    const auto before = std::filesystem::directory_iterator(out.path());
    const size_t files = size_t(std::distance(std::filesystem::begin(before), std::filesystem::end(before)));
    EXPECT_EQ(PageReaderRar::extractFile(locked, {}, std::nullopt, "inner.cbr", "", ""), 1);
    EXPECT_EQ(PageReaderRar::extractFile(locked, {}, std::string("wrong"), "inner.cbr", "", ""), 1);
    const auto after = std::filesystem::directory_iterator(out.path());
    EXPECT_EQ(size_t(std::distance(std::filesystem::begin(after), std::filesystem::end(after))), files);
    EXPECT_EQ(PageReaderRar::extractFile(locked, {}, std::string("pw"), "inner.cbr", "", ""), 0);
    EXPECT_EQ(readFile(out.file("inner 5.cbr")), original);
}

// An inner archive larger than the disk can take with its margin is refused
// before anything is written, as from a zip.
TEST_F(PageReaderRarTest, AnInnerArchiveTheDiskHasNoRoomForIsRefusedBeforeWriting) {
    constexpr uint64_t kInner = 8ull << 20;
    {
        std::ofstream(src.file("big.cbz"));
    }
    std::filesystem::resize_file(src.file("big.cbz"), kInner);
    const std::string book = pack("small.cbr", "", "big.cbz");
    ASSERT_LT(std::filesystem::file_size(book), kInner / 100);
    uint64_t free = kInner + ExtractedEntryFile::kFreeSpaceMargin - 1;
    ExtractedEntryFile::setFreeSpaceProbe([&](const std::string&) -> std::optional<uint64_t> { return free; });
    EXPECT_EQ(BookReaderEx::extractFile(book, {}, std::nullopt, "big.cbz", "", ""), BookReaderEx::kExtractNoRoom);
    EXPECT_FALSE(sys::FileManager::fileExists(out.file("big.cbz")));
    free += 1;
    EXPECT_EQ(BookReaderEx::extractFile(book, {}, std::nullopt, "big.cbz", "", ""), 0);
    ExtractedEntryFile::setFreeSpaceProbe(nullptr);
    EXPECT_EQ(std::filesystem::file_size(out.file("big.cbz")), kInner);
}

TEST_F(PageReaderRarTest, ReadersOnTwoThreadsAtOnceEachReadTheirOwnPages) {
    for (int i = 0; i < 4; ++i) page("p" + std::to_string(i) + ".bmp", i);
    const std::string solid = pack("solid.cbr", "-s -ds", "p0.bmp p1.bmp p2.bmp p3.bmp");
    const std::string locked = pack("locked.cbr", "-hppw", "p3.bmp p2.bmp p1.bmp p0.bmp");
    auto a = open(solid);
    auto b = open(locked, std::string("pw"));
    std::atomic<int> wrong{0};
    auto turn = [&](PageReaderRar& r, bool reversed) {
        for (int round = 0; round < 10; ++round)
            for (int k = 0; k < 4; ++k) {
                const int i = reversed ? 3 - k : k;
                int result = -1;
                auto image = r.newLoadAndCreateImage(i, result);
                if (result != PageReader::kResultImage || !colourNear(image->pixel(3, 3), pageColour(i, false)))
                    ++wrong;
            }
    };
    sys::Thread other([&](const std::atomic<bool>&) { turn(*b, true); });
    turn(*a, false);
    other.join();
    EXPECT_EQ(wrong.load(), 0);
}

// A decode given up (the session's cancel, from any thread) ends at the
// archive's next read, also in the middle of a large entry of a solid
// archive; the next extraction decodes as ever.
TEST_F(PageReaderRarTest, ACancelledDecodeEndsAtItsNextReadAndTheNextDecodesAsEver) {
    // 12 MiB that do not compress (the library hands on up to 4 MiB at once): the entry is read as it is decoded.
    std::string noise(size_t(12) << 20, '\0');
    std::mt19937 rng(7);
    for (char& c : noise) c = char(rng());
    test::writeFile(src.file("noise.bin"), noise);
    const std::string book = pack("solid.rar", "-s -m1", "noise.bin");
    UnrarArchive archive(book, std::nullopt);
    std::atomic<bool> cancel{false};
    archive.setCancelFlag(&cancel);
    std::vector<UnrarArchive::Entry> entries;
    ASSERT_EQ(archive.unrarListFilesNoEncodingWithFileSizeArray(entries), Status::Ok);
    ASSERT_EQ(entries.size(), 1u);
    uint64_t delivered = 0;
    EXPECT_EQ(archive.extractStreamWithPointTarget(0, entries[0],
                                                   [&](const char*, size_t n) {
                                                       delivered += n;
                                                       cancel = true;
                                                       return true;
                                                   }),
              Status::Unreadable);
    EXPECT_GT(delivered, 0u);
    EXPECT_LE(delivered, uint64_t(8) << 20) << "delivered " << delivered;
    cancel = false;
    std::string whole;
    ASSERT_EQ(archive.extractStreamWithPoint(0, entries[0], noise.size(), whole), Status::Ok);
    EXPECT_TRUE(whole == noise);
}

// The session picks the reader and tells why a book did not open.
class PageReaderRarSessionTest : public test::BookSessionFixture {};

TEST_F(PageReaderRarSessionTest, TheSessionOpensCbrBooksAsksForPasswordsAndSaysWhyOthersFail) {
    if (!test::haveProgram("rar")) GTEST_SKIP() << "no rar packer";
    const std::string book = bookDir.file("book.cbr");
    ASSERT_TRUE(test::runIn(bookDir.path(), "rar a -idq -s book.cbr p0.bmp p1.bmp p2.bmp"));
    ASSERT_TRUE(openBookFile(book));
    EXPECT_EQ(session->readerKind(), BookReaderEx::ReaderKind::Rar);
    EXPECT_EQ(session->getPageNum(), 3);
    for (int i : {0, 1, 2}) {
        auto p = load(PageLoadRequest::kCompose, i, {200, 300});
        ASSERT_TRUE(p && p->image) << i;
        EXPECT_TRUE(colourNear(p->image->pixel(50, 150), pageColour(i, false)));
        EXPECT_TRUE(colourNear(p->image->pixel(150, 150), pageColour(i, true)));
    }

    ASSERT_TRUE(test::runIn(bookDir.path(), "rar a -idq -ppw locked.cbr p0.bmp p1.bmp"));
    ASSERT_TRUE(session->openBookWithName(bookDir.file("locked.cbr"), {}, std::nullopt, std::nullopt, std::nullopt,
                                          false, false));
    EXPECT_EQ(session->loadPage(request(PageLoadRequest::kCompose, 0, {200, 300})), BookReaderEx::kLoadPassword);
    ASSERT_TRUE(session->openBookWithName(bookDir.file("locked.cbr"), {}, std::nullopt, std::string("pw"),
                                          std::nullopt, false, false));
    EXPECT_EQ(session->loadPage(request(PageLoadRequest::kCompose, 1, {200, 300})), BookReaderEx::kLoadDone);

    ASSERT_TRUE(test::runIn(bookDir.path(), "rar a -idq -hppw hidden.cbr p0.bmp"));
    EXPECT_FALSE(session->openBookWithName(bookDir.file("hidden.cbr"), {}, std::nullopt, std::nullopt, std::nullopt,
                                           false, false));
    EXPECT_EQ(session->openFailure(), PageReader::OpenFailure::Password);
    ASSERT_TRUE(sys::FileManager::writeFile(bookDir.file("fake.cbr"), "not an archive at all", false));
    EXPECT_FALSE(session->openBookWithName(bookDir.file("fake.cbr"), {}, std::nullopt, std::nullopt, std::nullopt,
                                           false, false));
    EXPECT_EQ(session->openFailure(), PageReader::OpenFailure::NotArchive);
    ASSERT_TRUE(session->openBookWithName(book, {}, std::nullopt, std::nullopt, std::nullopt, false, false));
    EXPECT_EQ(session->openFailure(), PageReader::OpenFailure::None);
}


// A RAR book on this machine pairs its pages by their sizes from a jump on,
// read from the entries' first bytes: (0, 1) (2) [3] (4, 5) (6, 7). A solid
// one is not decoded to learn them: its pages not shown yet pair by their
// numbers.
TEST_F(PageReaderRarSessionTest, AJumpPairsThePagesOfAPlainRarAsPagingFromTheStartWould) {
    if (!test::haveProgram("rar")) GTEST_SKIP() << "no rar packer";
    ASSERT_TRUE(test::runIn(bookDir.path(), "rar a -idq plain.cbr p0.bmp p1.bmp p2.bmp p3.bmp p4.bmp p5.bmp p6.bmp p7.bmp"));
    ASSERT_TRUE(test::runIn(bookDir.path(), "rar a -idq -s solid.cbr p0.bmp p1.bmp p2.bmp p3.bmp p4.bmp p5.bmp p6.bmp p7.bmp"));
    set("isDoubleTruck", true);
    for (const char* name : {"plain.cbr", "solid.cbr"}) {
        ASSERT_TRUE(openBookFile(bookDir.file(name)));
        auto p = load(PageLoadRequest::kJumpForward, 5, {800, 300});
        EXPECT_TRUE(p->is2PageLoaded) << name;
        EXPECT_EQ(p->targetPage, std::string(name) == "plain.cbr" ? 4 : 5) << name;
    }
}

}  // namespace
