#include "remote/BookTransferViewController.h"

#include "foundation/BookCommon.h"
#include "foundation/LastStatusRestore.h"
#include "foundation/OptimizeFilename.h"
#include "foundation/QNTextEncoding.h"
#include "foundation/Settings.h"
#include "foundation/ui/ColorDefine.h"
#include "foundation/ui/QNMultiViewController.h"
#include "library/LocalFilelistViewController.h"
#include "platform/core/Path.h"
#include "platform/core/Unicode.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Button.h"
#include "platform/ui/Color.h"
#include "platform/ui/Image.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/NavigationBar.h"
#include "platform/ui/NavigationItem.h"
#include "platform/ui/Window.h"
#include "platform/ui/TableViewCell.h"
#include "remote/BookTransfer.h"
#include "remote/screens/RemoteFileListViewController.h"
#include "viewer/QNProgressView.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace {

std::string tr(const std::string& key) { return BookCommon::localizedStringWithOnOff(key); }

constexpr double kTabHeight = 60;
constexpr double kPanelHeight = 160;
constexpr double kRowHeight = 60;
constexpr int64_t kTimeCap = 86400;

enum Tag {
    kPanel = 1000,
    kPanelName = 1001,
    kPanelProgress = 1002,
    kPanelRate = 1003,
    kPanelTime = 1004,
    kPanelMessage = 1005,
    kPanelCancel = 1006,
    kPanelCancelAll = 1007,
    kPanelIcon = 1008,
    kRow = 2000,
    kRowName = 2001,
    kRowDetail = 2002,
    kRowIcon = 2003,
    kClear = 3000,
    kClearButton = 3001,
};

ui::ImageRef transferIcon(bool failed) { return ui::Image::named(failed ? "bt_http_err" : "bt_http"); }

// The tab strip's pictures: its base, the selected tab and the shade on
// either side of it.
std::shared_ptr<ui::ImageView> tabPicture(const ui::Rect& frame) {
    auto v = std::make_shared<ui::ImageView>(frame);
    v->setContentMode(ui::ContentMode::ScaleToFill);
    return v;
}

// The tab strip's backing, which says when the look turns light or dark:
// its pictures are drawn for one look.
class TabStrip : public ui::ImageView {
public:
    explicit TabStrip(const ui::Rect& frame) : ui::ImageView(frame) { setContentMode(ui::ContentMode::ScaleToFill); }
    void traitCollectionDidChange(const ui::TraitCollection& previous) override {
        ui::ImageView::traitCollectionDidChange(previous);
        if (appearanceChanged && traitCollection().hasDifferentColorAppearance(previous)) appearanceChanged();
    }
    std::function<void()> appearanceChanged;
};

constexpr double kTabSelectWidth = 142;
constexpr double kTabLineWidth = 4;

double unixNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::shared_ptr<ui::Label> makeLabel(const ui::Rect& frame, double size, int tag) {
    auto label = std::make_shared<ui::Label>(frame);
    label->setFont(gfx::Font::system(size));
    label->setTag(tag);
    return label;
}

std::shared_ptr<ui::Button> makeButton(const ui::Rect& frame, const std::string& title, int tag) {
    auto button = std::make_shared<ui::Button>(ui::ButtonType::System, frame);
    button->setTitle(title);
    button->setTag(tag);
    return button;
}

}  // namespace

// The queue holds its observer strongly; the screen must not be kept alive
// by the queue it watches.
class BookTransferViewController::Observer : public BookTransferDelegate {
public:
    explicit Observer(std::weak_ptr<ui::ViewController> screen) : screen_(std::move(screen)) {}
    void onChangeCue(const Items& cue, bool one, int index) override {
        if (auto s = get()) s->onChangeCue(cue, one, index);
    }
    void onChangeRecentCue(const Items& recent, int type, int index) override {
        if (auto s = get()) s->onChangeRecentCue(recent, type, index);
    }
    void onChangeTransferItem(const std::shared_ptr<TransferItem>& item) override {
        if (auto s = get()) s->onChangeTransferItem(item);
    }
    void onChangeTransferProgress(const std::shared_ptr<TransferItem>& item) override {
        if (auto s = get()) s->onChangeTransferProgress(item);
    }

private:
    std::shared_ptr<BookTransferViewController> get() const {
        return std::static_pointer_cast<BookTransferViewController>(screen_.lock());
    }
    std::weak_ptr<ui::ViewController> screen_;
};

