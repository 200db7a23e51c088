#include "viewer/BookMarkViewController.h"

#include "engine/BookReaderEx.h"
#include "foundation/BookCommon.h"
#include "foundation/ui/QNAlertView.h"
#include "platform/core/FileManager.h"
#include "platform/graphics/ImageDecoder.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Image.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationItem.h"
#include "platform/ui/TableViewCell.h"
#include "platform/ui/TransitionCoordinator.h"
#include "viewer/BookMarkIndex.h"

#include <utility>

namespace {
std::string tr(const std::string& key) { return BookCommon::localizedStringWithOnOff(key); }
}  // namespace

std::string BookMarkViewController::indexFile() const { return BookCommon::getBookMarkIndexFile(fileName, false); }

void BookMarkViewController::viewDidLoad() {
    ui::TableViewController::viewDidLoad();
    if (showsTitleBar_) {
        setTitle(tr("Bookmarks"));
        std::weak_ptr<ui::ViewController> weak = weak_from_this();
        navigationItem()->setRightBarButtonItem(
            ui::BarButtonItem::withSystemItem(ui::BarButtonSystemItem::Done, [weak](ui::BarButtonItem&) {
                if (auto self = std::static_pointer_cast<BookMarkViewController>(weak.lock()))
                    self->closeWithoutChoosing();
            }));
    }
    loadBookmarks();
}

void BookMarkViewController::viewWillTransitionToSize(ui::Size size,
                                                      const std::shared_ptr<ui::TransitionCoordinator>& coordinator) {
    ui::TableViewController::viewWillTransitionToSize(size, coordinator);
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    auto alongside = [weak, size](const ui::TransitionCoordinatorContext&) {
        BookCommon::viewWillTransitionToSize(size);
        auto self = weak.lock();
        if (!self || !self->isViewLoaded()) return;
        self->view()->setNeedsLayout();
        self->view()->layoutIfNeeded();
    };
    if (coordinator)
        coordinator->animateAlongsideTransition(alongside);
    else
        alongside(ui::TransitionCoordinatorContext{});
}

void BookMarkViewController::loadBookmarks() {
    bookMarkIndexArray_ = BookMarkIndex::readRaw(indexFile());
    pageNoListArray_.clear();
    pageIDListArray_.clear();
    pageFilenameListArray_.clear();
    for (const auto& raw : bookMarkIndexArray_) {
        const auto item = BookMarkIndex::parseItem(raw);
        if (!item || !bookReader_) continue;
        const int page = bookReader_->getPageNoFromFilename(item->pageName);
        // A page the book no longer has stays in the file but is not listed.
        if (page < 0) continue;
        pageNoListArray_.push_back(page);
        pageIDListArray_.push_back(item->id);
        pageFilenameListArray_.push_back(BookMarkIndex::displayName(item->pageName));
    }
    // Exchange passes: stable, so two bookmarks of one page keep file order.
    for (bool swapped = true; swapped;) {
        swapped = false;
        for (size_t i = 1; i < pageNoListArray_.size(); ++i) {
            if (pageNoListArray_[i - 1] > pageNoListArray_[i]) {
                std::swap(pageNoListArray_[i - 1], pageNoListArray_[i]);
                std::swap(pageIDListArray_[i - 1], pageIDListArray_[i]);
                std::swap(pageFilenameListArray_[i - 1], pageFilenameListArray_[i]);
                swapped = true;
            }
        }
    }
}

int BookMarkViewController::tableViewNumberOfRowsInSection(ui::TableView&, int section) {
    if (section == 0 && showsTitleBar_) return 0;  // the bar holds "Done"
    return section == 2 ? int(pageNoListArray_.size()) : 1;
}

std::optional<std::string> BookMarkViewController::tableViewTitleForHeaderInSection(ui::TableView&, int section) {
    if (section == 0 && !showsTitleBar_) return tr("Bookmarks");
    return std::nullopt;
}

// Under a title bar the first section is empty and takes no room.
double BookMarkViewController::tableViewHeightForHeaderInSection(ui::TableView& tv, int section) {
    if (section == 0 && showsTitleBar_) return 0;
    return ui::TableViewController::tableViewHeightForHeaderInSection(tv, section);
}

double BookMarkViewController::tableViewHeightForFooterInSection(ui::TableView& tv, int section) {
    if (section == 0 && showsTitleBar_) return 0;
    return ui::TableViewController::tableViewHeightForFooterInSection(tv, section);
}

double BookMarkViewController::tableViewHeightForRowAtIndexPath(ui::TableView&, const ui::IndexPath& ip) {
    return ip.section == 2 ? 83 : 40;
}

