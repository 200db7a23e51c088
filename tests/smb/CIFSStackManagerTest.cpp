#include <gtest/gtest.h>

#include "smb/CIFSStackManager.h"

#include <thread>

namespace {

TEST(CIFSStackManagerTest, OneManagerPerSlot) {
    auto zero = CIFSStackManager::sharedManager(0);
    ASSERT_TRUE(zero);
    EXPECT_EQ(zero, CIFSStackManager::sharedManager(0));
    EXPECT_NE(zero, CIFSStackManager::sharedManager(15));
    EXPECT_EQ(CIFSStackManager::sharedManager(15)->slot(), 15);
    EXPECT_EQ(CIFSStackManager::sharedManager(16), nullptr);
    EXPECT_EQ(CIFSStackManager::sharedManager(-1), nullptr);
}

TEST(CIFSStackManagerTest, FilesOpenForWritingAreComparedAsStrings) {
    auto m = CIFSStackManager::sharedManager(3);
    EXPECT_FALSE(m->isOpenForWriteWithPath("/lib/a.zip"));
    m->fileOpenedForWrite("/lib/a.zip");
    m->fileOpenedForWrite("/lib/a.zip");
    EXPECT_TRUE(m->isOpenForWriteWithPath("/lib/a.zip"));
    EXPECT_FALSE(m->isOpenForWriteWithPath("/lib//a.zip"));
    EXPECT_FALSE(CIFSStackManager::sharedManager(4)->isOpenForWriteWithPath("/lib/a.zip"));
    m->fileClosedForWrite("/lib/a.zip");
    EXPECT_TRUE(m->isOpenForWriteWithPath("/lib/a.zip"));  // opened twice
    m->fileClosedForWrite("/lib/a.zip");
    EXPECT_FALSE(m->isOpenForWriteWithPath("/lib/a.zip"));
    m->fileClosedForWrite("/lib/never.zip");
}

TEST(CIFSStackManagerTest, TheServerWritesWhileReadersAsk) {
    auto m = CIFSStackManager::sharedManager(5);
    std::thread server([&] {
        for (int i = 0; i < 2000; ++i) {
            m->fileOpenedForWrite("/f" + std::to_string(i % 7));
            m->fileClosedForWrite("/f" + std::to_string(i % 7));
        }
    });
    int seen = 0;
    for (int i = 0; i < 2000; ++i) seen += m->isOpenForWriteWithPath("/f3") ? 1 : 0;
    server.join();
    EXPECT_FALSE(m->isOpenForWriteWithPath("/f3"));
    EXPECT_GE(seen, 0);
}

}  // namespace