BookTransferViewController::~BookTransferViewController() {
    if (bookTransfer_ && observer_ && bookTransfer_->delegate() == observer_) bookTransfer_->setDelegate(nullptr);
    if (tableView_) {
        tableView_->setDataSource(nullptr);
        tableView_->setDelegate(nullptr);
    }
}

std::string BookTransferViewController::filenameFromURL(const std::string& url) {
    const std::string bytes = BookTransfer::fileNameFromSource(url);
    if (sys::Unicode::isValidUtf8(bytes)) return bytes;
    if (auto decoded = QNTextEncoding::stringWithCString(bytes.c_str())) return *decoded;
    return "(Unknown character set)";
}

std::string BookTransferViewController::recentTabTitle(const BookTransferDelegate::Items& recent) {
    const auto failed = std::count_if(recent.begin(), recent.end(),
                                      [](const auto& i) { return i && i->status == TransferItem::kFailed; });
    std::string title = tr("Recent Downloads");
    if (failed > 0) title += "(" + std::to_string(failed) + ")";
    return title;
}

void BookTransferViewController::viewDidLoad() {
    QNViewController::viewDidLoad();
    view()->setBackgroundColor(ui::Color::systemBackground());
    auto strip = std::make_shared<TabStrip>(ui::Rect{0, 0, view()->bounds().size.width, kTabHeight});
    std::weak_ptr<ui::ViewController> weakSelf = shared_from_this();
    strip->appearanceChanged = [weakSelf] {
        if (auto s = std::static_pointer_cast<BookTransferViewController>(weakSelf.lock())) {
            s->setTabPictures();
            s->selectTab(s->mode_);
        }
    };
    bkTabView_ = strip;
    // The tabs inside take touches.
    bkTabView_->setUserInteractionEnabled(true);
    bkTabSelectView_ = tabPicture(ui::Rect{5, 0, kTabSelectWidth, kTabHeight});
    bkTabLineViewLeft_ = tabPicture(ui::Rect{5 - kTabLineWidth, 0, kTabLineWidth, kTabHeight});
    bkTabLineViewRight_ = tabPicture(ui::Rect{5 + kTabSelectWidth, 0, kTabLineWidth, kTabHeight});
    bkTabView_->addSubview(bkTabLineViewLeft_);
    bkTabView_->addSubview(bkTabLineViewRight_);
    bkTabView_->addSubview(bkTabSelectView_);
    setTabPictures();
    tab1Label_ = makeLabel({22, 22, 110, 36}, 12, 0);
    tab2Label_ = makeLabel({174, 22, 100, 36}, 12, 0);
    for (auto* l : {tab1Label_.get(), tab2Label_.get()}) {
        l->setTextAlignment(ui::TextAlignment::Center);
        // A long translation shrinks to fit, down to 8 of its 17 parts.
        l->setAdjustsFontSizeToFitWidth(true);
        l->setMinimumScaleFactor(8.0 / 17.0);
    }
    tab1Label_->setText(tr("Downloads in Progress"));
    bkTabView_->addSubview(tab1Label_);
    bkTabView_->addSubview(tab2Label_);
    tab1_ = std::make_shared<ui::Button>(ui::ButtonType::Custom, ui::Rect{12, 0, 132, kTabHeight});
    tab2_ = std::make_shared<ui::Button>(ui::ButtonType::Custom, ui::Rect{168, 0, 132, kTabHeight});
    std::weak_ptr<ui::ViewController> weak = shared_from_this();
    auto self = [weak] { return std::static_pointer_cast<BookTransferViewController>(weak.lock()); };
    tab1_->addAction(ui::ControlEventTouchUpInside, [self](ui::Control&) { if (auto s = self()) s->onTab1(); });
    tab2_->addAction(ui::ControlEventTouchUpInside, [self](ui::Control&) { if (auto s = self()) s->onTab2(); });
    bkTabView_->addSubview(tab1_);
    bkTabView_->addSubview(tab2_);
    view()->addSubview(bkTabView_);

    tableView_ = std::make_shared<ui::TableView>(ui::TableViewStyle::Plain);
    tableView_->setDataSource(this);
    tableView_->setDelegate(this);
    view()->addSubview(tableView_);

    if (bookTransfer_) {
        observer_ = std::make_shared<Observer>(weak);
        bookTransfer_->setDelegate(observer_);
        cue_ = bookTransfer_->getCue();
        recentCue_ = bookTransfer_->getRecentCue();
        transferItem_ = bookTransfer_->getTransferInProgress();
    }
    tab2Label_->setText(recentTabTitle(recentCue_));
    setTitle(tr("File transfer"));
    navigationItem()->setRightBarButtonItem(ui::BarButtonItem::withTitle(
        tr("Back"), ui::BarButtonItemStyle::Plain, [self](ui::BarButtonItem&) { if (auto s = self()) s->onReturnBtn(); }));
}

