#include "screens/JacketTrimController.h"

#include "foundation/BookCommon.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Color.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/Touch.h"
#include "viewer/JacketTrimControllerDelegate.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double kToolbarHeight = 44;
}

JacketTrimController::JacketTrimController() { setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen); }

void JacketTrimController::setInputImage_(ui::ImageRef image) {
    inputImage_v_ = std::move(image);
    cropRect_ = inputImage_v_ ? ui::Rect{0, 0, inputImage_v_->size().width, inputImage_v_->size().height} : ui::Rect{};
    if (imageView_) imageView_->setImage(inputImage_v_);
    if (isViewLoaded()) view()->setNeedsLayout();
}

void JacketTrimController::setCropRect(const ui::Rect& rect) {
    if (!inputImage_v_) return;
    const double iw = inputImage_v_->size().width, ih = inputImage_v_->size().height;
    const double minW = std::min(kMinCropSide, iw), minH = std::min(kMinCropSide, ih);
    ui::Rect r = rect;
    if (!std::isfinite(r.origin.x) || !std::isfinite(r.origin.y) || !std::isfinite(r.size.width) ||
        !std::isfinite(r.size.height))
        return;
    r.size.width = std::clamp(r.size.width, minW, iw);
    r.size.height = std::clamp(r.size.height, minH, ih);
    r.origin.x = std::clamp(r.origin.x, 0.0, iw - r.size.width);
    r.origin.y = std::clamp(r.origin.y, 0.0, ih - r.size.height);
    cropRect_ = r;
    updateCropView();
}

ui::Rect JacketTrimController::cropFrame() const {
    if (!inputImage_v_ || inputImage_v_->size().width <= 0) return {};
    const double s = imageFrame_.size.width / inputImage_v_->size().width;
    return {imageFrame_.origin.x + cropRect_.origin.x * s, imageFrame_.origin.y + cropRect_.origin.y * s,
            cropRect_.size.width * s, cropRect_.size.height * s};
}

void JacketTrimController::viewDidLoad() {
    view()->setBackgroundColor(ui::Color::black());
    imageView_ = std::make_shared<ui::ImageView>(inputImage_v_);
    imageView_->setContentMode(ui::ContentMode::ScaleAspectFit);
    imageView_->setUserInteractionEnabled(false);
    view()->addSubview(imageView_);
    cropView_ = std::make_shared<ui::View>();
    cropView_->setBackgroundColor(ui::Color::clear());
    cropView_->setBorderColor(ui::Color::rgb255(255, 204, 0));
    cropView_->setBorderWidth(2);
    cropView_->setUserInteractionEnabled(false);
    view()->addSubview(cropView_);
    toolbar_ = std::make_shared<ui::Toolbar>();
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    auto call = [weak](bool done) {
        return [weak, done](ui::BarButtonItem&) {
            if (auto self = std::dynamic_pointer_cast<JacketTrimController>(weak.lock())) self->finish(done);
        };
    };
    toolbar_->setItems({ui::BarButtonItem::withTitle(BookCommon::localizedStringWithOnOff("Cancel"),
                                                     ui::BarButtonItemStyle::Plain, call(false)),
                        ui::BarButtonItem::flexibleSpace(),
                        ui::BarButtonItem::withTitle(BookCommon::localizedStringWithOnOff("Done"),
                                                     ui::BarButtonItemStyle::Done, call(true))});
    view()->addSubview(toolbar_);
}

void JacketTrimController::viewDidLayoutSubviews() {
    const ui::Rect b = view()->bounds();
    const ui::EdgeInsets safe = view()->safeAreaInsets();
    const double barTop = b.size.height - safe.bottom - kToolbarHeight;
    toolbar_->setFrame({0, barTop, b.size.width, kToolbarHeight + safe.bottom});
    const ui::Rect area{safe.left, safe.top, b.size.width - safe.left - safe.right, std::max(0.0, barTop - safe.top)};
    imageView_->setFrame(area);
    imageFrame_ = area;
    if (inputImage_v_ && inputImage_v_->size().width > 0 && inputImage_v_->size().height > 0) {
        const double s = std::min(area.size.width / inputImage_v_->size().width,
                                  area.size.height / inputImage_v_->size().height);
        const double w = inputImage_v_->size().width * s, h = inputImage_v_->size().height * s;
        imageFrame_ = {area.origin.x + (area.size.width - w) / 2, area.origin.y + (area.size.height - h) / 2, w, h};
    }
    updateCropView();
}

