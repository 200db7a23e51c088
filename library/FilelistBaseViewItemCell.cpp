#include "library/FilelistBaseViewItemCell.h"

FilelistBaseViewItemCell::FilelistBaseViewItemCell(const std::string& reuseIdentifier)
    : ui::TableViewCell(ui::TableViewCellStyle::Default, reuseIdentifier) {}

void FilelistBaseViewItemCell::setupCellViews(FilelistBaseViewController* controller) {
    controller_ = controller;
    makeSlots(1);
}

void FilelistBaseViewItemCell::makeSlots(size_t count) { book_.assign(count, FilelistBaseViewItemBook()); }
