#include "ToolkitTestSupport.h"

#include "foundation/ui/QNTableView.h"
#include "foundation/ui/QNTableViewCellCustom.h"
#include "foundation/ui/QNTableViewData.h"

#include <string>
#include <vector>

using namespace ui;
using toolkittest::ToolkitTest;

namespace {

class Screen : public QNTableViewDelegate {
public:
    void tableViewDidSelectRowAtIndexPath(QNTableView&, const IndexPath& ip, QNTableViewData* data) override {
        log.push_back("select " + std::to_string(ip.section) + "," + std::to_string(ip.row) + " " +
                      (data ? data->text() : std::string("(none)")));
    }
    void tableViewValueChangedWithIndexPath(QNTableView&, const IndexPath& ip, const sys::PlistValue& v) override {
        // The bound dictionary is written before the screen hears of it.
        std::string stored = settings ? describe(settings->get("mode")) : "";
        log.push_back("value " + std::to_string(ip.row) + " " + describe(v) + " stored " + stored);
    }
    void tableViewStringChangedWithIndexPath(QNTableView&, const IndexPath&, const std::string& s) override {
        log.push_back("string " + s);
    }
    void tableViewDidDeleteRowAtIndexPath(QNTableView& t, const IndexPath& ip) override {
        log.push_back("deleted " + std::to_string(ip.row) + " left " + std::to_string(t.getRowsFromSection(0)));
    }
    static std::string describe(const sys::PlistValue& v) {
        if (v.isBool()) return v.boolValue() ? "YES" : "NO";
        if (v.isInteger()) return std::to_string(v.integerValue());
        if (v.isString()) return "\"" + v.asString() + "\"";
        return "null";
    }
    std::shared_ptr<sys::PlistDictionary> settings;
    std::vector<std::string> log;
};

std::shared_ptr<QNTableViewData> row(const std::string& text, int32_t style = QNTableViewData::kStyleDefault) {
    auto d = std::make_shared<QNTableViewData>();
    d->setText(text);
    d->setStyle(style);
    return d;
}

class TableDrivenTest : public ToolkitTest {
protected:
    void SetUp() override {
        ToolkitTest::SetUp();
        table = std::make_shared<QNTableView>(Rect(0, 100, 390, 600), TableViewStyle::Grouped);
        table->setContentInsetAdjustmentBehavior(ContentInsetAdjustmentBehavior::Never);
        table->setQntableViewDelegate(&screen);
        screen.settings = std::make_shared<sys::PlistDictionary>();
    }
    void TearDown() override {
        table.reset();
        ToolkitTest::TearDown();
    }
    void show() {
        window->addSubview(table);
        driver->settle();
        table->layoutIfNeeded();
    }
    QNTableViewCellCustom* cell(int section, int r) {
        return dynamic_cast<QNTableViewCellCustom*>(table->cellForRowAtIndexPath({section, r}));
    }
    Point rowPoint(const IndexPath& ip) {
        Rect r = table->rectForRowAtIndexPath(ip);
        return table->convertPointToWindow({r.x() + r.width() / 2, r.y() + r.height() / 2});
    }
    Screen screen;
    std::shared_ptr<QNTableView> table;
};

}  // namespace

