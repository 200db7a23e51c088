// The tests' own session buses start none of the services the machine has
// installed (a desktop's portal, keyring, notification daemon): a stand-in
// that a test puts there is the only one to answer, on a desktop as on a
// bare machine.
#include "platform/core/SessionBus.h"
#include "tests/support/PrivateSessionBus.h"
#include "tests/support/SecretSession.h"
#include "tests/support/TestHome.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The names the bus would start a service for when a call names them.
std::vector<std::string> activatableNames(const std::string& address) {
    std::vector<std::string> names;
    GDBusConnection* bus = sys::SessionBus::connect(address);
    if (!bus) return {"(no connection)"};
    GVariant* reply = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "ListActivatableNames", nullptr,
                                                  G_VARIANT_TYPE("(as)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    if (reply) {
        GVariantIter* it = nullptr;
        const gchar* name = nullptr;
        g_variant_get(reply, "(as)", &it);
        while (g_variant_iter_loop(it, "&s", &name)) names.emplace_back(name);
        g_variant_iter_free(it);
        g_variant_unref(reply);
    } else {
        names.emplace_back("(no answer)");
    }
    g_dbus_connection_close_sync(bus, nullptr, nullptr);
    g_object_unref(bus);
    return names;
}

TEST(PrivateBusTest, NoServiceOfTheMachineIsStartedOnATestsBus) {
    if (!test::haveProgram("dbus-daemon")) GTEST_SKIP() << "no dbus-daemon";
    const std::vector<std::string> onlyTheBus{"org.freedesktop.DBus"};
    test::PrivateSessionBus bus;
    ASSERT_TRUE(bus.start());
    EXPECT_EQ(activatableNames(bus.address), onlyTheBus);
    if (!test::SecretSession::unavailableReason().empty()) return;
    test::SecretSession secrets;
    ASSERT_TRUE(secrets.ok()) << secrets.error();
    EXPECT_EQ(activatableNames(secrets.address()), onlyTheBus);
}

}  // namespace
