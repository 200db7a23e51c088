// Zip books read in place on a server: nginx on loopback for the normal
// case, our fault server for a server that stalls or cannot serve ranges,
// the test range loader filling the block cache.
#include "engine/PageReaderZip.h"

#include "engine/BookReaderEx.h"
#include "engine/ImageLoader.h"
#include "engine/RemoteStreamRead.h"
#include "platform/core/Clock.h"
#include "platform/core/FileManager.h"
#include "platform/core/Thread.h"
#include "tests/engine/ArchiveReaderFixture.h"
#include "tests/engine/ArchiveStreamFixture.h"
#include "tests/engine/StreamTestBlocks.h"
#include "tests/support/net/NginxServer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>

namespace {

using test::blocksOf;
using test::readFile;
using test::rangeOfBlock;
using test::noisePage;
using test::samePixels;

constexpr uint64_t BS = RemoteStreamRead::kBlockSize;

uint32_t le(const std::string& b, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | uint8_t(b[at + size_t(i)]);
    return v;
}

// Where an entry lies in a classic zip, from its directory record.
struct EntrySpan {
    uint64_t localHeader = 0;
    uint64_t dataEnd = 0;
};

EntrySpan spanOf(const std::string& zip, const std::string& name) {
    const size_t eocd = zip.rfind("PK\x05\x06");
    size_t at = le(zip, eocd + 16, 4);
    while (zip.compare(at, 4, "PK\x01\x02") == 0) {
        const size_t nameLen = le(zip, at + 28, 2);
        if (zip.compare(at + 46, nameLen, name) == 0) {
            EntrySpan s;
            s.localHeader = le(zip, at + 42, 4);
            const uint64_t data = s.localHeader + 30 + le(zip, s.localHeader + 26, 2) + le(zip, s.localHeader + 28, 2);
            s.dataEnd = data + le(zip, at + 20, 4);
            return s;
        }
        at += 46 + nameLen + le(zip, at + 30, 2) + le(zip, at + 32, 2);
    }
    ADD_FAILURE() << "no entry " << name;
    return {};
}

class ZipStreamTest : public test::ArchiveStreamFixture {
protected:
    ZipStreamTest() : ArchiveStreamFixture("zip", "zip -q", "zip") {}
};

TEST_F(ZipStreamTest, OpeningAndReadingOnePageFetchesOnlyTheDirectoryAndThatPage) {
    REQUIRE_NGINX();
    std::string files;
    for (int i = 0; i < 12; ++i) {
        const std::string name = "page" + std::to_string(i) + ".bmp";
        ASSERT_TRUE(noisePage(pages.file(name), 320, 700 + uint32_t(i)));
        files += " " + name;
    }
    const std::string zip = readFile(publish(pages.path(), "book.cbz", "", files));
    const uint64_t size = zip.size();
    const size_t eocd = zip.rfind("PK\x05\x06");
    const uint64_t cdOffset = le(zip, eocd + 16, 4);
    const EntrySpan page7 = spanOf(zip, "page7.bmp");
    ASSERT_GT(size, 12 * BS) << "a book of many blocks";

    const size_t before = nginx().requests().size();
    auto r = std::make_shared<PageReaderZip>();
    ASSERT_TRUE(r->openFile(nginx().url("/book.cbz"), std::nullopt, std::nullopt, false, false));
    ASSERT_EQ(r->getPageNameList().size(), 12u);
    EXPECT_EQ(r->getPageNameList()[7], std::string("page7.bmp", 10));
    int result = -1;
    auto image = r->newLoadAndCreateImage(7, result);
    ASSERT_EQ(result, PageReader::kResultImage);
    EXPECT_TRUE(samePixels(image, ImageLoader::imageWithAnyContentsOfFile(pages.file("page7.bmp"))));

    // The directory (and the end records the library looks for behind it),
    // then the page's header and data: nothing else.
    std::set<uint64_t> needed = blocksOf(cdOffset, size);
    for (uint64_t b : blocksOf(page7.localHeader, page7.dataEnd)) needed.insert(b);
    std::set<uint64_t> allowed = needed;
    for (uint64_t b : blocksOf(size > 0xFFFF ? size - 0xFFFF : 0, size)) allowed.insert(b);
    std::set<std::string> mustFetch, mayFetch;
    for (uint64_t b : needed) mustFetch.insert(rangeOfBlock(b, size));
    for (uint64_t b : allowed) mayFetch.insert(rangeOfBlock(b, size));
    ASSERT_TRUE(nginx().waitForRequests(before + 1 + needed.size()));
    std::set<std::string> fetched;
    auto log = nginx().requests();
    for (size_t i = before + 1; i < log.size(); ++i) {
        EXPECT_TRUE(mayFetch.count(log[i].range)) << "fetched " << log[i].range;
        EXPECT_TRUE(fetched.insert(log[i].range).second) << "fetched twice: " << log[i].range;
    }
    for (const auto& range : mustFetch) EXPECT_TRUE(fetched.count(range)) << "not fetched: " << range;
    EXPECT_LT(fetched.size(), size / BS / 2);

    // The next page's blocks only when it is read.
    const size_t afterFirst = nginx().requests().size();
    auto again = r->newLoadAndCreateImage(7, result);
    EXPECT_EQ(result, PageReader::kResultImage);
    EXPECT_EQ(nginx().requests().size(), afterFirst) << "a page read again costs nothing";
    // Pages are paired by their sizes only where the book is at hand: no
    // page is fetched to learn its size.
    EXPECT_EQ(r->pictureSize(2), gfx::Size{});
    EXPECT_EQ(nginx().requests().size(), afterFirst);
    r->closeFile();
}

TEST_F(ZipStreamTest, AnEncryptedBookOnTheServerAsksForItsPasswordAndOpensWithIt) {
    REQUIRE_NGINX();
    publish(bookDir.path(), "locked.cbz", "-P pw", "p0.bmp p1.bmp p2.bmp");
    auto r = std::make_shared<PageReaderZip>();
    ASSERT_TRUE(r->openFile(nginx().url("/locked.cbz"), std::nullopt, std::nullopt, false, false));
    int result = -1;
    EXPECT_FALSE(r->newLoadAndCreateImage(1, result));
    EXPECT_EQ(result, PageReader::kResultPassword);
    ASSERT_TRUE(r->openFile(nginx().url("/locked.cbz"), std::string("pw"), std::nullopt, false, false));
    auto image = r->newLoadAndCreateImage(1, result);
    ASSERT_EQ(result, PageReader::kResultImage);
    EXPECT_TRUE(test::colourNear(image->pixel(20, 20), test::pageColour(1, false)));
}

TEST_F(ZipStreamTest, CancellingFreesAPageLoadStuckOnAStalledServer) {
    // A page over three blocks, then a small one and the directory, all in
    // the last block with the 64 kB before the end that the library
    // searches: the open costs request 2, the big page stalls on request 3.
    ASSERT_TRUE(noisePage(pages.file("big.bmp"), 450, 1));
    ASSERT_TRUE(noisePage(pages.file("small.bmp"), 16, 2));
    const std::string zip = readFile(publish(pages.path(), "stall.cbz", "-0", "big.bmp small.bmp"));
    ASSERT_GE(zip.size(), 2 * BS + 0xFFFF + 1100);
    ASSERT_LT(zip.size(), 3 * BS);

    auto r = std::make_shared<PageReaderZip>();
    ASSERT_TRUE(r->openFile(fault_->url("/stall.cbz?stall_from=3"), std::nullopt, std::nullopt, false, false));
    ASSERT_EQ(fault_->requestCount("/stall.cbz"), 2u);
    // The small page, though cached, is not read after the cancel either.
    expectCancelFreesStalledLoad(*r, 0, 1);
}

TEST_F(ZipStreamTest, BooksInOtherMethodsAndUnderAesReadInPlace) {
    REQUIRE_NGINX();
    if (!test::haveProgram("7z")) GTEST_SKIP() << "no 7z";
    // Pages of half noise: every method shrinks them, yet each still spans
    // several blocks.
    for (int i = 0; i < 2; ++i) {
        std::mt19937 rng(40 + uint32_t(i));
        ASSERT_TRUE(test::writeBmp(pages.file("n" + std::to_string(i) + ".bmp"), 500, 500,
                                   [&](int, int) { return 0xFF000000u | (rng() & 0x3F3F3F); }));
    }
    auto make = [&](const std::string& name, const std::string& options) {
        ::unlink(root_->file(name).c_str());
        EXPECT_EQ(test::shell("cd '" + pages.path() + "' && 7z a -tzip -bd " + options + " '" + root_->file(name) +
                              "' n0.bmp n1.bmp >/dev/null"),
                  0);
        return sys::FileManager::contentsOfFile(root_->file(name)).value_or("");
    };
    const auto original = ImageLoader::imageWithAnyContentsOfFile(pages.file("n1.bmp"));
    for (const char* method : {"Deflate64", "BZip2", "LZMA", "PPMd"}) {
        for (bool aes : {false, true}) {
            SCOPED_TRACE(std::string(method) + (aes ? " AES" : ""));
            const std::string name = std::string(method) + (aes ? "-aes" : "") + ".cbz";
            const std::string zip = make(name, std::string("-mm=") + method + (aes ? " -mem=AES256 -psecret" : ""));
            const EntrySpan span = spanOf(zip, "n1.bmp");
            ASSERT_GT(span.dataEnd - span.localHeader, BS) << "a page over several blocks";
            auto r = std::make_shared<PageReaderZip>();
            int result = -1;
            if (aes) {
                ASSERT_TRUE(r->openFile(nginx().url("/" + name), std::nullopt, std::nullopt, false, false));
                EXPECT_FALSE(r->newLoadAndCreateImage(1, result));
                EXPECT_EQ(result, PageReader::kResultPassword);
            }
            ASSERT_TRUE(r->openFile(nginx().url("/" + name), aes ? std::optional<std::string>("secret") : std::nullopt,
                                    std::nullopt, false, false));
            auto image = r->newLoadAndCreateImage(1, result);
            ASSERT_EQ(result, PageReader::kResultImage);
            EXPECT_TRUE(samePixels(image, original));
            r->closeFile();
        }
    }
    // A changed byte of an AES page on the server: its code fails, and no
    // page comes out.
    std::string zip = make("tampered.cbz", "-mm=LZMA -mem=AES256 -psecret");
    const EntrySpan span = spanOf(zip, "n1.bmp");
    zip[(span.localHeader + span.dataEnd) / 2] ^= 0x20;
    ASSERT_TRUE(sys::FileManager::writeFile(root_->file("tampered.cbz"), zip, false));
    auto r = std::make_shared<PageReaderZip>();
    ASSERT_TRUE(r->openFile(nginx().url("/tampered.cbz"), std::string("secret"), std::nullopt, false, false));
    int result = -1;
    EXPECT_FALSE(r->newLoadAndCreateImage(1, result));
    EXPECT_EQ(result, PageReader::kResultFailed);
    r->closeFile();
}

TEST_F(ZipStreamTest, AServerWithoutRangesIsReportedAsUnsupported) {
    publish(bookDir.path(), "norange.cbz", "", "p0.bmp");
    auto r = std::make_shared<PageReaderZip>();
    EXPECT_FALSE(r->openFile(fault_->url("/norange.cbz?norange=1"), std::nullopt, std::nullopt, false, false));
    EXPECT_TRUE(r->isUnsupportedServer());
    EXPECT_TRUE(r->getPageNameList().empty());
    ASSERT_TRUE(r->openFile(fault_->url("/norange.cbz"), std::nullopt, std::nullopt, false, false));
    EXPECT_FALSE(r->isUnsupportedServer()) << "the next open starts clean";

    // Without a stream class for the address there is nothing to open with.
    EXPECT_FALSE(r->openFile("ftp://127.0.0.1:1/book.cbz", std::nullopt, std::nullopt, false, false));
    EXPECT_FALSE(PageReaderZip::getArchiveList("ftp://127.0.0.1:1/book.cbz", false, {}, "", "", nullptr, {}));
}

TEST_F(ZipStreamTest, TheSessionStreamsAZipAndPassesTheBlockProgressOn) {
    REQUIRE_NGINX();
    publish(bookDir.path(), "shelf.cbz", "", "p0.bmp p1.bmp p2.bmp p3.bmp");
    expectSessionStreamsBlockProgress(nginx().url("/shelf.cbz"), BookReaderEx::ReaderKind::Zip);
    EXPECT_FALSE(session->isStreamingUnitIsPage());
}

}  // namespace
