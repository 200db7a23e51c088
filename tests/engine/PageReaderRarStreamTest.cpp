// RAR books read in place on a server: nginx on loopback for the normal
// case, our fault server for a server that stalls or cannot serve ranges,
// the test range loader filling the block cache.
#include "engine/PageReaderRar.h"

#include "engine/BookReaderEx.h"
#include "engine/ImageLoader.h"
#include "engine/RarStreamShim.h"
#include "engine/RemoteStreamRead.h"
#include "engine/UnrarArchive.h"
#include "platform/core/Clock.h"
#include "platform/core/FileManager.h"
#include "platform/core/PropertyList.h"
#include "platform/core/RunLoop.h"
#include "platform/core/Thread.h"
#include "tests/engine/ArchiveStreamFixture.h"
#include "tests/engine/StreamTestBlocks.h"
#include "tests/support/net/NginxServer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <random>
#include <set>
#include <unistd.h>

namespace {

using test::blocksOf;
using test::rangeOfBlock;
using test::noisePage;
using test::samePixels;

constexpr uint64_t BS = RemoteStreamRead::kBlockSize;

class PageReaderRarStreamTest : public test::ArchiveStreamFixture {
protected:
    PageReaderRarStreamTest() : ArchiveStreamFixture("rar", "rar a -idq", "rar") {}
    void TearDown() override {
        ArchiveStreamFixture::TearDown();
        EXPECT_EQ(RarStreamShim::openDescriptorCount(), 0u) << "every archive was closed";
    }
    std::string indexPath() const { return RemoteStreamRead::getRemoteCacheFilePath(PageReaderRar::kIndexFileName, false); }
};

TEST_F(PageReaderRarStreamTest, OpeningWalksOnlyTheHeadersAndAPageFetchesOnlyItsOwnBlocks) {
    REQUIRE_NGINX();
    std::string files;
    for (int i = 0; i < 8; ++i) {
        const std::string name = "page" + std::to_string(i) + ".bmp";
        ASSERT_TRUE(noisePage(pages.file(name), 700, 300 + uint32_t(i)));
        files += " " + name;
    }
    const std::string book = publish(pages.path(), "book.cbr", "-m0", files);
    const uint64_t size = sys::FileManager::contentsOfFile(book).value_or("").size();
    ASSERT_GT(size, 40 * BS);
    // Where the headers lie, from a local listing of the same file.
    UnrarArchive local(book, std::nullopt);
    std::vector<UnrarArchive::Entry> entries;
    ASSERT_EQ(local.unrarListFilesNoEncodingWithFileSizeArray(entries), UnrarArchive::Status::Ok);
    ASSERT_EQ(entries.size(), 8u);
    std::set<uint64_t> allowed = blocksOf(0, 2 * BS);
    for (const auto& e : entries) allowed.merge(blocksOf(uint64_t(e.position), uint64_t(e.position) + 2 * BS));
    allowed.merge(blocksOf(size > 2 * BS ? size - 2 * BS : 0, size));
    const uint64_t page5Start = uint64_t(entries[5].position), page5End = uint64_t(entries[6].position);

    const size_t before = nginx().requests().size();
    auto r = std::make_shared<PageReaderRar>();
    ASSERT_TRUE(r->openFile(nginx().url("/book.cbr"), std::nullopt, std::nullopt, false, false));
    ASSERT_EQ(r->getPageNameList().size(), 8u);
    const size_t afterOpen = nginx().requests().size();
    int result = -1;
    auto image = r->newLoadAndCreateImage(5, result);
    ASSERT_EQ(result, PageReader::kResultImage);
    EXPECT_TRUE(samePixels(image, ImageLoader::imageWithAnyContentsOfFile(pages.file("page5.bmp"))));
    for (uint64_t b : blocksOf(page5Start, page5End)) allowed.insert(b);

    std::set<std::string> mayFetch, fetched;
    for (uint64_t b : allowed) mayFetch.insert(rangeOfBlock(b, size));
    auto log = nginx().requests();
    for (size_t i = before + 1; i < log.size(); ++i) {
        EXPECT_TRUE(mayFetch.count(log[i].range)) << "fetched " << log[i].range;
        EXPECT_TRUE(fetched.insert(log[i].range).second) << "fetched twice: " << log[i].range;
    }
    for (uint64_t b : blocksOf(page5Start + 64 * 1024, page5End - 64 * 1024))
        EXPECT_TRUE(fetched.count(rangeOfBlock(b, size))) << "page 5's data " << b;
    EXPECT_LT(fetched.size(), size / BS * 2 / 3) << "far from the whole book";
    EXPECT_GT(nginx().requests().size(), afterOpen);

    // A page read again costs nothing; the listing was kept for the next open.
    const size_t afterPage = nginx().requests().size();
    EXPECT_TRUE(r->newLoadAndCreateImage(5, result));
    EXPECT_EQ(nginx().requests().size(), afterPage);
    r->closeFile();
    auto index = sys::PropertyList::readDictionary(indexPath());
    ASSERT_TRUE(index.has_value());
    EXPECT_EQ(index->getArray("fileList")->size(), 8u);
    EXPECT_EQ(index->getArray("filePoint")->size(), 8u);
}

TEST_F(PageReaderRarStreamTest, TheKeptListingReplacesTheHeaderWalkUntilTheCacheStartsAfresh) {
    REQUIRE_NGINX();
    const std::string book = publish(bookDir.path(), "shelf.cbr", "", "p0.bmp p1.bmp p2.bmp p3.bmp");
    auto r = std::make_shared<PageReaderRar>();
    ASSERT_TRUE(r->openFile(nginx().url("/shelf.cbr"), std::nullopt, std::nullopt, false, false));
    r->closeFile();
    auto index = sys::PropertyList::readDictionary(indexPath());
    ASSERT_TRUE(index.has_value());

    // The kept listing is what the next open believes: cut to two entries, two pages.
    sys::PlistDictionary cut = *index;
    for (const char* key : {"fileList", "filePoint", "fileSize", "fileFlags"}) {
        auto a = *cut.getArray(key);
        a.resize(2);
        cut.set(key, sys::PlistValue(a));
    }
    ASSERT_TRUE(sys::PropertyList::writeFile(sys::PlistValue(cut), indexPath()));
    ASSERT_TRUE(r->openFile(nginx().url("/shelf.cbr"), std::nullopt, std::nullopt, false, false));
    EXPECT_EQ(r->getPageNameList().size(), 2u);
    int result = -1;
    auto image = r->newLoadAndCreateImage(1, result);
    ASSERT_EQ(result, PageReader::kResultImage);
    EXPECT_TRUE(test::colourNear(image->pixel(50, 150), test::pageColour(1, false)));
    r->closeFile();

    // A listing that does not parse, or whose arrays disagree, is walked again.
    ASSERT_TRUE(sys::FileManager::writeFile(indexPath(), "garbage", false));
    ASSERT_TRUE(r->openFile(nginx().url("/shelf.cbr"), std::nullopt, std::nullopt, false, false));
    EXPECT_EQ(r->getPageNameList().size(), 4u);
    r->closeFile();
    sys::PlistDictionary uneven = *index;
    uneven.set("filePoint", sys::PlistValue(sys::PlistArray{sys::PlistValue(int64_t(0))}));
    ASSERT_TRUE(sys::PropertyList::writeFile(sys::PlistValue(uneven), indexPath()));
    ASSERT_TRUE(r->openFile(nginx().url("/shelf.cbr"), std::nullopt, std::nullopt, false, false));
    EXPECT_EQ(r->getPageNameList().size(), 4u);
    r->closeFile();

    // An entry the listing puts where the archive has another is not read in its place.
    sys::PlistDictionary shifted = *index;
    auto points = *shifted.getArray("filePoint");
    std::swap(points[1], points[2]);
    shifted.set("filePoint", sys::PlistValue(points));
    ASSERT_TRUE(sys::PropertyList::writeFile(sys::PlistValue(shifted), indexPath()));
    ASSERT_TRUE(r->openFile(nginx().url("/shelf.cbr"), std::nullopt, std::nullopt, false, false));
    for (int i : {2, 1, 3}) {
        auto page = r->newLoadAndCreateImage(i, result);
        ASSERT_EQ(result, PageReader::kResultImage) << i;
        EXPECT_TRUE(test::colourNear(page->pixel(50, 150), test::pageColour(i, false))) << i;
    }
    r->closeFile();

    // Another book starts the cache afresh, and with it the listing.
    publish(bookDir.path(), "other.cbr", "", "p0.bmp");
    ASSERT_TRUE(r->openFile(nginx().url("/other.cbr"), std::nullopt, std::nullopt, false, false));
    EXPECT_EQ(r->getPageNameList().size(), 1u);
    EXPECT_EQ(sys::PropertyList::readDictionary(indexPath())->getArray("fileList")->size(), 1u);
    r->closeFile();
}

TEST_F(PageReaderRarStreamTest, ASolidBookOnAServerIsRefusedAndEncryptedHeadersNeedThePassword) {
    REQUIRE_NGINX();
    publish(bookDir.path(), "solid.cbr", "-s", "p0.bmp p1.bmp p2.bmp");
    ASSERT_TRUE(sys::RunLoop::isMainThread());
    auto r = std::make_shared<PageReaderRar>();
    EXPECT_FALSE(r->openFile(nginx().url("/solid.cbr"), std::nullopt, std::nullopt, false, false));
    EXPECT_TRUE(r->isErrorBecauseSolidArchive());
    EXPECT_EQ(r->openFailure(), PageReader::OpenFailure::None) << "not damaged: refused";
    EXPECT_TRUE(r->getPageNameList().empty());
    // From another thread it is a plain failure.
    bool opened = true, flagged = true;
    sys::Thread worker([&](const std::atomic<bool>&) {
        opened = r->openFile(nginx().url("/solid.cbr"), std::nullopt, std::nullopt, false, false);
        flagged = r->isErrorBecauseSolidArchive();
    });
    worker.join();
    EXPECT_FALSE(opened);
    EXPECT_FALSE(flagged);

    publish(bookDir.path(), "hidden.cbr", "-hppw", "p0.bmp p1.bmp");
    EXPECT_FALSE(r->openFile(nginx().url("/hidden.cbr"), std::nullopt, std::nullopt, false, false));
    EXPECT_EQ(r->openFailure(), PageReader::OpenFailure::Password);
    EXPECT_FALSE(r->isErrorBecauseSolidArchive());
    ASSERT_TRUE(r->openFile(nginx().url("/hidden.cbr"), std::string("pw"), std::nullopt, false, false));
    int result = -1;
    auto image = r->newLoadAndCreateImage(1, result);
    ASSERT_EQ(result, PageReader::kResultImage);
    EXPECT_TRUE(test::colourNear(image->pixel(50, 150), test::pageColour(1, false)));
}

TEST_F(PageReaderRarStreamTest, OfAVolumeSetOnAServerThePagesOfItsFirstVolumeAreRead) {
    REQUIRE_NGINX();
    ASSERT_TRUE(noisePage(pages.file("a.bmp"), 40, 1));
    ASSERT_TRUE(noisePage(pages.file("b.bmp"), 60, 2));
    ASSERT_EQ(test::shell("cd '" + pages.path() + "' && rar a -idq -m0 -v8k '" + root_->file("set.rar") +
                          "' a.bmp b.bmp"),
              0);
    ASSERT_TRUE(sys::FileManager::fileExists(root_->file("set.part2.rar")));
    auto r = std::make_shared<PageReaderRar>();
    ASSERT_TRUE(r->openFile(nginx().url("/set.part1.rar"), std::nullopt, std::nullopt, false, false));
    ASSERT_EQ(r->getPageNameList().size(), 2u);
    int result = -1;
    auto image = r->newLoadAndCreateImage(0, result);
    ASSERT_EQ(result, PageReader::kResultImage);
    EXPECT_TRUE(samePixels(image, ImageLoader::imageWithAnyContentsOfFile(pages.file("a.bmp"))));
    // The rest of b.bmp lies in a volume the stream does not reach.
    EXPECT_FALSE(r->newLoadAndCreateImage(1, result));
    EXPECT_EQ(result, PageReader::kResultFailed);
}

TEST_F(PageReaderRarStreamTest, WhatTheMainLoopRunsWhileAnOpenWaitsCannotEnterTheLibraryAgain) {
    publish(bookDir.path(), "slow.cbr", "", "p0.bmp p1.bmp");
    const std::string local = publish(bookDir.path(), "local.cbr", "-s", "p0.bmp");
    // The open waits for its blocks on the main thread, running the main
    // loop; a solid-archive question posted there meanwhile fails at once
    // rather than waiting for the lock its own thread holds.
    std::optional<bool> answered;
    sys::RunLoop::main().post([&] { answered = PageReaderRar::isSolidArchiveFile(local); });
    auto r = std::make_shared<PageReaderRar>();
    ASSERT_TRUE(r->openFile(fault_->url("/slow.cbr?delay_ms=150"), std::nullopt, std::nullopt, false, false));
    ASSERT_TRUE(answered.has_value()) << "the loop ran while the open waited";
    EXPECT_FALSE(*answered);
    EXPECT_EQ(r->getPageNameList().size(), 2u);
    EXPECT_TRUE(PageReaderRar::isSolidArchiveFile(local)) << "outside the library the question is answered";
}

TEST_F(PageReaderRarStreamTest, CancellingFreesAPageLoadStuckOnAStalledServer) {
    ASSERT_TRUE(noisePage(pages.file("big.bmp"), 600, 1));
    ASSERT_TRUE(noisePage(pages.file("small.bmp"), 16, 2));
    publish(pages.path(), "stall.cbr", "-m0", "big.bmp small.bmp");
    // How many requests the open makes, so that the next ones stall.
    auto r = std::make_shared<PageReaderRar>();
    ASSERT_TRUE(r->openFile(fault_->url("/stall.cbr"), std::nullopt, std::nullopt, false, false));
    r->closeFile();
    const size_t openRequests = fault_->requestCount("/stall.cbr");
    RemoteStreamRead::removeCache(false);
    ASSERT_TRUE(r->openFile(fault_->url("/stall.cbr?stall_from=" + std::to_string(2 * openRequests + 1)),
                            std::nullopt, std::nullopt, false, false));
    ASSERT_EQ(fault_->requestCount("/stall.cbr"), 2 * openRequests);
    expectCancelFreesStalledLoad(*r, 0, 1);
}

TEST_F(PageReaderRarStreamTest, AServerWithoutRangesIsReportedAndTheSessionStreamsACbr) {
    publish(bookDir.path(), "norange.cbr", "", "p0.bmp");
    auto r = std::make_shared<PageReaderRar>();
    EXPECT_FALSE(r->openFile(fault_->url("/norange.cbr?norange=1"), std::nullopt, std::nullopt, false, false));
    EXPECT_TRUE(r->isUnsupportedServer());
    EXPECT_EQ(r->openFailure(), PageReader::OpenFailure::Unreadable);
    EXPECT_FALSE(r->openFile("ftp://127.0.0.1:1/book.cbr", std::nullopt, std::nullopt, false, false));
    EXPECT_FALSE(PageReaderRar::getArchiveList("ftp://127.0.0.1:1/book.cbr", false, {}, "", "", nullptr, {}));

    publish(bookDir.path(), "shelf.cbr", "", "p0.bmp p1.bmp p2.bmp p3.bmp");
    expectSessionStreamsBlockProgress(fault_->url("/shelf.cbr"), BookReaderEx::ReaderKind::Rar);
}

}  // namespace
