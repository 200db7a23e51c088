// Entry names of zip books as text: what the archive declares (the UTF-8
// flag, Info-ZIP's Unicode Path field), UTF-8 bytes, and legacy code pages
// under the user's character set. Archives come from Info-ZIP zip and 7-Zip
// and, for what those tools here do not write, from a small writer below.
#include "engine/PageReaderZip.h"
#include "engine/ZipArchive.h"
#include "foundation/QNTextEncoding.h"
#include "platform/core/FileManager.h"
#include "tests/engine/BookTestPages.h"
#include "tests/support/TestHome.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <set>

namespace {

using test::colourNear;
using test::pageColour;

std::string sjis(const std::string& text) { return *QNTextEncoding::dataWithString(text, QNTextEncoding::kShiftJIS); }

uint32_t crcOf(const std::string& bytes) {
    return uint32_t(::crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), uInt(bytes.size())));
}

void put16(std::string& out, uint32_t v) {
    out.push_back(char(v & 0xFF));
    out.push_back(char((v >> 8) & 0xFF));
}
void put32(std::string& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// An Info-ZIP Unicode Path field for `utf8`, written for the stored name
// whose CRC-32 is `nameCrc`.
std::string unicodePathField(uint32_t nameCrc, const std::string& utf8, uint8_t version = 1) {
    std::string f;
    put16(f, ZipArchive::kUnicodePathField);
    put16(f, uint32_t(5 + utf8.size()));
    f.push_back(char(version));
    put32(f, nameCrc);
    return f + utf8;
}

// A stored entry whose name is written as the bytes given, as legacy tools
// (and Windows tools with Unicode fields) write them.
struct RawEntry {
    RawEntry(std::string n, std::string d, uint32_t f = 0, std::string x = {})
        : name(std::move(n)), data(std::move(d)), flag(uint16_t(f)), extra(std::move(x)) {}
    std::string name;
    std::string data;
    uint16_t flag;
    std::string extra;  // in both headers
};

std::string buildZip(const std::vector<RawEntry>& entries) {
    std::string zip, directory;
    for (const auto& e : entries) {
        const uint32_t offset = uint32_t(zip.size());
        const uint32_t crc = crcOf(e.data);
        auto common = [&](std::string& out) {
            put16(out, e.flag);
            put16(out, 0);       // stored
            put16(out, 0x66BB);  // time
            put16(out, 0x28E7);  // date
            put32(out, crc);
            put32(out, uint32_t(e.data.size()));
            put32(out, uint32_t(e.data.size()));
            put16(out, uint32_t(e.name.size()));
            put16(out, uint32_t(e.extra.size()));
        };
        put32(zip, 0x04034B50);
        put16(zip, 20);
        common(zip);
        zip += e.name + e.extra + e.data;

        put32(directory, 0x02014B50);
        put16(directory, 20);  // made by MS-DOS: names in the OEM code page
        put16(directory, 20);
        common(directory);
        put16(directory, 0);  // comment
        put16(directory, 0);  // disk
        put16(directory, 0);  // internal attributes
        put32(directory, 0);  // external attributes
        put32(directory, offset);
        directory += e.name + e.extra;
    }
    const uint32_t directoryOffset = uint32_t(zip.size());
    zip += directory;
    put32(zip, 0x06054B50);
    put16(zip, 0);
    put16(zip, 0);
    put16(zip, uint32_t(entries.size()));
    put16(zip, uint32_t(entries.size()));
    put32(zip, uint32_t(directory.size()));
    put32(zip, directoryOffset);
    put16(zip, 0);
    return zip;
}

class ZipEntryNameTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = QNTextEncoding::defaultCharset();
        // What every language but Chinese and Korean starts with.
        QNTextEncoding::setDefaultLanguage(std::string("en"));
        ASSERT_EQ(QNTextEncoding::defaultCharset(), "shift_jis");
    }
    void TearDown() override { QNTextEncoding::setDefaultCharset(saved_); }

    // The bytes of a small page whose colour tells which one was decoded.
    std::string pageBytes(int colourNo) {
        const std::string path = src.file("page" + std::to_string(colourNo) + ".bmp");
        EXPECT_TRUE(test::writeBmp(path, 8, 8, [&](int, int) { return pageColour(colourNo, false); }));
        return sys::FileManager::contentsOfFile(path).value_or("");
    }
    void page(const std::string& name, int colourNo) {
        const std::string path = src.file(name);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        ASSERT_TRUE(test::writeBmp(path, 8, 8, [&](int, int) { return pageColour(colourNo, false); }));
    }
    std::string write(const std::string& name, const std::vector<RawEntry>& entries) {
        const std::string path = out.file(name);
        EXPECT_TRUE(sys::FileManager::writeFile(path, buildZip(entries), false));
        return path;
    }

    std::shared_ptr<PageReaderZip> open(const std::string& path, std::optional<std::string> folder = std::nullopt) {
        auto r = std::make_shared<PageReaderZip>();
        EXPECT_TRUE(r->openFile(path, std::nullopt, folder, false, false)) << path;
        return r;
    }
    void expectPage(PageReader& r, int page, int colourNo) {
        int result = -1;
        auto image = r.newLoadAndCreateImage(page, result);
        ASSERT_EQ(result, PageReader::kResultImage) << "page " << page;
        EXPECT_TRUE(colourNear(image->pixel(3, 3), pageColour(colourNo, false))) << "page " << page;
    }
    // Every entry's name as text, in directory order.
    std::vector<std::string> textNames(const std::string& path) {
        std::vector<std::string> names;
        auto archive = ZipArchive::openFile(path);
        EXPECT_TRUE(archive) << path;
        if (!archive) return names;
        ZipArchive::Entry e;
        for (auto s = archive->goToFirst(); s == ZipArchive::Step::Ok; s = archive->goToNext()) {
            EXPECT_TRUE(archive->current(e));
            names.push_back(ZipArchive::nameText(e).value_or("<none>"));
        }
        return names;
    }
    ZipArchive::Entry firstEntry(const std::string& path) {
        ZipArchive::Entry e;
        auto archive = ZipArchive::openFile(path);
        EXPECT_TRUE(archive && archive->goToFirst() == ZipArchive::Step::Ok && archive->current(e)) << path;
        return e;
    }

    std::string saved_;
    test::TempDir src{"namesrc"};
    test::TempDir out{"nameout"};
};

