#include "UITestSupport.h"

#include "platform/ui/Log.h"
#include "platform/ui/RefreshControl.h"
#include "platform/ui/Switch.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/TextField.h"

#include <map>
#include <string>
#include <vector>

using namespace ui;
using uitest::UITest;

namespace {

// A table model of sections of strings, with a log of what the table asked.
class Model : public TableViewDataSource, public TableViewDelegate {
public:
    std::vector<std::vector<std::string>> sections{{}};
    std::vector<std::optional<std::string>> headers, footers;
    std::vector<std::string> log;
    int cellsMade = 0;
    int cellsAsked = 0;
    bool commits = true;
    bool movable = false;
    double height = 44;
    TableViewCellStyle cellStyle = TableViewCellStyle::Default;
    std::function<IndexPath(const IndexPath&, const IndexPath&)> target;
    std::function<TableViewCellEditingStyle(const IndexPath&)> editingStyle;
    std::function<bool(const IndexPath&)> focusable;

    int numberOfSectionsInTableView(TableView&) override { return int(sections.size()); }
    int tableViewNumberOfRowsInSection(TableView&, int s) override { return int(sections[size_t(s)].size()); }
    std::shared_ptr<TableViewCell> tableViewCellForRowAtIndexPath(TableView& tv, const IndexPath& ip) override {
        ++cellsAsked;
        auto cell = tv.dequeueReusableCell("row");
        if (!cell) {
            ++cellsMade;
            cell = std::make_shared<TableViewCell>(cellStyle, "row");
        }
        cell->textLabel()->setText(sections[size_t(ip.section)][size_t(ip.row)]);
        return cell;
    }
    std::optional<std::string> tableViewTitleForHeaderInSection(TableView&, int s) override {
        return size_t(s) < headers.size() ? headers[size_t(s)] : std::nullopt;
    }
    std::optional<std::string> tableViewTitleForFooterInSection(TableView&, int s) override {
        return size_t(s) < footers.size() ? footers[size_t(s)] : std::nullopt;
    }
    bool tableViewCommitsEditingStyle(TableView&) override { return commits; }
    void tableViewCommitEditingStyle(TableView& tv, TableViewCellEditingStyle style, const IndexPath& ip) override {
        log.push_back(std::string(style == TableViewCellEditingStyle::Delete ? "delete " : "insert ") +
                      sections[size_t(ip.section)][size_t(ip.row)]);
        if (style == TableViewCellEditingStyle::Delete) {
            sections[size_t(ip.section)].erase(sections[size_t(ip.section)].begin() + ip.row);
            tv.deleteRowsAtIndexPaths({ip}, TableViewRowAnimation::Fade);
        }
    }
    bool tableViewCanMoveRowAtIndexPath(TableView&, const IndexPath&) override { return movable; }
    void tableViewMoveRowAtIndexPath(TableView&, const IndexPath& from, const IndexPath& to) override {
        log.push_back("move " + std::to_string(from.section) + "." + std::to_string(from.row) + " -> " +
                      std::to_string(to.section) + "." + std::to_string(to.row));
        auto v = sections[size_t(from.section)][size_t(from.row)];
        sections[size_t(from.section)].erase(sections[size_t(from.section)].begin() + from.row);
        sections[size_t(to.section)].insert(sections[size_t(to.section)].begin() + to.row, v);
    }
    double tableViewHeightForRowAtIndexPath(TableView&, const IndexPath&) override { return height; }
    bool tableViewCanFocusRowAtIndexPath(TableView&, const IndexPath& ip) override {
        return !focusable || focusable(ip);
    }
    void tableViewDidSelectRowAtIndexPath(TableView&, const IndexPath& ip) override {
        log.push_back("select " + sections[size_t(ip.section)][size_t(ip.row)]);
    }
    void tableViewDidDeselectRowAtIndexPath(TableView&, const IndexPath& ip) override {
        log.push_back("deselect " + std::to_string(ip.row));
    }
    void tableViewAccessoryButtonTappedForRowWithIndexPath(TableView&, const IndexPath& ip) override {
        log.push_back("accessory " + std::to_string(ip.row));
    }
    IndexPath tableViewTargetIndexPathForMoveFromRowAtIndexPath(TableView&, const IndexPath& from,
                                                               const IndexPath& proposed) override {
        return target ? target(from, proposed) : proposed;
    }
    TableViewCellEditingStyle tableViewEditingStyleForRowAtIndexPath(TableView&, const IndexPath& ip) override {
        return editingStyle ? editingStyle(ip) : TableViewCellEditingStyle::Delete;
    }
};

std::vector<std::string> rows(int n, const std::string& prefix = "Row ") {
    std::vector<std::string> v;
    for (int i = 0; i < n; ++i) v.push_back(prefix + std::to_string(i));
    return v;
}

class TableViewTest : public UITest {
protected:
    void SetUp() override {
        UITest::SetUp();
        driver = std::make_unique<ui::test::Driver>(*window);
        table = std::make_shared<TableView>(Rect(0, 100, 390, 440), TableViewStyle::Plain);
        table->setContentInsetAdjustmentBehavior(ContentInsetAdjustmentBehavior::Never);
        model.sections = {rows(100)};
    }
    void show() {
        table->setDataSource(&model);
        table->setDelegate(&model);
        window->addSubview(table);
        driver->settle();
        table->layoutIfNeeded();
    }
    void TearDown() override {
        table->setDataSource(nullptr);
        table->setDelegate(nullptr);
        table.reset();
        driver.reset();
        UITest::TearDown();
    }
    // The window point in the middle of a row.
    Point rowPoint(const IndexPath& ip) {
        Rect r = table->rectForRowAtIndexPath(ip);
        return table->convertPointToWindow({r.x() + r.width() / 2, r.y() + r.height() / 2});
    }
    std::unique_ptr<ui::test::Driver> driver;
    std::shared_ptr<TableView> table;
    Model model;
};

}  // namespace