TEST_F(TableDrivenTest, AddingToAFarSectionMakesTheSectionsBeforeIt) {
    show();
    table->addData(row("Deep"), 3, TableViewRowAnimation::None);
    EXPECT_EQ(table->numberOfSections(), 4);
    for (int s = 0; s < 3; ++s) EXPECT_EQ(table->getRowsFromSection(s), 0);
    EXPECT_EQ(table->getRowsFromSection(3), 1);
    EXPECT_EQ(table->numberOfRowsInSection(3), 1);
    EXPECT_EQ(cell(3, 0)->textLabel()->text(), "Deep");
    EXPECT_EQ(table->getRowsFromSection(9), 0);
    EXPECT_EQ(table->getDataFromIndexPath({3, 1}), nullptr);
    EXPECT_EQ(table->getDataFromIndexPath({-1, 0}), nullptr);

    // Inserting at a row index past the end appends.
    table->insertDataAtIndexPath(row("Next"), {3, 7}, TableViewRowAnimation::None);
    EXPECT_EQ(table->getDataFromIndexPath({3, 1})->text(), "Next");
    table->insertDataAtIndexPath(row("First"), {3, 0}, TableViewRowAnimation::None);
    EXPECT_EQ(table->getDataFromIndexPath({3, 0})->text(), "First");
    table->removeDataAtIndexPath({3, 5}, TableViewRowAnimation::None);  // outside: nothing
    EXPECT_EQ(table->getRowsFromSection(3), 3);
    table->removeDataAtIndexPath({3, 1}, TableViewRowAnimation::None);
    EXPECT_EQ(table->getDataFromIndexPath({3, 1})->text(), "Next");
}

TEST_F(TableDrivenTest, TitlesPadWithUntitledSections) {
    table->setSectionHeaderTitle("General", 2);
    table->setSectionFooterTitle("Applies at once", 0);
    for (int s = 0; s < 3; ++s) table->addData(row("r"), s, TableViewRowAnimation::None);
    show();
    EXPECT_EQ(table->tableViewTitleForHeaderInSection(*table, 0), std::nullopt);
    EXPECT_EQ(table->tableViewTitleForHeaderInSection(*table, 1), std::nullopt);
    EXPECT_EQ(table->tableViewTitleForHeaderInSection(*table, 2), std::optional<std::string>("General"));
    EXPECT_EQ(table->tableViewTitleForHeaderInSection(*table, 5), std::nullopt);
    EXPECT_EQ(table->tableViewTitleForFooterInSection(*table, 0), std::optional<std::string>("Applies at once"));
    EXPECT_EQ(table->tableViewTitleForFooterInSection(*table, 1), std::nullopt);
    table->setSectionHeaderTitle(std::nullopt, 2);
    EXPECT_EQ(table->tableViewTitleForHeaderInSection(*table, 2), std::nullopt);
}

TEST_F(TableDrivenTest, SwitchRowWritesTheListEntryBeforeTellingTheScreen) {
    auto r = row("Auto Rotation", QNTableViewData::kStyleSwitch);
    r->assignDictionary(screen.settings, "mode", {sys::PlistValue("off"), sys::PlistValue("on")});
    r->setValue(false);
    table->addData(r, 0, TableViewRowAnimation::None);
    auto plain = row("Plain switch", QNTableViewData::kStyleSwitch);
    auto plainSettings = std::make_shared<sys::PlistDictionary>();
    plain->assignDictionary(plainSettings, "flag");
    plain->setValue(true);
    table->addData(plain, 0, TableViewRowAnimation::None);
    show();

    QNTableViewCellCustom* c = cell(0, 0);
    ASSERT_NE(c->sw(), nullptr);
    EXPECT_EQ(c->accessoryView(), c->sw());
    EXPECT_EQ(c->seg(), nullptr);
    EXPECT_EQ(c->textField(), nullptr);
    EXPECT_EQ(r->sw(), c->sw());
    EXPECT_FALSE(c->sw()->isOn());
    EXPECT_TRUE(cell(0, 1)->sw()->isOn());

    driver->tap(*c->sw());
    EXPECT_EQ(screen.settings->getString("mode"), "on");
    EXPECT_TRUE(r->value().boolValue());
    driver->advance(0.5);  // the knob has slid over
    driver->tap(*c->sw());
    EXPECT_EQ(screen.settings->getString("mode"), "off");
    EXPECT_EQ(screen.log, (std::vector<std::string>{"value 0 YES stored \"on\"", "value 0 NO stored \"off\""}));

    // Without a list the number itself is stored.
    driver->tap(*cell(0, 1)->sw());
    EXPECT_TRUE(plainSettings->get("flag").isBool());
    EXPECT_FALSE(plainSettings->getBool("flag", true));
}

