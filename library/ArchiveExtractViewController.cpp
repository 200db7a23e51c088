#include "library/ArchiveExtractViewController.h"

#include "engine/BookReaderEx.h"
#include "foundation/BookCommon.h"
#include "foundation/OptimizeFilename.h"
#include "foundation/QNTextEncoding.h"
#include "foundation/Settings.h"
#include "foundation/ui/PopupMenuView.h"
#include "foundation/ui/QNAlertView.h"
#include "library/ArchivePasswordViewController.h"
#include "library/LibraryCommonToolbar.h"
#include "platform/core/Path.h"
#include "platform/core/RunLoop.h"
#include "platform/core/Thread.h"
#include "platform/core/Unicode.h"
#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/Application.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TransitionCoordinator.h"
#include "platform/ui/Window.h"
#include "viewer/BrightnessSetting.h"

namespace {

std::string tr(const char* key) { return BookCommon::localizedStringWithOnOff(key); }

}  // namespace

ArchiveExtractViewController::ArchiveExtractViewController(ui::TableViewStyle style) : ui::TableViewController(style) {}

ArchiveExtractViewController::~ArchiveExtractViewController() {
    // An extraction still at work is not waited for: it finishes alone.
    if (extractThread_.joinable()) sys::Thread::leaveToFinish(std::move(extractThread_));
    if (activityIndicator_) activityIndicator_->removeFromSuperview();
}

void ArchiveExtractViewController::setSettings_(std::shared_ptr<Settings> s) {
    settings_value_ = std::move(s);
    if (toolbar_) toolbar_->setSettings(settings_value_);
}

std::string ArchiveExtractViewController::displayName(const std::string& raw, bool isRar) {
    const std::string bytes = raw.substr(0, raw.find('\0'));
    if (isRar && sys::Unicode::isValidUtf8(bytes)) return bytes;
    if (auto text = QNTextEncoding::stringWithCString(bytes.c_str())) return *text;
    return tr("(Unknown character set)");
}

std::vector<ui::KeyCommand> ArchiveExtractViewController::keyCommands() const {
    return PopupMenuView::keyCommandsOfOwner(toolbar_ ? toolbar_->popUpMenu() : nullptr);
}

void ArchiveExtractViewController::viewDidLoad() {
    ui::TableViewController::viewDidLoad();
    setTitle(sys::Path::lastPathComponent(archiveFile_value_));
    toolbar_ = LibraryCommonToolbar::create(weak_from_this());
    toolbar_->setSettings(settings_value_);
    const bool rar = BookCommon::isRARFileWithFile(archiveFile_value_);
    stringFileArray_value_.clear();
    flagArray_.clear();
    extractedPaths_.clear();
    for (const auto& raw : preFileListArray_value_) {
        stringFileArray_value_.push_back(displayName(raw, rar));
        flagArray_.push_back(0);
        extractedPaths_.emplace_back();
    }
}

void ArchiveExtractViewController::viewWillAppear(bool animated) {
    ui::TableViewController::viewWillAppear(animated);
    if (auto* nav = navigationController()) nav->setToolbarHidden(false, animated);
}

void ArchiveExtractViewController::viewDidAppear(bool animated) {
    ui::TableViewController::viewDidAppear(animated);
    if (toolbar_) toolbar_->setupToolbarItems(false);
}

void ArchiveExtractViewController::viewWillDisappear(bool animated) {
    ui::TableViewController::viewWillDisappear(animated);
    if (toolbar_) toolbar_->removePopup();
}

void ArchiveExtractViewController::viewWillTransitionToSize(ui::Size size,
                                                            const std::shared_ptr<ui::TransitionCoordinator>& c) {
    ui::TableViewController::viewWillTransitionToSize(size, c);
    std::weak_ptr<LibraryCommonToolbar> toolbar = toolbar_;
    auto alongside = [size, toolbar](const ui::TransitionCoordinatorContext&) {
        BookCommon::viewWillTransitionToSize(size);
        if (auto brightness = BrightnessSetting::getBrightnessSetting()) brightness->setOrientation_iOS8();
        if (auto bar = toolbar.lock()) bar->removePopup();
    };
    if (c)
        c->animateAlongsideTransition(alongside);
    else
        alongside(ui::TransitionCoordinatorContext{});
}

int ArchiveExtractViewController::tableViewNumberOfRowsInSection(ui::TableView&, int) {
    return static_cast<int>(stringFileArray_value_.size());
}

std::shared_ptr<ui::TableViewCell> ArchiveExtractViewController::tableViewCellForRowAtIndexPath(
    ui::TableView& tv, const ui::IndexPath& ip) {
    auto cell = tv.dequeueReusableCell("Cell");
    if (!cell) cell = std::make_shared<ui::TableViewCell>(ui::TableViewCellStyle::Subtitle, "Cell");
    const std::string& name = stringFileArray_value_[size_t(ip.row)];
    const size_t slash = name.rfind('/');
    std::string title = slash == std::string::npos ? name : name.substr(slash + 1);
    if (settings_value_ && settings_value_->isOptimizeFilename()) title = OptimizeFilename::getOptimizedString(title);
    cell->textLabel()->setFont(gfx::Font::system(14));
    cell->textLabel()->setLineBreakMode(ui::LineBreakMode::TruncateMiddle);
    cell->textLabel()->setText(title);
    if (ui::Label* sub = cell->detailTextLabel()) {
        sub->setFont(gfx::Font::system(14));
        sub->setLineBreakMode(ui::LineBreakMode::TruncateMiddle);
        sub->setText(slash == std::string::npos ? "/" : name.substr(0, slash) + "/");
    }
    cell->setAccessoryType(isExtracted(size_t(ip.row)) ? ui::TableViewCellAccessoryType::Checkmark
                                                       : ui::TableViewCellAccessoryType::None);
    return cell;
}