TEST_F(TableViewTest, OnlyRowsInSightHaveCellsAndCellsAreReused) {
    show();
    EXPECT_EQ(table->contentSize().height, 100 * 44);
    // 440 points show ten rows.
    EXPECT_EQ(table->visibleCells().size(), 10u);
    EXPECT_EQ(model.cellsMade, 10);
    EXPECT_EQ(table->cellForRowAtIndexPath({0, 3})->textLabel()->text(), "Row 3");
    EXPECT_EQ(table->cellForRowAtIndexPath({0, 30}), nullptr);
    table->setContentOffset({0, 44 * 50});
    auto visible = table->indexPathsForVisibleRows();
    ASSERT_FALSE(visible.empty());
    EXPECT_EQ(visible.front(), (IndexPath{0, 50}));
    EXPECT_EQ(visible.back(), (IndexPath{0, 59}));
    EXPECT_EQ(model.cellsMade, 10);  // all from the pool
    EXPECT_EQ(table->cellForRowAtIndexPath({0, 55})->frame().y(), 44 * 55);
    // Half a row in sight still counts.
    table->setContentOffset({0, 44 * 50 + 22});
    EXPECT_EQ(table->indexPathsForVisibleRows().size(), 11u);
    EXPECT_EQ(table->indexPathForRowAtPoint({10, 44 * 7 + 1}), (IndexPath{0, 7}));
    EXPECT_FALSE(table->indexPathForRowAtPoint({10, 44 * 100 + 1}).has_value());
}

TEST_F(TableViewTest, SectionsHaveTitlesAndPlainHeadersStayOnTop) {
    model.sections = {rows(20, "A"), rows(20, "B")};
    model.headers = {"First", "Second"};
    model.footers = {std::nullopt, "The end"};
    show();
    EXPECT_EQ(table->rectForHeaderInSection(0), Rect(0, 0, 390, 28));
    EXPECT_EQ(table->rectForRowAtIndexPath({0, 0}).y(), 28);
    EXPECT_EQ(table->rectForHeaderInSection(1).y(), 28 + 20 * 44);
    EXPECT_EQ(table->contentSize().height, 28 * 2 + 40 * 44 + 28);
    View* h0 = table->headerViewForSection(0);
    ASSERT_NE(h0, nullptr);
    EXPECT_NE(driver->findByText("First"), nullptr);
    // Scrolled into section 0, its header stays at the top of the view...
    table->setContentOffset({0, 300});
    EXPECT_EQ(table->headerViewForSection(0)->frame().y(), 300);
    // ...until the next section pushes it away.
    table->setContentOffset({0, 28 + 20 * 44 - 10});
    EXPECT_EQ(table->headerViewForSection(0)->frame().maxY(), 28 + 20 * 44);
    EXPECT_EQ(table->headerViewForSection(1)->frame().y(), 28 + 20 * 44);

    // Grouped: titled headers and a first-section gap.
    auto grouped = std::make_shared<TableView>(Rect(0, 0, 390, 400), TableViewStyle::Grouped);
    grouped->setContentInsetAdjustmentBehavior(ContentInsetAdjustmentBehavior::Never);
    Model g;
    g.sections = {rows(2), rows(2)};
    g.headers = {std::nullopt, "Two"};
    grouped->setDataSource(&g);
    grouped->setDelegate(&g);
    window->addSubview(grouped);
    grouped->layoutIfNeeded();
    EXPECT_EQ(grouped->rectForHeaderInSection(0).height(), 35);
    EXPECT_EQ(grouped->rectForHeaderInSection(1).height(), 38);
    grouped->setDataSource(nullptr);
    grouped->setDelegate(nullptr);
}

