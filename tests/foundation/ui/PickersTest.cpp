#include "ToolkitTestSupport.h"

#include "foundation/BookCommon.h"
#include "foundation/Settings.h"
#include "foundation/ui/ItemSelectViewController.h"
#include "foundation/ui/SelectZoomModesViewController.h"
#include "foundation/ui/TextInputViewController.h"
#include "platform/core/PropertyList.h"
#include "platform/core/UserDefaults.h"
#include "platform/ui/NavigationController.h"
#include "tests/support/TestHome.h"

#include <string>
#include <vector>

using namespace ui;
using toolkittest::ToolkitTest;

namespace {

class Listener : public ItemSelectViewControllerDelegate, public TextInputViewDelegate {
public:
    void selectItem(int64_t item, const std::any& userData) override {
        std::string tag = userData.has_value() ? std::any_cast<std::string>(userData) : "";
        log.push_back("item " + std::to_string(item) + " " + tag);
    }
    bool onFinishTextInput(TextInputViewController&, const std::string& editTo, const std::string& original) override {
        log.push_back("edited " + original + " -> " + editTo);
        return accept;
    }
    bool accept = true;
    std::vector<std::string> log;
};

class PickersTest : public ToolkitTest {
protected:
    void SetUp() override {
        ToolkitTest::SetUp();
        start();
    }
    void start() {
        home = std::make_shared<ViewController>();
        nav = std::make_shared<NavigationController>(home);
        window->setRootViewController(nav);
        driver->settle();
    }
    void push(const std::shared_ptr<ViewController>& vc) {
        nav->pushViewController(vc, true);
        driver->advance(0.5);
    }
    Point rowPoint(TableView& t, const IndexPath& ip) {
        Rect r = t.rectForRowAtIndexPath(ip);
        return t.convertPointToWindow({r.x() + r.width() / 2, r.y() + r.height() / 2});
    }
    std::shared_ptr<ViewController> home;
    std::shared_ptr<NavigationController> nav;
    std::shared_ptr<Listener> listener = std::make_shared<Listener>();
};

}  // namespace

// --- Item list ---

TEST_F(PickersTest, PlainListChecksTheCurrentLineAndReportsTheTappedOne) {
    auto picker = std::make_shared<ItemSelectViewController>();
    picker->setItemListArray_({"Name", "Date", "Size"});
    picker->setSelectedLine_(1);
    picker->setDelegate(listener);
    picker->setUserData_(std::string("sort"));
    nav->setToolbarHidden(false);
    push(picker);
    EXPECT_TRUE(nav->isToolbarHidden());
    TableView* t = picker->tableView();
    ASSERT_EQ(t->numberOfRowsInSection(0), 3);
    EXPECT_EQ(t->cellForRowAtIndexPath({0, 1})->accessoryType(), TableViewCellAccessoryType::Checkmark);
    EXPECT_EQ(t->cellForRowAtIndexPath({0, 0})->accessoryType(), TableViewCellAccessoryType::None);
    driver->tap(rowPoint(*t, {0, 2}));
    EXPECT_EQ(listener->log, (std::vector<std::string>{"item 2 sort"}));
    driver->advance(0.5);
    EXPECT_EQ(nav->topViewController(), home.get());
}

TEST_F(PickersTest, IndexListMapsLinesToItems) {
    auto picker = std::make_shared<ItemSelectViewController>();
    picker->setItemListArray_({"Zero", "One", "Two"});
    picker->setItemIndexArray_(std::vector<int64_t>{2, 0, 1});
    picker->setSelectedLine_(0);
    picker->setItemImageArray_(std::vector<ImageRef>{Image::systemNamed("book"), Image::systemNamed("folder")});
    picker->setDelegate(listener);
    push(picker);
    TableView* t = picker->tableView();
    EXPECT_EQ(t->cellForRowAtIndexPath({0, 0})->textLabel()->text(), "One");
    EXPECT_EQ(t->cellForRowAtIndexPath({0, 1})->textLabel()->text(), "Two");
    EXPECT_EQ(t->cellForRowAtIndexPath({0, 2})->textLabel()->text(), "Zero");
    // Item 0 is on line 2: that line carries the check mark.
    EXPECT_EQ(t->cellForRowAtIndexPath({0, 2})->accessoryType(), TableViewCellAccessoryType::Checkmark);
    EXPECT_EQ(t->cellForRowAtIndexPath({0, 0})->imageView()->image()->name(), "book");
    EXPECT_EQ(t->cellForRowAtIndexPath({0, 2})->imageView()->image(), nullptr);  // no image for that line
    driver->tap(rowPoint(*t, {0, 0}));
    EXPECT_EQ(listener->log, (std::vector<std::string>{"item 1 "}));
}

