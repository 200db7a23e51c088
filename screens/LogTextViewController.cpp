#include "screens/LogTextViewController.h"

#include "platform/ui/Label.h"

#include <algorithm>

namespace {
constexpr double kSideMargin = 16, kRowPadding = 12, kMinRowHeight = 44;
}  // namespace

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
}

double LogTextViewController::tableViewHeightForRowAtIndexPath(ui::TableView& tv, const ui::IndexPath& ip) {
    if (ip.row < 0 || size_t(ip.row) >= lines_.size()) return kMinRowHeight;
    ui::Label probe;
    probe.setNumberOfLines(0);
    probe.setText(lines_[size_t(ip.row)]);
    const double width = std::max(1.0, tv.bounds().width() - 2 * kSideMargin);
    return std::max(kMinRowHeight, probe.sizeThatFits({width, 1e6}).height + 2 * kRowPadding);
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