TEST_F(TableViewTest, CellStylesLayOutTheirLabelsAndAccessories) {
    model.sections = {rows(3)};
    model.cellStyle = TableViewCellStyle::Value1;
    show();
    TableViewCell* c = table->cellForRowAtIndexPath({0, 0});
    c->detailTextLabel()->setText("On");
    c->setAccessoryType(TableViewCellAccessoryType::DisclosureIndicator);
    c->layoutIfNeeded();
    // The title at the left margin, the detail ending beside the chevron.
    Rect t = c->convertRectTo(c->textLabel()->frame(), nullptr);
    Rect d = c->detailTextLabel()->convertRectTo(c->detailTextLabel()->bounds(), c);
    Rect a = c->accessoryShown()->frame();
    EXPECT_EQ(t.x(), 16);
    EXPECT_NEAR(a.maxX(), 390 - 16, 1e-9);
    EXPECT_LE(d.maxX(), a.x());
    EXPECT_GT(d.maxX(), a.x() - 16);
    EXPECT_EQ(c->detailTextLabel()->textAlignment(), TextAlignment::Right);

    // A switch as the accessory view takes the accessory's place.
    auto sw = std::make_shared<Switch>();
    sw->sizeToFit();
    c->setAccessoryView(sw);
    c->layoutIfNeeded();
    EXPECT_EQ(sw->superview(), c);
    EXPECT_NEAR(sw->frame().maxX(), 390 - 16, 1e-9);

    // Subtitle: the detail under the title.
    auto s = std::make_shared<TableViewCell>(TableViewCellStyle::Subtitle);
    s->setFrame(Rect(0, 0, 390, 60));
    s->textLabel()->setText("Title");
    s->detailTextLabel()->setText("Detail");
    s->layoutIfNeeded();
    EXPECT_GT(s->detailTextLabel()->frame().y(), s->textLabel()->frame().maxY() - 1e-9);
    EXPECT_GT(s->sizeThatFits({390, 0}).height, 44 - 1e-9);
    EXPECT_EQ(std::make_shared<TableViewCell>()->detailTextLabel(), nullptr);

    // The detail button tells the delegate.
    TableViewCell* c1 = table->cellForRowAtIndexPath({0, 1});
    c1->setAccessoryType(TableViewCellAccessoryType::DetailButton);
    c1->layoutIfNeeded();
    driver->tap(*c1->accessoryShown());
    EXPECT_EQ(model.log, (std::vector<std::string>{"accessory 1"}));
}

TEST_F(TableViewTest, TappingSelectsDraggingDoesNot) {
    show();
    driver->tap(rowPoint({0, 2}));
    EXPECT_EQ(model.log, (std::vector<std::string>{"select Row 2"}));
    EXPECT_EQ(table->indexPathForSelectedRow(), (IndexPath{0, 2}));
    EXPECT_TRUE(table->cellForRowAtIndexPath({0, 2})->isSelected());
    driver->tap(rowPoint({0, 4}));
    EXPECT_EQ(model.log, (std::vector<std::string>{"select Row 2", "deselect 2", "select Row 4"}));
    // Animated deselection fades the highlight on the clock.
    TableViewCell* c = table->cellForRowAtIndexPath({0, 4});
    table->deselectRowAtIndexPath({0, 4}, true);
    EXPECT_FALSE(c->isSelected());
    EXPECT_EQ(c->selectedBackgroundView()->alpha(), 0);
    EXPECT_GT(c->selectedBackgroundView()->presentationAlpha(), 0.9);
    driver->advance(0.4);
    EXPECT_EQ(c->selectedBackgroundView()->presentationAlpha(), 0);
    // A drag over rows scrolls and selects nothing.
    model.log.clear();
    driver->drag(rowPoint({0, 6}), rowPoint({0, 1}), 0.3);
    EXPECT_GT(table->contentOffset().y, 100);
    EXPECT_TRUE(model.log.empty());
    for (auto* cell : table->visibleCells()) EXPECT_FALSE(cell->isHighlighted());
    // No selection while editing unless allowed.
    table->setEditing(true);
    driver->tap(rowPoint({0, 8}));
    EXPECT_TRUE(model.log.empty());
    table->setAllowsSelectionDuringEditing(true);
    driver->tap(rowPoint({0, 8}));
    EXPECT_EQ(model.log, (std::vector<std::string>{"select Row 8"}));
}