// The view may extend under the status and navigation bars: how far they
// reach into it. Inside a tab container the view already starts below them.
double BookTransferViewController::barsHeight() {
    if (!isViewLoaded()) return 0;
    ui::Window* w = view()->window();
    double barsBottom = w ? w->statusBarHeight() : 0;
    auto* nav = navigationController();
    if (nav && !nav->isNavigationBarHidden()) {
        auto* bar = nav->navigationBar();
        barsBottom = w ? bar->convertPointToWindow({0, bar->bounds().height()}).y : bar->frame().maxY();
    }
    if (!w) return barsBottom;
    return std::max(0.0, barsBottom - view()->convertPointToWindow({0, 0}).y);
}

double BookTransferViewController::tableTop() { return barsHeight() + (noTabarea_ ? 0 : kTabHeight); }

double BookTransferViewController::contentWidth() const {
    if (!tableView_) return 0;
    const auto insets = tableView_->safeAreaInsets();
    return tableView_->bounds().size.width - insets.left - insets.right;
}

void BookTransferViewController::viewWillLayoutSubviews() {
    QNViewController::viewWillLayoutSubviews();
    const auto b = view()->bounds();
    const double left = view()->safeAreaInsets().left;
    bkTabView_->setHidden(noTabarea_);
    bkTabView_->setFrame({0, barsHeight(), b.size.width, kTabHeight});
    tab1_->setFrame({left + 12, 0, 132, kTabHeight});
    tab2_->setFrame({left + 168, 0, 132, kTabHeight});
    tab1Label_->setFrame({left + 22, 22, 110, 36});
    tab2Label_->setFrame({left + 174, 22, 100, 36});
    tableView_->setFrame({0, tableTop(), b.size.width, std::max(0.0, b.size.height - tableTop())});
    selectTab(mode_);
    // The rows are drawn for the table's width: at a new one (the device
    // turned, the window resized) they are drawn again.
    if (contentWidth() != rowsWidth_) {
        rowsWidth_ = contentWidth();
        tableView_->reloadData();
    }
}

void BookTransferViewController::viewWillAppear(bool animated) {
    QNViewController::viewWillAppear(animated);
    // Pushed by itself over a list, the screen has no tool bar of its own:
    // the list's bar would stay below it, empty. The list shows it again
    // when it comes back.
    if (auto* nav = navigationController()) nav->setToolbarHidden(true, animated);
    if (tableView_) tableView_->reloadData();
}

void BookTransferViewController::viewWillDisappear(bool animated) {
    QNViewController::viewWillDisappear(animated);
    if (bookTransfer_ && observer_ && bookTransfer_->delegate() == observer_) bookTransfer_->setDelegate(nullptr);
}