TEST_F(PickersTest, ALineNoIndexNamesShowsItselfButReportsNothing) {
    auto picker = std::make_shared<ItemSelectViewController>();
    picker->setItemListArray_({"A", "B", "C"});
    picker->setItemIndexArray_(std::vector<int64_t>{7, 0, 1});
    EXPECT_EQ(picker->itemForLine(2), 2);
    EXPECT_EQ(picker->reportedItemForLine(2), std::nullopt);
    EXPECT_EQ(picker->itemForLine(0), 1);
    // An index naming a line past the titles leaves that line's title empty.
    picker->setItemIndexArray_(std::vector<int64_t>{0, 1, 2, 3});
    picker->setItemListArray_({"A", "B"});
    picker->setDelegate(listener);
    push(picker);
    TableView* t = picker->tableView();
    EXPECT_EQ(t->numberOfRowsInSection(0), 2);
    picker->setItemIndexArray_(std::vector<int64_t>{5, 0});
    t->reloadData();
    EXPECT_EQ(t->cellForRowAtIndexPath({0, 0})->textLabel()->text(), "B");
    driver->tap(rowPoint(*t, {0, 1}));
    EXPECT_TRUE(listener->log.empty());
    driver->advance(0.5);
    EXPECT_EQ(nav->topViewController(), home.get());  // it goes back all the same
}

// --- Zoom modes ---

namespace {

using Saved = std::pair<std::array<int32_t, 5>, int>;

class ZoomModesTest : public PickersTest {
protected:
    void SetUp() override {
        PickersTest::SetUp();
        BookCommon::localizedSet(1);
        settings = std::make_shared<Settings>(dir.path(), &defaults);
        settings->readFromFile();
        settings->setZoomModeOrderList({4, 2, 3, 1, 0});
        settings->setZoomModeEnableNum(3);
        settings->saveToFile();
    }
    void TearDown() override {
        BookCommon::localizedSet(0);
        PickersTest::TearDown();
    }
    // What the zoom file holds now: the order (entries 4-8) and the count (entry 1).
    Saved saved() {
        Saved out{{-1, -1, -1, -1, -1}, -1};
        auto a = sys::PropertyList::readArray(dir.file(".zoomsettings.lbs"));
        if (!a || a->size() < 9) return out;
        out.second = int((*a)[1].integerValue());
        for (size_t i = 0; i < 5; ++i) out.first[i] = int32_t((*a)[i + 4].integerValue());
        return out;
    }
    std::shared_ptr<SelectZoomModesViewController> open() {
        auto picker = std::make_shared<SelectZoomModesViewController>();
        picker->setSettings_(settings);
        push(picker);
        return picker;
    }
    std::vector<std::string> shown(TableView& t, int section) {
        std::vector<std::string> out;
        for (int r = 0; r < t.numberOfRowsInSection(section); ++r) {
            TableViewCell* c = t.cellForRowAtIndexPath({section, r});
            out.push_back(c ? c->textLabel()->text() : "?");
        }
        return out;
    }
    ::test::TempDir dir{"zoom"};
    ::test::TempDir prefs{"zoomprefs"};
    sys::UserDefaults defaults{prefs.file("defaults.plist")};
    std::shared_ptr<Settings> settings;
};

}  // namespace