TEST_F(TableViewTest, KeysHighlightARowFromTheFirstInSightKeepItInSightAndReturnChoosesIt) {
    model.focusable = [](const IndexPath& ip) { return ip.row != 21; };
    show();
    table->setContentOffset({0, 20 * 44 + 10}, false);  // row 20 more than half in sight
    EXPECT_TRUE(driver->key(KeyInput::downArrow));
    ASSERT_EQ(table->keyHighlightedRow(), (IndexPath{0, 20}));
    EXPECT_TRUE(table->cellForRowAtIndexPath({0, 20})->isSelected());
    EXPECT_EQ(table->contentOffset().y, 20 * 44) << "scrolled to show it whole";
    TableViewCell* first = table->cellForRowAtIndexPath({0, 20});
    first->setSelectionStyle(TableViewCellSelectionStyle::None);
    EXPECT_EQ(first->selectedBackgroundView()->alpha(), 1) << "seen also on a row that shows no selection";
    driver->key(KeyInput::downArrow);
    EXPECT_EQ(table->keyHighlightedRow(), (IndexPath{0, 22})) << "a row that takes no focus is passed";
    EXPECT_FALSE(first->isSelected());
    EXPECT_EQ(first->selectedBackgroundView()->alpha(), 0);
    driver->key(KeyInput::upArrow);
    EXPECT_EQ(table->keyHighlightedRow(), (IndexPath{0, 20}));
    for (int i = 0; i < 12; ++i) driver->key(KeyInput::downArrow);
    EXPECT_EQ(table->keyHighlightedRow(), (IndexPath{0, 33}));
    EXPECT_EQ(table->contentOffset().y, 34 * 44 - 440) << "the highlight stays in sight";
    EXPECT_TRUE(model.log.empty()) << "moving chooses nothing";
    driver->key(KeyInput::returnKey);
    EXPECT_EQ(model.log, (std::vector<std::string>{"select Row 33"}));
    // At the end it stays.
    table->setContentOffset({0, 100 * 44 - 440}, false);
    table->selectRowAtIndexPath(std::nullopt, false, TableViewScrollPosition::None);
    EXPECT_EQ(table->keyHighlightedRow(), std::nullopt);
    driver->key(KeyInput::downArrow);
    EXPECT_EQ(table->keyHighlightedRow(), (IndexPath{0, 90}));
    for (int i = 0; i < 12; ++i) driver->key(KeyInput::downArrow);
    EXPECT_EQ(table->keyHighlightedRow(), (IndexPath{0, 99}));
    // A table that takes no selection scrolls on the arrows as any list does.
    table->setAllowsSelection(false);
    driver->key(KeyInput::upArrow);
    EXPECT_EQ(table->contentOffset().y, 100 * 44 - 440 - 40);
    model.log.clear();
    driver->key(KeyInput::returnKey);
    EXPECT_TRUE(model.log.empty());
}

TEST_F(TableViewTest, InsertAndDeleteMoveTheCellsThatStay) {
    model.sections = {rows(5)};
    show();
    TableViewCell* row3 = table->cellForRowAtIndexPath({0, 3});
    // Held here: the table lets go of a deleted row's cell once it has faded out.
    const std::shared_ptr<View> row1 = table->cellForRowAtIndexPath({0, 1})->shared_from_this();
    // Delete row 1 and insert a new row 0 in one batch.
    model.sections[0].erase(model.sections[0].begin() + 1);
    model.sections[0].insert(model.sections[0].begin(), "New");
    table->beginUpdates();
    table->deleteRowsAtIndexPaths({{0, 1}}, TableViewRowAnimation::Fade);
    table->insertRowsAtIndexPaths({{0, 0}}, TableViewRowAnimation::Fade);
    table->endUpdates();
    // Row 3 is still row 3 (one out, one in before it), the same cell.
    EXPECT_EQ(table->cellForRowAtIndexPath({0, 3}), row3);
    EXPECT_EQ(table->cellForRowAtIndexPath({0, 0})->textLabel()->text(), "New");
    EXPECT_EQ(table->cellForRowAtIndexPath({0, 0})->presentationAlpha(), 0);  // fading in
    // The deleted row fades out and leaves.
    EXPECT_EQ(row1->superview(), table.get());
    driver->advance(0.4);
    EXPECT_EQ(row1->superview(), nullptr);
    EXPECT_EQ(table->cellForRowAtIndexPath({0, 0})->presentationAlpha(), 1);
    EXPECT_EQ(table->contentSize().height, 5 * 44);
    // A selected row follows its row.
    table->selectRowAtIndexPath(IndexPath{0, 4}, false, TableViewScrollPosition::None);
    model.sections[0].insert(model.sections[0].begin(), "Top");
    table->insertRowsAtIndexPaths({{0, 0}}, TableViewRowAnimation::None);
    EXPECT_EQ(table->indexPathForSelectedRow(), (IndexPath{0, 5}));
    EXPECT_TRUE(table->cellForRowAtIndexPath({0, 5})->isSelected());
}

TEST_F(TableViewTest, UpdatesThatDoNotMatchTheDataReloadInsteadOfBreaking) {
    model.sections = {rows(5)};
    show();
    std::vector<std::string> warnings;
    auto old = setWarningSink([&](const std::string& w) { warnings.push_back(w); });
    model.sections[0].push_back("Extra");
    table->deleteRowsAtIndexPaths({{0, 1}}, TableViewRowAnimation::Fade);  // but one was added
    setWarningSink(old);
    EXPECT_EQ(warnings.size(), 1u);
    EXPECT_EQ(table->numberOfRowsInSection(0), 6);
    EXPECT_EQ(table->cellForRowAtIndexPath({0, 5})->textLabel()->text(), "Extra");
    // Out of range rows too.
    old = setWarningSink([&](const std::string& w) { warnings.push_back(w); });
    table->reloadRowsAtIndexPaths({{0, 40}}, TableViewRowAnimation::None);
    setWarningSink(old);
    EXPECT_EQ(warnings.size(), 2u);
}