void JacketTrimController::updateCropView() {
    if (!cropView_) return;
    cropView_->setHidden(!inputImage_v_);
    cropView_->setFrame(cropFrame());
}

void JacketTrimController::touchesBegan(const ui::TouchSet& touches, const ui::Event&) {
    grab_ = Grab::None;
    if (touches.empty() || !inputImage_v_ || finished_) return;
    const ui::Point p = touches.front()->locationInView(view());
    const ui::Rect f = cropFrame();
    auto near = [p](double x, double y) { return std::hypot(p.x - x, p.y - y) <= kCornerGrab; };
    const double l = f.origin.x, t = f.origin.y, r = l + f.size.width, btm = t + f.size.height;
    if (near(l, t)) grab_ = Grab::TopLeft;
    else if (near(r, t)) grab_ = Grab::TopRight;
    else if (near(l, btm)) grab_ = Grab::BottomLeft;
    else if (near(r, btm)) grab_ = Grab::BottomRight;
    else if (p.x >= l && p.x <= r && p.y >= t && p.y <= btm) grab_ = Grab::Move;
    grabStartRect_ = cropRect_;
    grabStartPoint_ = p;
}

void JacketTrimController::touchesMoved(const ui::TouchSet& touches, const ui::Event&) {
    if (grab_ == Grab::None || touches.empty() || imageFrame_.size.width <= 0) return;
    const ui::Point p = touches.front()->locationInView(view());
    const double s = inputImage_v_->size().width / imageFrame_.size.width;
    const double dx = (p.x - grabStartPoint_.x) * s, dy = (p.y - grabStartPoint_.y) * s;
    const double iw = inputImage_v_->size().width, ih = inputImage_v_->size().height;
    const double minW = std::min(kMinCropSide, iw), minH = std::min(kMinCropSide, ih);
    const ui::Rect g = grabStartRect_;
    double l = g.origin.x, t = g.origin.y, r = l + g.size.width, b = t + g.size.height;
    switch (grab_) {
    case Grab::Move: setCropRect({l + dx, t + dy, g.size.width, g.size.height}); return;
    case Grab::TopLeft: l = std::clamp(l + dx, 0.0, r - minW); t = std::clamp(t + dy, 0.0, b - minH); break;
    case Grab::TopRight: r = std::clamp(r + dx, l + minW, iw); t = std::clamp(t + dy, 0.0, b - minH); break;
    case Grab::BottomLeft: l = std::clamp(l + dx, 0.0, r - minW); b = std::clamp(b + dy, t + minH, ih); break;
    case Grab::BottomRight: r = std::clamp(r + dx, l + minW, iw); b = std::clamp(b + dy, t + minH, ih); break;
    case Grab::None: return;
    }
    setCropRect({l, t, r - l, b - t});
}

void JacketTrimController::touchesEnded(const ui::TouchSet&, const ui::Event&) { grab_ = Grab::None; }

void JacketTrimController::touchesCancelled(const ui::TouchSet&, const ui::Event&) { grab_ = Grab::None; }

void JacketTrimController::onDone() { finish(true); }

void JacketTrimController::onCancel() { finish(false); }

void JacketTrimController::finish(bool done) {
    // One answer only, however often the buttons are pressed while closing.
    if (finished_) return;
    finished_ = true;
    auto delegate = delegate_.lock();
    if (delegate) {
        if (done) delegate->endTrimJacket(cropRect_, inputImage_v_);
        else delegate->cancelTrimJacket();
    }
    if (presentingViewController()) BookCommon::lbCommonDismissModalViewController(*this, true);
}
