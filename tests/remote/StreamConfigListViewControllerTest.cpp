#include <gtest/gtest.h>

#include "platform/core/AppPaths.h"
#include "platform/core/FileManager.h"
#include "remote/StreamConfigListViewController.h"
#include "tests/support/TestHome.h"

namespace {

TEST(StreamConfigListViewControllerTest, ExpiresTheCachesOfRemoteBooks) {
    test::TempDir home("stream-home");
    sys::AppPaths::setHome(home.path());
    std::string old = home.path() + "/Library/Caches/_st/old.zip";
    ASSERT_TRUE(sys::FileManager::createDirectory(old, true));
    ASSERT_TRUE(sys::FileManager::setModificationDate(old, sys::Date::now().dateByAddingTimeInterval(-2 * 86400)));
    EXPECT_EQ(StreamConfigListViewController::getExpireDateWIthStreamConfigExpireDays(1), 259200);
    StreamConfigListViewController::removeStreamConfigWithDays(1);
    EXPECT_TRUE(sys::FileManager::fileExists(old));
    StreamConfigListViewController::removeStreamConfigWithDays(0);
    EXPECT_FALSE(sys::FileManager::fileExists(old));
    sys::AppPaths::setHome("");
}

}  // namespace
