#include "library/FileConfigViewController.h"

#include "foundation/BookCommon.h"
#include "foundation/Settings.h"
#include "foundation/ui/QNAlertView.h"
#include "foundation/ui/TextInputViewController.h"
#include "library/LibraryServices.h"
#include "library/LocalFilelistViewController.h"
#include "platform/core/DateFormatter.h"
#include "platform/core/FileManager.h"
#include "platform/core/Path.h"
#include "platform/core/PropertyList.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/ShareService.h"
#include "platform/ui/TransitionCoordinator.h"

#include <algorithm>
#include <fts.h>
#include <sys/stat.h>

namespace {

using sys::Path;

std::string tr(const char* key) { return BookCommon::localizedStringWithOnOff(key); }

constexpr int kTagShareCell = 9999;

}  // namespace

FileConfigViewController::FileConfigViewController(ui::TableViewStyle style) : ui::TableViewController(style) {}

uint64_t FileConfigViewController::folderContentsByteSize(const std::string& path) {
    std::string copy = path;
    char* roots[] = {copy.data(), nullptr};
    // Physical walk: links are reported as links and never followed.
    FTS* fts = ::fts_open(roots, FTS_PHYSICAL | FTS_NOCHDIR, nullptr);
    if (!fts) return 0;
    uint64_t total = 0;
    while (FTSENT* e = ::fts_read(fts)) {
        if (e->fts_level > 0 && e->fts_info == FTS_F) total += uint64_t(e->fts_statp->st_size);
    }
    ::fts_close(fts);
    return total;
}

int FileConfigViewController::statusSegment(long pageNo, long numPages, bool is2PageLoaded) {
    if (pageNo == 0) return 0;
    if (pageNo + 1 == numPages) return 2;
    if (is2PageLoaded && pageNo + 2 == numPages) return 2;
    return 1;
}

void FileConfigViewController::viewDidLoad() {
    ui::TableViewController::viewDidLoad();
    setTitle(tr("File Information"));
    if (settings_value_) settings_value_->setTargetBook(fileFullpath_value_);
}

void FileConfigViewController::readState() {
    const bool cloud = settings_value_ && settings_value_->iCloudEnable();
    pageNo_ = 0;
    numPage_ = 0;
    isSecound_ = false;
    is2PageLoaded_ = false;
    folderTarget_.clear();
    BookCommon::getFilePageInfoWithFilename(fileFullpath_value_, &pageNo_, &isSecound_, nullptr, nullptr, nullptr,
                                            &numPage_, &folderTarget_, &is2PageLoaded_, cloud, nullptr, false);
    cacheSize_ = folderContentsByteSize(BookCommon::getBookCacheDir(fileFullpath_value_, true));
}

void FileConfigViewController::viewWillAppear(bool animated) {
    ui::TableViewController::viewWillAppear(animated);
    readState();
    tableView()->reloadData();
    if (auto* nav = navigationController()) nav->setToolbarHidden(true, animated);
}

void FileConfigViewController::viewWillTransitionToSize(ui::Size size,
                                                        const std::shared_ptr<ui::TransitionCoordinator>& c) {
    ui::TableViewController::viewWillTransitionToSize(size, c);
    auto alongside = [size](const ui::TransitionCoordinatorContext&) { BookCommon::viewWillTransitionToSize(size); };
    if (c)
        c->animateAlongsideTransition(alongside);
    else
        alongside(ui::TransitionCoordinatorContext{});
}

int FileConfigViewController::tableViewNumberOfRowsInSection(ui::TableView&, int section) {
    switch (section) {
    case 0: return 4;
    case 1: return 3;
    case 2: return 1;
    default: return 0;
    }
}

