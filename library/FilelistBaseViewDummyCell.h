#pragma once

#include "platform/ui/ImageView.h"
#include "platform/ui/TableViewCell.h"

#include <memory>

class FilelistBaseViewController;

// A filler row below the last item, so that a short list (or an empty
// shelf) still fills the screen.
class FilelistBaseViewDummyCell : public ui::TableViewCell {
public:
    explicit FilelistBaseViewDummyCell(const std::string& reuseIdentifier);

    void setupCellViews(FilelistBaseViewController* controller);
    int fileListMode() const { return fileListMode_; }
    void setFileListMode(int mode);
    ui::View* separator() const { return separator_.get(); }
    ui::View* bgImageView() const { return bgImageView_.get(); }
    void layoutSubviews() override;

private:
    FilelistBaseViewController* controller_ = nullptr;
    std::shared_ptr<ui::View> separator_;
    std::shared_ptr<ui::View> bgImageView_;
    int fileListMode_ = 0;
};