TEST_F(TableDrivenTest, SegmentBeyondTheValueListStoresNothing) {
    auto r = row("Direction", QNTableViewData::kStyleSegment);
    r->setSelectionList({"Left", "Right", "Auto"});
    r->setValue(int64_t(1));
    r->assignDictionary(screen.settings, "mode", {sys::PlistValue("left"), sys::PlistValue("right")});
    table->addData(r, 0, TableViewRowAnimation::None);
    show();
    SegmentedControl* seg = cell(0, 0)->seg().get();
    ASSERT_NE(seg, nullptr);
    EXPECT_EQ(seg->numberOfSegments(), 3);
    EXPECT_EQ(seg->titleForSegment(2), "Auto");
    EXPECT_EQ(seg->selectedSegmentIndex(), 1);

    seg->setSelectedSegmentIndex(0);
    seg->sendActions(ControlEventValueChanged);
    EXPECT_EQ(screen.settings->getString("mode"), "left");
    // The third segment has no entry in the list: the stored value stays.
    seg->setSelectedSegmentIndex(2);
    seg->sendActions(ControlEventValueChanged);
    EXPECT_EQ(screen.settings->getString("mode"), "left");
    EXPECT_EQ(r->value().integerValue(), 2);
    EXPECT_EQ(screen.log.back(), "value 0 2 stored \"left\"");

    // Direct write-backs outside the list, negative ones too, are dropped as well.
    r->onValueChangedWithObject(sys::PlistValue(int64_t(-1)));
    r->onValueChangedWithObject(sys::PlistValue(int64_t(1) << 40));
    EXPECT_EQ(screen.settings->getString("mode"), "left");
    // Without a dictionary nothing is written anywhere.
    QNTableViewData loose;
    loose.onValueChangedWithObject(sys::PlistValue(true));
    EXPECT_EQ(loose.assignDictionary(), nullptr);
}

TEST_F(TableDrivenTest, TextFieldRowReportsEveryKeyAndReturnOnlyHidesTheKeyboard) {
    auto r = row("Name", QNTableViewData::kStyleTextField);
    r->setDetailText("Lib");
    r->assignDictionary(screen.settings, "name");
    table->addData(r, 0, TableViewRowAnimation::None);
    show();
    QNTableViewCellCustom* c = cell(0, 0);
    TextField* field = c->textField().get();
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->text(), "Lib");
    EXPECT_EQ(field->textAlignment(), TextAlignment::Right);
    EXPECT_TRUE(c->detailTextLabel()->isHidden());
    EXPECT_EQ(c->detailTextLabel()->text(), " ");
    c->layoutIfNeeded();
    Rect d = c->detailTextLabel()->frame();
    EXPECT_EQ(field->frame(), Rect(110, d.y(), c->contentView()->bounds().width() - 125, d.height()));
    // A longer name keeps the field from running into it.
    c->textLabel()->setText("A Name Much Longer Than Most");
    c->setNeedsLayout();
    c->layoutIfNeeded();
    EXPECT_GE(field->frame().x(), c->textLabel()->frame().x() + c->textLabel()->sizeThatFits({0, 0}).width);
    EXPECT_EQ(field->frame().maxX(), c->contentView()->bounds().width() - 15);
    EXPECT_EQ(field->font(), c->detailTextLabel()->font());
    EXPECT_EQ(field->textColor(), Color::label()) << "typed text is not drawn as a placeholder";
    EXPECT_EQ(field->returnKeyType(), ReturnKeyType::Done);
    EXPECT_EQ(field->clearButtonMode(), TextFieldViewMode::Never);

    driver->tap(*field);
    ASSERT_TRUE(field->isFirstResponder());
    driver->type("ry");
    EXPECT_EQ(screen.log, (std::vector<std::string>{"string Libr", "string Libry"}));
    EXPECT_EQ(screen.settings->getString("name"), "Libry");
    EXPECT_EQ(r->detailText(), "Libry");
    driver->pressReturn();
    EXPECT_FALSE(field->isFirstResponder());
    EXPECT_EQ(screen.log.size(), 2u);
}

