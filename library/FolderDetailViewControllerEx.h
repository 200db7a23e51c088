#pragma once

#include "foundation/ui/TextInputViewDelegate.h"
#include "library/FolderDetailViewControllerExDelegate.h"
#include "platform/ui/TableViewController.h"

#include <memory>
#include <optional>
#include <string>

namespace ui {
class TextField;
}

// "Folder info" of one local folder: its name, the passcode lock (with the
// biometric unlock where the device has one) and the backup exclusion. Every
// change is saved at once. Locking renames the folder to ".lock_" + name at
// once; the lock record turns the lock on only once a passcode exists.
class FolderDetailViewControllerEx : public ui::TableViewController, public TextInputViewDelegate {
public:
    static constexpr int kTagLockSwitch = 1001;
    static constexpr int kTagPasscodeField = 1002;
    static constexpr int kTagTouchIDSwitch = 2001;
    static constexpr int kTagBackupSwitch = 2;
    // Marks "nothing typed: keep the stored hash".
    static constexpr const char* kKeepHash = "hash";

    explicit FolderDetailViewControllerEx(ui::TableViewStyle style = ui::TableViewStyle::Grouped);

    const std::string& directoryPath_() const { return directoryPath_value_; }
    void setDirectoryPath_(const std::string& p) { directoryPath_value_ = p; }
    void setDelegate(std::weak_ptr<FolderDetailViewControllerExDelegate> d) { delegate_ = std::move(d); }
    bool isScanDirectory_() const { return isScanDirectory_value_; }
    void setIsScanDirectory_(bool on) { isScanDirectory_value_ = on; }

    bool isPasscodeLock() const { return isPasscodeLock_; }
    bool isUnlockWithTouchID() const { return isUnlockWithTouchID_; }
    bool isEnableTouchID() const { return isEnableTouchID_; }
    bool isEnableBackupSwitch() const { return isEnableBackupSwitch_; }
    // The folder's name as shown (without ".lock_").
    std::string displayName() const;
    // `text` adjusted to the lock state: ".lock_" added when locking and
    // missing, removed when unlocking and present.
    static std::string nameForLockState(const std::string& text, bool isLock);

    // ---- Handlers -----------------------------------------------------------------------
    void passcodeFlagChange(bool on);
    void onInputPassCode(const std::string& text);
    void touchIdFlagChange(bool on);
    void backUpFlagChange(bool switchOn);
    // Renames to the lock state's name and writes the record; false when
    // the rename was refused (the alert is shown, nothing written).
    bool onSetPassCode();
    bool onFinishTextInput(TextInputViewController& sender, const std::string& editTo,
                           const std::string& original) override;

    // ---- Screen ---------------------------------------------------------------------------
    void viewDidLoad() override;
    void viewWillTransitionToSize(ui::Size size, const std::shared_ptr<ui::TransitionCoordinator>& coordinator) override;
    int numberOfSectionsInTableView(ui::TableView&) override;
    int tableViewNumberOfRowsInSection(ui::TableView&, int section) override;
    std::shared_ptr<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView&, const ui::IndexPath&) override;
    void tableViewDidSelectRowAtIndexPath(ui::TableView&, const ui::IndexPath& ip) override;

private:
    void showRenameError();

    std::string directoryPath_value_;
    std::weak_ptr<FolderDetailViewControllerExDelegate> delegate_;
    bool isScanDirectory_value_ = false;
    bool isDoBackup_ = true;
    bool isPasscodeLock_ = false;
    std::string passCode_ = kKeepHash;
    std::optional<std::string> passCodeHash_;
    bool isTempDirectry_ = false;
    bool isEnableTouchID_ = false;
    bool isEnableFaceID_ = false;
    bool isUnlockWithTouchID_ = false;
    bool isEnableBackupSwitch_ = true;
    std::shared_ptr<ui::TextField> passcodeField_;
};
