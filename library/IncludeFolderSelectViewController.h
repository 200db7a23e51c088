#pragma once

#include "library/IncludeFolderSelectViewControllerDelegate.h"
#include "platform/ui/TableViewController.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class LibraryCommonToolbar;
class PopupMenuView;
class Settings;

// Lists the inner folders of a book archive (volumes, chapters) under a
// first row for the whole book, and hands the choice to its delegate. The
// folder where the user last stopped reading is highlighted; it is worked
// out again each time the screen appears, since a book opened from here may
// have moved the reading position. The screen does not close itself: the
// delegate decides what comes next. It carries the library's tool bar.
class IncludeFolderSelectViewController : public ui::TableViewController {
public:
    explicit IncludeFolderSelectViewController(ui::TableViewStyle style = ui::TableViewStyle::Plain);
    ~IncludeFolderSelectViewController() override;

    // ---- Set by the opener -----------------------------------------------------------
    const std::vector<std::string>& folderList_() const { return folderList_value_; }
    void setFolderList_(std::vector<std::string> list) { folderList_value_ = std::move(list); }
    const std::string& targetFile_() const { return targetFile_value_; }
    void setTargetFile_(const std::string& path) { targetFile_value_ = path; }
    const std::shared_ptr<Settings>& settings_() const { return settings_value_; }
    void setSettings_(std::shared_ptr<Settings> s);
    std::shared_ptr<IncludeFolderSelectViewControllerDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<IncludeFolderSelectViewControllerDelegate> d) { delegate_ = std::move(d); }

    // Index in the folder list of the folder last read, -1 when none.
    int64_t bookMarkFolder_() const { return bookMarkFolder_value_; }
    // The library's common tool bar (made when the view loads).
    LibraryCommonToolbar* toolbar() const { return toolbar_.get(); }
    PopupMenuView* popUpMenu_() const;
    // Escape closes the tool bar's popup menu first.
    std::vector<ui::KeyCommand> keyCommands() const override;

    // The title and subtitle of the row for an inner folder.
    static std::string rowTitleForFolder(const std::string& folder, bool optimize);
    static std::string rowSubtitleForFolder(const std::string& folder);

    // ---- Screen ---------------------------------------------------------------------------
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewWillTransitionToSize(ui::Size size, const std::shared_ptr<ui::TransitionCoordinator>& coordinator) override;

    // ---- Table ----------------------------------------------------------------------------
    int tableViewNumberOfRowsInSection(ui::TableView&, int section) override;
    std::shared_ptr<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView&, const ui::IndexPath&) override;
    void tableViewWillDisplayCell(ui::TableView&, ui::TableViewCell& cell, const ui::IndexPath& ip) override;
    void tableViewDidSelectRowAtIndexPath(ui::TableView&, const ui::IndexPath& ip) override;

private:
    void readBookMarkFolder();

    std::vector<std::string> folderList_value_;
    std::string targetFile_value_;
    std::shared_ptr<Settings> settings_value_;
    std::weak_ptr<IncludeFolderSelectViewControllerDelegate> delegate_;
    int64_t bookMarkFolder_value_ = -1;
    std::shared_ptr<LibraryCommonToolbar> toolbar_;
};