TEST_F(ZoomModesTest, ShowsEnabledModesInOrderAboveTheDisabledOnes) {
    auto picker = open();
    EXPECT_EQ(picker->title(), "Zoom Modes");
    TableView* t = picker->tableView();
    EXPECT_TRUE(t->isEditing());
    EXPECT_TRUE(t->allowsSelectionDuringEditing());
    EXPECT_EQ(shown(*t, 0), (std::vector<std::string>{"Fit to Image", "Fit to Width", "Fit to Height"}));
    EXPECT_EQ(shown(*t, 1), (std::vector<std::string>{"Maximum Zoom", "Custom Zoom"}));
    EXPECT_EQ(picker->tableViewTitleForHeaderInSection(*t, 0), std::optional<std::string>("Enabled Modes"));
    EXPECT_EQ(picker->tableViewTitleForHeaderInSection(*t, 1), std::optional<std::string>("Disabled Modes"));
    EXPECT_EQ(t->cellForRowAtIndexPath({0, 0})->editingStyle(), TableViewCellEditingStyle::Delete);
    EXPECT_EQ(t->cellForRowAtIndexPath({1, 0})->editingStyle(), TableViewCellEditingStyle::Insert);
    EXPECT_EQ(t->cellForRowAtIndexPath({0, 0})->textLabel()->font().size, 16);
    EXPECT_EQ(t->cellForRowAtIndexPath({0, 0})->selectionStyle(), TableViewCellSelectionStyle::Blue);
}

TEST_F(ZoomModesTest, EveryEditIsSavedAtOnce) {
    auto picker = open();
    TableView* t = picker->tableView();
    // Tapping an enabled mode disables it: it heads the disabled ones.
    driver->tap(rowPoint(*t, {0, 1}));
    driver->advance(0.4);
    EXPECT_EQ(shown(*t, 0), (std::vector<std::string>{"Fit to Image", "Fit to Height"}));
    EXPECT_EQ(shown(*t, 1), (std::vector<std::string>{"Fit to Width", "Maximum Zoom", "Custom Zoom"}));
    EXPECT_EQ(saved(), (Saved{{4, 3, 2, 1, 0}, 2}));

    // Tapping a disabled mode enables it as the last one.
    driver->tap(rowPoint(*t, {1, 2}));
    driver->advance(0.4);
    EXPECT_EQ(shown(*t, 0), (std::vector<std::string>{"Fit to Image", "Fit to Height", "Custom Zoom"}));
    EXPECT_EQ(saved(), (Saved{{4, 3, 0, 2, 1}, 3}));
    EXPECT_EQ(t->indexPathForSelectedRow(), std::nullopt);

    // The insert control does the same as a tap.
    picker->tableViewCommitEditingStyle(*t, TableViewCellEditingStyle::Insert, {1, 0});
    driver->advance(0.4);
    EXPECT_EQ(saved().second, 4);
    EXPECT_EQ(saved().first[3], 2);
}

TEST_F(ZoomModesTest, ReorderingMovesOnlyWithinTheEnabledModes) {
    auto picker = open();
    TableView* t = picker->tableView();
    TableViewCell* c = t->cellForRowAtIndexPath({0, 0});
    c->layoutIfNeeded();
    ASSERT_FALSE(c->reorderControl()->isHidden());
    EXPECT_FALSE(picker->tableViewCanMoveRowAtIndexPath(*t, {1, 0}));
    Point grip = c->reorderControl()->convertPointToWindow(rectCenter(c->reorderControl()->bounds()));
    double rowH = t->rectForRowAtIndexPath({0, 0}).height();
    driver->drag(grip, {grip.x, grip.y + rowH}, 0.4);
    driver->advance(0.4);
    EXPECT_EQ(shown(*t, 0), (std::vector<std::string>{"Fit to Width", "Fit to Image", "Fit to Height"}));
    EXPECT_EQ(saved(), (Saved{{2, 4, 3, 1, 0}, 3}));
    // Moves the table hands over are checked against the enabled rows.
    picker->tableViewMoveRowAtIndexPath(*t, {0, 0}, {1, 1});
    picker->tableViewMoveRowAtIndexPath(*t, {0, 2}, {0, 7});
    EXPECT_EQ(saved(), (Saved{{2, 4, 3, 1, 0}, 3}));
    picker->tableViewMoveRowAtIndexPath(*t, {0, 2}, {0, 0});
    EXPECT_EQ(saved(), (Saved{{3, 2, 4, 1, 0}, 3}));
    // A move offered into the disabled modes goes back where it came from.
    EXPECT_EQ(picker->tableViewTargetIndexPathForMoveFromRowAtIndexPath(*t, {0, 2}, {1, 0}), (IndexPath{0, 2}));
    EXPECT_EQ(picker->tableViewTargetIndexPathForMoveFromRowAtIndexPath(*t, {0, 2}, {0, 0}), (IndexPath{0, 0}));
}