void BookTransferViewController::setTabPictures() {
    if (!bkTabView_) return;
    const bool dark = ColorDefine::isDarkmode(view());
    if (dark == tabPicturesDark_ && tabPicturesSet_) return;
    tabPicturesSet_ = true;
    tabPicturesDark_ = dark;
    static_cast<ui::ImageView&>(*bkTabView_).setImage(ui::Image::named(dark ? "bk_tabbase_dark" : "bk_tabbase"));
    static_cast<ui::ImageView&>(*bkTabSelectView_).setImage(ui::Image::named(dark ? "bk_tab_dark" : "bk_tab"));
    // Each shade darkens towards the tab.
    static_cast<ui::ImageView&>(*bkTabLineViewLeft_).setImage(ui::Image::named("bk_tabline"));
    static_cast<ui::ImageView&>(*bkTabLineViewRight_).setImage(ui::Image::named("bk_tabline_r"));
}

void BookTransferViewController::selectTab(int tab) {
    if (!bkTabSelectView_) return;
    setTabPictures();
    const double left = view()->safeAreaInsets().left;
    const double x = left + 5 + 146.0 * tab;
    bkTabSelectView_->setFrame({x, 0, kTabSelectWidth, kTabHeight});
    bkTabLineViewLeft_->setFrame({x - kTabLineWidth, 0, kTabLineWidth, kTabHeight});
    bkTabLineViewRight_->setFrame({x + kTabSelectWidth, 0, kTabLineWidth, kTabHeight});
    // The chosen tab's label in the label colour; the other one embossed: the
    // opposite colour over a grey shadow up and to the left.
    for (auto [label, chosen] : {std::pair{tab1Label_.get(), tab == 0}, std::pair{tab2Label_.get(), tab == 1}}) {
        label->setTextColor(chosen ? ui::Color::label() : ui::Color::systemBackground());
        label->setShadowColor(chosen ? std::nullopt : std::optional<ui::Color>(ui::Color::gray()));
        label->setShadowOffset({-1, -1});
    }
}

void BookTransferViewController::onTab1() {
    selectTab(0);
    mode_ = 0;
    tableView_->reloadData();
}

void BookTransferViewController::onTab2() {
    selectTab(1);
    mode_ = 1;
    tableView_->reloadData();
}

void BookTransferViewController::onReturnBtn() {
    auto target = returnTo_.lock();
    if (target && navigationController()) navigationController()->popToViewController(target.get(), true);
}

void BookTransferViewController::onCancelTransfer() {
    if (bookTransfer_) bookTransfer_->cancelCurrentTransfer();
}

void BookTransferViewController::onCancelTransferAll() {
    auto alert = ui::AlertController::make(std::nullopt, tr("Are you sure you want to remove all items?"),
                                           ui::AlertControllerStyle::Alert);
    std::weak_ptr<BookTransfer> transfer = bookTransfer_;
    alert->addAction(ui::AlertAction::make("Yes", ui::AlertActionStyle::Default, [transfer](ui::AlertAction&) {
        if (auto t = transfer.lock()) t->cancelCurrentTransferAll();
    }));
    alert->addAction(ui::AlertAction::make("No", ui::AlertActionStyle::Cancel));
    present(alert, true);
}

void BookTransferViewController::onClearHistory() {
    if (bookTransfer_) bookTransfer_->clearRecentCue();
}

void BookTransferViewController::onChangeCue(const BookTransferDelegate::Items& cue, bool isChangeOneItem,
                                             int removeOneIndex) {
    cue_ = cue;
    if (mode_ != 0 || !tableView_) return;
    if (isChangeOneItem && removeOneIndex >= 0) {
        tableView_->deleteRowsAtIndexPaths({ui::IndexPath::forRow(removeOneIndex, 1)},
                                           removeOneIndex == 0 ? ui::TableViewRowAnimation::Right
                                                               : ui::TableViewRowAnimation::Fade);
    } else {
        tableView_->reloadData();
    }
}

