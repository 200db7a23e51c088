#pragma once

// What the tests of the remote stream readers share: bytes read through a
// stream, a book of noise pages that spans several blocks, the stream a URL
// gets, and the checks every protocol's reader must pass on such a book.

#include "engine/ImageLoader.h"
#include "engine/PageReaderZip.h"
#include "engine/RemoteStreamRead.h"
#include "remote/stream/BlockLoaderStreamRead.h"
#include "tests/support/TestHome.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

namespace test {

// Up to `n` bytes at `offset` as the stream gives them.
inline std::string readAt(RemoteStreamRead& s, int64_t offset, size_t n) {
    std::string out(n, '\0');
    out.resize(size_t(s.readByte(out.data(), offset, n)));
    return out;
}

// The stream reader registered for the URL's protocol, as a `Stream`.
template <class Stream>
std::shared_ptr<Stream> streamFor(const std::string& url) {
    auto s = std::dynamic_pointer_cast<Stream>(
        RemoteStreamRead::newStreamWithProtocol(RemoteStreamRead::getProtocolWithURL(url)));
    EXPECT_TRUE(s) << url << " gets its protocol's reader";
    return s;
}

// Three 320x320 PNG pages of noise (they do not compress) in `pages`,
// stored by zip into `book`, so that the book spans blocks; false when a
// tool failed.
inline bool makeNoiseBook(const TempDir& pages, const std::string& book) {
    for (int i = 0; i < 3; ++i) {
        const std::string name = "p" + std::to_string(i) + ".png";
        if (shell("convert -size 320x320 xc: +noise Random -seed " + std::to_string(i) + " '" + pages.file(name) +
                  "'") != 0)
            return false;
    }
    return shell("cd '" + pages.path() + "' && zip -q -0 '" + book + "' p*.png") == 0;
}

// `s`, opened on `book`, reads its tail first and then the whole of it,
// each block fetched once; then it is closed.
inline void expectEachBlockReadOnce(BlockLoaderStreamRead& s, const std::string& book) {
    const uint64_t bs = RemoteStreamRead::kBlockSize;
    const size_t tail = book.size() - 100;
    EXPECT_TRUE(readAt(s, int64_t(tail), 100) == book.substr(tail));
    s.joinLoader();
    EXPECT_FALSE(s.isError());
    EXPECT_EQ(uint64_t(s.blockRequests()), (book.size() - 1) / bs + 1) << "each block once";
    EXPECT_TRUE(readAt(s, 0, book.size()) == book);
    s.closeURL();
}

// A second stream on the book's URL finds the complete cache: no request.
inline void expectServedFromCache(BlockLoaderStreamRead& again, const std::string& url, const std::string& book) {
    ASSERT_TRUE(again.openURL(url));
    EXPECT_TRUE(readAt(again, 5, 1000) == book.substr(5, 1000));
    EXPECT_EQ(again.blockRequests(), 0);
}

// The zip reader opens the noise book at `url` and page 1 is p1.png of `pages`, pixel for pixel.
inline void expectNoiseBookPage(const std::string& url, const TempDir& pages,
                                const std::shared_ptr<Settings>& settings = nullptr) {
    auto r = std::make_shared<PageReaderZip>();
    r->setSettings(settings);
    ASSERT_TRUE(r->openFile(url, std::nullopt, std::nullopt, false, false));
    ASSERT_EQ(r->getPageNameList().size(), 3u);
    int result = -1;
    auto image = r->newLoadAndCreateImage(1, result);
    ASSERT_EQ(result, PageReader::kResultImage);
    auto local = ImageLoader::imageWithAnyContentsOfFile(pages.file("p1.png"));
    ASSERT_TRUE(image && local);
    ASSERT_EQ(image->width(), local->width());
    ASSERT_EQ(image->height(), local->height());
    EXPECT_EQ(std::memcmp(image->pixels(), local->pixels(), size_t(local->width()) * size_t(local->height()) * 4), 0);
    r->closeFile();
}

// A close while the loader runs returns at once and stops it.
inline void expectCloseStopsLoader(BlockLoaderStreamRead& s, const std::string& url) {
    ASSERT_TRUE(s.openURL(url));
    s.closeURL();
    EXPECT_FALSE(s.loaderRunning());
    EXPECT_EQ(readAt(s, 0, 10), "");
}

}  // namespace test
