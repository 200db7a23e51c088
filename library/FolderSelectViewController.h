#pragma once

#include "library/FolderSelectViewControllerDelegate.h"
#include "library/PassCodeRequetDelegate.h"
#include "platform/ui/TableViewController.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class Settings;

// One level of a walk through the local folder tree, ending in the choice of
// a folder (the destination of a move, a folder to share). Each sub-folder
// opens a deeper level pushed on the navigation controller; locked folders
// are entered only after their passcode. The tool bar's two buttons end the
// walk through the delegate.
class FolderSelectViewController : public ui::TableViewController,
                                   public PassCodeRequetDelegate,
                                   public PassCodeInputViewExDelegate {
public:
    explicit FolderSelectViewController(ui::TableViewStyle style = ui::TableViewStyle::Plain);

    // ---- Set by the opener (handed on to deeper levels) --------------------------------
    const std::optional<std::string>& basePath_() const { return basePath_value_; }
    void setBasePath_(std::optional<std::string> p) { basePath_value_ = std::move(p); }
    const std::string& selectFolderText_() const { return selectFolderText_value_; }
    void setSelectFolderText_(const std::string& t) { selectFolderText_value_ = t; }
    void setDelegate(std::weak_ptr<FolderSelectViewControllerDelegate> d) { delegate_ = std::move(d); }
    bool isRoot_() const { return isRoot_value_; }
    void setIsRoot_(bool on) { isRoot_value_ = on; }
    void setSettings_(std::shared_ptr<Settings> s) { settings_value_ = std::move(s); }
    int64_t userTag() const { return userTag_; }
    void setUserTag(int64_t t) { userTag_ = t; }

    // The sub-folder names shown, as on disk (locked ones keep ".lock_").
    const std::vector<std::string>& filelistArray_() const { return filelistArray_value_; }
    // The sub-folders of `folder` a picker lists: folders only, no hidden
    // names but locked ones, no ".SpecialDir" at the first level, no "Inbox"
    // in the books root; in natural order. Links are not followed.
    static std::vector<std::string> readFolderNames(const std::string& folder, bool isRoot);
    bool hasExtraRow() const;

    void onChoose();
    void onCancel();
    // Opens `folder` as a deeper level.
    void moveToFolder(const std::string& folder);

    // ---- Passcode answers ---------------------------------------------------------------
    void finishRequestPasscode(const PassCodeTarget& request, bool isSuccess) override;
    void cancelRequestPasscode(const PassCodeTarget& request) override;
    void passCodeInputComplete(int64_t actionID, const std::string& path, const std::string& pathFromBooks,
                               const std::string& passCode) override;
    void passCodeInputCancel(int64_t actionID) override;

    // ---- Screen ---------------------------------------------------------------------------
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillTransitionToSize(ui::Size size, const std::shared_ptr<ui::TransitionCoordinator>& coordinator) override;
    int tableViewNumberOfRowsInSection(ui::TableView&, int section) override;
    std::shared_ptr<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView&, const ui::IndexPath&) override;
    void tableViewDidSelectRowAtIndexPath(ui::TableView&, const ui::IndexPath& ip) override;

private:
    std::optional<std::string> basePath_value_;
    std::string selectFolderText_value_;
    std::weak_ptr<FolderSelectViewControllerDelegate> delegate_;
    bool isRoot_value_ = false;
    std::shared_ptr<Settings> settings_value_;
    int64_t userTag_ = 0;
    std::vector<std::string> filelistArray_value_;
};
