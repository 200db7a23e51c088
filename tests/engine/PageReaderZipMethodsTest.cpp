// Zip books in the compression methods beyond deflate and under WinZip's
// AES, made by 7-Zip at test time and read from a local disk: every byte of
// every entry, their pages, passwords, tampered and corrupt entries, and a
// method that nothing here reads.
#include "engine/PageReaderZip.h"

#include "engine/BookReaderEx.h"
#include "engine/ImageLoader.h"
#include "engine/ZipArchive.h"
#include "engine/ZipEntryReader.h"
#include "platform/core/FileManager.h"
#include "tests/engine/BookSessionFixture.h"
#include "tests/engine/BookTestPages.h"
#include "tests/support/TestHome.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>

namespace {

using Status = ZipEntryReader::Status;
using test::colourNear;
using test::pageColour;

bool run(const std::string& dir, const std::string& command) {
    return test::shell("cd '" + dir + "' && " + command + " >/dev/null 2>&1") == 0;
}

using test::readFile;

uint32_t le(const std::string& b, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | uint8_t(b[at + size_t(i)]);
    return v;
}

void putLe(std::string& b, size_t at, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b[at + size_t(i)] = char(v >> (8 * i));
}

// Where one entry of a classic (not zip64) archive lies.
struct Record {
    std::string name;
    size_t central = 0;  // its directory record
    size_t local = 0;    // its local header
    size_t data = 0;     // its stored bytes
    size_t compressed = 0;
};

std::vector<Record> recordsOf(const std::string& zip) {
    std::vector<Record> out;
    const size_t eocd = zip.rfind("PK\x05\x06");
    if (eocd == std::string::npos) return out;
    for (size_t at = le(zip, eocd + 16, 4); zip.compare(at, 4, "PK\x01\x02") == 0;) {
        Record r;
        const size_t nameLength = le(zip, at + 28, 2);
        r.name = zip.substr(at + 46, nameLength);
        r.central = at;
        r.local = le(zip, at + 42, 4);
        r.data = r.local + 30 + le(zip, r.local + 26, 2) + le(zip, r.local + 28, 2);
        r.compressed = le(zip, at + 20, 4);
        out.push_back(r);
        at += 46 + nameLength + le(zip, at + 30, 2) + le(zip, at + 32, 2);
    }
    return out;
}

Record recordOf(const std::string& zip, const std::string& name) {
    for (const auto& r : recordsOf(zip))
        if (r.name == name) return r;
    ADD_FAILURE() << "no entry " << name;
    return {};
}

// The offset of the AES extra field's body in the header at `header`
// (local when `central` is false); npos when there is none.
size_t aesFieldIn(const std::string& zip, size_t header, bool central) {
    const size_t nameLength = le(zip, header + (central ? 28 : 26), 2);
    const size_t extraLength = le(zip, header + (central ? 30 : 28), 2);
    size_t at = header + (central ? 46 : 30) + nameLength;
    const size_t end = at + extraLength;
    while (at + 4 <= end) {
        if (le(zip, at, 2) == 0x9901) return at + 4;
        at += 4 + le(zip, at + 2, 2);
    }
    return std::string::npos;
}

// Text of a few symbols drawn at random: every method shrinks it, to about
// half, so that even compressed it spans several reads.
std::string halfNoise(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string s(n, ' ');
    for (auto& c : s) c = "abcdefghijklmnop\n"[rng() % 17];
    return s;
}

class ZipMethodsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::haveProgram("7z")) GTEST_SKIP() << "no 7z";
    }

    // A page of `colourNo`, flecked with noise so that it is not tiny once
    // compressed.
    void page(const std::string& name, int colourNo, int side = 64) {
        std::mt19937 rng(uint32_t(colourNo) + 1);
        ASSERT_TRUE(test::writeBmp(src.file(name), side, side, [&](int x, int y) -> uint32_t {
            if (x < 8 && y < 8) return pageColour(colourNo, false);
            return (rng() & 3) == 0 ? uint32_t(0xFF000000u | (rng() & 0xFFFFFF)) : pageColour(colourNo, false);
        }));
    }
    std::string make(const std::string& name, const std::string& options, const std::string& files) {
        const std::string zip = out.file(name);
        ::unlink(zip.c_str());
        EXPECT_TRUE(run(src.path(), "7z a -tzip -bd " + options + " '" + zip + "' " + files)) << options;
        return zip;
    }
    std::string write(const std::string& name, const std::string& bytes) {
        EXPECT_TRUE(sys::FileManager::writeFile(out.file(name), bytes, false));
        return out.file(name);
    }

    // Reads entry `name` of `zip` whole through the entry reader.
    static Status readEntry(const std::string& zip, const std::string& name, std::optional<std::string> password,
                            std::string& bytes, uint64_t cap = UINT64_MAX) {
        bytes.clear();
        auto archive = ZipArchive::openFile(zip);
        if (!archive || !archive->locate(name)) return Status::ReadError;
        ZipEntryReader reader(*archive);
        const Status s = reader.open(password, cap);
        if (s != Status::Ok) return s;
        return reader.readAll(bytes);
    }

    static int resultOf(PageReader& r, int page, gfx::ImageRef* image = nullptr) {
        int result = -1;
        auto decoded = r.newLoadAndCreateImage(page, result);
        EXPECT_EQ(bool(decoded), result == PageReader::kResultImage);
        if (image) *image = decoded;
        return result;
    }
    static std::shared_ptr<PageReaderZip> open(const std::string& path, std::optional<std::string> password) {
        auto r = std::make_shared<PageReaderZip>();
        EXPECT_TRUE(r->openFile(path, password, std::nullopt, false, false)) << path;
        return r;
    }
    void expectPage(PageReader& r, int page, int colourNo) {
        gfx::ImageRef image;
        ASSERT_EQ(resultOf(r, page, &image), PageReader::kResultImage) << "page " << page;
        EXPECT_TRUE(colourNear(image->pixel(3, 3), pageColour(colourNo, false))) << "page " << page;
    }

    test::TempDir src{"zipmsrc"};
    test::TempDir out{"zipmout"};
};