std::shared_ptr<ui::TableViewCell> FileConfigViewController::tableViewCellForRowAtIndexPath(ui::TableView&,
                                                                                           const ui::IndexPath& ip) {
    const bool detail = (ip.section == 0 && (ip.row == 1 || ip.row == 2)) || ip.section == 2;
    auto cell = std::make_shared<ui::TableViewCell>(
        detail ? ui::TableViewCellStyle::Subtitle : ui::TableViewCellStyle::Default, detail ? "Cell2" : "Cell");
    ui::Label* title = cell->textLabel();
    title->setFont(gfx::Font::system(14));
    title->setLineBreakMode(ui::LineBreakMode::TruncateMiddle);
    if (ui::Label* sub = cell->detailTextLabel()) sub->setFont(gfx::Font::system(14));
    cell->setSelectionStyle(ui::TableViewCellSelectionStyle::None);
    if (ip.section == 0) {
        switch (ip.row) {
        case 0:
            title->setText(Path::lastPathComponent(fileFullpath_value_));
            cell->setAccessoryType(ui::TableViewCellAccessoryType::DisclosureIndicator);
            cell->setSelectionStyle(ui::TableViewCellSelectionStyle::Blue);
            break;
        case 1: {
            title->setText(tr("File Size"));
            const auto size = sys::FileManager::fileSize(fileFullpath_value_).value_or(0);
            cell->detailTextLabel()->setText(BookCommon::strSizeFormatFromValue(int64_t(size)));
            break;
        }
        case 2: {
            title->setText(tr("Modification Date"));
            if (auto date = sys::FileManager::modificationDate(fileFullpath_value_)) {
                sys::DateFormatter f;
                f.setDateStyle(sys::DateFormatter::Style::Medium);
                f.setTimeStyle(sys::DateFormatter::Style::Medium);
                cell->detailTextLabel()->setText(f.stringFromDate(*date));
            }
            break;
        }
        default: {
            title->setText(tr("Status"));
            auto seg = std::make_shared<ui::SegmentedControl>(
                std::vector<std::string>{tr("Unread"), tr("Reading"), tr("Read")});
            const int shown = shownStatus();
            seg->setSelectedSegmentIndex(shown);
            seg->setEnabled(shown == 1, 1);
            // Wide enough for its words in the language shown.
            seg->setFrame({0, 0, std::max(200.0, seg->sizeThatFits({0, 0}).width), 30});
            std::weak_ptr<ui::ViewController> weak = weak_from_this();
            seg->addAction(ui::ControlEventValueChanged, [weak](ui::Control& c) {
                if (auto self = std::static_pointer_cast<FileConfigViewController>(weak.lock()))
                    self->readingStatusChange(static_cast<ui::SegmentedControl&>(c).selectedSegmentIndex());
            });
            cell->setAccessoryView(seg);
            break;
        }
        }
    } else if (ip.section == 1) {
        cell->setSelectionStyle(ui::TableViewCellSelectionStyle::Blue);
        if (ip.row == 0) {
            title->setText(tr("Book Settings"));
            cell->setAccessoryType(ui::TableViewCellAccessoryType::DisclosureIndicator);
        } else {
            title->setText(tr(ip.row == 1 ? "Open in..." : "Other..."));
            cell->setTag(kTagShareCell);
        }
    } else if (ip.section == 2) {
        cell->setSelectionStyle(ui::TableViewCellSelectionStyle::Blue);
        title->setText(tr("Clear Cache"));
        cell->detailTextLabel()->setText(BookCommon::strSizeFormatFromValue(int64_t(cacheSize_)));
    }
    return cell;
}

