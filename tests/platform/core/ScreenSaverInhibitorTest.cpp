// The screen-saver hold against a desktop's ScreenSaver service on a
// session bus of the test's own (dbus-daemon), answered by a stand-in for
// the service; with nothing on the bus, no bus at all, or a bus that does
// not answer.
#include "platform/core/ScreenSaverInhibitor.h"

#include "platform/core/SessionBus.h"

#include "tests/support/BusServiceThread.h"
#include "tests/support/PrivateSessionBus.h"
#include "tests/support/TestHome.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using PrivateBus = test::PrivateSessionBus;

// Answers Inhibit with cookies 7, 8... and records UnInhibit, on a thread
// of its own with its own main context.
class FakeScreenSaver {
public:
    explicit FakeScreenSaver(const std::string& address) {
        service_ = std::make_unique<test::BusServiceThread>(address, [this](GDBusConnection* bus) {
            static const char* xml =
                "<node><interface name='org.freedesktop.ScreenSaver'>"
                "<method name='Inhibit'><arg type='s' direction='in'/><arg type='s' direction='in'/>"
                "<arg type='u' direction='out'/></method>"
                "<method name='UnInhibit'><arg type='u' direction='in'/></method>"
                "</interface></node>";
            static const GDBusInterfaceVTable vtable = {&FakeScreenSaver::call, nullptr, nullptr, {}};
            owned_ = test::BusServiceThread::serve(bus, xml, "/org/freedesktop/ScreenSaver",
                                                   "org.freedesktop.ScreenSaver", &vtable, this);
        });
    }
    ~FakeScreenSaver() { service_.reset(); }
    bool owned() const { return owned_; }
    std::vector<std::string> calls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }

private:
    static void call(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                     GVariant* parameters, GDBusMethodInvocation* invocation, gpointer self) {
        auto* fake = static_cast<FakeScreenSaver*>(self);
        std::lock_guard<std::mutex> lock(fake->mutex_);
        if (g_strcmp0(method, "Inhibit") == 0) {
            const gchar* app = nullptr;
            const gchar* reason = nullptr;
            g_variant_get(parameters, "(&s&s)", &app, &reason);
            fake->calls_.push_back(std::string("Inhibit ") + app + " / " + reason);
            g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", fake->next_++));
        } else {
            guint32 cookie = 0;
            g_variant_get(parameters, "(u)", &cookie);
            fake->calls_.push_back("UnInhibit " + std::to_string(cookie));
            g_dbus_method_invocation_return_value(invocation, nullptr);
        }
    }

    std::mutex mutex_;
    bool owned_ = false;
    guint32 next_ = 7;
    std::vector<std::string> calls_;
    std::unique_ptr<test::BusServiceThread> service_;
};

TEST(ScreenSaverInhibitorTest, TheHoldIsTakenAndGivenBackWithItsCookie) {
    if (!test::haveProgram("dbus-daemon")) GTEST_SKIP() << "no dbus-daemon";
    PrivateBus bus;
    ASSERT_TRUE(bus.start());
    FakeScreenSaver service(bus.address);
    ASSERT_TRUE(service.owned());
    {
        sys::ScreenSaverInhibitor inhibitor(bus.address, "Leafbright");
        EXPECT_TRUE(inhibitor.setInhibited(true, "A download is running"));
        EXPECT_TRUE(inhibitor.isInhibited());
        EXPECT_TRUE(inhibitor.setInhibited(true, "again"));  // held once
        EXPECT_FALSE(inhibitor.setInhibited(false));
        EXPECT_FALSE(inhibitor.isInhibited());
        EXPECT_TRUE(inhibitor.setInhibited(true, "A download is running"));
    }  // going away lets go too
    EXPECT_EQ(service.calls(), (std::vector<std::string>{"Inhibit Leafbright / A download is running", "UnInhibit 7",
                                                         "Inhibit Leafbright / A download is running", "UnInhibit 8"}));
}

TEST(ScreenSaverInhibitorTest, NothingHappensWithoutTheServiceOrWithoutABus) {
    if (!test::haveProgram("dbus-daemon")) GTEST_SKIP() << "no dbus-daemon";
    PrivateBus bus;
    ASSERT_TRUE(bus.start());
    sys::ScreenSaverInhibitor nobody(bus.address);
    EXPECT_FALSE(nobody.setInhibited(true, "x"));
    EXPECT_FALSE(nobody.isInhibited());
    sys::ScreenSaverInhibitor unreachable("unix:path=/nonexistent/bus");
    EXPECT_FALSE(unreachable.setInhibited(true, "x"));
    EXPECT_FALSE(unreachable.setInhibited(false));
}

// The longest a bus that does not answer may hold a caller up (the README:
// 2.5 s), and what scheduling may add to a measured wait.
constexpr double kPromisedWait = 2.5;
constexpr double kScheduling = 0.75;

// Runs `work` on a thread and gives its time in seconds; a call still stuck
// after 20 s is let go by waking the bus (so that the test ends) and fails.
double timed(long busPid, const std::function<void()>& work) {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    const auto start = std::chrono::steady_clock::now();
    std::thread t([&] {
        work();
        std::lock_guard<std::mutex> lock(m);
        done = true;
        cv.notify_all();
    });
    {
        std::unique_lock<std::mutex> lock(m);
        if (!cv.wait_for(lock, std::chrono::seconds(20), [&] { return done; })) {
            ADD_FAILURE() << "the call did not return while the bus did not answer";
            ::kill(pid_t(busPid), SIGCONT);
        }
    }
    t.join();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(ScreenSaverInhibitorTest, ABusThatDoesNotAnswerCostsOneBoundedWait) {
    if (!test::haveProgram("dbus-daemon")) GTEST_SKIP() << "no dbus-daemon";
    PrivateBus bus;
    ASSERT_TRUE(bus.start());
    FakeScreenSaver service(bus.address);
    ASSERT_TRUE(service.owned());
    // The bus's daemon stopped: connections are accepted and never answered.
    ASSERT_EQ(::kill(pid_t(bus.pid), SIGSTOP), 0);
    struct Resume {
        long pid;
        ~Resume() { ::kill(pid_t(pid), SIGCONT); }
    } resume{bus.pid};

    sys::ScreenSaverInhibitor inhibitor(bus.address, "Leafbright");
    EXPECT_LT(timed(bus.pid, [&] { EXPECT_FALSE(inhibitor.setInhibited(true, "x")); }), kPromisedWait + kScheduling);
    // Once.
    EXPECT_LT(timed(bus.pid, [&] { EXPECT_FALSE(inhibitor.setInhibited(true, "x")); }), 0.5);
    EXPECT_FALSE(sys::SessionBus::answers(bus.address, 0.2));

    // A connect given up by its caller ends then, not at its deadline.
    GCancellable* cancel = g_cancellable_new();
    std::thread canceller([cancel] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        g_cancellable_cancel(cancel);
    });
    EXPECT_LT(timed(bus.pid, [&] { EXPECT_EQ(sys::SessionBus::connect(bus.address, cancel, 30), nullptr); }), 2.0);
    canceller.join();
    g_object_unref(cancel);

    // Going on again, the bus is used.
    ::kill(pid_t(bus.pid), SIGCONT);
    EXPECT_TRUE(sys::SessionBus::answers(bus.address));
    sys::ScreenSaverInhibitor later(bus.address, "Leafbright");
    EXPECT_TRUE(later.setInhibited(true, "A download is running"));
}

}  // namespace