TEST_F(ZoomModesTest, DisablingTheLastModeLeavesNothingToDisable) {
    auto picker = open();
    TableView* t = picker->tableView();
    for (int i = 0; i < 3; ++i) {
        picker->deleteItem({0, 0});
        driver->advance(0.4);
    }
    EXPECT_EQ(t->numberOfRowsInSection(0), 0);
    EXPECT_EQ(t->numberOfRowsInSection(1), 5);
    EXPECT_EQ(saved().second, 0);
    auto before = saved();
    picker->deleteItem({0, 0});
    EXPECT_EQ(picker->enableSelectedNum_(), 0);
    EXPECT_EQ(saved(), before);
    EXPECT_EQ(shown(*t, 1), (std::vector<std::string>{"Fit to Height", "Fit to Width", "Fit to Image",
                                                        "Maximum Zoom", "Custom Zoom"}));
    // What the picker saved is what the next start reads: still none enabled.
    Settings reread(dir.path(), &defaults);
    reread.readFromFile();
    EXPECT_EQ(reread.getZoomModeEnableNum(), 0);
}

// --- Text input ---

TEST_F(PickersTest, TextFieldIsLaidOutAQuarterDownAndAtMostSixHundredWide) {
    auto input = std::make_shared<TextInputViewController>();
    input->setTextLabel_("Folder Name");
    input->setTextToEdit_("Comics");
    push(input);
    Size s = input->view()->bounds().size;
    const double F = std::min(s.width - 20, 600.0), x = (s.width - F) / 2, y = s.height / 4;
    EXPECT_EQ(input->textField_()->frame(), Rect(x, y, F, 30));
    EXPECT_EQ(input->titleLabel_()->frame(), Rect(x, y - 40, F, 25));
    EXPECT_EQ(input->cancelButton()->frame(), Rect(x + F - 200, y + 60, 200, 30));
    EXPECT_TRUE(input->cancelButton()->isHidden());  // pushed, not presented
    EXPECT_EQ(input->titleLabel_()->text(), "Folder Name");
    EXPECT_EQ(input->textField_()->text(), "Comics");
    EXPECT_EQ(input->textField_()->clearButtonMode(), TextFieldViewMode::Always);
    EXPECT_EQ(input->textField_()->cornerRadius(), 8.0);
    EXPECT_EQ(input->textField_()->borderWidth(), 2.0);
    EXPECT_TRUE(input->textField_()->isFirstResponder());  // the keyboard comes up
    // The text stands clear of the field's own border.
    EXPECT_GE(input->textField_()->textRect().x(), input->textField_()->borderWidth() + 4);

    input->configItemPosNew(Size{1366, 1024});
    EXPECT_EQ(input->textField_()->frame(), Rect(383, 256, 600, 30));
}

