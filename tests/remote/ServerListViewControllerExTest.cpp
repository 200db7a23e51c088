#include "foundation/EncodeASCIIStringElements.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Window.h"
#include "remote/ServerListViewControllerEx.h"
#include "tests/support/VirtualClockTest.h"

#include <gtest/gtest.h>

namespace {

using sys::PlistDictionary;
using sys::PlistValue;

class ServerListTest : public test::VirtualClockTest {};

TEST_F(ServerListTest, ASharedLinkFromTheAboutPageIsKeptScrambledAndTheAboutPageCloses) {
    auto list = std::make_shared<ServerListViewControllerEx>(1);
    auto nav = std::make_shared<ui::NavigationController>(list);
    auto window = std::make_shared<ui::Window>();
    window->setRootViewController(nav);
    window->makeKeyAndVisible();
    auto about = std::make_shared<ui::ViewController>();
    nav->pushViewController(about, false);
    ASSERT_EQ(nav->topViewController(), about.get());

    const std::string link = "https://drive.google.com/drive/folders/1AbC-xyz_09";
    list->receiveQuery(PlistDictionary{{"name", PlistValue("Shared comics")}, {"link", PlistValue(link)}});
    ASSERT_EQ(list->googleDriveList().size(), 1u);
    const auto& entry = list->googleDriveList().front();
    EXPECT_EQ(entry.getString("name"), "Shared comics");
    EXPECT_NE(entry.getString("link"), link) << "links are not kept in the clear";
    EXPECT_EQ(EncodeASCIIStringElements::stringDecodeASCIIStringElements(entry.getString("link")), link);
    advance(1.0);
    EXPECT_EQ(nav->topViewController(), list.get());

    // A query without both texts is not a link.
    list->receiveQuery(PlistDictionary{{"name", PlistValue("no link")}});
    list->receiveQuery(PlistDictionary{{"name", PlistValue("x")}, {"link", PlistValue(int64_t(3))}});
    EXPECT_EQ(list->googleDriveList().size(), 1u);
    EXPECT_EQ(nav->topViewController(), list.get()) << "nothing more is popped";
}

}  // namespace