void BookTransferViewController::onChangeRecentCue(const BookTransferDelegate::Items& recent, int changeType,
                                                   int removeOneIndex) {
    recentCue_ = recent;
    if (tab2Label_) tab2Label_->setText(recentTabTitle(recentCue_));
    if (mode_ != 1 || !tableView_) return;
    const int rows = static_cast<int>(recentCue_.size());
    if (changeType == 0) {
        tableView_->insertRowsAtIndexPaths({ui::IndexPath::forRow(0, 1)}, ui::TableViewRowAnimation::Left);
    } else if (changeType == 1) {
        tableView_->beginUpdates();
        tableView_->insertRowsAtIndexPaths({ui::IndexPath::forRow(0, 1)}, ui::TableViewRowAnimation::Fade);
        tableView_->deleteRowsAtIndexPaths({ui::IndexPath::forRow(rows, 1)}, ui::TableViewRowAnimation::Fade);
        tableView_->endUpdates();
    } else if (changeType == 2 && removeOneIndex >= 0) {
        tableView_->deleteRowsAtIndexPaths({ui::IndexPath::forRow(removeOneIndex, 1)}, ui::TableViewRowAnimation::Fade);
    } else {
        tableView_->reloadData();
    }
}

void BookTransferViewController::onChangeTransferItem(const std::shared_ptr<TransferItem>& item) {
    transferItem_ = item;
    if (mode_ == 0 && tableView_) tableView_->reloadData();
}

void BookTransferViewController::onChangeTransferProgress(const std::shared_ptr<TransferItem>& item) {
    transferItem_ = item;
    if (mode_ == 0) redrawProgressPanel();
}

void BookTransferViewController::redrawProgressPanel() {
    if (!progressCell_) return;
    auto* c = progressCell_->contentView();
    drawProgress(transferItem_.get(), dynamic_cast<QNProgressView*>(c->viewWithTag(kPanelProgress)),
                 dynamic_cast<ui::Label*>(c->viewWithTag(kPanelName)),
                 dynamic_cast<ui::Label*>(c->viewWithTag(kPanelRate)),
                 dynamic_cast<ui::Label*>(c->viewWithTag(kPanelTime)),
                 dynamic_cast<ui::Label*>(c->viewWithTag(kPanelMessage)),
                 dynamic_cast<ui::Button*>(c->viewWithTag(kPanelCancel)),
                 dynamic_cast<ui::Button*>(c->viewWithTag(kPanelCancelAll)),
                 dynamic_cast<ui::ImageView*>(c->viewWithTag(kPanelIcon)), unixNow());
}

void BookTransferViewController::drawProgress(const TransferItem* item, QNProgressView* progress,
                                              ui::Label* labelSaveName, ui::Label* labelTransferSize,
                                              ui::Label* labelTime, ui::Label* labelMessage,
                                              ui::Button* cancelButton, ui::Button* cancelAllButton,
                                              ui::ImageView* icon, double now) {
    const bool running = item != nullptr;
    if (progress) progress->setHidden(!running);
    if (cancelButton) cancelButton->setHidden(!running);
    if (cancelAllButton) cancelAllButton->setHidden(!running);
    if (icon) icon->setHidden(!running);
    if (labelMessage) labelMessage->setHidden(running);
    if (!running) {
        if (labelSaveName) labelSaveName->setText("");
        if (labelTransferSize) labelTransferSize->setText("");
        if (labelTime) labelTime->setText("");
        return;
    }
    const int64_t done = item->sizeTransfer + item->startOffset;
    const int64_t total = item->size + item->startOffset;
    if (progress) {
        progress->setProgress(item->size == 0 || total <= 0 ? 0.0 : double(done) / double(total), false);
        progress->setLeftText(BookCommon::strSizeFormatFromValue(done));
        progress->setRightText(BookCommon::strSizeFormatFromValue(total));
    }
    if (labelSaveName) labelSaveName->setText(item->saveName.empty() ? filenameFromURL(item->source) : item->saveName);
    const double elapsed = std::max(0.0, now - item->startTime);
    if (labelTransferSize) {
        const int64_t rate = elapsed > 0 ? static_cast<int64_t>(double(item->sizeTransfer) / elapsed) : 0;
        labelTransferSize->setText(BookCommon::strSizeRateFormatFromValue(rate));
    }
    if (labelTime) {
        double fraction = total > 0 ? double(item->sizeTransfer) / double(total) : 0;
        int64_t left = kTimeCap;
        if (fraction > 0) left = static_cast<int64_t>(std::min<double>(kTimeCap, elapsed / fraction - elapsed));
        labelTime->setText(BookCommon::strLeftTimeFromInt(std::max<int64_t>(0, left)));
    }
}

