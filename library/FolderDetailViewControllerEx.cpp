#include "library/FolderDetailViewControllerEx.h"

#include "foundation/BookCommon.h"
#include "foundation/FolderLockInfo.h"
#include "foundation/ui/ColorDefine.h"
#include "foundation/ui/QNAlertView.h"
#include "foundation/ui/TextInputViewController.h"
#include "library/LocalFilelistViewController.h"
#include "platform/core/Path.h"
#include "platform/ui/Biometrics.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Switch.h"
#include "platform/ui/TextField.h"
#include "platform/ui/TransitionCoordinator.h"

namespace {

constexpr const char* kCellIdentifier = "Cell";
constexpr const char* kLockPrefix = ".lock_";

std::string tr(const char* key) { return BookCommon::localizedStringWithOnOff(key); }

bool hasLockPrefix(const std::string& name) { return name.size() > 6 && name.compare(0, 6, kLockPrefix) == 0; }

}  // namespace

FolderDetailViewControllerEx::FolderDetailViewControllerEx(ui::TableViewStyle style) : ui::TableViewController(style) {}

std::string FolderDetailViewControllerEx::displayName() const {
    const std::string name = sys::Path::lastPathComponent(directoryPath_value_);
    return hasLockPrefix(name) ? name.substr(6) : name;
}

std::string FolderDetailViewControllerEx::nameForLockState(const std::string& text, bool isLock) {
    if (isLock && !hasLockPrefix(text)) return kLockPrefix + text;
    if (!isLock && hasLockPrefix(text)) return text.substr(6);
    return text;
}

void FolderDetailViewControllerEx::viewDidLoad() {
    ui::TableViewController::viewDidLoad();
    isEnableTouchID_ = BookCommon::canEvaluateBiometrics();
    auto bio = ui::Biometrics::shared();
    isEnableFaceID_ = isEnableTouchID_ && bio && bio->biometryType() == sys::DeviceProfile::Biometry::FaceID;
    isDoBackup_ = BookCommon::getBackupFlag(directoryPath_value_);
    std::string hash;
    bool touchID = false;
    isPasscodeLock_ = BookCommon::isFolderLocked(directoryPath_value_, &hash, &touchID);
    if (isPasscodeLock_) passCodeHash_ = hash;
    isUnlockWithTouchID_ = isPasscodeLock_ && touchID;
    passCode_ = kKeepHash;
    isTempDirectry_ = BookCommon::isTempBooksSaveDirectory(directoryPath_value_);
    setTitle(tr("Folder info"));
    isEnableBackupSwitch_ = !isTempDirectry_ && !isScanDirectory_value_;
}

void FolderDetailViewControllerEx::viewWillTransitionToSize(ui::Size size,
                                                            const std::shared_ptr<ui::TransitionCoordinator>& c) {
    ui::TableViewController::viewWillTransitionToSize(size, c);
    auto alongside = [size](const ui::TransitionCoordinatorContext&) { BookCommon::viewWillTransitionToSize(size); };
    if (c)
        c->animateAlongsideTransition(alongside);
    else
        alongside(ui::TransitionCoordinatorContext{});
}

// ---- Table --------------------------------------------------------------------------------------

int FolderDetailViewControllerEx::numberOfSectionsInTableView(ui::TableView&) { return isEnableBackupSwitch_ ? 3 : 2; }

int FolderDetailViewControllerEx::tableViewNumberOfRowsInSection(ui::TableView&, int section) {
    if (section == 1) return isEnableTouchID_ ? 3 : 2;
    return 1;
}

std::shared_ptr<ui::TableViewCell> FolderDetailViewControllerEx::tableViewCellForRowAtIndexPath(
    ui::TableView& tv, const ui::IndexPath& ip) {
    auto cell = std::make_shared<ui::TableViewCell>(ui::TableViewCellStyle::Default, kCellIdentifier);
    (void)tv;
    ui::Label* title = cell->textLabel();
    title->setFont(gfx::Font::system(14));
    title->setLineBreakMode(ui::LineBreakMode::TruncateMiddle);
    cell->setSelectionStyle(ui::TableViewCellSelectionStyle::None);
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    auto self = [weak] { return std::static_pointer_cast<FolderDetailViewControllerEx>(weak.lock()); };
    auto makeSwitch = [&](int tag, bool on, std::function<void(bool)> action) {
        auto sw = std::make_shared<ui::Switch>();
        sw->setTag(tag);
        sw->setOn(on);
        sw->addAction(ui::ControlEventValueChanged,
                      [action](ui::Control& c) { action(static_cast<ui::Switch&>(c).isOn()); });
        cell->setAccessoryView(sw);
        return sw;
    };
    if (ip.section == 0) {
        title->setText(displayName());
        cell->setSelectionStyle(ui::TableViewCellSelectionStyle::Blue);
        cell->setAccessoryType(ui::TableViewCellAccessoryType::DisclosureIndicator);
    } else if (ip.section == 1 && ip.row == 0) {
        title->setText(tr("Passcode Lock"));
        auto sw = makeSwitch(kTagLockSwitch, isPasscodeLock_, [self](bool on) {
            if (auto s = self()) s->passcodeFlagChange(on);
        });
        sw->setOnTintColor(ColorDefine::redTextColor());
    } else if (ip.section == 1 && ip.row == 1) {
        title->setText(tr("Passcode (Required)"));
        if (passcodeField_ && passcodeField_->superview()) passcodeField_->removeFromSuperview();
        passcodeField_ = std::make_shared<ui::TextField>();
        passcodeField_->setTag(kTagPasscodeField);
        passcodeField_->setFrame({0, 0, 50, 20});
        passcodeField_->setSecureTextEntry(true);
        passcodeField_->setKeyboardType(4);  // number pad
        passcodeField_->setPlaceholder("-");
        passcodeField_->setText(passCode_);
        passcodeField_->addAction(ui::ControlEventEditingDidBegin,
                                  [](ui::Control& c) { static_cast<ui::TextField&>(c).setText(""); });
        passcodeField_->addAction(ui::ControlEventEditingChanged, [self](ui::Control& c) {
            if (auto s = self()) s->onInputPassCode(static_cast<ui::TextField&>(c).text());
        });
        cell->setAccessoryView(passcodeField_);
    } else if (ip.section == 1 && ip.row == 2) {
        title->setText(tr(isEnableFaceID_ ? "Unlock with Face ID" : "Unlock with Touch ID"));
        makeSwitch(kTagTouchIDSwitch, isUnlockWithTouchID_, [self](bool on) {
            if (auto s = self()) s->touchIdFlagChange(on);
        });
    } else {
        title->setText(tr("Do Not Back Up"));
        makeSwitch(kTagBackupSwitch, !isDoBackup_, [self](bool on) {
            if (auto s = self()) s->backUpFlagChange(on);
        });
    }
    return cell;
}

