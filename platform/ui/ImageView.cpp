#include "platform/ui/ImageView.h"

#include <algorithm>

namespace ui {

ImageView::ImageView() { setUserInteractionEnabled(false); }

ImageView::ImageView(const Rect& frame) : View(frame) { setUserInteractionEnabled(false); }

ImageView::ImageView(ImageRef image) : image_(std::move(image)) {
    setUserInteractionEnabled(false);
    if (image_) setBounds(Rect(0, 0, image_->size().width, image_->size().height));
}

void ImageView::setImage(ImageRef image) {
    if (image == image_) return;
    image_ = std::move(image);
    setNeedsDisplay();
}

void ImageView::setDimmed(bool d) {
    dimmed_ = d;
    setNeedsDisplay();
}

Size ImageView::sizeThatFits(Size) const { return image_ ? image_->size() : Size{0, 0}; }

Rect ImageView::imageRect() const {
    Rect b = bounds();
    if (!image_) return b;
    Size is = image_->size();
    if (!(is.width > 0) || !(is.height > 0)) return b;
    double x = b.x(), y = b.y();
    switch (contentMode()) {
    case ContentMode::ScaleToFill:
    case ContentMode::Redraw:
        return b;
    case ContentMode::ScaleAspectFit:
    case ContentMode::ScaleAspectFill: {
        double sx = b.width() / is.width, sy = b.height() / is.height;
        double s = contentMode() == ContentMode::ScaleAspectFit ? std::min(sx, sy) : std::max(sx, sy);
        double w = is.width * s, h = is.height * s;
        return Rect(x + (b.width() - w) / 2, y + (b.height() - h) / 2, w, h);
    }
    default:
        break;
    }
    double cx = x + (b.width() - is.width) / 2, cy = y + (b.height() - is.height) / 2;
    double left = x, right = x + b.width() - is.width, top = y, bottom = y + b.height() - is.height;
    switch (contentMode()) {
    case ContentMode::Center: return Rect(cx, cy, is.width, is.height);
    case ContentMode::Top: return Rect(cx, top, is.width, is.height);
    case ContentMode::Bottom: return Rect(cx, bottom, is.width, is.height);
    case ContentMode::Left: return Rect(left, cy, is.width, is.height);
    case ContentMode::Right: return Rect(right, cy, is.width, is.height);
    case ContentMode::TopLeft: return Rect(left, top, is.width, is.height);
    case ContentMode::TopRight: return Rect(right, top, is.width, is.height);
    case ContentMode::BottomLeft: return Rect(left, bottom, is.width, is.height);
    case ContentMode::BottomRight: return Rect(right, bottom, is.width, is.height);
    default: return b;
    }
}

void ImageView::draw(gfx::Canvas& canvas, const Rect&) {
    if (!image_) return;
    Rect r = imageRect();
    gfx::Rgba tint = resolve(tintColor());
    image_->draw(canvas, r, 1.0, &tint);
    if (dimmed_) {
        // Darken through the image's own shape.
        gfx::Rgba shade = gfx::Rgba::rgb(0, 0, 0, 0.35);
        image_->draw(canvas, r, 1.0, &shade, true);
    }
}

}  // namespace ui