TEST_F(TableViewTest, SectionsAreInsertedAndRowsAddedToThem) {
    model.sections = {};
    show();
    EXPECT_EQ(table->numberOfSections(), 0);
    // Adding a row to section 3 of an empty table: sections 0-3 first.
    model.sections = {{}, {}, {}, {"Only"}};
    table->beginUpdates();
    table->insertSections({0, 1, 2, 3}, TableViewRowAnimation::Fade);
    table->endUpdates();
    EXPECT_EQ(table->numberOfSections(), 4);
    EXPECT_EQ(table->cellForRowAtIndexPath({3, 0})->textLabel()->text(), "Only");
    // Removing every row of a section keeps the section.
    model.sections[3].clear();
    table->deleteRowsAtIndexPaths({{3, 0}}, TableViewRowAnimation::Fade);
    EXPECT_EQ(table->numberOfSections(), 4);
    EXPECT_EQ(table->numberOfRowsInSection(3), 0);
    // Reloading a section rebuilds its cells.
    model.sections[1] = {"x", "y"};
    table->reloadSections({1}, TableViewRowAnimation::None);
    EXPECT_EQ(table->cellForRowAtIndexPath({1, 1})->textLabel()->text(), "y");
}

TEST_F(TableViewTest, EditingShowsControlsThatDeleteAndInsert) {
    model.sections = {rows(4)};
    model.editingStyle = [this](const IndexPath& ip) {
        return model.sections[0][size_t(ip.row)] == "Row 3" ? TableViewCellEditingStyle::Insert
                                                             : TableViewCellEditingStyle::Delete;
    };
    show();
    table->setEditing(true, true);
    TableViewCell* c = table->cellForRowAtIndexPath({0, 1});
    EXPECT_TRUE(c->isEditing());
    driver->advance(0.4);
    ASSERT_FALSE(c->editingControl()->isHidden());
    EXPECT_EQ(c->contentView()->frame().x(), 38);  // room for the control
    // The minus offers the delete, the Delete button commits it.
    driver->tap(*c->editingControl());
    EXPECT_TRUE(c->isShowingDeleteConfirmation());
    driver->advance(0.3);
    driver->tap(*c->deleteConfirmationButton());
    EXPECT_EQ(model.log, (std::vector<std::string>{"delete Row 1"}));
    EXPECT_EQ(table->numberOfRowsInSection(0), 3);
    driver->advance(0.4);
    // The insert control commits at once.
    TableViewCell* last = table->cellForRowAtIndexPath({0, 2});
    ASSERT_EQ(last->textLabel()->text(), "Row 3");
    driver->tap(*last->editingControl());
    EXPECT_EQ(model.log.back(), "insert Row 3");
    table->setEditing(false, false);
    EXPECT_TRUE(table->cellForRowAtIndexPath({0, 0})->editingControl()->isHidden());
}

TEST_F(TableViewTest, SwipingLeftOffersToDeleteWhenTheDataSourceCommits) {
    model.sections = {rows(4)};
    model.commits = false;
    show();
    Point p = rowPoint({0, 1});
    driver->drag(p, {p.x - 120, p.y}, 0.2);
    EXPECT_FALSE(table->cellForRowAtIndexPath({0, 1})->isShowingDeleteConfirmation());
    model.commits = true;
    driver->drag(p, {p.x - 120, p.y}, 0.2);
    TableViewCell* c = table->cellForRowAtIndexPath({0, 1});
    EXPECT_TRUE(c->isShowingDeleteConfirmation());
    EXPECT_TRUE(model.log.empty());  // a swipe selects nothing
    driver->advance(0.3);
    EXPECT_LT(c->contentView()->frame().x(), 0);  // slid aside for the button
    // Tapping another row takes the offer back without selecting.
    driver->tap(rowPoint({0, 3}));
    EXPECT_FALSE(c->isShowingDeleteConfirmation());
    EXPECT_TRUE(model.log.empty());
    driver->advance(0.3);
    driver->drag(p, {p.x - 120, p.y}, 0.2);
    driver->advance(0.3);
    driver->tap(*table->cellForRowAtIndexPath({0, 1})->deleteConfirmationButton());
    EXPECT_EQ(model.log, (std::vector<std::string>{"delete Row 1"}));
}