int BookTransferViewController::tableViewNumberOfRowsInSection(ui::TableView&, int section) {
    if (section == 0) return 1;
    return static_cast<int>(mode_ == 0 ? cue_.size() : recentCue_.size());
}

std::optional<std::string> BookTransferViewController::tableViewTitleForHeaderInSection(ui::TableView&, int section) {
    if (mode_ == 0 && section == 1) return tr("Waiting for Transfer");
    return std::nullopt;
}

double BookTransferViewController::tableViewHeightForRowAtIndexPath(ui::TableView&, const ui::IndexPath& ip) {
    return mode_ == 0 && ip.section == 0 ? kPanelHeight : kRowHeight;
}

std::shared_ptr<ui::TableViewCell> BookTransferViewController::tableViewCellForRowAtIndexPath(
    ui::TableView&, const ui::IndexPath& ip) {
    if (ip.section == 0) return mode_ == 0 ? progressCell() : clearHistoryCell();
    const auto& list = mode_ == 0 ? cue_ : recentCue_;
    if (ip.row < 0 || ip.row >= static_cast<int>(list.size()) || !list[ip.row])
        return std::make_shared<ui::TableViewCell>();
    return itemCell(*list[ip.row], mode_ == 1);
}

std::shared_ptr<ui::TableViewCell> BookTransferViewController::progressCell() {
    auto cell = tableView_->dequeueReusableCell("Cell");
    if (!cell) cell = std::make_shared<ui::TableViewCell>(ui::TableViewCellStyle::Default, "Cell");
    auto* content = cell->contentView();
    if (!content->viewWithTag(kPanel)) {
        auto panel = std::make_shared<ui::View>();
        panel->setTag(kPanel);
        auto name = makeLabel({}, 14, kPanelName);
        name->setNumberOfLines(2);
        name->setLineBreakMode(ui::LineBreakMode::TruncateMiddle);
        panel->addSubview(name);
        auto bar = std::make_shared<QNProgressView>(ui::Rect{});
        bar->setTag(kPanelProgress);
        panel->addSubview(bar);
        auto rate = makeLabel({}, 12, kPanelRate);
        rate->setTextColor(ui::Color::gray());
        rate->setTextAlignment(ui::TextAlignment::Right);
        panel->addSubview(rate);
        auto time = makeLabel({}, 12, kPanelTime);
        time->setTextColor(ui::Color::gray());
        panel->addSubview(time);
        auto message = makeLabel({}, 14, kPanelMessage);
        message->setTextAlignment(ui::TextAlignment::Center);
        message->setText(tr("No Transfer in Progress."));
        panel->addSubview(message);
        std::weak_ptr<ui::ViewController> weak = shared_from_this();
        auto cancel = makeButton({}, tr("Cancel"), kPanelCancel);
        cancel->addAction(ui::ControlEventTouchUpInside, [weak](ui::Control&) {
            if (auto s = std::static_pointer_cast<BookTransferViewController>(weak.lock())) s->onCancelTransfer();
        });
        panel->addSubview(cancel);
        auto cancelAll = makeButton({}, tr("Cancel All"), kPanelCancelAll);
        cancelAll->addAction(ui::ControlEventTouchUpInside, [weak](ui::Control&) {
            if (auto s = std::static_pointer_cast<BookTransferViewController>(weak.lock())) s->onCancelTransferAll();
        });
        panel->addSubview(cancelAll);
        auto icon = std::make_shared<ui::ImageView>(transferIcon(false));
        icon->setFrame({5, 12, 37, 37});
        icon->setTag(kPanelIcon);
        panel->addSubview(icon);
        content->addSubview(panel);
    }
    // Placed for the table's width each time: a cell made at another width
    // (before a turn or a resize of the window) is laid out anew.
    const double w = contentWidth();
    const std::pair<int, ui::Rect> frames[] = {
        {kPanel, {0, 0, w, kPanelHeight}},
        {kPanelName, {50, 10, w - 60, 40}},
        {kPanelProgress, {10, 55, w - 20, 20}},
        {kPanelRate, {w / 2 - 50, 83, w / 2 + 40, 20}},
        {kPanelTime, {10, 83, w / 2 - 60, 20}},
        {kPanelMessage, {10, 70, w - 20, 20}},
        {kPanelCancel, {3 * w / 4 - 70, 110, 140, 35}},
        {kPanelCancelAll, {w / 4 - 70, 110, 140, 35}},
    };
    for (const auto& [tag, frame] : frames) content->viewWithTag(tag)->setFrame(frame);
    progressCell_ = cell;
    redrawProgressPanel();
    return cell;
}

