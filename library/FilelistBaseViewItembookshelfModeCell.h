#pragma once

#include "library/BookshelfBookButton.h"
#include "library/FilelistBaseViewItemCell.h"

#include <array>
#include <memory>

class Settings;

// A row of the bookshelf presentation: one shelf with up to eight covers
// side by side. The row always owns eight covers and hides the surplus, so
// a turn of the device needs no new views.
class FilelistBaseViewItembookshelfModeCell : public FilelistBaseViewItemCell {
public:
    static constexpr int kMaxNumInBookshelfLine = 8;

    explicit FilelistBaseViewItembookshelfModeCell(const std::string& reuseIdentifier);

    void setupCellViews(FilelistBaseViewController* controller) override;
    void updateCellItem(bool createThumbs) override;
    void updateCellThumbs(bool createThumbs) override;
    void modeChangeWithAnimation() override;
    void setSubViewsPos();
    void layoutSubviews() override;

    ui::View* bgImageView() const { return bgImageView_.get(); }
    BookshelfBookButton* button(int i) const { return buttons_[size_t(i)].get(); }

    static int getMaxNumInBookshelfLine() { return kMaxNumInBookshelfLine; }
    // Covers per shelf for the key window's width.
    static int getNumInBookshelfLine(bool landscape);
    // The same for a given usable width (pads subtract the side insets first).
    static int numInBookshelfLineForWidth(double width, bool pad, bool landscape);
    static ui::Point getPointOfBookshelf(int index, bool landscape);
    static ui::Size coverSize();

private:
    void fillSlot(int i, bool createThumbs, bool thumbsOnly);

    std::shared_ptr<Settings> settings_;
    std::shared_ptr<ui::View> bgImageView_;
    std::array<std::shared_ptr<BookshelfBookButton>, kMaxNumInBookshelfLine> buttons_;
};