void FileConfigViewController::tableViewDidSelectRowAtIndexPath(ui::TableView& tv, const ui::IndexPath& ip) {
    auto keep = shared_from_this();
    tv.deselectRowAtIndexPath(ip, true);
    auto* nav = navigationController();
    if (ip.section == 0 && ip.row == 0) {
        auto input = std::make_shared<TextInputViewController>();
        input->setDelegate(std::static_pointer_cast<FileConfigViewController>(shared_from_this()));
        input->setKeybordType_(0);
        input->setTextLabel_(tr("File Name"));
        input->setTextToEdit_(Path::stringByDeletingPathExtension(Path::lastPathComponent(fileFullpath_value_)));
        if (nav) nav->pushViewController(input, true);
    } else if (ip.section == 1 && ip.row == 0) {
        auto services = LibraryServices::installed();
        auto screen = services ? services->makeSettingViewController(settings_value_, 1) : nullptr;
        if (screen && nav) nav->pushViewController(screen, true);
    } else if (ip.section == 1) {
        ui::ShareService::Anchor anchor;
        anchor.view = view()->shared_from_this();
        if (ui::View* cell = view()->viewWithTag(kTagShareCell))
            anchor.rect = cell->convertRectTo(cell->bounds(), view());
        else
            anchor.rect = {view()->bounds().width() / 2 - 5, 50, 10, 10};
        if (auto share = ui::ShareService::shared()) {
            if (ip.row == 1)
                share->openIn(fileFullpath_value_, anchor);
            else
                share->share({fileFullpath_value_}, anchor, [](bool) {});
        }
    } else if (ip.section == 2) {
        clearCache();
    }
}

void FileConfigViewController::clearCache() {
    sys::FileManager::removeItem(BookCommon::getBookCacheDir(fileFullpath_value_, false));
    cacheSize_ = folderContentsByteSize(BookCommon::getBookCacheDir(fileFullpath_value_, false));
    if (isViewLoaded()) tableView()->reloadData();
}

void FileConfigViewController::readingStatusChange(int segment) {
    const bool cloud = settings_value_ && settings_value_->iCloudEnable();
    long page = 0;
    bool second = false;
    if (segment == 1) {
        page = pageNo_;
        second = isSecound_;
    } else if (segment == 2) {
        page = numPage_ > 0 ? numPage_ - 1 : 0;
    }
    BookCommon::updateFilePageInfoNowPageWithFilename(fileFullpath_value_, page, second, folderTarget_, cloud);
}

bool FileConfigViewController::changeFileNameDo(const std::string& name, const std::string&) {
    if (!LocalFilelistViewController::isAcceptableEntryName(name, false)) return false;
    const std::string ext = Path::pathExtension(fileFullpath_value_);
    const std::string newName = ext.empty() ? name : name + "." + ext;
    if (newName.size() > LocalFilelistViewController::kMaxNameBytes) return false;
    const std::string folder = Path::stringByDeletingLastPathComponent(fileFullpath_value_);
    const std::string oldPath = fileFullpath_value_;
    const std::string newPath = Path::stringByAppendingPathComponent(folder, newName);
    if (newPath == oldPath) return true;
    // The move refuses to replace an existing book; the book's setting
    // file, setting folder and page cache go with it, and nothing stays
    // under the old name.
    if (!BookCommon::moveBook(oldPath, newPath)) return false;
    fileFullpath_value_ = newPath;
    // The lists under this screen still show the old name: they read the
    // folder again when they are back in front.
    if (auto* nav = navigationController()) LocalFilelistViewController::setNeedUpdateFlag(nav);
    if (settings_value_) settings_value_->setTargetBook(newPath);
    if (isTheLastFileInDirectory_value_)
        sys::PropertyList::writeFile(sys::PlistValue(sys::PlistArray{sys::PlistValue(newName)}),
                                     Path::stringByAppendingPathComponent(folder, ".history.lbs"));
    if (isViewLoaded()) tableView()->reloadData();
    return true;
}

bool FileConfigViewController::onFinishTextInput(TextInputViewController&, const std::string& editTo,
                                                 const std::string& original) {
    if (editTo.empty()) return true;
    auto keep = shared_from_this();
    if (!changeFileNameDo(editTo, original)) {
        auto alert = std::make_shared<QNAlertView>(tr("Error"), tr("Error renaming file."),
                                                   std::weak_ptr<QNAlertViewDelegate>(), tr("OK"),
                                                   std::vector<std::string>{});
        alert->show();
        return false;
    }
    LocalFilelistViewController::setNeedUpdateFlag(navigationController());
    return true;
}
