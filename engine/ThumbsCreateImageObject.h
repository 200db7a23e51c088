#pragma once

#include "foundation/FilelistItem.h"
#include "platform/graphics/Image.h"

#include <memory>
#include <optional>
#include <string>

// One request of the thumbnail maker's queue, or one answer to a list cell:
// the item it is for and, when known, its cover and the title of the page
// the cover was made from. Made whole and never changed afterwards, so the
// worker and the lists may share it.
class ThumbsCreateImageObject {
public:
    explicit ThumbsCreateImageObject(std::shared_ptr<FilelistItem> item, gfx::ImageRef image = nullptr,
                                     std::optional<std::string> filenameInArchive = std::nullopt);

    const gfx::ImageRef& image() const { return image_; }
    const std::optional<std::string>& filenameInArchive() const { return filenameInArchive_; }
    const std::shared_ptr<FilelistItem>& item() const { return item_; }

private:
    std::shared_ptr<FilelistItem> item_;
    gfx::ImageRef image_;
    std::optional<std::string> filenameInArchive_;
};