const char* const kMethods[] = {"Copy", "Deflate", "Deflate64", "BZip2", "LZMA", "PPMd"};

TEST_F(ZipMethodsTest, EveryMethodPlainAndEncryptedGivesBackEveryByte) {
    const std::string big = halfNoise(300'000, 1), small = "five\n";
    ASSERT_TRUE(sys::FileManager::writeFile(src.file("big.txt"), big, false));
    ASSERT_TRUE(sys::FileManager::writeFile(src.file("small.txt"), small, false));
    ASSERT_TRUE(sys::FileManager::writeFile(src.file("empty.txt"), "", false));
    for (const char* method : kMethods) {
        for (const char* encryption : {"", "-mem=ZipCrypto", "-mem=AES128", "-mem=AES192", "-mem=AES256"}) {
            const std::string options =
                std::string("-mm=") + method + (*encryption ? std::string(" -psecret ") + encryption : "");
            SCOPED_TRACE(options);
            const std::string zip = make("all.zip", options, "big.txt small.txt empty.txt");
            const std::string bytes = readFile(zip);
            // The archive holds what the case says it does.
            const Record bigRecord = recordOf(bytes, "big.txt");
            const uint32_t stored = le(bytes, bigRecord.central + 10, 2);
            const uint32_t expectedMethod = std::string(encryption).find("AES") != std::string::npos ? 99
                                            : std::string(method) == "LZMA"                          ? 14
                                            : std::string(method) == "PPMd"                          ? 98
                                            : std::string(method) == "BZip2"                         ? 12
                                            : std::string(method) == "Deflate64"                     ? 9
                                                                                                     : stored;
            EXPECT_EQ(stored, expectedMethod);
            EXPECT_GT(bigRecord.compressed, 70'000u) << "more than one read's worth";

            const std::optional<std::string> password =
                *encryption ? std::optional<std::string>("secret") : std::nullopt;
            for (const auto& [name, expected] :
                 std::vector<std::pair<std::string, std::string>>{{"big.txt", big}, {"small.txt", small}, {"empty.txt", ""}}) {
                std::string got;
                EXPECT_EQ(readEntry(zip, name, password, got), Status::End) << name;
                EXPECT_TRUE(got == expected) << name << ": " << got.size() << " bytes";
            }
            // The size cap holds before anything is decoded.
            std::string got;
            EXPECT_EQ(readEntry(zip, "big.txt", password, got, big.size() - 1), Status::TooLarge);
        }
    }
}

TEST_F(ZipMethodsTest, AesBooksAskForThePasswordUntilTheRightOneAndShowTheirPages) {
    page("p1.bmp", 0);
    page("p2.bmp", 1);
    for (const char* options : {"-mem=AES128 -mm=Deflate", "-mem=AES192 -mm=BZip2", "-mem=AES256 -mm=PPMd",
                                "-mem=AES256 -mm=LZMA", "-mem=AES128 -mm=Deflate64", "-mem=AES256 -mm=Copy"}) {
        SCOPED_TRACE(options);
        const std::string zip = make("aes.cbz", std::string(options) + " -psecret", "p1.bmp p2.bmp");
        EXPECT_EQ(resultOf(*open(zip, std::nullopt), 0), PageReader::kResultPassword) << "no password";
        EXPECT_EQ(resultOf(*open(zip, std::string("Secret")), 1), PageReader::kResultPassword) << "wrong password";
        EXPECT_EQ(resultOf(*open(zip, std::string("")), 0), PageReader::kResultPassword) << "empty password";
        auto r = open(zip, std::string("secret"));
        expectPage(*r, 0, 0);
        expectPage(*r, 1, 1);
        // The whole page, not just its corner.
        gfx::ImageRef image;
        ASSERT_EQ(resultOf(*r, 1, &image), PageReader::kResultImage);
        auto original = ImageLoader::imageWithAnyContentsOfFile(src.file("p2.bmp"));
        ASSERT_TRUE(original);
        EXPECT_EQ(std::memcmp(image->pixels(), original->pixels(), size_t(image->width()) * image->height() * 4), 0);
    }
}

TEST_F(ZipMethodsTest, ATamperedAesEntryFailsItsAuthenticationAndIsNeverDecoded) {
    page("p1.bmp", 2, 200);
    struct Case {
        const char* method;
        bool codeOnly;  // change the code rather than the data
    } cases[] = {{"Copy", false}, {"Copy", true}, {"Deflate", false}, {"Deflate64", false}, {"PPMd", true},
                 {"LZMA", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.method) + (c.codeOnly ? " (code)" : " (data)"));
        const std::string zip = make("t.cbz", std::string("-mem=AES256 -psecret -mm=") + c.method, "p1.bmp");
        std::string bytes = readFile(zip);
        const Record rec = recordOf(bytes, "p1.bmp");
        ASSERT_GT(rec.compressed, 1000u);
        // Salt and check first, the code last: a byte deep in the data (a
        // pixel of a stored page, still a page when changed) or of the code.
        const size_t at = c.codeOnly ? rec.data + rec.compressed - 3 : rec.data + rec.compressed / 2;
        bytes[at] = char(bytes[at] ^ 0x01);
        const std::string tampered = write("tampered.cbz", bytes);
        std::string got;
        EXPECT_EQ(readEntry(tampered, "p1.bmp", std::string("secret"), got), Status::AuthenticationFailed);
        EXPECT_TRUE(got.empty());
        EXPECT_EQ(resultOf(*open(tampered, std::string("secret")), 0), PageReader::kResultFailed);
        // The untouched book reads.
        expectPage(*open(zip, std::string("secret")), 0, 2);
    }
}

TEST_F(ZipMethodsTest, AesFirstVersionEntriesAreCheckedByTheirCrcAsWell) {
    ASSERT_TRUE(sys::FileManager::writeFile(src.file("a.txt"), halfNoise(5000, 3), false));
    const std::string zip = make("v1.zip", "-mem=AES128 -psecret -mm=Deflate", "a.txt");
    std::string bytes = readFile(zip);
    const Record rec = recordOf(bytes, "a.txt");
    const size_t localField = aesFieldIn(bytes, rec.local, false), centralField = aesFieldIn(bytes, rec.central, true);
    ASSERT_NE(localField, std::string::npos);
    ASSERT_NE(centralField, std::string::npos);
    ASSERT_EQ(le(bytes, centralField, 2), 2u) << "7-Zip writes the second version";
    ASSERT_EQ(le(bytes, rec.central + 16, 4), 0u) << "which carries no CRC";
    putLe(bytes, localField, 1, 2);
    putLe(bytes, centralField, 1, 2);

    // The first version promises a CRC: the zero there is wrong.
    std::string got;
    EXPECT_EQ(readEntry(write("v1-nocrc.zip", bytes), "a.txt", std::string("secret"), got), Status::BadData);
    const std::string plain = readFile(src.file("a.txt"));
    const uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(plain.data()), uInt(plain.size())));
    putLe(bytes, rec.local + 14, crc, 4);
    putLe(bytes, rec.central + 16, crc, 4);
    EXPECT_EQ(readEntry(write("v1.zip", bytes), "a.txt", std::string("secret"), got), Status::End);
    EXPECT_EQ(got, plain);
}

