#pragma once

#include "engine/BookPage.h"
#include "platform/ui/Geometry.h"
#include "platform/ui/ImageView.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

// The links of a PDF view on the reading screen: the link under a tap, and
// the highlight over every link of the view while the user is asked whether
// to open one. Link rectangles are in pixels of the view's composed image;
// the image view may show that image at any size (a PDF page drawn larger
// than the display for sharpness is shown at the display's size), so they
// are mapped through where the image lands in the view.
class PdfLinkViews {
public:
    // The address of the first link of `page` under `point`, given in
    // `imageView`'s own coordinates; nothing for a view without links.
    static std::optional<std::string> linkAtPoint(const BookPage* page, const ui::ImageView* imageView,
                                                  ui::Point point);
    // A link's rectangle in `imageView`'s coordinates.
    static ui::Rect frameOfLink(const BookPage& page, const ui::ImageView& imageView, int index);

    // Adds a blue view over every link of `page` to `imageView` and fades
    // them in; replaces any shown before.
    void show(const BookPage* page, ui::ImageView* imageView);
    // Takes every highlight away.
    void removeAll();
    const std::vector<std::shared_ptr<ui::View>>& views() const { return linkDrawViewArray_; }

private:
    std::vector<std::shared_ptr<ui::View>> linkDrawViewArray_;
};