void ArchiveExtractViewController::tableViewDidSelectRowAtIndexPath(ui::TableView& tv, const ui::IndexPath& ip) {
    tv.deselectRowAtIndexPath(ip, true);
    extractAt(ip.row);
}

void ArchiveExtractViewController::extractAt(int64_t index) {
    if (index < 0 || index >= static_cast<int64_t>(flagArray_.size()) || nowExtracting_) return;
    // Extracted already: its copy opens (a second copy would only be a
    // "name 2" beside it).
    if (flagArray_[size_t(index)] == 1) return openExtracted(index);
    toExtractIndex_ = index;
    startIndicatorAndSchedule();
}

void ArchiveExtractViewController::openExtracted(int64_t index) {
    const std::string path = extractedPath(size_t(index));
    auto delegate = delegate_.lock();
    if (path.empty() || !delegate) return;
    ui::Rect row = ui::Rect::null();
    if (isViewLoaded() && index < tableView()->numberOfRowsInSection(0)) {
        const ui::IndexPath ip{0, int(index)};
        row = tableView()->convertRectTo(tableView()->rectForRowAtIndexPath(ip), view());
    }
    delegate->finishExtractFile(path, *this, row);
}

void ArchiveExtractViewController::startIndicatorAndSchedule() {
    nowExtracting_ = true;
    activityIndicator_ = std::make_shared<ui::ActivityIndicatorView>(ui::ActivityIndicatorStyle::Medium);
    if (ui::Window* window = ui::Application::shared().keyWindow()) {
        const ui::Rect b = window->bounds();
        activityIndicator_->setFrame({(b.width() - 32) / 2, (b.height() - 32) / 2, 32, 32});
        window->addSubview(activityIndicator_);
    }
    activityIndicator_->startAnimating();
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    sys::RunLoop::main().schedule(kExtractDelay, [weak] {
        if (auto self = std::static_pointer_cast<ArchiveExtractViewController>(weak.lock())) self->extractStep();
    });
}

void ArchiveExtractViewController::extractStep() {
    // One extraction at a time; a step scheduled for one already done does nothing.
    if (!nowExtracting_ || extractThread_.joinable()) return;
    auto keep = shared_from_this();
    if (toExtractIndex_ < 0 || toExtractIndex_ >= static_cast<int64_t>(preFileListArray_value_.size())) {
        nowExtracting_ = false;
        return;
    }
    BookCommon::globalIdleTimerDisabled(true);
    // UnRAR and 7z.so decode on a worker (in a solid archive, all that comes
    // before the entry): the screen answers meanwhile.
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    extractThread_ = sys::Thread(
        [weak, archive = archiveFile_value_, password = passwordOfToExtract_,
         entry = preFileListArray_value_[size_t(toExtractIndex_)]](const std::atomic<bool>&) {
            std::string written;
            const int result =
                BookReaderEx::extractFile(archive, sys::PlistDictionary(), password, entry, "", "", &written);
            sys::RunLoop::main().post([weak, result, written] {
                if (auto self = std::static_pointer_cast<ArchiveExtractViewController>(weak.lock()))
                    self->finishExtract(result, written);
                else
                    BookCommon::globalIdleTimerDisabled(false);
            });
        },
        "extract-entry");
}

void ArchiveExtractViewController::finishExtract(int result, const std::string& written) {
    auto keep = shared_from_this();
    extractThread_.join();
    if (result == 0) {
        flagArray_[size_t(toExtractIndex_)] = 1;
        extractedPaths_[size_t(toExtractIndex_)] = written;
        if (isViewLoaded()) tableView()->reloadData();
    } else if (result == 1) {
        auto screen = std::make_shared<ArchivePasswordViewController>();
        screen->setDelegate(std::static_pointer_cast<ArchiveExtractViewController>(keep));
        if (auto* nav = navigationController()) nav->pushViewController(screen, true);
    } else {
        const std::string message = result == BookReaderEx::kExtractNoRoom
                                        ? tr("There is not enough free space to extract this file.")
                                        : tr("Error extracting file.");
        auto alert = std::make_shared<QNAlertView>("", message, std::weak_ptr<QNAlertViewDelegate>(), tr("OK"),
                                                   std::vector<std::string>{});
        alert->show();
    }
    BookCommon::globalIdleTimerDisabled(false);
    nowExtracting_ = false;
    if (activityIndicator_) {
        activityIndicator_->stopAnimating();
        activityIndicator_->removeFromSuperview();
        activityIndicator_.reset();
    }
    passwordOfToExtract_.reset();
    // The book made opens as the same book does from the library.
    if (result == 0) openExtracted(toExtractIndex_);
}

void ArchiveExtractViewController::finishInputPassword(const std::optional<std::string>& password) {
    if (!password) return;
    passwordOfToExtract_ = password;
    startIndicatorAndSchedule();
}