TEST_F(ZipEntryNameTest, ZipAnd7zipArchivesOfUtf8NamesReadRightUnderTheShiftJisDefault) {
    if (!test::haveProgram("zip") || !test::haveProgram("7z")) GTEST_SKIP() << "no zip or 7z";
    page("café.bmp", 0);
    page("日本/01.bmp", 1);
    page("日本/02.bmp", 2);
    const std::string files = " café.bmp 日本/01.bmp 日本/02.bmp";
    ASSERT_EQ(test::shell("cd '" + src.path() + "' && LC_ALL=C.UTF-8 zip -q '" + out.file("zip.cbz") + "'" + files +
                          " >/dev/null 2>&1"),
              0);
    ASSERT_EQ(test::shell("cd '" + src.path() + "' && 7z a -tzip '" + out.file("7z.cbz") + "'" + files +
                          " >/dev/null 2>&1"),
              0);
    // 7-Zip marks its UTF-8 names; this build of Info-ZIP writes them bare.
    EXPECT_TRUE(firstEntry(out.file("7z.cbz")).flag & ZipArchive::kUtf8NameFlag);
    EXPECT_TRUE(firstEntry(out.file("7z.cbz")).declaredUtf8Name.has_value());

    for (const char* book : {"zip.cbz", "7z.cbz"}) {
        SCOPED_TRACE(book);
        const std::string path = out.file(book);
        auto names = textNames(path);
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"café.bmp", "日本/01.bmp", "日本/02.bmp"}))
            << "not cafﾃｩ.bmp nor 譌･譛ｬ";

        auto r = open(path);
        EXPECT_EQ(r->getFolderList(false), (std::vector<std::string>{"日本"}));
        // Names stay the stored bytes, which are UTF-8 here.
        auto pages = r->getPageNameList();
        ASSERT_EQ(pages.size(), 3u);
        EXPECT_NE(std::find(pages.begin(), pages.end(), std::string("café.bmp", 10)), pages.end());

        auto folder = open(path, std::string("日本"));
        ASSERT_EQ(folder->getPageNameList().size(), 2u);
        expectPage(*folder, 0, 1);
        expectPage(*folder, 1, 2);
    }
}