std::shared_ptr<ui::TableViewCell> BookTransferViewController::clearHistoryCell() {
    auto cell = tableView_->dequeueReusableCell("Cell3");
    if (!cell) cell = std::make_shared<ui::TableViewCell>(ui::TableViewCellStyle::Default, "Cell3");
    if (!cell->contentView()->viewWithTag(kClear)) {
        auto container = std::make_shared<ui::View>();
        container->setTag(kClear);
        auto button = makeButton({}, tr("Clear Download History"), kClearButton);
        std::weak_ptr<ui::ViewController> weak = shared_from_this();
        button->addAction(ui::ControlEventTouchUpInside, [weak](ui::Control&) {
            if (auto s = std::static_pointer_cast<BookTransferViewController>(weak.lock())) s->onClearHistory();
        });
        container->addSubview(button);
        cell->contentView()->addSubview(container);
    }
    const double w = contentWidth();
    cell->contentView()->viewWithTag(kClear)->setFrame({0, 0, w, kRowHeight});
    cell->contentView()->viewWithTag(kClearButton)->setFrame({w / 2 - 140, 12, 280, 35});
    return cell;
}

std::shared_ptr<ui::TableViewCell> BookTransferViewController::itemCell(const TransferItem& item, bool recent) {
    const std::string id = recent ? "Cell4" : "Cell2";
    auto cell = tableView_->dequeueReusableCell(id);
    if (!cell) cell = std::make_shared<ui::TableViewCell>(ui::TableViewCellStyle::Default, id);
    auto* content = cell->contentView();
    if (!content->viewWithTag(kRow)) {
        auto container = std::make_shared<ui::View>();
        container->setTag(kRow);
        auto name = makeLabel({}, 14, kRowName);
        name->setLineBreakMode(ui::LineBreakMode::TruncateMiddle);
        container->addSubview(name);
        auto detail = makeLabel({}, 12, kRowDetail);
        detail->setTextColor(ui::Color::gray());
        container->addSubview(detail);
        auto icon = std::make_shared<ui::ImageView>();
        icon->setFrame({5, 10, 37, 37});
        icon->setTag(kRowIcon);
        container->addSubview(icon);
        content->addSubview(container);
    }
    const double w = contentWidth();
    content->viewWithTag(kRow)->setFrame({0, 0, w, kRowHeight});
    content->viewWithTag(kRowName)->setFrame({50, 10, w - 60, 20});
    content->viewWithTag(kRowDetail)->setFrame({50, 30, w - 60, 20});
    const bool failed = recent && item.status == TransferItem::kFailed;
    auto* name = dynamic_cast<ui::Label*>(content->viewWithTag(kRowName));
    auto* detail = dynamic_cast<ui::Label*>(content->viewWithTag(kRowDetail));
    auto* icon = dynamic_cast<ui::ImageView*>(content->viewWithTag(kRowIcon));
    std::string shown = item.saveName;
    if (settings_ && settings_->isOptimizeFilename()) shown = OptimizeFilename::getOptimizedString(shown);
    name->setText(shown);
    name->setTextColor(failed ? ui::Color::red() : ui::Color::label());
    switch (item.status) {
    case TransferItem::kDone: detail->setText(tr("Done")); break;
    case TransferItem::kSkipped: detail->setText(tr("Skip")); break;
    case TransferItem::kFailed: detail->setText(item.errorMessage ? *item.errorMessage : tr("Error")); break;
    default: detail->setText(filenameFromURL(item.source)); break;
    }
    icon->setImage(transferIcon(failed));
    return cell;
}

