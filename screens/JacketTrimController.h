#pragma once

#include "platform/ui/Image.h"
#include "platform/ui/ViewController.h"

#include <memory>

namespace ui {
class ImageView;
class Toolbar;
class View;
}  // namespace ui
class JacketTrimControllerDelegate;

// The cover crop screen: the page image fitted to the screen with a crop
// rectangle over it. Dragging near a corner moves that corner, dragging
// inside moves the whole rectangle; it never leaves the image. "Done" hands
// the rectangle (in the image's own coordinates) and the image to the
// delegate, "Cancel" only tells it; both close the screen.
class JacketTrimController : public ui::ViewController {
public:
    // Smallest side of the crop rectangle, in image units.
    static constexpr double kMinCropSide = 16;
    // How close to a corner a drag has to start to move that corner, in points.
    static constexpr double kCornerGrab = 30;

    JacketTrimController();

    const ui::ImageRef& inputImage_() const { return inputImage_v_; }
    // Resets the crop rectangle to the whole image.
    void setInputImage_(ui::ImageRef image);
    void setDelegate(std::weak_ptr<JacketTrimControllerDelegate> d) { delegate_ = std::move(d); }

    const ui::Rect& cropRect() const { return cropRect_; }
    // Kept inside the image and no smaller than the minimum.
    void setCropRect(const ui::Rect& rect);
    // Where the image and the crop rectangle are drawn, in the view's coordinates.
    ui::Rect imageFrame() const { return imageFrame_; }
    ui::Rect cropFrame() const;

    void onDone();
    void onCancel();

    void viewDidLoad() override;
    void viewDidLayoutSubviews() override;
    void touchesBegan(const ui::TouchSet& touches, const ui::Event& event) override;
    void touchesMoved(const ui::TouchSet& touches, const ui::Event& event) override;
    void touchesEnded(const ui::TouchSet& touches, const ui::Event& event) override;
    void touchesCancelled(const ui::TouchSet& touches, const ui::Event& event) override;

private:
    enum class Grab { None, Move, TopLeft, TopRight, BottomLeft, BottomRight };
    void finish(bool done);
    void updateCropView();

    ui::ImageRef inputImage_v_;
    std::weak_ptr<JacketTrimControllerDelegate> delegate_;
    ui::Rect cropRect_;
    ui::Rect imageFrame_;
    std::shared_ptr<ui::ImageView> imageView_;
    std::shared_ptr<ui::View> cropView_;
    std::shared_ptr<ui::Toolbar> toolbar_;
    Grab grab_ = Grab::None;
    ui::Rect grabStartRect_;
    ui::Point grabStartPoint_;
    bool finished_ = false;
};