TEST_F(ZipEntryNameTest, LegacyNamesWithoutAnyMarkFollowTheCharacterSetOfTheUser) {
    // Shift-JIS under the default: the folder reads as Japanese and picks its pages.
    const std::string sjisBook = write("sjis.cbz", {{sjis("表紙.bmp"), pageBytes(0)},
                                                     {sjis("第1巻/01.bmp"), pageBytes(1)},
                                                     {sjis("第1巻/02.bmp"), pageBytes(2)}});
    EXPECT_EQ(textNames(sjisBook), (std::vector<std::string>{"表紙.bmp", "第1巻/01.bmp", "第1巻/02.bmp"}));
    auto r = open(sjisBook);
    EXPECT_EQ(r->getFolderList(false), (std::vector<std::string>{"第1巻"}));
    auto volume = open(sjisBook, std::string("第1巻"));
    EXPECT_EQ(volume->getGlobalPageNoList(), (std::vector<int32_t>{1, 2}));
    expectPage(*volume, 1, 2);

    // CP437 (DOS, Windows in the West) under its own choice; the same bytes
    // under the default are not mistaken for UTF-8.
    const std::string dos = write("cp437.cbz", {{"caf\x82.bmp", pageBytes(0)}, {"\xA5u/01.bmp", pageBytes(1)}});
    EXPECT_EQ(textNames(dos)[0].find("café"), std::string::npos);
    QNTextEncoding::setDefaultCharset(std::string("cp437"));
    EXPECT_EQ(textNames(dos), (std::vector<std::string>{"café.bmp", "Ñu/01.bmp"}));
    EXPECT_EQ(open(dos)->getFolderList(false), (std::vector<std::string>{"Ñu"}));

    // EUC-KR under the Korean default.
    QNTextEncoding::setDefaultLanguage(std::string("kr"));
    const std::string euckr = *QNTextEncoding::dataWithString("한국/01.bmp", "euc-kr");
    const std::string korean = write("euckr.cbz", {{euckr, pageBytes(3)}});
    EXPECT_EQ(textNames(korean), (std::vector<std::string>{"한국/01.bmp"}));
    auto k = open(korean, std::string("한국"));
    ASSERT_EQ(k->getPageNameList(), (std::vector<std::string>{euckr + '\0'}));
    expectPage(*k, 0, 3);
}

TEST_F(ZipEntryNameTest, TheArchivesOwnDeclarationComesFirstAndAStaleUnicodeFieldIsIgnored) {
    const std::string cafe437 = "caf\x82.bmp";
    const std::string table = sjis("表/01.bmp");
    // Windows tools: the name in the OEM code page plus its UTF-8 form.
    const std::string book = write(
        "declared.cbz",
        {{cafe437, pageBytes(0), 0, unicodePathField(crcOf(cafe437), "café.bmp")},
         // Renamed by a tool that kept the old field: its CRC is that of another name.
         {table, pageBytes(1), 0, unicodePathField(crcOf("old/01.bmp"), "old/01.bmp")},
         // A field of an unknown version.
         {sjis("裏/02.bmp"), pageBytes(2), 0, unicodePathField(crcOf(sjis("裏/02.bmp")), "v2/02.bmp", 2)},
         // The UTF-8 flag on bytes that are not UTF-8 promises nothing.
         {sjis("背表紙.bmp"), pageBytes(3), ZipArchive::kUtf8NameFlag}});
    EXPECT_EQ(textNames(book), (std::vector<std::string>{"café.bmp", "表/01.bmp", "裏/02.bmp", "背表紙.bmp"}));
    auto r = open(book);
    auto folders = r->getFolderList(false).value_or(std::vector<std::string>{});
    EXPECT_EQ(std::set<std::string>(folders.begin(), folders.end()), (std::set<std::string>{"裏", "表"}));
    // Pages keep their stored bytes; the declared name is only their text.
    auto names = r->getPageNameList();
    EXPECT_NE(std::find(names.begin(), names.end(), cafe437 + '\0'), names.end());

    // A folder named by the field holds its page.
    const std::string nested = sjis("第2巻/01.bmp");
    const std::string fielded = write("fielded.cbz", {{nested, pageBytes(4), 0,
                                                        unicodePathField(crcOf(nested), "第二巻/01.bmp")}});
    auto f = open(fielded, std::string("第二巻"));
    ASSERT_EQ(f->getPageNameList().size(), 1u);
    expectPage(*f, 0, 4);
}