TEST_F(ZipMethodsTest, CorruptEntriesOfEveryMethodFailAsBrokenPages) {
    page("p1.bmp", 4, 200);
    for (const char* method : {"Deflate64", "BZip2", "LZMA", "PPMd"}) {
        for (bool zipCrypto : {false, true}) {
            SCOPED_TRACE(std::string(method) + (zipCrypto ? " ZipCrypto" : ""));
            const std::string zip =
                make("c.cbz", std::string("-mm=") + method + (zipCrypto ? " -mem=ZipCrypto -psecret" : ""), "p1.bmp");
            std::string bytes = readFile(zip);
            const Record rec = recordOf(bytes, "p1.bmp");
            for (size_t i = 0; i < 8; ++i) bytes[rec.data + rec.compressed / 2 + i] ^= 0x5A;
            const std::optional<std::string> password =
                zipCrypto ? std::optional<std::string>("secret") : std::nullopt;
            std::string got;
            const Status s = readEntry(write("broken.cbz", bytes), "p1.bmp", password, got);
            // Garbage behind the old cipher looks like a wrong password.
            EXPECT_EQ(s, zipCrypto ? Status::WrongPassword : Status::BadData);
            EXPECT_TRUE(got.empty());
            const int result = resultOf(*open(out.file("broken.cbz"), password), 0);
            EXPECT_EQ(result, zipCrypto ? PageReader::kResultPassword : PageReader::kResultFailed);

            // Cut short: the entry claims more than the archive holds.
            bytes = readFile(zip);
            putLe(bytes, rec.central + 20, uint32_t(rec.compressed - 40), 4);
            putLe(bytes, rec.local + 18, uint32_t(rec.compressed - 40), 4);
            EXPECT_NE(readEntry(write("short.cbz", bytes), "p1.bmp", password, got), Status::End);
        }
    }
}

