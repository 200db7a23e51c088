#pragma once

#include "foundation/ui/QNAlertViewDelegate.h"
#include "platform/ui/TableViewController.h"
#include "viewer/BookMarkViewControllerDelegate.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class BookReaderEx;

// The list of a book's bookmarks, by page: a "Done" row (or a title bar with
// "Done"), "Delete All Bookmarks", then one row per bookmark whose page the
// book still has.
class BookMarkViewController : public ui::TableViewController, public QNAlertViewDelegate {
public:
    BookMarkViewController() : ui::TableViewController(ui::TableViewStyle::Grouped) {}

    void setFileName_(std::string f) { fileName = std::move(f); }
    const std::string& fileName_() const { return fileName; }
    void setBookReader_(std::shared_ptr<BookReaderEx> r) { bookReader_ = std::move(r); }
    void setIsCurlCiew_(bool on) { isCurlCiew_ = on; }
    void setDelegate(BookMarkViewControllerDelegate* d) { delegate_ = d; }
    // Shown under a title bar of its own (a desktop, where the other screens
    // have one): the bar is titled "Bookmarks" and holds "Done", and the
    // list leaves out its own caption and "Done" row.
    void setShowsTitleBar(bool on) { showsTitleBar_ = on; }
    bool showsTitleBar() const { return showsTitleBar_; }

    void viewDidLoad() override;
    // A turn of the screen: the rotation observers are told alongside, and
    // the list is laid out again for the new size.
    void viewWillTransitionToSize(ui::Size size, const std::shared_ptr<ui::TransitionCoordinator>& coordinator) override;
    // Reads the index again (done by viewDidLoad).
    void loadBookmarks();

    int numberOfSectionsInTableView(ui::TableView&) override { return 3; }
    int tableViewNumberOfRowsInSection(ui::TableView&, int section) override;
    std::optional<std::string> tableViewTitleForHeaderInSection(ui::TableView&, int section) override;
    std::shared_ptr<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView&, const ui::IndexPath&) override;
    double tableViewHeightForRowAtIndexPath(ui::TableView&, const ui::IndexPath&) override;
    double tableViewHeightForHeaderInSection(ui::TableView& tv, int section) override;
    double tableViewHeightForFooterInSection(ui::TableView& tv, int section) override;
    void tableViewDidSelectRowAtIndexPath(ui::TableView&, const ui::IndexPath&) override;
    bool tableViewCanEditRowAtIndexPath(ui::TableView&, const ui::IndexPath& ip) override { return ip.section == 2; }
    bool tableViewCommitsEditingStyle(ui::TableView&) override { return true; }
    ui::TableViewCellEditingStyle tableViewEditingStyleForRowAtIndexPath(ui::TableView&, const ui::IndexPath&) override;
    void tableViewCommitEditingStyle(ui::TableView&, ui::TableViewCellEditingStyle style,
                                     const ui::IndexPath& indexPath) override;
    void alertViewClickedButtonAtIndex(QNAlertView& alert, int64_t buttonIndex) override;

    // Deletes every bookmark of the book, thumbnails and index file.
    void deleteAll();
    void onBtnDone();
    // Escape leaves as "Done" does.
    std::vector<ui::KeyCommand> keyCommands() const override;
    void closeWithoutChoosing();

    // The rows as listed: page, id and display name, sorted by page.
    const std::vector<int32_t>& pageNoListArray() const { return pageNoListArray_; }
    const std::vector<uint32_t>& pageIDListArray() const { return pageIDListArray_; }
    const std::vector<std::string>& pageFilenameListArray() const { return pageFilenameListArray_; }

private:
    std::string indexFile() const;

    std::string fileName;
    std::shared_ptr<BookReaderEx> bookReader_;
    bool isCurlCiew_ = false;
    bool showsTitleBar_ = false;
    BookMarkViewControllerDelegate* delegate_ = nullptr;
    std::vector<std::vector<uint8_t>> bookMarkIndexArray_;
    std::vector<int32_t> pageNoListArray_;
    std::vector<uint32_t> pageIDListArray_;
    std::vector<std::string> pageFilenameListArray_;
};