TEST_F(ZipEntryNameTest, DirectoryEntriesOfDeclaredUtf8NamesMayEndInABackslash) {
    // あ is E3 81 82: under the Shift-JIS rule 0x82 would be a lead byte and
    // the final backslash part of a character.
    const std::string flagged = "\xE3\x81\x82\\";
    const std::string book = write("dirs.cbz", {{flagged, "", ZipArchive::kUtf8NameFlag},
                                                {sjis("ソ"), "a file whose name ends in 0x5C"},
                                                {"p.bmp", pageBytes(0)}});
    auto archive = ZipArchive::openFile(book);
    ASSERT_TRUE(archive);
    ZipArchive::Entry e;
    std::vector<bool> isDirectory;
    for (auto s = archive->goToFirst(); s == ZipArchive::Step::Ok; s = archive->goToNext()) {
        ASSERT_TRUE(archive->current(e));
        isDirectory.push_back(PageReaderZip::isDirectoryEntry(e));
    }
    EXPECT_EQ(isDirectory, (std::vector<bool>{true, false, false}));
    EXPECT_FALSE(PageReaderZip::isDirectoryEntry(flagged)) << "the bytes alone keep the Shift-JIS rule";
}

TEST_F(ZipEntryNameTest, NamesKnownOnlyByTheirBytes) {
    // UTF-8 from Linux under the Shift-JIS default (once shown as 譌･譛ｬ.jpg).
    EXPECT_EQ(ZipArchive::nameText(std::string("日本.jpg")), "日本.jpg");
    EXPECT_EQ(ZipArchive::nameText(std::string("café.jpg")), "café.jpg");
    EXPECT_EQ(ZipArchive::nameText(sjis("日本.jpg")), "日本.jpg");
    EXPECT_EQ(ZipArchive::nameText(std::string("plain.jpg")), "plain.jpg");
    EXPECT_FALSE(ZipArchive::utf8NameText(std::string("plain.jpg"))) << "ASCII is left to the chain";
    EXPECT_FALSE(ZipArchive::utf8NameText(sjis("日本.jpg")));
    // UTF-8 also goes before a Chinese or Korean default, which would read
    // nearly any bytes.
    for (const char* language : {"zh-Hans", "zh-Hant", "kr"}) {
        QNTextEncoding::setDefaultLanguage(std::string(language));
        EXPECT_EQ(ZipArchive::nameText(std::string("한국/日本.jpg")), "한국/日本.jpg") << language;
    }
}

TEST_F(ZipEntryNameTest, AnInnerArchiveIsExtractedUnderItsDeclaredName) {
    const std::string inner = buildZip({{"p.bmp", pageBytes(0)}});
    const std::string raw = "caf\x82.cbz";
    const std::string book = write("outer.zip", {{raw, inner, 0, unicodePathField(crcOf(raw), "café.cbz")},
                                                 {"cover.bmp", pageBytes(1)}});
    EXPECT_EQ(PageReaderZip::getArchiveList(book, false, {}, "", "", nullptr, {}), (std::vector<std::string>{raw}));
    EXPECT_EQ(PageReaderZip::extractFile(book, {}, std::nullopt, raw, "", ""), PageReaderZip::kExtractDone);
    EXPECT_EQ(sys::FileManager::contentsOfFile(out.file("café.cbz")), inner);
}

}  // namespace
