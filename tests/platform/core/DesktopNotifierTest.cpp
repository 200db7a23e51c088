// Notices in the desktop's notification area, told to stand-ins for the
// notification service on a session bus of the test's own: the names in a
// notice show as given, whether the service reads markup, does not, or
// never says.
#include "platform/core/DesktopNotifier.h"

#include "tests/support/FakeDesktopServices.h"
#include "tests/support/PrivateSessionBus.h"

#include <gtest/gtest.h>

namespace {

TEST(DesktopNotifierTest, NamesAreEscapedForAServiceThatReadsMarkupAndSentAsTheyAreToOneThatDoesNot) {
    test::PrivateSessionBus bus;
    if (!bus.start()) GTEST_SKIP() << "no dbus-daemon";
    const std::string name = "Download Complete: <u>x</u>&amp; \"a\".cbz";
    {
        test::FakeDesktopServices markup(bus.address);
        ASSERT_TRUE(markup.ready());
        sys::DesktopNotifier notifier(bus.address);
        ASSERT_TRUE(notifier.notify(name, "b<i>"));
        // Bytes that are no UTF-8 cannot go on the bus as they are: the notice still goes.
        ASSERT_TRUE(notifier.notify("caf\xE9.cbz"));
        const auto notices = markup.notices();
        ASSERT_EQ(notices.size(), 2u);
        EXPECT_EQ(notices[0].summary, "Download Complete: &lt;u&gt;x&lt;/u&gt;&amp;amp; &quot;a&quot;.cbz");
        EXPECT_EQ(notices[0].body, "b&lt;i&gt;");
        EXPECT_EQ(notices[1].summary, "caf\xEF\xBF\xBD.cbz");
    }
    {
        test::FakeDesktopServices plain(bus.address, true, {"body", "actions"});
        ASSERT_TRUE(plain.ready());
        sys::DesktopNotifier notifier(bus.address);
        ASSERT_TRUE(notifier.notify(name, "b<i>"));
        const auto notices = plain.notices();
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_EQ(notices[0].summary, name);
        EXPECT_EQ(notices[0].body, "b<i>");
    }
    // A service that never says what it reads may read markup: the names
    // go escaped (after the bounded wait for its answer).
    test::FakeDesktopServices silent(bus.address);
    ASSERT_TRUE(silent.ready());
    silent.stopAnsweringCapabilities();
    sys::DesktopNotifier notifier(bus.address);
    ASSERT_TRUE(notifier.notify(name, "b<i>"));
    const auto notices = silent.notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].summary, "Download Complete: &lt;u&gt;x&lt;/u&gt;&amp;amp; &quot;a&quot;.cbz");
    EXPECT_EQ(notices[0].body, "b&lt;i&gt;");
}

}  // namespace