TEST_F(ZipMethodsTest, AMethodNothingHereReadsShowsAPageSayingSo) {
    page("p1.bmp", 0);
    page("p2.bmp", 1);
    for (const char* options : {"-mm=Copy", "-mm=Copy -mem=AES256 -psecret"}) {
        SCOPED_TRACE(options);
        const std::string zip = make("m.cbz", options, "p1.bmp p2.bmp");
        std::string bytes = readFile(zip);
        // Zstandard (93), which 7-Zip's zip writer never uses: in the method
        // fields, or for AES in the field that names the method beneath.
        const Record rec = recordOf(bytes, "p2.bmp");
        const size_t localField = aesFieldIn(bytes, rec.local, false), centralField = aesFieldIn(bytes, rec.central, true);
        if (localField != std::string::npos) {
            putLe(bytes, localField + 5, 93, 2);
            putLe(bytes, centralField + 5, 93, 2);
        } else {
            putLe(bytes, rec.local + 8, 93, 2);
            putLe(bytes, rec.central + 10, 93, 2);
        }
        const std::string zstd = write("zstd.cbz", bytes);
        std::string got;
        EXPECT_EQ(readEntry(zstd, "p2.bmp", std::string("secret"), got), Status::UnknownMethod);

        auto r = open(zstd, std::string("secret"));
        expectPage(*r, 0, 0);
        gfx::ImageRef notice;
        ASSERT_EQ(resultOf(*r, 1, &notice), PageReader::kResultImage);
        // The grey of the unreadable page, with the reason written on it.
        EXPECT_EQ(notice->width(), 720);
        EXPECT_EQ(notice->height(), 960);
        EXPECT_TRUE(colourNear(notice->pixel(10, 10), 0xFFE6E6E6u));
        int ink = 0;
        for (int y = 400; y < 560; ++y)
            for (int x = 0; x < 720; ++x) ink += (notice->pixel(x, y) & 0xFF) < 160;
        EXPECT_GT(ink, 500) << "words in the middle of the page";
        // Nothing to extract from it either.
        EXPECT_EQ(PageReaderZip::extractFile(zstd, {}, std::string("secret"), "p2.bmp", "", ""),
                  PageReaderZip::kExtractFailed);
    }
}