TEST_F(TableViewTest, RowsAreReorderedByTheirGripAndATargetCanSnapBack) {
    model.sections = {rows(6)};
    model.movable = true;
    show();
    table->setEditing(true);
    TableViewCell* c = table->cellForRowAtIndexPath({0, 1});
    c->layoutIfNeeded();
    ASSERT_FALSE(c->reorderControl()->isHidden());
    // Drag row 1 down by two and a half rows: it lands at row 3.
    Point grip = c->reorderControl()->convertPointToWindow(rectCenter(c->reorderControl()->bounds()));
    driver->drag(grip, {grip.x, grip.y + 44 * 2.5}, 0.4);
    EXPECT_EQ(model.log, (std::vector<std::string>{"move 0.1 -> 0.3"}));
    EXPECT_EQ(model.sections[0][3], "Row 1");
    EXPECT_EQ(table->contentOffset().y, 0);  // the grip does not scroll
    driver->advance(0.3);
    EXPECT_EQ(table->cellForRowAtIndexPath({0, 3}), c);
    EXPECT_EQ(c->frame().y(), 3 * 44);
    EXPECT_EQ(table->cellForRowAtIndexPath({0, 1})->textLabel()->text(), "Row 2");
    EXPECT_EQ(table->cellForRowAtIndexPath({0, 1})->frame().y(), 44);

    // A delegate that refuses every target: the row goes back.
    model.log.clear();
    model.target = [](const IndexPath& from, const IndexPath&) { return from; };
    TableViewCell* c0 = table->cellForRowAtIndexPath({0, 0});
    Point g0 = c0->reorderControl()->convertPointToWindow(rectCenter(c0->reorderControl()->bounds()));
    driver->drag(g0, {g0.x, g0.y + 44 * 3}, 0.4);
    EXPECT_TRUE(model.log.empty());
    driver->advance(0.3);
    EXPECT_EQ(c0->frame().y(), 0);
    EXPECT_EQ(table->cellForRowAtIndexPath({0, 0}), c0);
}

TEST_F(TableViewTest, AutomaticHeightsAreMeasuredFromTheCells) {
    model.sections = {rows(3)};
    model.height = TableView::kAutomaticDimension;
    model.cellStyle = TableViewCellStyle::Subtitle;
    show();
    // Subtitle cells with only a title measure the default height.
    EXPECT_EQ(table->rectForRowAtIndexPath({0, 0}).height(), 44);
    // A cell with a tall custom view asks for more.
    class Tall : public TableViewDataSource {
    public:
        int tableViewNumberOfRowsInSection(TableView&, int) override { return 2; }
        std::shared_ptr<TableViewCell> tableViewCellForRowAtIndexPath(TableView&, const IndexPath& ip) override {
            auto c = std::make_shared<TableViewCell>();
            if (ip.row == 1) c->contentView()->addSubview(std::make_shared<View>(Rect(0, 0, 10, 100)));
            return c;
        }
    } tall;
    table->setDataSource(&tall);
    table->reloadData();
    EXPECT_EQ(table->rectForRowAtIndexPath({0, 0}).height(), 44);
    EXPECT_EQ(table->rectForRowAtIndexPath({0, 1}).height(), 122);
    EXPECT_EQ(table->contentSize().height, 44 + 122);
    table->setDataSource(nullptr);
}

TEST_F(TableViewTest, PullingDownRefreshesUntilToldItIsDone) {
    show();
    auto rc = std::make_shared<RefreshControl>();
    int refreshes = 0;
    rc->addAction(ControlEventValueChanged, [&](Control&) { ++refreshes; });
    table->setRefreshControl(rc);
    // A short pull does nothing.
    driver->drag({200, 200}, {200, 300}, 0.3);
    driver->advance(1);
    EXPECT_EQ(refreshes, 0);
    driver->drag({200, 150}, {200, 500}, 0.3);
    EXPECT_EQ(refreshes, 1);
    EXPECT_TRUE(rc->isRefreshing());
    driver->advance(1);
    // It rests below the spinner.
    EXPECT_DOUBLE_EQ(table->contentOffset().y, -RefreshControl::kHeight);
    rc->endRefreshing();
    driver->advance(0.5);
    EXPECT_DOUBLE_EQ(table->contentOffset().y, 0);
    EXPECT_EQ(table->adjustedContentInset().top, 0);
}

TEST_F(TableViewTest, HeaderViewComesFirstAndScrollingToARowPlacesIt) {
    auto header = std::make_shared<View>(Rect(0, 0, 10, 80));
    table->setTableHeaderView(header);
    show();
    EXPECT_EQ(header->frame(), Rect(0, 0, 390, 80));
    EXPECT_EQ(table->rectForRowAtIndexPath({0, 0}).y(), 80);
    table->scrollToRowAtIndexPath({0, 50}, TableViewScrollPosition::Top, false);
    EXPECT_EQ(table->contentOffset().y, 80 + 50 * 44);
    table->scrollToRowAtIndexPath({0, 50}, TableViewScrollPosition::Bottom, false);
    EXPECT_EQ(table->contentOffset().y, 80 + 51 * 44 - 440);
    table->scrollToRowAtIndexPath({0, 99}, TableViewScrollPosition::Top, false);
    EXPECT_EQ(table->contentOffset().y, table->maximumContentOffset().y);  // never past the end
}

