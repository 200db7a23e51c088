#pragma once

// What the tests of archive books read in place on a server share: nginx on
// loopback for the normal case, our fault server on the same folder for a
// server that stalls or cannot serve ranges, the test range loader filling
// the block cache, and books packed into the servers' folder by the real
// tool.

#include "engine/PageReader.h"
#include "engine/RemoteStreamRead.h"
#include "platform/core/Clock.h"
#include "platform/core/Thread.h"
#include "tests/engine/BookSessionFixture.h"
#include "tests/support/TestHome.h"
#include "tests/support/net/FaultHttpServer.h"
#include "tests/support/net/NginxSuite.h"
#include "tests/support/net/RangeStreamRead.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <unistd.h>

namespace test {

class ArchiveStreamFixture : public NginxSuite<BookSessionFixture> {
protected:
    // `packCommand` packs with options, into a book, files: "zip -q", "rar a -idq".
    ArchiveStreamFixture(const char* packer, const char* packCommand, const std::string& tag)
        : pages(tag + "pages"), packer_(packer), packCommand_(packCommand) {}

    void SetUp() override {
        BookSessionFixture::SetUp();
        if (!haveProgram(packer_)) GTEST_SKIP() << "no " << packer_;
        RemoteStreamRead::removeCache(false);
        RangeStreamRead::registerForHttp(RangeStreamRead::Fetch::OnDemand);
        fault_ = std::make_unique<FaultHttpServer>(root_->path());
        ASSERT_TRUE(fault_->start());
    }
    void TearDown() override {
        if (session) session->closeBook();
        fault_.reset();
        RemoteStreamRead::registerStreamClass(RemoteStreamRead::kHTTP, nullptr);
        RemoteStreamRead::registerStreamClass(RemoteStreamRead::kHTTPURL, nullptr);
        RemoteStreamRead::removeCache(false);
        BookSessionFixture::TearDown();
    }

    // Packs `files` of `dir` into the servers' folder as `name`; its path there.
    std::string publish(const std::string& dir, const std::string& name, const std::string& options,
                        const std::string& files) {
        ::unlink(root_->file(name).c_str());
        EXPECT_EQ(shell("cd '" + dir + "' && " + packCommand_ + " " + options + " '" + root_->file(name) + "' " + files),
                  0);
        return root_->file(name);
    }

    // `r` is set to stall on its next request for page `stalled`: the load
    // waits on the server until a cancel, which frees it at once and shuts
    // the stream, so that page `other` is not read afterwards either.
    void expectCancelFreesStalledLoad(PageReader& r, int stalled, int other) {
        int result = -1;
        gfx::ImageRef image;
        double returned = 0;
        sys::Thread loader([&](const std::atomic<bool>&) {
            image = r.newLoadAndCreateImage(stalled, result);
            returned = sys::Clock::now();
        });
        ASSERT_TRUE(fault_->waitForStalled(1, 10.0));
        const double cancelled = sys::Clock::now();
        r.cancelStreaming();
        loader.join();
        EXPECT_FALSE(image);
        EXPECT_EQ(result, PageReader::kResultFailed);
        EXPECT_LE(returned - cancelled, 0.1);
        EXPECT_FALSE(r.newLoadAndCreateImage(other, result));
        EXPECT_EQ(result, PageReader::kResultFailed);
        r.closeFile();
    }

    // The session opens the four-page book `url` in streaming mode as a
    // book of `kind`, composes page 2 and passes the book's one block on to
    // its target.
    void expectSessionStreamsBlockProgress(const std::string& url, BookReaderEx::ReaderKind kind) {
        struct Viewer : RemoteStreamReadDelegate {
            void updateCacheBlock(int64_t, int64_t, int64_t block, int64_t) override { blocks.push_back(block); }
            std::vector<int64_t> blocks;
        };
        auto viewer = std::make_shared<Viewer>();
        session = std::make_shared<BookReaderEx>();
        session->setSettings(settings);
        session->setTargetForOnlineStatus(viewer);
        ASSERT_TRUE(session->openBookWithName(url, {}, std::nullopt, std::nullopt, std::nullopt, false, false));
        EXPECT_EQ(session->readerKind(), kind);
        EXPECT_TRUE(session->isStreamingMode());
        EXPECT_EQ(session->getPageNum(), 4);
        auto p = load(PageLoadRequest::kCompose, 2, {200, 300});
        ASSERT_TRUE(p && p->image);
        EXPECT_TRUE(colourNear(p->image->pixel(50, 150), pageColour(2, false)));
        advance(0.01);
        EXPECT_EQ(viewer->blocks, (std::vector<int64_t>{0})) << "the book's one block, reported through the reader";
        // Folders and inner archives of a streamed book, by the class operations.
        EXPECT_FALSE(BookReaderEx::getFolderList(url, false, {}, "", "", nullptr, {}));
    }

    std::unique_ptr<FaultHttpServer> fault_;
    TempDir pages;

private:
    const char* packer_;
    std::string packCommand_;
};

}  // namespace test
