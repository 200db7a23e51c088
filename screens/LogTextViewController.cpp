#include "screens/LogTextViewController.h"

LogTextViewController::LogTextViewController(std::string title, const std::string& text)
    : ui::TableViewController(ui::TableViewStyle::Plain), title_(std::move(title)) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        // The leading blank lines of a report carry nothing.
        if (end > start || !lines_.empty()) lines_.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

void LogTextViewController::viewDidLoad() {
    ui::TableViewController::viewDidLoad();
    setTitle(title_);
    // Long lines wrap: a row is as high as its cell's text needs, measured
    // as the row comes into sight.
    tableView()->setRowHeight(ui::TableView::kAutomaticDimension);
}

std::shared_ptr<ui::TableViewCell> LogTextViewController::tableViewCellForRowAtIndexPath(ui::TableView& tv,
                                                                                       const ui::IndexPath& ip) {
    auto cell = tv.dequeueReusableCell("Line");
    if (!cell) cell = std::make_shared<ui::TableViewCell>(ui::TableViewCellStyle::Default, "Line");
    cell->setSelectionStyle(ui::TableViewCellSelectionStyle::None);
    cell->textLabel()->setNumberOfLines(0);
    cell->textLabel()->setText(ip.row >= 0 && size_t(ip.row) < lines_.size() ? lines_[size_t(ip.row)] : "");
    return cell;
}