TEST_F(TableViewTest, ReloadedRowsGetNewCellsMovedRowsKeepTheirs) {
    model.sections = {rows(5), rows(3, "S")};
    show();
    // Held here: the table lets go of a reloaded row's old cell.
    const std::shared_ptr<View> row2 = table->cellForRowAtIndexPath({0, 2})->shared_from_this();
    TableViewCell* row4 = table->cellForRowAtIndexPath({0, 4});
    model.sections[0][2] = "Changed";
    table->reloadRowsAtIndexPaths({{0, 2}}, TableViewRowAnimation::None);
    EXPECT_EQ(table->cellForRowAtIndexPath({0, 2})->textLabel()->text(), "Changed");
    EXPECT_EQ(row2->superview(), nullptr);  // the old cell left
    // A programmatic move takes the same cell along.
    auto v = model.sections[0][4];
    model.sections[0].erase(model.sections[0].begin() + 4);
    model.sections[0].insert(model.sections[0].begin(), v);
    table->moveRowAtIndexPath({0, 4}, {0, 0});
    EXPECT_EQ(table->cellForRowAtIndexPath({0, 0}), row4);
    EXPECT_EQ(row4->frame().y(), 0);
    EXPECT_EQ(table->cellForRowAtIndexPath({0, 1})->textLabel()->text(), "Row 0");
    // Deleting the first section moves the second one's cells up a section.
    TableViewCell* s1 = table->cellForRowAtIndexPath({1, 1});
    model.sections.erase(model.sections.begin());
    table->deleteSections({0}, TableViewRowAnimation::Fade);
    EXPECT_EQ(table->numberOfSections(), 1);
    EXPECT_EQ(table->cellForRowAtIndexPath({0, 1}), s1);
    EXPECT_EQ(s1->frame().y(), 44);
    driver->advance(0.4);
    EXPECT_EQ(table->visibleCells().size(), 3u);
}

TEST_F(TableViewTest, AFieldBeingEditedInARowKeepsTheKeysThroughAReloadAndANewWidth) {
    model.sections = {rows(5)};
    show();
    TableViewCell* row2 = table->cellForRowAtIndexPath({0, 2});
    auto field = std::make_shared<TextField>(Rect(100, 5, 200, 30));
    row2->contentView()->addSubview(field);
    ASSERT_TRUE(field->becomeFirstResponder());
    driver->type("ab");
    // A turned screen or a resized window lays the rows out again: the row
    // being edited keeps its cell, and the field its caret.
    table->reloadData();
    EXPECT_EQ(table->cellForRowAtIndexPath({0, 2}), row2);
    EXPECT_EQ(row2->textLabel()->text(), "Row 2");
    table->setFrame(Rect(0, 100, 600, 440));
    table->layoutIfNeeded();
    EXPECT_EQ(table->cellForRowAtIndexPath({0, 2}), row2);
    EXPECT_EQ(row2->frame().width(), 600);
    EXPECT_TRUE(field->isFirstResponder());
    driver->type("c");
    EXPECT_EQ(field->text(), "abc");
    // A row gone from the table takes its field's editing with it.
    model.sections = {rows(2)};
    table->reloadData();
    EXPECT_FALSE(field->isFirstResponder());
    EXPECT_EQ(row2->superview(), nullptr);
}

TEST_F(TableViewTest, MultipleSelectionTogglesAndRedirectedSelectionsLand) {
    model.sections = {rows(6)};
    show();
    table->setAllowsMultipleSelection(true);
    driver->tap(rowPoint({0, 1}));
    driver->tap(rowPoint({0, 3}));
    EXPECT_EQ(table->indexPathsForSelectedRows(), (std::vector<IndexPath>{{0, 1}, {0, 3}}));
    driver->tap(rowPoint({0, 1}));
    EXPECT_EQ(table->indexPathsForSelectedRows(), (std::vector<IndexPath>{{0, 3}}));
    EXPECT_FALSE(table->cellForRowAtIndexPath({0, 1})->isSelected());
    EXPECT_EQ(model.log, (std::vector<std::string>{"select Row 1", "select Row 3", "deselect 1"}));

    // A delegate that sends every selection to row 5, or refuses row 0.
    class Redirect : public Model {
    public:
        std::optional<IndexPath> tableViewWillSelectRowAtIndexPath(TableView&, const IndexPath& ip) override {
            if (ip.row == 0) return std::nullopt;
            return IndexPath{0, 5};
        }
    } redirect;
    redirect.sections = model.sections;
    table->setAllowsMultipleSelection(false);
    table->setDelegate(&redirect);
    table->setDataSource(&redirect);
    table->reloadData();
    driver->tap(rowPoint({0, 0}));
    EXPECT_TRUE(redirect.log.empty());
    EXPECT_FALSE(table->indexPathForSelectedRow().has_value());
    driver->tap(rowPoint({0, 2}));
    EXPECT_EQ(redirect.log, (std::vector<std::string>{"select Row 5"}));
    EXPECT_TRUE(table->cellForRowAtIndexPath({0, 5})->isSelected());
    EXPECT_FALSE(table->cellForRowAtIndexPath({0, 2})->isSelected());
    EXPECT_FALSE(table->cellForRowAtIndexPath({0, 2})->isHighlighted());
}

