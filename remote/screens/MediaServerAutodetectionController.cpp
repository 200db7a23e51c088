#include "remote/screens/MediaServerAutodetectionController.h"

#include "foundation/BookCommon.h"
#include "foundation/QNNetworkInfo.h"
#include "platform/core/UserDefaults.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/NavigationItem.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TableViewCell.h"
#include "platform/ui/TransitionCoordinator.h"
#include "remote/protocols/QNSsdp.h"
#include "remote/screens/BrowserSelectViewController.h"
#include "remote/screens/MediaServerAutodetectionControllerDelegate.h"

namespace {
std::string tr(const std::string& key) { return BookCommon::localizedStringWithOnOff(key); }

bool switchedOff(const char* key) { return sys::UserDefaults::standard().objectForKey(key).boolValue(); }

// A network full of devices must not grow the list without end.
constexpr size_t kMaxServers = 256;
}  // namespace

MediaServerAutodetectionController::MediaServerAutodetectionController(ui::TableViewStyle style)
    : QNTableViewController(style) {}

MediaServerAutodetectionController::~MediaServerAutodetectionController() {
    if (timer_) timer_->invalidate();
    if (ssdp_) {
        ssdp_->setDelegate(nullptr);
        ssdp_->stopSearch();
    }
}

void MediaServerAutodetectionController::startSearch() {
    stopSearch();
    found_.clear();
    // The other three methods (the companion servers' own host search, the
    // Windows browse service and Bonjour) have no searcher here: their
    // switches are honoured by there being nothing to start.
    if (switchedOff(BrowserSelectViewController::kDisableSSDPKey)) {
        state_ = State::NoMethod;
        reload();
        return;
    }
    if (!ssdp_) {
        ssdp_ = std::make_unique<QNSsdp>();
        ssdp_->setDelegate(this);
    }
    if (networkInfo_) ssdp_->setNetworkInfo(networkInfo_);
    state_ = ssdp_->startSearch() ? State::Searching : State::Finished;
    if (state_ == State::Searching) {
        std::weak_ptr<ui::ViewController> weak = weak_from_this();
        timer_ = sys::RunLoop::main().schedule(
            QNSsdp::kSearchSeconds,
            [weak] {
                if (auto self = std::static_pointer_cast<MediaServerAutodetectionController>(weak.lock()))
                    self->searchTimeUp();
            },
            0, weak);
    }
    reload();
}

void MediaServerAutodetectionController::stopSearch() {
    if (timer_) {
        timer_->invalidate();
        timer_.reset();
    }
    if (ssdp_) ssdp_->stopSearch();
    if (state_ == State::Searching) state_ = State::Finished;
}

void MediaServerAutodetectionController::searchTimeUp() {
    timer_.reset();
    stopSearch();
    reload();
}

void MediaServerAutodetectionController::didFindDevice(const std::string& address, const std::string& modelName) {
    for (const auto& s : found_)
        if (s.address == address && s.name == modelName) return;
    if (found_.size() >= kMaxServers) return;
    found_.push_back({address, modelName});
    reload();
}

void MediaServerAutodetectionController::reload() {
    if (isViewLoaded()) tableView()->reloadData();
}

std::string MediaServerAutodetectionController::statusText() const {
    switch (state_) {
    case State::Searching: return tr("Searching...");
    case State::NoMethod: return tr("SSDP(UPnP) is switched off in Browser Types.");
    case State::Finished: return tr("No servers found.");
    case State::Idle: break;
    }
    return "";
}

// ---- Screen ----------------------------------------------------------------------------------------------

void MediaServerAutodetectionController::viewDidLoad() {
    QNTableViewController::viewDidLoad();
    setTitle(tr("Server Search"));
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    navigationItem()->setRightBarButtonItem(
        ui::BarButtonItem::withSystemItem(ui::BarButtonSystemItem::Refresh, [weak](ui::BarButtonItem&) {
            if (auto self = std::static_pointer_cast<MediaServerAutodetectionController>(weak.lock()))
                self->startSearch();
        }));
}

void MediaServerAutodetectionController::viewWillAppear(bool animated) {
    QNTableViewController::viewWillAppear(animated);
    startSearch();
}

void MediaServerAutodetectionController::viewWillDisappear(bool animated) {
    QNTableViewController::viewWillDisappear(animated);
    stopSearch();
    reload();
}

void MediaServerAutodetectionController::viewWillTransitionToSize(
    ui::Size size, const std::shared_ptr<ui::TransitionCoordinator>& coordinator) {
    QNTableViewController::viewWillTransitionToSize(size, coordinator);
    auto alongside = [size](const ui::TransitionCoordinatorContext&) { BookCommon::viewWillTransitionToSize(size); };
    if (coordinator)
        coordinator->animateAlongsideTransition(alongside);
    else
        alongside(ui::TransitionCoordinatorContext{});
}

int MediaServerAutodetectionController::tableViewNumberOfRowsInSection(ui::TableView&, int) {
    if (!found_.empty()) return int(found_.size());
    return statusText().empty() ? 0 : 1;
}

std::shared_ptr<ui::TableViewCell> MediaServerAutodetectionController::tableViewCellForRowAtIndexPath(
    ui::TableView& tv, const ui::IndexPath& ip) {
    auto cell = tv.dequeueReusableCell("Cell");
    if (!cell) cell = std::make_shared<ui::TableViewCell>(ui::TableViewCellStyle::Subtitle, "Cell");
    if (ip.row >= 0 && size_t(ip.row) < found_.size()) {
        cell->textLabel()->setText(found_[size_t(ip.row)].name);
        cell->detailTextLabel()->setText(found_[size_t(ip.row)].address);
        cell->setSelectionStyle(ui::TableViewCellSelectionStyle::Default);
        cell->setAccessoryType(ui::TableViewCellAccessoryType::DisclosureIndicator);
    } else {
        cell->textLabel()->setText(statusText());
        cell->detailTextLabel()->setText("");
        cell->setSelectionStyle(ui::TableViewCellSelectionStyle::None);
        cell->setAccessoryType(ui::TableViewCellAccessoryType::None);
    }
    return cell;
}

void MediaServerAutodetectionController::tableViewDidSelectRowAtIndexPath(ui::TableView& tv,
                                                                          const ui::IndexPath& ip) {
    tv.deselectRowAtIndexPath(ip, true);
    if (ip.row < 0 || size_t(ip.row) >= found_.size()) return;
    const FoundServer server = found_[size_t(ip.row)];
    if (auto d = delegate_.lock()) d->didSelectAutodetectedServer(server.address, server.name);
}
