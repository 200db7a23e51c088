#pragma once

#include "platform/ui/Image.h"
#include "platform/ui/View.h"

namespace ui {

// Shows an image placed by the view's content mode (scaled to fill, fitted,
// filled, or at its own size against an edge). Template images are drawn in
// the tint colour. Like the platform's, it is not clipped to its bounds
// unless clipsToBounds is set.
class ImageView : public View {
public:
    ImageView();
    explicit ImageView(const Rect& frame);
    explicit ImageView(ImageRef image);

    const ImageRef& image() const { return image_; }
    void setImage(ImageRef image);
    // Drawn darker, as a pressed custom button shows its image.
    bool isDimmed() const { return dimmed_; }
    void setDimmed(bool d);

    // Where the image lands in the bounds for the content mode.
    Rect imageRect() const;
    Size sizeThatFits(Size size) const override;
    void draw(gfx::Canvas& canvas, const Rect& rect) override;
    bool clipsOwnDrawing() const override { return clipsToBounds(); }

private:
    ImageRef image_;
    bool dimmed_ = false;
};

}  // namespace ui
