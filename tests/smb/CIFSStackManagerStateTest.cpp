#include "smb/CIFSStackManager.h"
#include "tests/support/VirtualClockTest.h"

#include "platform/core/Thread.h"

#include <vector>

namespace {

// A server that gets to "running" from a thread of its own, as a real one would.
class FakeServer : public CIFSStackServer {
public:
    int starts = 0, stops = 0;
    bool refuse = false;
    bool start(StatusCallback report) override {
        ++starts;
        if (refuse) return false;
        report_ = report;
        sys::Thread t([report](const std::atomic<bool>&) { report(3); });
        t.join();
        return true;
    }
    void stop() override {
        ++stops;
        if (report_) report_(1);
    }

private:
    StatusCallback report_;
};

struct Recorder : CIFSStackManagerDelegate {
    std::vector<int> seen;
    void didChangeServerStatus(int status) override { seen.push_back(status); }
};

class CIFSStackStateTest : public test::VirtualClockTest {
protected:
    void TearDown() override {
        manager->setServer(nullptr);
        manager->setDelegate({});
        while (manager->serverStatus() == 3) {
            manager->stopServer();
            advance(0.1);
        }
        VirtualClockTest::TearDown();
    }
    std::shared_ptr<CIFSStackManager> manager = CIFSStackManager::sharedManager(9);
};

TEST_F(CIFSStackStateTest, SuspendStopsARunningServerAndRestoreStartsItAgain) {
    auto server = std::make_shared<FakeServer>();
    auto rec = std::make_shared<Recorder>();
    manager->setServer(server);
    manager->setDelegate(rec);
    ASSERT_TRUE(manager->startServer());
    advance(0.1);  // the worker's report lands on the main loop
    EXPECT_EQ(manager->serverStatus(), 3);
    EXPECT_EQ(rec->seen, (std::vector<int>{2, 3}));

    manager->suspendState();
    advance(0.1);
    EXPECT_EQ(manager->serverStatus(), 1);
    EXPECT_TRUE(manager->isSuspended());
    manager->suspendState();  // nothing runs: nothing more to stop
    EXPECT_EQ(server->stops, 1);

    manager->restoreState();
    advance(0.1);
    EXPECT_EQ(manager->serverStatus(), 3);
    EXPECT_FALSE(manager->isSuspended());
    EXPECT_EQ(server->starts, 2);
    manager->restoreState();  // only once per suspension
    EXPECT_EQ(server->starts, 2);
}

TEST_F(CIFSStackStateTest, WithoutARunningServerSuspendAndRestoreDoNothing) {
    auto rec = std::make_shared<Recorder>();
    manager->setDelegate(rec);
    EXPECT_FALSE(manager->startServer());  // none installed
    manager->suspendState();
    manager->restoreState();
    advance(0.1);
    EXPECT_TRUE(rec->seen.empty());
    EXPECT_FALSE(manager->isSuspended());

    auto server = std::make_shared<FakeServer>();
    server->refuse = true;
    manager->setServer(server);
    EXPECT_FALSE(manager->startServer());
    advance(0.1);
    EXPECT_EQ(manager->serverStatus(), 1);
    EXPECT_EQ(rec->seen, (std::vector<int>{2, 1}));
}

}  // namespace
