#pragma once

#include "platform/ui/View.h"

#include <memory>
#include <vector>

class Settings;

// Extra shelves drawn above the first and below the last row of the
// bookshelf, so that pulling the list past either end still shows shelves
// rather than an empty background. The pictures are made again only when
// the table's width changes.
class BookshelfTopBottomAppendView : public ui::View {
public:
    BookshelfTopBottomAppendView(double cellHeight, int cellCount);

    double cellHeight() const { return cellHeight_; }
    int cellCount() const { return cellCount_; }
    const std::vector<std::shared_ptr<ui::View>>& cellImages() const { return cellImages_; }
    double loadedImageWidth() const { return loadedImageWidth_; }
    const std::shared_ptr<Settings>& settings() const { return settings_; }
    void setSettings(std::shared_ptr<Settings> s) { settings_ = std::move(s); }

    // `rect`'s width is the table's; nothing happens while it stays the same.
    void updateBgImage(const ui::Rect& rect);
    // How many times the pictures were made (for tests).
    int imageLoadCount() const { return imageLoadCount_; }

    void layoutSubviews() override;

private:
    std::shared_ptr<Settings> settings_;
    double cellHeight_;
    int cellCount_;
    std::vector<std::shared_ptr<ui::View>> cellImages_;
    double loadedImageWidth_ = 0;
    int imageLoadCount_ = 0;
};
