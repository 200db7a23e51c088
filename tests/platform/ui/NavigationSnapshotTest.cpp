#include "tests/support/TestHome.h"
#include "UITestSupport.h"

#include "platform/graphics/PangoTextEngine.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Switch.h"
#include "platform/ui/TableViewController.h"
#include "platform/ui/TestDriver.h"

#include <filesystem>
#include <string>
#include <vector>

using namespace ui;
using uitest::UITest;

namespace {

std::string snapshotPath(const std::string& name) {
    std::filesystem::path dir = std::filesystem::path(::test::workDir()) / "snapshots";
    std::filesystem::create_directories(dir);
    return (dir / name).string();
}

// A settings-like screen: grouped sections with titles, the four cell
// styles, a check mark, a disclosure and a switch.
class SettingsScreen : public TableViewController {
public:
    SettingsScreen() : TableViewController(TableViewStyle::Grouped) { setTitle("Settings"); }
    int numberOfSectionsInTableView(TableView&) override { return 3; }
    int tableViewNumberOfRowsInSection(TableView&, int s) override { return s == 0 ? 3 : s == 1 ? 2 : 2; }
    std::optional<std::string> tableViewTitleForHeaderInSection(TableView&, int s) override {
        if (s == 0) return "Reading";
        if (s == 1) return "Library";
        return std::nullopt;
    }
    std::optional<std::string> tableViewTitleForFooterInSection(TableView&, int s) override {
        if (s == 1) return "Books open at the page where you left them.";
        return std::nullopt;
    }
    std::shared_ptr<TableViewCell> tableViewCellForRowAtIndexPath(TableView&, const IndexPath& ip) override {
        static const TableViewCellStyle styles[] = {TableViewCellStyle::Default, TableViewCellStyle::Value1,
                                                    TableViewCellStyle::Subtitle};
        auto style = ip.section == 0 ? styles[ip.row] : ip.section == 1 ? TableViewCellStyle::Value1
                                                                       : TableViewCellStyle::Value2;
        auto c = std::make_shared<TableViewCell>(style, "s" + std::to_string(int(style)));
        if (ip.section == 0) {
            const char* titles[] = {"Right to left", "Zoom mode", "Page turn"};
            c->textLabel()->setText(titles[ip.row]);
            if (ip.row == 0) {
                auto sw = std::make_shared<Switch>();
                sw->setOn(true);
                sw->sizeToFit();
                c->setAccessoryView(sw);
                c->setSelectionStyle(TableViewCellSelectionStyle::None);
            }
            if (ip.row == 1) {
                c->detailTextLabel()->setText("Fit to Width");
                c->setAccessoryType(TableViewCellAccessoryType::DisclosureIndicator);
            }
            if (ip.row == 2) {
                c->detailTextLabel()->setText("Tap the edges to turn pages");
                c->setAccessoryType(TableViewCellAccessoryType::Checkmark);
            }
        } else if (ip.section == 1) {
            c->textLabel()->setText(ip.row == 0 ? "Sort by" : "Books");
            c->detailTextLabel()->setText(ip.row == 0 ? "Name" : "1,204");
            c->setAccessoryType(ip.row == 0 ? TableViewCellAccessoryType::DisclosureIndicator
                                            : TableViewCellAccessoryType::DetailButton);
        } else {
            c->textLabel()->setText(ip.row == 0 ? "version" : "build");
            c->detailTextLabel()->setText(ip.row == 0 ? "0.1.0" : "2024.1");
        }
        return c;
    }
};

class NavigationSnapshotTest : public UITest {};

}  // namespace

TEST_F(NavigationSnapshotTest, ANavigationScreenWithATableLooksRight) {
    gfx::TextEngine::Scope pango(std::make_shared<gfx::PangoTextEngine>());
    auto home = std::make_shared<ViewController>();
    home->setTitle("Library");
    auto nav = std::make_shared<NavigationController>(home);
    window->setRootViewController(nav);
    auto settings = std::make_shared<SettingsScreen>();
    settings->navigationItem()->setRightBarButtonItem(BarButtonItem::withSystemItem(BarButtonSystemItem::Done));
    nav->pushViewController(settings, false);
    settings->setToolbarItems({BarButtonItem::flexibleSpace(), BarButtonItem::withTitle("About"),
                               BarButtonItem::flexibleSpace()});
    nav->setToolbarHidden(false);
    ui::test::Driver driver(*window);
    driver.settle();
    // A row selected, as when returning to the list.
    settings->tableView()->selectRowAtIndexPath(IndexPath{1, 0}, false, TableViewScrollPosition::None);
    std::string path = snapshotPath("navigation-table.png");
    ASSERT_TRUE(driver.snapshot(path));

    // What the picture must show, checked at a few pixels: the bar's
    // background at the top, the grouped background between sections, a
    // white row, the selected row's grey, and the tool bar at the bottom.
    auto& fb = window->framebuffer();
    auto at = [&](double x, double y) { return fb.pixel(int(x * fb.scale()), int(y * fb.scale())); };
    TableView* t = settings->tableView();
    Rect header0 = t->convertRectTo(t->rectForHeaderInSection(0), nullptr);
    Rect row0 = t->convertRectTo(t->rectForRowAtIndexPath({0, 2}), nullptr);
    Rect selected = t->convertRectTo(t->rectForRowAtIndexPath({1, 0}), nullptr);
    // Content starts under the bar (its height is the screen's safe area).
    EXPECT_GE(header0.y(), window->windowSafeAreaInsets().top + 44 - 1e-9);
    uint32_t bg = at(5, header0.y() + 5);
    uint32_t row = at(5, row0.y() + row0.height() / 2);
    uint32_t sel = at(5, selected.y() + selected.height() / 2);
    EXPECT_NE(bg, row);
    EXPECT_NE(sel, row);
    EXPECT_EQ(row, gfx::Rgba::white(1).argb32());
    EXPECT_NE(driver.findByText("Settings"), nullptr);
    EXPECT_NE(driver.findByText("Library"), nullptr);  // the back button
    EXPECT_NE(driver.findByText("Fit to Width"), nullptr);
    EXPECT_NE(driver.findByText("About"), nullptr);
}