void FolderDetailViewControllerEx::tableViewDidSelectRowAtIndexPath(ui::TableView& tv, const ui::IndexPath& ip) {
    tv.deselectRowAtIndexPath(ip, true);
    if (ip.section != 0 || ip.row != 0) return;
    auto input = std::make_shared<TextInputViewController>();
    input->setDelegate(std::static_pointer_cast<FolderDetailViewControllerEx>(shared_from_this()));
    input->setKeybordType_(0);
    input->setTextLabel_(tr("Folder Name"));
    input->setTextToEdit_(displayName());
    if (auto* nav = navigationController()) nav->pushViewController(input, true);
}

// ---- Handlers -----------------------------------------------------------------------------------

void FolderDetailViewControllerEx::passcodeFlagChange(bool on) {
    isPasscodeLock_ = on;
    if (on && passcodeField_) passcodeField_->becomeFirstResponder();
    onSetPassCode();
}

void FolderDetailViewControllerEx::onInputPassCode(const std::string& text) {
    if (text.size() < 4) return;
    if (passcodeField_) passcodeField_->resignFirstResponder();
    if (auto* sw = dynamic_cast<ui::Switch*>(tableView()->viewWithTag(kTagLockSwitch))) sw->setOn(true, true);
    isPasscodeLock_ = true;
    passCode_ = text;
    onSetPassCode();
}

void FolderDetailViewControllerEx::touchIdFlagChange(bool on) {
    isUnlockWithTouchID_ = on;
    onSetPassCode();
}

void FolderDetailViewControllerEx::backUpFlagChange(bool switchOn) {
    isDoBackup_ = !switchOn;
    BookCommon::setBackupFlag(directoryPath_value_, isDoBackup_);
}

void FolderDetailViewControllerEx::showRenameError() {
    auto alert = std::make_shared<QNAlertView>("", tr("Error renaming folder. Invalid name or locked folder."),
                                               std::weak_ptr<QNAlertViewDelegate>(), tr("OK"),
                                               std::vector<std::string>{});
    alert->show();
}

bool FolderDetailViewControllerEx::onSetPassCode() {
    auto keep = shared_from_this();
    bool lock = isPasscodeLock_;
    std::string hash;
    if (passCode_ == kKeepHash) {
        if (passCodeHash_) {
            hash = *passCodeHash_;
        } else {
            lock = false;  // nothing to unlock with: the record stays unlocked
        }
    } else {
        hash = BookCommon::passcodeToHash(passCode_);
    }
    if (auto newPath = BookCommon::getNewNameFolderForLock(directoryPath_value_, isPasscodeLock_)) {
        auto d = delegate_.lock();
        if (!d || !d->changeDirectoryName(sys::Path::lastPathComponent(*newPath))) {
            showRenameError();
            return false;
        }
        directoryPath_value_ = *newPath;
    }
    FolderLockInfo info = FolderLockInfo::fromArray(
        {sys::PlistValue(int64_t(lock ? 1 : 0)), sys::PlistValue(std::string(FolderLockInfo::kFixedText)),
         sys::PlistValue(hash), sys::PlistValue(isUnlockWithTouchID_)});
    info.writeToFolder(directoryPath_value_);
    if (auto d = delegate_.lock()) d->changePasscodeSetting(directoryPath_value_);
    // Only the name row changes: a reload would take the passcode field
    // being typed into away from under the keyboard.
    if (isViewLoaded())
        if (ui::TableViewCell* cell = tableView()->cellForRowAtIndexPath({0, 0})) cell->textLabel()->setText(displayName());
    return true;
}

bool FolderDetailViewControllerEx::onFinishTextInput(TextInputViewController&, const std::string& editTo,
                                                     const std::string&) {
    if (editTo.empty()) return true;
    auto keep = shared_from_this();
    const std::string name = nameForLockState(editTo, isPasscodeLock_);
    auto d = delegate_.lock();
    if (!d || !d->changeDirectoryName(name)) {
        showRenameError();
        return false;
    }
    directoryPath_value_ =
        sys::Path::stringByAppendingPathComponent(sys::Path::stringByDeletingLastPathComponent(directoryPath_value_), name);
    if (isViewLoaded()) tableView()->reloadData();
    LocalFilelistViewController::setNeedUpdateFlag(navigationController());
    return true;
}