TEST_F(ZipMethodsTest, AZipBehindOtherBytesReadsInEveryForm) {
    page("p1.bmp", 0);
    page("p2.bmp", 1);
    // A zip appended to other bytes (as to a program that unpacks it): its
    // offsets count from its own start.
    const std::string prefix = halfNoise(70'000, 9);
    for (const char* options : {"-mm=Deflate -mem=ZipCrypto -psecret", "-mm=BZip2", "-mm=LZMA -mem=AES256 -psecret",
                                "-mm=PPMd -mem=AES128 -psecret"}) {
        SCOPED_TRACE(options);
        const std::string zip = make("inner.zip", options, "p1.bmp p2.bmp");
        const std::string book = write("appended.cbz", prefix + readFile(zip));
        auto r = open(book, std::string("secret"));
        ASSERT_EQ(r->getPageNameList().size(), 2u);
        expectPage(*r, 0, 0);
        expectPage(*r, 1, 1);
    }
}

TEST_F(ZipMethodsTest, InnerArchivesInOtherMethodsAndUnderAesAreExtracted) {
    page("p1.bmp", 0);
    ASSERT_TRUE(run(src.path(), "zip -q inner.cbz p1.bmp"));
    const std::string book = make("outer.zip", "-mm=LZMA -mem=AES256 -psecret", "inner.cbz");
    EXPECT_EQ(PageReaderZip::extractFile(book, {}, std::nullopt, "inner.cbz", "", ""), PageReaderZip::kExtractPassword);
    EXPECT_EQ(PageReaderZip::extractFile(book, {}, std::string("wrong"), "inner.cbz", "", ""),
              PageReaderZip::kExtractPassword);
    EXPECT_FALSE(sys::FileManager::fileExists(out.file("inner.cbz")));
    EXPECT_EQ(PageReaderZip::extractFile(book, {}, std::string("secret"), "inner.cbz", "", ""),
              PageReaderZip::kExtractDone);
    EXPECT_EQ(readFile(out.file("inner.cbz")), readFile(src.file("inner.cbz")));
    const std::string ppmd = make("outer2.zip", "-mm=PPMd", "inner.cbz");
    EXPECT_EQ(PageReaderZip::extractFile(ppmd, {}, std::nullopt, "inner.cbz", "", ""), PageReaderZip::kExtractDone);
    EXPECT_EQ(readFile(out.file("inner 2.cbz")), readFile(src.file("inner.cbz")));
}

// Through the session: the password question comes back until the right
// answer, and then the pages show.
class ZipAesSessionTest : public test::BookSessionFixture {};

TEST_F(ZipAesSessionTest, AnAesCbzAsksAgainAfterAWrongPasswordAndThenOpens) {
    if (!test::haveProgram("7z")) GTEST_SKIP() << "no 7z";
    const std::string book = bookDir.file("aes.cbz");
    ASSERT_EQ(test::shell("cd '" + bookDir.path() + "' && 7z a -tzip -bd -mem=AES256 -mm=BZip2 -ppw aes.cbz p0.bmp p1.bmp "
                          "p2.bmp >/dev/null"),
              0);
    session = std::make_shared<BookReaderEx>();
    session->setSettings(settings);
    for (const std::optional<std::string>& password : {std::optional<std::string>(), std::optional<std::string>("px")}) {
        ASSERT_TRUE(session->openBookWithName(book, {}, std::nullopt, password, std::nullopt, false, false));
        EXPECT_EQ(session->getPageNum(), 3);
        EXPECT_EQ(session->loadPage(request(PageLoadRequest::kCompose, 0, {200, 300})), BookReaderEx::kLoadPassword);
    }
    ASSERT_TRUE(session->openBookWithName(book, {}, std::nullopt, std::string("pw"), std::nullopt, false, false));
    auto p = load(PageLoadRequest::kCompose, 2, {200, 300});
    ASSERT_TRUE(p && p->image);
    EXPECT_TRUE(colourNear(p->image->pixel(50, 150), pageColour(2, false)));
    EXPECT_TRUE(colourNear(p->image->pixel(150, 150), pageColour(2, true)));
}

}  // namespace
