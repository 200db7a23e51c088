#include "library/FilelistBaseViewDummyCell.h"

#include "foundation/ui/ColorDefine.h"
#include "library/BookshelfShelfView.h"
#include "platform/ui/Screen.h"

FilelistBaseViewDummyCell::FilelistBaseViewDummyCell(const std::string& reuseIdentifier)
    : ui::TableViewCell(ui::TableViewCellStyle::Default, reuseIdentifier) {
    setSelectionStyle(ui::TableViewCellSelectionStyle::None);
}

void FilelistBaseViewDummyCell::setupCellViews(FilelistBaseViewController* controller) {
    controller_ = controller;
    bgImageView_ = std::make_shared<BookshelfShelfView>();
    contentView()->addSubview(bgImageView_);
    separator_ = std::make_shared<ui::View>();
    separator_->setBackgroundColor(ColorDefine::lightGray());
    addSubview(separator_);
}

void FilelistBaseViewDummyCell::setFileListMode(int mode) {
    fileListMode_ = mode;
    setNeedsLayout();
}

void FilelistBaseViewDummyCell::layoutSubviews() {
    ui::TableViewCell::layoutSubviews();
    if (!separator_) return;
    const ui::Rect b = bounds();
    const double px = 1.0 / ui::Screen::main().scale();
    separator_->setFrame({10, b.height() - px, b.width() - 10, px});
    const bool shelf = fileListMode_ == 1;
    bgImageView_->setHidden(!shelf);
    separator_->setHidden(shelf);
    if (shelf) bgImageView_->setFrame({-contentView()->frame().x(), 0, b.width(), b.height()});
}