TEST_F(PickersTest, ChangedTextGoesToTheDelegateWhichDecidesTheClose) {
    auto input = std::make_shared<TextInputViewController>();
    input->setTextToEdit_("Old");
    input->setDelegate(listener);
    push(input);
    // Unchanged: nothing is sent and the screen stays.
    driver->pressReturn();
    EXPECT_TRUE(listener->log.empty());
    EXPECT_EQ(nav->topViewController(), input.get());

    listener->accept = false;
    driver->tap(*input->textField_());
    driver->type("er");
    driver->pressReturn();
    EXPECT_EQ(listener->log, (std::vector<std::string>{"edited Old -> Older"}));
    driver->advance(0.5);
    EXPECT_EQ(nav->topViewController(), input.get());
    // Refused: the field takes typing again without another tap.
    EXPECT_TRUE(input->textField_()->isFirstResponder());

    listener->accept = true;
    driver->tap(*input->textField_());
    driver->type("!");
    driver->pressReturn();
    driver->advance(0.5);
    EXPECT_EQ(listener->log.back(), "edited Old -> Older!");
    EXPECT_EQ(nav->topViewController(), home.get());
    EXPECT_EQ(listener->log.size(), 2u);  // leaving did not ask again

    // Refused, then left with Back: the text is not offered again on the way out.
    auto refused = std::make_shared<TextInputViewController>();
    refused->setTextToEdit_("Old");
    refused->setDelegate(listener);
    push(refused);
    listener->accept = false;
    driver->tap(*refused->textField_());
    driver->type("x");
    driver->pressReturn();
    driver->advance(0.5);
    ASSERT_TRUE(refused->textField_()->isFirstResponder());
    nav->popViewController(true);
    driver->advance(1);
    EXPECT_EQ(nav->topViewController(), home.get());
    EXPECT_EQ(listener->log.size(), 3u) << "asked again as the screen went";

    // Escape goes back as Back does: what was typed is not sent.
    auto escaped = std::make_shared<TextInputViewController>();
    escaped->setTextToEdit_("Old");
    escaped->setDelegate(listener);
    push(escaped);
    driver->tap(*escaped->textField_());
    driver->type("z");
    driver->key(ui::KeyInput::escape);
    driver->advance(1);
    EXPECT_EQ(nav->topViewController(), home.get());
    EXPECT_EQ(listener->log.size(), 3u) << "Escape sent the typed text";
}

TEST_F(PickersTest, ModalTextInputCancelsWithoutTellingTheDelegate) {
    auto input = std::make_shared<TextInputViewController>();
    input->setIsModalView_(true);
    input->setTextToEdit_("x");
    input->setDelegate(listener);
    home->present(input, true);
    driver->advance(0.5);
    ASSERT_FALSE(input->cancelButton()->isHidden());
    EXPECT_EQ(ui::test::Driver::textOf(*input->cancelButton()), "Cancel");
    driver->type("yz");
    driver->tap(*input->cancelButton());
    driver->advance(0.5);
    EXPECT_TRUE(listener->log.empty());
    EXPECT_EQ(home->presentedViewController(), nullptr);
    // Escape answers as Cancel.
    auto escaped = std::make_shared<TextInputViewController>();
    escaped->setIsModalView_(true);
    escaped->setTextToEdit_("x");
    escaped->setDelegate(listener);
    home->present(escaped, true);
    driver->advance(0.5);
    driver->type("yz");
    driver->key(ui::KeyInput::escape);
    driver->advance(0.5);
    EXPECT_TRUE(listener->log.empty());
    EXPECT_EQ(home->presentedViewController(), nullptr);

    // Presented and accepted: it is dismissed.
    auto again = std::make_shared<TextInputViewController>();
    again->setIsModalView_(true);
    again->setDelegate(listener);
    home->present(again, true);
    driver->advance(0.5);
    driver->type("new");
    driver->pressReturn();
    driver->advance(0.5);
    EXPECT_EQ(listener->log, (std::vector<std::string>{"edited  -> new"}));
    EXPECT_EQ(home->presentedViewController(), nullptr);
}

TEST_F(PickersTest, TurningTheDeviceLaysTheTextScreenOutAgain) {
    auto input = std::make_shared<TextInputViewController>();
    push(input);
    ASSERT_TRUE(window->rotate(InterfaceOrientation::LandscapeLeft));
    driver->advance(1.0);
    Size s = input->view()->bounds().size;
    ASSERT_GT(s.width, 620);
    EXPECT_EQ(input->textField_()->frame(), Rect((s.width - 600) / 2, s.height / 4, 600, 30));
}