std::shared_ptr<ui::TableViewCell> BookMarkViewController::tableViewCellForRowAtIndexPath(ui::TableView& tv,
                                                                                          const ui::IndexPath& ip) {
    const std::string reuse = "section" + std::to_string(ip.section + 1);
    auto cell = tv.dequeueReusableCell(reuse);
    if (!cell)
        cell = std::make_shared<ui::TableViewCell>(
            ip.section == 2 ? ui::TableViewCellStyle::Subtitle : ui::TableViewCellStyle::Default, reuse);
    cell->textLabel()->setFont(gfx::Font::system(16));
    if (ip.section == 0) {
        // The list fills the window: its way out shows as a button.
        cell->textLabel()->setText(tr("Done"));
        cell->textLabel()->setTextColor(ui::Color::systemBlue());
        cell->textLabel()->setTextAlignment(ui::TextAlignment::Center);
    } else if (ip.section == 1) {
        cell->textLabel()->setText(tr("Delete All Bookmarks"));
    } else if (ip.row < int(pageNoListArray_.size())) {
        std::string text = tr("[Page %d]");
        if (const auto at = text.find("%d"); at != std::string::npos)
            text.replace(at, 2, std::to_string(pageNoListArray_[ip.row] + 1));
        cell->textLabel()->setText(text);
        if (cell->detailTextLabel()) cell->detailTextLabel()->setText(pageFilenameListArray_[ip.row]);
        ui::ImageRef thumb;
        const std::string path = BookCommon::getBookSettingDir(fileName, false) + "/" +
                                 BookMarkIndex::thumbnailName(pageIDListArray_[ip.row]);
        if (auto bytes = sys::FileManager::contentsOfFile(path)) {
            auto bitmap = gfx::ImageDecoder::decode(
                std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size()));
            if (bitmap) thumb = ui::Image::withBitmap(bitmap);
        }
        if (cell->imageView()) {
            cell->imageView()->setImage(thumb);
            cell->imageView()->setContentMode(ui::ContentMode::ScaleAspectFit);
        }
    }
    return cell;
}

void BookMarkViewController::tableViewDidSelectRowAtIndexPath(ui::TableView& tv, const ui::IndexPath& ip) {
    if (ip.section == 0) {
        tv.deselectRowAtIndexPath(ip, true);
        closeWithoutChoosing();
        return;
    }
    if (ip.section == 1) {
        tv.deselectRowAtIndexPath(ip, true);
        auto alert = std::make_shared<QNAlertView>(
            "", tr("Are you sure you want to delete all bookmarks?"),
            std::static_pointer_cast<BookMarkViewController>(shared_from_this()), tr("Cancel"),
            std::vector<std::string>{tr("Delete")});
        alert->show(this);
        return;
    }
    if (ip.row >= int(pageNoListArray_.size())) return;
    const int32_t page = pageNoListArray_[ip.row];
    // The delegate may drop this screen: keep it until the dismissal is asked.
    auto keep = shared_from_this();
    if (delegate_) delegate_->selectBookmark(page);
    BookCommon::lbCommonDismissModalViewController(*this, true);
}

void BookMarkViewController::alertViewClickedButtonAtIndex(QNAlertView&, int64_t buttonIndex) {
    if (buttonIndex == 1) deleteAll();
}

void BookMarkViewController::deleteAll() {
    const std::string dir = BookCommon::getBookSettingDir(fileName, false);
    for (const auto& raw : bookMarkIndexArray_)
        if (auto item = BookMarkIndex::parseItem(raw))
            sys::FileManager::removeItem(dir + "/" + BookMarkIndex::thumbnailName(item->id));
    sys::FileManager::removeItem(indexFile());
    bookMarkIndexArray_.clear();
    pageNoListArray_.clear();
    pageIDListArray_.clear();
    pageFilenameListArray_.clear();
    if (auto* tv = tableView()) tv->reloadData();
}

ui::TableViewCellEditingStyle BookMarkViewController::tableViewEditingStyleForRowAtIndexPath(
    ui::TableView&, const ui::IndexPath& ip) {
    return ip.section == 2 ? ui::TableViewCellEditingStyle::Delete : ui::TableViewCellEditingStyle::None;
}

void BookMarkViewController::tableViewCommitEditingStyle(ui::TableView& tv, ui::TableViewCellEditingStyle style,
                                                         const ui::IndexPath& ip) {
    if (style != ui::TableViewCellEditingStyle::Delete || ip.section != 2) return;
    if (ip.row < 0 || ip.row >= int(pageIDListArray_.size())) return;
    const uint32_t id = pageIDListArray_[ip.row];
    if (!BookMarkIndex::isExistBookMarkID(bookMarkIndexArray_, id)) return;
    BookMarkIndex::remove(indexFile(), id);
    bookMarkIndexArray_ = BookMarkIndex::readRaw(indexFile());
    sys::FileManager::removeItem(BookCommon::getBookSettingDir(fileName, false) + "/" + BookMarkIndex::thumbnailName(id));
    pageNoListArray_.erase(pageNoListArray_.begin() + ip.row);
    pageIDListArray_.erase(pageIDListArray_.begin() + ip.row);
    pageFilenameListArray_.erase(pageFilenameListArray_.begin() + ip.row);
    tv.deleteRowsAtIndexPaths({ip}, ui::TableViewRowAnimation::Fade);
}

void BookMarkViewController::closeWithoutChoosing() {
    if (isBeingDismissed()) return;
    if (delegate_) delegate_->cancelBookmarkOpen();
    BookCommon::lbCommonDismissModalViewController(*this, true);
}

std::vector<ui::KeyCommand> BookMarkViewController::keyCommands() const {
    auto* self = const_cast<BookMarkViewController*>(this);
    return {ui::KeyCommand::make(ui::KeyInput::escape, 0, [self](const ui::KeyCommand&) { self->closeWithoutChoosing(); })};
}

void BookMarkViewController::onBtnDone() { BookCommon::lbCommonDismissModalViewController(*this, true); }
