#include "screens/HistoryViewController.h"

#include "foundation/BookCommon.h"
#include "foundation/HistoryCollector.h"
#include "foundation/LastStatusRestore.h"
#include "foundation/ui/QNAlertView.h"
#include "library/LocalFilelistViewController.h"
#include "platform/core/FileManager.h"
#include "platform/core/Path.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/NavigationItem.h"

HistoryViewController::HistoryViewController(ui::TableViewStyle style) : ui::TableViewController(style) {}

void HistoryViewController::viewDidLoad() {
    setTitle(BookCommon::localizedStringWithOnOff("History"));
    entries_ = HistoryCollector::getHistory().value_or(std::vector<BookHistory>{});
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    navigationItem()->setRightBarButtonItem(
        ui::BarButtonItem::withSystemItem(ui::BarButtonSystemItem::Done, [weak](ui::BarButtonItem&) {
            if (auto self = weak.lock()) BookCommon::lbCommonDismissModalViewController(*self, true);
        }));
}

int HistoryViewController::tableViewNumberOfRowsInSection(ui::TableView&, int) {
    return static_cast<int>(entries_.size());
}

std::optional<std::string> HistoryViewController::tableViewTitleForFooterInSection(ui::TableView&, int) {
    if (entries_.empty()) return BookCommon::localizedStringWithOnOff("No books have been read yet.");
    return std::nullopt;
}

std::shared_ptr<ui::TableViewCell> HistoryViewController::tableViewCellForRowAtIndexPath(ui::TableView& tv,
                                                                                       const ui::IndexPath& ip) {
    auto cell = tv.dequeueReusableCell("history");
    if (!cell) cell = std::make_shared<ui::TableViewCell>(ui::TableViewCellStyle::Subtitle, "history");
    const BookHistory& h = entries_[size_t(ip.row)];
    std::string title = h.bookTitle().value_or("");
    if (title.empty()) title = sys::Path::lastPathComponent(h.isRemote() ? h.bookUrl().value_or("") : h.pathFromBooks().value_or(""));
    cell->textLabel()->setText(title);
    std::string where;
    if (h.isRemote()) {
        where = h.remoteFolderTitle().value_or(h.folderUrl().value_or(""));
    } else {
        // Every folder on the way by the name the library shows it under, a
        // locked one's inner name left out wherever it stands.
        std::string folder = sys::Path::stringByDeletingLastPathComponent(h.pathFromBooks().value_or(""));
        for (std::string rest = folder; !rest.empty(); rest = sys::Path::stringByDeletingLastPathComponent(rest)) {
            const std::string name = sys::Path::lastPathComponent(rest);
            where = where.empty() ? BookCommon::getLockedFolderOriginalName(name)
                                  : sys::Path::stringByAppendingPathComponent(BookCommon::getLockedFolderOriginalName(name), where);
        }
        if (where.empty()) where = BookCommon::localizedStringWithOnOff("HOME");
    }
    if (h.date()) where += "  " + BookCommon::getLocalDateStringToday(*h.date());
    if (cell->detailTextLabel()) cell->detailTextLabel()->setText(where);
    cell->setAccessoryType(ui::TableViewCellAccessoryType::DisclosureIndicator);
    return cell;
}

void HistoryViewController::tableViewDidSelectRowAtIndexPath(ui::TableView& tv, const ui::IndexPath& ip) {
    tv.deselectRowAtIndexPath(ip, true);
    selectEntry(size_t(ip.row));
}

void HistoryViewController::selectEntry(size_t index) {
    if (index >= entries_.size()) return;
    const BookHistory& h = entries_[index];
    if (h.isRemote()) {
        LastStatusRestore::setJumpBook(h.bookUrl(), h.folderUrl(), h.remoteFolderTitle());
    } else {
        const std::string path = h.pathFromBooks().value_or("");
        // A book moved or deleted outside the program: there is nothing to
        // walk to, and the screen stays for another choice.
        const auto full = BookCommon::fromBooksToFromRoot(path);
        if (path.empty() || !full || !sys::FileManager::fileExists(*full)) {
            std::string title = h.bookTitle().value_or("");
            if (title.empty()) title = sys::Path::lastPathComponent(path);
            QNAlertView::showMessage(title, BookCommon::localizedStringWithOnOff("This book is no longer in the library."),
                                     this);
            return;
        }
        // The folder first (recorded only outside jump mode), then the book in it.
        LastStatusRestore::setJumpMode(false);
        LastStatusRestore::setLocalTargetPath(sys::Path::stringByDeletingLastPathComponent(path));
        LastStatusRestore::setJumpBook(sys::Path::lastPathComponent(path), std::nullopt, std::nullopt);
    }
    LastStatusRestore::setJumpMode(true);
    // The folder screens on the way have to follow the chain too.
    LastStatusRestore::setForceEnableGotoLastFoler(true);
    auto called = called_;
    dismiss(true, [called] {
        if (auto list = called.lock()) list->jumpStart();
    });
}
