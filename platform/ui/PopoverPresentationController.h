#pragma once

#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Geometry.h"

#include <memory>

namespace ui {

class View;

enum PopoverArrowDirection : unsigned {
    PopoverArrowDirectionUp = 1u << 0,
    PopoverArrowDirectionDown = 1u << 1,
    PopoverArrowDirectionLeft = 1u << 2,
    PopoverArrowDirectionRight = 1u << 3,
    PopoverArrowDirectionAny = 0xF,
};

// Where a popover points from: a bar button item, or a rectangle of a view.
// A presentation in the popover style places the screen next to its anchor;
// without an anchor it is centred on the window.
class PopoverPresentationController {
public:
    BarButtonItem::Ref barButtonItem() const { return item_.lock(); }
    void setBarButtonItem(const BarButtonItem::Ref& item) { item_ = item; }
    std::shared_ptr<View> sourceView() const { return sourceView_.lock(); }
    void setSourceView(const std::shared_ptr<View>& v) { sourceView_ = v; }
    Rect sourceRect() const { return sourceRect_; }
    void setSourceRect(const Rect& r) { sourceRect_ = r; }
    unsigned permittedArrowDirections() const { return arrows_; }
    void setPermittedArrowDirections(unsigned d) { arrows_ = d; }

    bool hasAnchor() const { return barButtonItem() != nullptr || sourceView() != nullptr; }
    // The anchor in window coordinates (Rect::null() without one).
    Rect anchorInWindow() const;
    // Where a popover of `size` goes in `windowBounds`: below the anchor when
    // it fits, else above, else beside; kept inside the window's margins.
    Rect frameFor(Size size, const Rect& windowBounds) const;

private:
    std::weak_ptr<BarButtonItem> item_;
    std::weak_ptr<View> sourceView_;
    Rect sourceRect_;
    unsigned arrows_ = PopoverArrowDirectionAny;
};

}  // namespace ui