TEST_F(TableViewTest, CellsKeepTheirOwnAlphaAndBackgroundAndAClearRowStillTakesTaps) {
    // A list with a clear row kept for its taps alone (a hidden "Done") and a
    // tinted one: the table's layouts, reuse, reloads and fades leave both as
    // their data source made them.
    class Styled : public Model {
    public:
        std::shared_ptr<TableViewCell> tableViewCellForRowAtIndexPath(TableView& tv, const IndexPath& ip) override {
            auto cell = Model::tableViewCellForRowAtIndexPath(tv, ip);
            const std::string& text = sections[size_t(ip.section)][size_t(ip.row)];
            cell->setAlpha(text.starts_with("Clear") ? 0 : 1);
            cell->setBackgroundColor(text == "Tinted" ? Color::systemOrange() : Color::systemBackground());
            return cell;
        }
    } styled;
    styled.sections = {rows(60)};
    styled.sections[0][0] = "Clear";
    styled.sections[0][1] = "Tinted";
    model.sections = styled.sections;
    table->setDataSource(&styled);
    table->setDelegate(&styled);
    window->addSubview(table);
    driver->settle();
    table->layoutIfNeeded();
    auto cellAt = [&](int row) { return table->cellForRowAtIndexPath({0, row}); };
    auto expectStyled = [&](const std::string& when) {
        ASSERT_TRUE(cellAt(0) && cellAt(1) && cellAt(2)) << when;
        EXPECT_EQ(cellAt(0)->alpha(), 0) << when;
        EXPECT_EQ(cellAt(0)->presentationAlpha(), 0) << when;
        EXPECT_EQ(cellAt(1)->backgroundColor(), Color::systemOrange()) << when;
        EXPECT_EQ(cellAt(1)->presentationAlpha(), 1) << when;
        EXPECT_EQ(cellAt(2)->presentationAlpha(), 1) << when;
    };
    expectStyled("first shown");

    // Scrolled away and back: the rows come back in cells from the pool.
    table->setContentOffset({0, 44 * 40});
    table->layoutIfNeeded();
    table->setContentOffset({0, 0});
    table->layoutIfNeeded();
    expectStyled("cells from the pool");
    table->reloadData();
    table->layoutIfNeeded();
    expectStyled("reloaded");

    // A clear row inserted with a fade ends clear; the rows it pushes down keep their looks.
    styled.sections[0].insert(styled.sections[0].begin(), "Clear too");
    table->insertRowsAtIndexPaths({{0, 0}}, TableViewRowAnimation::Fade);
    driver->advance(0.4);
    EXPECT_EQ(cellAt(0)->presentationAlpha(), 0) << "the fade-in ends at the cell's own alpha";
    EXPECT_EQ(cellAt(1)->presentationAlpha(), 0);
    EXPECT_EQ(cellAt(2)->backgroundColor(), Color::systemOrange());
    EXPECT_EQ(cellAt(3)->presentationAlpha(), 1);

    // The clear row is still a row: a tap selects it.
    driver->tap(rowPoint({0, 1}));
    EXPECT_EQ(styled.log, (std::vector<std::string>{"select Clear"}));
    driver->tap(rowPoint({0, 3}));
    EXPECT_EQ(styled.log.back(), "select Row 2");
    table->setDataSource(nullptr);
    table->setDelegate(nullptr);
}

TEST_F(TableViewTest, ACellThatFadedOutComesBackAsItsDataSourceMadeIt) {
    // A data source that keeps its own cells and hands the same one out again.
    class Kept : public Model {
    public:
        std::map<std::string, std::shared_ptr<TableViewCell>> cells;
        std::shared_ptr<TableViewCell> tableViewCellForRowAtIndexPath(TableView&, const IndexPath& ip) override {
            const std::string& text = sections[size_t(ip.section)][size_t(ip.row)];
            auto& cell = cells[text];
            if (!cell) {
                cell = std::make_shared<TableViewCell>(TableViewCellStyle::Default, "");
                cell->textLabel()->setText(text);
                cell->setAlpha(text == "Half" ? 0.5 : 1);
            }
            return cell;
        }
    } kept;
    kept.sections = {{"Half", "Whole", "Other"}};
    table->setDataSource(&kept);
    table->setDelegate(&kept);
    window->addSubview(table);
    driver->settle();
    table->layoutIfNeeded();
    auto half = kept.cells["Half"], whole = kept.cells["Whole"];
    ASSERT_TRUE(half && whole);
    EXPECT_EQ(half->presentationAlpha(), 0.5);

    kept.sections[0].erase(kept.sections[0].begin(), kept.sections[0].begin() + 2);
    table->deleteRowsAtIndexPaths({{0, 0}, {0, 1}}, TableViewRowAnimation::Fade);
    driver->advance(0.4);
    EXPECT_EQ(half->superview(), nullptr);
    EXPECT_EQ(whole->superview(), nullptr);

    kept.sections[0].insert(kept.sections[0].begin(), {"Half", "Whole"});
    table->insertRowsAtIndexPaths({{0, 0}, {0, 1}}, TableViewRowAnimation::None);
    table->layoutIfNeeded();
    EXPECT_EQ(table->cellForRowAtIndexPath({0, 0}), half.get());
    EXPECT_EQ(half->presentationAlpha(), 0.5) << "the table's fade-out is not the cell's own alpha";
    EXPECT_EQ(whole->presentationAlpha(), 1);
    table->setDataSource(nullptr);
    table->setDelegate(nullptr);
}