TEST_F(TableDrivenTest, TwoLineRowsAreTallerWithTheTitleRaised) {
    auto tall = row("Keep the screen on while reading", QNTableViewData::kStyleSwitch);
    tall->setIsDisplayedInTwoLines(true);
    table->addData(row("Short"), 0, TableViewRowAnimation::None);
    table->addData(tall, 0, TableViewRowAnimation::None);
    show();
    EXPECT_EQ(table->rectForRowAtIndexPath({0, 1}).height(), 85.0);
    EXPECT_EQ(table->rectForRowAtIndexPath({0, 0}).height(), 44.0);

    // The same row kind laid out on one line, for comparison.
    auto flat = std::make_shared<QNTableViewCellCustom>(QNTableViewData::kStyleSwitch, "x");
    flat->textLabel()->setText(tall->text());
    flat->setFrame(Rect(0, 0, 390, 85));
    flat->layoutIfNeeded();
    QNTableViewCellCustom* c = cell(0, 1);
    c->layoutIfNeeded();
    EXPECT_EQ(c->sw()->frame().y(), flat->sw()->frame().y() + 13);
    EXPECT_EQ(c->textLabel()->frame().y(), flat->textLabel()->frame().y() - 20);
    EXPECT_EQ(c->textLabel()->frame().width(), flat->textLabel()->frame().width() + c->sw()->frame().width());
}

TEST_F(TableDrivenTest, EmptyingASectionKeepsItAndItsTitle) {
    table->setSectionHeaderTitle("Servers", 0);
    for (const char* t : {"a", "b", "c"}) table->addData(row(t), 0, TableViewRowAnimation::None);
    table->addData(row("other"), 1, TableViewRowAnimation::None);
    show();
    table->removeDataAtSection(0, TableViewRowAnimation::Fade);
    driver->advance(0.4);
    EXPECT_EQ(table->numberOfSections(), 2);
    EXPECT_EQ(table->getRowsFromSection(0), 0);
    EXPECT_EQ(table->numberOfRowsInSection(0), 0);
    EXPECT_EQ(table->tableViewTitleForHeaderInSection(*table, 0), std::optional<std::string>("Servers"));
    EXPECT_EQ(cell(1, 0)->textLabel()->text(), "other");
    table->removeDataAtSection(4, TableViewRowAnimation::Fade);  // no such section: nothing
}

TEST_F(TableDrivenTest, TapsAndSwipesReachTheScreenWithTheRow) {
    auto a = row("Alpha");
    a->setCanDelete(true);
    auto b = row("Beta");
    table->addData(a, 0, TableViewRowAnimation::None);
    table->addData(b, 0, TableViewRowAnimation::None);
    show();
    driver->tap(rowPoint({0, 1}));
    EXPECT_EQ(screen.log, (std::vector<std::string>{"select 0,1 Beta"}));
    table->tableViewDidSelectRowAtIndexPath(*table, {0, 9});
    EXPECT_EQ(screen.log.back(), "select 0,9 (none)");
    screen.log.clear();

    // A row that cannot be deleted offers nothing on a swipe.
    Point pb = rowPoint({0, 1});
    driver->drag(pb, {pb.x - 150, pb.y}, 0.2);
    driver->advance(0.3);
    EXPECT_FALSE(cell(0, 1)->isShowingDeleteConfirmation());
    driver->tap(rowPoint({0, 1}));  // takes nothing back, selects again
    screen.log.clear();

    Point pa = rowPoint({0, 0});
    driver->drag(pa, {pa.x - 150, pa.y}, 0.2);
    driver->advance(0.3);
    ASSERT_TRUE(cell(0, 0)->isShowingDeleteConfirmation());
    driver->tap(*cell(0, 0)->deleteConfirmationButton());
    driver->advance(0.4);
    EXPECT_EQ(screen.log, (std::vector<std::string>{"deleted 0 left 1"}));
    EXPECT_EQ(table->getDataFromIndexPath({0, 0})->text(), "Beta");
    EXPECT_EQ(table->numberOfRowsInSection(0), 1);
}

