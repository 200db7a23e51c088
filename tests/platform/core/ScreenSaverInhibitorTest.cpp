// The screen-saver hold against a desktop's ScreenSaver service on a
// session bus of the test's own (dbus-daemon), answered by a stand-in for
// the service; and with nothing on the bus, or no bus at all.
#include "platform/core/ScreenSaverInhibitor.h"

#include "tests/support/PrivateSessionBus.h"
#include "tests/support/TestHome.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

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
        thread_ = std::thread([this, address] { run(address); });
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [&] { return started_; });
    }
    ~FakeScreenSaver() {
        if (loop_) g_main_loop_quit(loop_);
        thread_.join();
    }
    bool owned() const { return owned_; }
    std::vector<std::string> calls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }

private:
    void run(const std::string& address) {
        GMainContext* context = g_main_context_new();
        g_main_context_push_thread_default(context);
        loop_ = g_main_loop_new(context, FALSE);
        GError* error = nullptr;
        GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
            address.c_str(),
            GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                 G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &error);
        if (bus) {
            static const char* xml =
                "<node><interface name='org.freedesktop.ScreenSaver'>"
                "<method name='Inhibit'><arg type='s' direction='in'/><arg type='s' direction='in'/>"
                "<arg type='u' direction='out'/></method>"
                "<method name='UnInhibit'><arg type='u' direction='in'/></method>"
                "</interface></node>";
            GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(xml, nullptr);
            static const GDBusInterfaceVTable vtable = {&FakeScreenSaver::call, nullptr, nullptr, {}};
            g_dbus_connection_register_object(bus, "/org/freedesktop/ScreenSaver", info->interfaces[0], &vtable, this,
                                              nullptr, nullptr);
            GVariant* reply = g_dbus_connection_call_sync(
                bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
                g_variant_new("(su)", "org.freedesktop.ScreenSaver", 4u), G_VARIANT_TYPE("(u)"),
                G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
            if (reply) {
                guint32 r = 0;
                g_variant_get(reply, "(u)", &r);
                owned_ = r == 1;
                g_variant_unref(reply);
            }
            g_dbus_node_info_unref(info);
        }
        g_clear_error(&error);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            started_ = true;
        }
        ready_.notify_all();
        g_main_loop_run(loop_);
        if (bus) {
            g_dbus_connection_close_sync(bus, nullptr, nullptr);
            g_object_unref(bus);
        }
        g_main_loop_unref(loop_);
        g_main_context_pop_thread_default(context);
        g_main_context_unref(context);
    }
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

    std::thread thread_;
    GMainLoop* loop_ = nullptr;
    std::mutex mutex_;
    std::condition_variable ready_;
    bool started_ = false;
    bool owned_ = false;
    guint32 next_ = 7;
    std::vector<std::string> calls_;
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

}  // namespace
