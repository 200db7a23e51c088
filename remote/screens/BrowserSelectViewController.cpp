#include "remote/screens/BrowserSelectViewController.h"

#include "foundation/BookCommon.h"
#include "platform/core/UserDefaults.h"
#include "platform/ui/Switch.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TableViewCell.h"
#include "platform/ui/TransitionCoordinator.h"

namespace {
std::string tr(const std::string& key) { return BookCommon::localizedStringWithOnOff(key); }

bool readFlag(const char* key) {
    return sys::UserDefaults::standard().objectForKey(key).boolValue();
}
}  // namespace

void BrowserSelectViewController::viewDidLoad() {
    ui::TableViewController::viewDidLoad();
    setTitle(tr("Browser Types"));
    loadFromFile();
}

void BrowserSelectViewController::viewWillTransitionToSize(
    ui::Size size, const std::shared_ptr<ui::TransitionCoordinator>& coordinator) {
    ui::TableViewController::viewWillTransitionToSize(size, coordinator);
    auto alongside = [size](const ui::TransitionCoordinatorContext&) { BookCommon::viewWillTransitionToSize(size); };
    if (coordinator)
        coordinator->animateAlongsideTransition(alongside);
    else
        alongside(ui::TransitionCoordinatorContext{});
}

void BrowserSelectViewController::loadFromFile() {
    isDisableLBSync_ = readFlag(kDisableLBSyncKey);
    isDisableMSBrowsing_ = readFlag(kDisableMSBrowsingKey);
    isDisableBonjour_ = readFlag(kDisableBonjourKey);
    isDisableSSDP_ = readFlag(kDisableSSDPKey);
}

void BrowserSelectViewController::SaveToFile() const {
    auto& d = sys::UserDefaults::standard();
    d.setBool(isDisableLBSync_, kDisableLBSyncKey);
    d.setBool(isDisableMSBrowsing_, kDisableMSBrowsingKey);
    d.setBool(isDisableBonjour_, kDisableBonjourKey);
    d.setBool(isDisableSSDP_, kDisableSSDPKey);
    d.synchronize();
}

void BrowserSelectViewController::onSelectLBMEdiaServer(bool on) {
    isDisableLBSync_ = !on;
    SaveToFile();
}

void BrowserSelectViewController::onSelectMSBrowsing(bool on) {
    isDisableMSBrowsing_ = !on;
    SaveToFile();
}

void BrowserSelectViewController::onSelectBonjour(bool on) {
    isDisableBonjour_ = !on;
    SaveToFile();
}

void BrowserSelectViewController::onSelectSSDP(bool on) {
    isDisableSSDP_ = !on;
    SaveToFile();
}

std::shared_ptr<ui::TableViewCell> BrowserSelectViewController::tableViewCellForRowAtIndexPath(
    ui::TableView& tv, const ui::IndexPath& ip) {
    auto cell = tv.dequeueReusableCell("Cell");
    if (!cell) cell = std::make_shared<ui::TableViewCell>(ui::TableViewCellStyle::Default, "Cell");
    cell->setSelectionStyle(ui::TableViewCellSelectionStyle::None);
    if (ip.row < 0 || ip.row > 3) return cell;
    static const char* const kTitles[] = {"Leafbright MediaServer", "Browser Service(Windows)", "Bonjour",
                                          "SSDP(UPnP)"};
    const bool disabled[] = {isDisableLBSync_, isDisableMSBrowsing_, isDisableBonjour_, isDisableSSDP_};
    cell->textLabel()->setText(tr(kTitles[ip.row]));
    auto sw = std::make_shared<ui::Switch>(ui::Rect{1, 1, 20, 20});
    sw->setOn(!disabled[ip.row]);
    const int row = ip.row;
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    sw->addAction(
        ui::ControlEventValueChanged,
        [weak, row](ui::Control& sender) {
            auto self = std::static_pointer_cast<BrowserSelectViewController>(weak.lock());
            if (!self) return;
            const bool on = static_cast<ui::Switch&>(sender).isOn();
            switch (row) {
            case 0: self->onSelectLBMEdiaServer(on); break;
            case 1: self->onSelectMSBrowsing(on); break;
            case 2: self->onSelectBonjour(on); break;
            default: self->onSelectSSDP(on); break;
            }
        },
        weak_from_this());
    cell->setAccessoryView(sw);
    return cell;
}
