#pragma once

#include "engine/ThumbsCreate.h"
#include "foundation/FilelistItem.h"

#include <memory>
#include <optional>

// One slot of a list row: the item it shows (none past the end of the
// list) and the state the list gives it for this filling.
class FilelistBaseViewItemBook {
public:
    const std::shared_ptr<FilelistItem>& item() const { return item_; }
    void updateBookItem(std::shared_ptr<FilelistItem> item) { item_ = std::move(item); }
    const std::shared_ptr<ThumbsCreateImageObject>& thumbs() const { return thumbs_; }
    void setThumbs(std::shared_ptr<ThumbsCreateImageObject> t) { thumbs_ = std::move(t); }
    bool isInvalidItem() const { return isInvalidItem_; }
    void setIsInvalidItem(bool v) { isInvalidItem_ = v; }
    bool isSelected() const { return isSelected_; }
    void setIsSelected(bool v) { isSelected_ = v; }
    bool isCanSelected() const { return isCanSelected_; }
    void setIsCanSelected(bool v) { isCanSelected_ = v; }
    bool isEnableDetailButton() const { return isEnableDetailButton_; }
    void setIsEnableDetailButton(bool v) { isEnableDetailButton_ = v; }

private:
    std::shared_ptr<FilelistItem> item_;
    std::shared_ptr<ThumbsCreateImageObject> thumbs_;
    bool isInvalidItem_ = true;
    bool isSelected_ = false;
    bool isCanSelected_ = false;
    bool isEnableDetailButton_ = false;
};