void BookTransferViewController::tableViewCommitEditingStyle(ui::TableView&, ui::TableViewCellEditingStyle style,
                                                             const ui::IndexPath& ip) {
    if (style != ui::TableViewCellEditingStyle::Delete || ip.section != 1 || !bookTransfer_ || ip.row < 0) return;
    if (mode_ == 0)
        bookTransfer_->removeItemAtIndex(static_cast<size_t>(ip.row));
    else
        bookTransfer_->removeRecentCueItem(static_cast<size_t>(ip.row));
}

void BookTransferViewController::tableViewDidSelectRowAtIndexPath(ui::TableView& tv, const ui::IndexPath& ip) {
    // Only the recent list's entries act; no row stays marked as chosen.
    tv.deselectRowAtIndexPath(ip, true);
    if (mode_ != 1 || ip.section != 1) return;
    if (ip.row < 0 || ip.row >= static_cast<int>(recentCue_.size()) || !bookTransfer_) return;
    const auto item = recentCue_[ip.row];
    if (item->status == TransferItem::kFailed)
        bookTransfer_->retryItemInRecentCue(static_cast<size_t>(ip.row));
    else if (item->status == TransferItem::kDone)
        openFinished(*item);
}

// Opens a downloaded book: the library is told where it lies and jumps
// there once the transfer screens are gone.
void BookTransferViewController::openFinished(const TransferItem& item) {
    // The file as it was put, which is not the name asked for when a file of
    // that name was kept beside it.
    const bool placed = !item.savedPath.empty();
    const std::string folder = placed ? sys::Path::stringByDeletingLastPathComponent(item.savedPath) : item.savePath;
    LastStatusRestore::setLocalTargetPath(BookCommon::fromRootToFromBooks(folder));
    LastStatusRestore::setJumpBook(placed ? sys::Path::lastPathComponent(item.savedPath) : item.saveName, std::nullopt,
                                   std::nullopt);
    LastStatusRestore::setJumpMode(true);
    QNMultiViewController* multi = qnMultiViewController();
    if (!multi) {
        // Pushed by itself over a site's list: the library's root walks to
        // the book (it takes this screen away on its way).
        auto* nav = navigationController();
        if (!nav || nav->viewControllers().empty()) return;
        auto keep = shared_from_this();
        if (auto root = std::dynamic_pointer_cast<LocalFilelistViewController>(nav->viewControllers().front()))
            root->jumpStart();
        return;
    }
    if (auto* nav = navigationController()) nav->popToRootViewController(false);
    std::weak_ptr<ui::ViewController> parent = qnParentViewController();
    multi->dismiss(true, [parent] {
        auto p = parent.lock();
        if (auto* local = dynamic_cast<LocalFilelistViewController*>(p.get()))
            local->jumpStart();
        else if (auto* remote = dynamic_cast<RemoteFileListViewController*>(p.get()))
            remote->jumpStart();
    });
}
