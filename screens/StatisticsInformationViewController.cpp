#include "screens/StatisticsInformationViewController.h"

#include "platform/ui/NavigationController.h"

#include "foundation/BookCommon.h"
#include "foundation/StatisticsStore.h"

StatisticsInformationViewController::StatisticsInformationViewController(ui::TableViewStyle style)
    : ui::TableViewController(style) {}

void StatisticsInformationViewController::viewDidLoad() {
    ui::TableViewController::viewDidLoad();
    setTitle(BookCommon::localizedStringWithOnOff("Statistics Information"));
    reloadStatistics();
}

void StatisticsInformationViewController::viewWillAppear(bool animated) {
    reloadStatistics();
    ui::TableViewController::viewWillAppear(animated);
    // Pushed over the library, whose tool bar would stay below it, empty.
    if (auto* nav = navigationController()) nav->setToolbarHidden(true, animated);
}

void StatisticsInformationViewController::reloadStatistics() {
    rows_.clear();
    auto stats = StatisticsStore::sharedStatisticsStore();
    std::string since;
    int64_t books = 0, pages = 0;
    if (stats) {
        if (stats->staticticsStartDate()) since = BookCommon::getLocalDateStringToday(*stats->staticticsStartDate());
        books = stats->totalReadBooks();
        pages = stats->totalReadPages();
    }
    // A damaged store could hold a negative count; show nothing below zero.
    auto count = [](int64_t n) { return BookCommon::strValueFormatFromValue(uint64_t(n < 0 ? 0 : n)); };
    rows_.emplace_back(BookCommon::localizedStringWithOnOff("Counting Since"), since);
    rows_.emplace_back(BookCommon::localizedStringWithOnOff("Books Read"), count(books));
    rows_.emplace_back(BookCommon::localizedStringWithOnOff("Pages Read"), count(pages));
    if (isViewLoaded()) tableView()->reloadData();
}

int StatisticsInformationViewController::tableViewNumberOfRowsInSection(ui::TableView&, int) {
    return static_cast<int>(rows_.size());
}

std::shared_ptr<ui::TableViewCell> StatisticsInformationViewController::tableViewCellForRowAtIndexPath(
    ui::TableView& tv, const ui::IndexPath& ip) {
    auto cell = tv.dequeueReusableCell("statistics");
    if (!cell) cell = std::make_shared<ui::TableViewCell>(ui::TableViewCellStyle::Value1, "statistics");
    const auto& row = rows_[size_t(ip.row)];
    cell->textLabel()->setText(row.first);
    if (cell->detailTextLabel()) cell->detailTextLabel()->setText(row.second);
    cell->setSelectionStyle(ui::TableViewCellSelectionStyle::None);
    return cell;
}
