#include "remote/UrlListStreamRead.h"

#include <gtest/gtest.h>

namespace {

TEST(UrlListStreamRead, TheEngineGetsAFetcherThatRefusesCleanlyUntilLoadersExist) {
    UrlListStreamRead::registerWithEngine();
    auto stream = UrlListStream::newUrlListStream();
    UrlListStream::registerMaker({});
    ASSERT_TRUE(std::dynamic_pointer_cast<UrlListStreamRead>(stream));
    EXPECT_FALSE(stream->openUrls({"http://127.0.0.1:9/a.jpg"}, std::nullopt, 1, "http://127.0.0.1:9/", false));
    EXPECT_EQ(stream->getLocalCachePath(0), std::nullopt) << "no wait for a page that will never come";
    EXPECT_EQ(stream->getIndex("http://127.0.0.1:9/?archive=a.zip"), std::nullopt);
    stream->closeUrls();
    stream->closeUrls();
}

}  // namespace
