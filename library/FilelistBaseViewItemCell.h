#pragma once

#include "library/FilelistBaseViewItemBook.h"
#include "platform/ui/TableViewCell.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class FilelistBaseViewController;

// The common base of a list row and a bookshelf row: one slot per item it
// shows (one in the list, a shelf's worth on the bookshelf) and the list's
// modes for this filling. The controller is not owned.
class FilelistBaseViewItemCell : public ui::TableViewCell {
public:
    explicit FilelistBaseViewItemCell(const std::string& reuseIdentifier);

    // Builds the slots: one, or `slots` for a shelf.
    virtual void setupCellViews(FilelistBaseViewController* controller);
    virtual void updateCellItem(bool createThumbs) { (void)createThumbs; }
    virtual void updateCellThumbs(bool createThumbs) { (void)createThumbs; }
    virtual void modeChangeWithAnimation() {}

    std::vector<FilelistBaseViewItemBook>& book() { return book_; }
    const std::vector<FilelistBaseViewItemBook>& book() const { return book_; }
    FilelistBaseViewController* fileSelectViewController() const { return controller_; }

    bool isEditMode() const { return isEditMode_; }
    void setIsEditMode(bool v) { isEditMode_ = v; }
    bool isSelectDownloadMode() const { return isSelectDownloadMode_; }
    void setIsSelectDownloadMode(bool v) { isSelectDownloadMode_ = v; }
    bool isStreamingMode() const { return isStreamingMode_; }
    void setIsStreamingMode(bool v) { isStreamingMode_ = v; }
    bool isDateLabelBookmarkMode() const { return isDateLabelBookmarkMode_; }
    void setIsDateLabelBookmarkMode(bool v) { isDateLabelBookmarkMode_ = v; }
    int64_t lineNo() const { return lineNo_; }
    void setLineNo(int64_t v) { lineNo_ = v; }

protected:
    void makeSlots(size_t count);
    FilelistBaseViewController* controller_ = nullptr;

private:
    std::vector<FilelistBaseViewItemBook> book_;
    bool isEditMode_ = false;
    bool isSelectDownloadMode_ = false;
    bool isStreamingMode_ = false;
    bool isDateLabelBookmarkMode_ = false;
    int64_t lineNo_ = 0;
};