TEST_F(TableDrivenTest, UpdatingARowRebuildsItsCellFromTheModel) {
    auto r = row("Before", QNTableViewData::kStyleValue1);
    r->setDetailText("1");
    r->setTextFontSize(20);
    r->setAccessoryType(1);
    table->addData(r, 0, TableViewRowAnimation::None);
    show();
    QNTableViewCellCustom* c = cell(0, 0);
    EXPECT_EQ(c->style(), TableViewCellStyle::Value1);
    EXPECT_EQ(c->textLabel()->font().size, 20);
    EXPECT_EQ(c->accessoryType(), TableViewCellAccessoryType::DisclosureIndicator);
    EXPECT_EQ(c->detailTextLabel()->text(), "1");
    r->setText("After");
    r->setDetailText("2");
    r->setTextFontSize(0);
    r->setAccessoryType(99);  // not a platform number: the nearest one
    table->updateCellWithIndexPath({0, 0}, TableViewRowAnimation::None);
    driver->advance(0.4);
    c = cell(0, 0);
    EXPECT_EQ(c->textLabel()->text(), "After");
    EXPECT_EQ(c->detailTextLabel()->text(), "2");
    EXPECT_EQ(c->textLabel()->font(), c->defaultTextFont());
    EXPECT_EQ(c->accessoryType(), TableViewCellAccessoryType::DetailButton);
    EXPECT_EQ(table->getRowsFromSection(0), 1);

    auto other = row("Replaced");
    table->replaceDataAtIndexPath(other, {0, 0}, TableViewRowAnimation::None);
    driver->advance(0.4);
    EXPECT_EQ(cell(0, 0)->textLabel()->text(), "Replaced");
    EXPECT_EQ(cell(0, 0)->reuseIdentifier(), "Cell0");
}

TEST_F(TableDrivenTest, CellsAreReusedPerRowKind) {
    for (int i = 0; i < 40; ++i) {
        auto r = row("Row " + std::to_string(i), i % 2 ? QNTableViewData::kStyleSwitch : QNTableViewData::kStyleSubtitle);
        r->setValue(i % 4 == 1);
        table->addData(r, 0, TableViewRowAnimation::None);
    }
    auto odd = row("Odd kind");
    odd->setStyle(42);
    table->addData(odd, 0, TableViewRowAnimation::None);
    show();
    table->setContentOffset({0, table->contentSize().height - table->bounds().height()});
    driver->settle();
    table->layoutIfNeeded();
    for (TableViewCell* c : table->visibleCells()) {
        auto* q = dynamic_cast<QNTableViewCellCustom*>(c);
        ASSERT_NE(q, nullptr);
        EXPECT_EQ(q->reuseIdentifier(), "Cell" + std::to_string(q->rowKind()));
        if (q->rowKind() == QNTableViewData::kStyleSwitch) {
            auto* d = table->getDataFromIndexPath(q->indexPath());
            ASSERT_NE(d, nullptr);
            EXPECT_EQ(q->sw()->isOn(), d->value().boolValue()) << d->text();
            EXPECT_EQ(d->sw(), q->sw());
        }
    }
    QNTableViewCellCustom* last = cell(0, 40);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->style(), TableViewCellStyle::Default);
    EXPECT_EQ(last->reuseIdentifier(), "Cell42");
}
