#include "remote/StreamStatusView.h"

#include "foundation/BookCommon.h"
#include "foundation/ui/ColorDefine.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "remote/StreamStatusViewBlockMap.h"
#include "viewer/BookViewController.h"
#include "viewer/PanelLook.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace {

constexpr double kPanelWidth = 280;
constexpr double kMargin = 14;
constexpr double kMapHeight = 8;
constexpr double kLabelHeight = 22;
constexpr double kButtonWidth = 140;
constexpr double kButtonHeight = 36;
constexpr double kPanelHeight = kMargin + kMapHeight + 6 + kLabelHeight + 6 + kButtonHeight + kMargin;
// Room the reading screen's activity indicator (32 points, centred) keeps above the panel.
constexpr double kIndicatorRoom = 16 + 12;

// The viewer as the overlay's delegate, held weakly: the overlay never keeps
// the reading screen alive.
class ViewerLink : public StreamStatusViewDelegate {
public:
    explicit ViewerLink(std::weak_ptr<ui::ViewController> viewer) : viewer_(std::move(viewer)) {}
    void onCancelStreaming() override {
        if (auto v = viewer_.lock()) static_cast<BookViewController*>(v.get())->onCancelStreaming();
    }

private:
    std::weak_ptr<ui::ViewController> viewer_;
};

}  // namespace

void StreamStatusView::registerWithViewer() {
    BookViewController::setStreamStatusOverlayFactory([](const ui::Rect& frame, BookViewController& viewer) {
        auto overlay = std::make_shared<StreamStatusView>(frame);
        overlay->link_->owned = std::make_shared<ViewerLink>(viewer.weak_from_this());
        overlay->link_->delegate = overlay->link_->owned;
        return overlay;
    });
}

StreamStatusView::StreamStatusView(const ui::Rect& frame) : ui::View(frame), link_(std::make_shared<Link>()) {
    setBackgroundColor(ui::Color::clear());
    // Follows the reading screen when its window changes size.
    setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
    const ui::Size size{kPanelWidth, kPanelHeight};
    if (PanelLook::isGlass()) {
        panel_ = PanelLook::makePanel(size, "", false);
    } else {
        // The reading screen's floating panels, without their pictures.
        panel_ = std::make_shared<ui::View>(ui::Rect(0, 0, size.width, size.height));
        panel_->setBackgroundColor(ui::Color(gfx::Rgba::rgb(0.965, 0.965, 0.976, 0.97), gfx::Rgba::rgb(0.17, 0.17, 0.18, 0.97)));
        panel_->setCornerRadius(12);
        panel_->setBorderWidth(1);
        panel_->setBorderColor(ui::Color(gfx::Rgba::rgb(0.78, 0.78, 0.8), gfx::Rgba::rgb(0.33, 0.33, 0.345)));
        panel_->setClipsToBounds(true);
    }
    panel_->setUserInteractionEnabled(true);
    blockMap_ = std::make_shared<StreamStatusViewBlockMap>();
    blockMap_->setCornerRadius(kMapHeight / 2);
    blockMap_->setClipsToBounds(true);
    progress_ = std::make_shared<ui::Label>();
    progress_->setFont(gfx::Font::system(14));
    progress_->setTextColor(ColorDefine::label());
    progress_->setTextAlignment(ui::TextAlignment::Center);
    disconnect_ = PanelLook::makeButton(BookCommon::localizedStringWithOnOff("Disconnect"), "",
                                        ui::Rect(0, 0, kButtonWidth, kButtonHeight));
    // Once: the stream is given up on the first tap, later taps have nothing to end.
    disconnect_->addAction(ui::ControlEventTouchUpInside, [link = link_](ui::Control& button) {
        if (link->used) return;
        link->used = true;
        button.setEnabled(false);
        if (auto d = link->delegate.lock()) d->onCancelStreaming();
    });
    addSubview(panel_);
    ui::View& content = PanelLook::contentOf(*panel_);
    content.addSubview(blockMap_);
    content.addSubview(progress_);
    content.addSubview(disconnect_);
    layoutSubviews();
}

void StreamStatusView::layoutSubviews() {
    const ui::Rect b = bounds();
    const double w = std::min(kPanelWidth, std::max(0.0, b.width() - 2 * kMargin));
    // Below the activity indicator in the middle of the screen, as long as it fits.
    double top = b.height() / 2 + kIndicatorRoom;
    top = std::max(0.0, std::min(top, b.height() - kPanelHeight - kMargin));
    panel_->setFrame(ui::Rect(b.x() + (b.width() - w) / 2, b.y() + top, w, kPanelHeight));
    const double inner = std::max(0.0, w - 2 * kMargin);
    double y = kMargin;
    blockMap_->setFrame(ui::Rect(kMargin, y, inner, kMapHeight));
    y += kMapHeight + 6;
    progress_->setFrame(ui::Rect(kMargin, y, inner, kLabelHeight));
    y += kLabelHeight + 6;
    const double bw = std::min(kButtonWidth, inner);
    disconnect_->setFrame(ui::Rect((w - bw) / 2, y, bw, kButtonHeight));
}

void StreamStatusView::setDelegate(std::weak_ptr<StreamStatusViewDelegate> delegate) {
    link_->delegate = std::move(delegate);
    link_->owned.reset();
}

void StreamStatusView::updateCacheStatus(uint64_t count, const uint16_t* map, bool isPage) {
    blockMap_->updateCacheStatus(count, map, isPage);
    if (map && !blockMap_->isPage()) showShareOfBook();
}

void StreamStatusView::updateCacheBlock(int64_t cached, int64_t blockSize, int64_t block, int64_t numBlocks) {
    const std::vector<uint16_t>& map = blockMap_->map();
    if (numBlocks <= 0 || block < 0 || block >= numBlocks || cached < 0) return;
    // A report about another map than the one shown (a stream that changed
    // under us, or a forged count) is not drawn.
    if (!map.empty() && uint64_t(numBlocks) != map.size()) return;
    if (blockMap_->isPage()) {
        // One page of a page-by-page stream, byte by byte.
        const int64_t expected = blockSize;
        if (expected > 0 && cached >= expected) blockMap_->markCached(uint64_t(block));
        if (expected > 0)
            progress_->setText(std::to_string(percentOf(cached, expected)) + "%");
        else
            progress_->setText(BookCommon::strSizeFormatFromValue(cached));
        return;
    }
    if (cached > numBlocks) return;
    blockMap_->markCached(uint64_t(block));
    if (map.empty())
        progress_->setText(std::to_string(percentOf(cached, numBlocks)) + "%");
    else
        showShareOfBook();
}

void StreamStatusView::showShareOfBook() {
    const uint64_t all = blockMap_->map().size();
    if (all == 0) return;
    progress_->setText(std::to_string(percentOf(int64_t(blockMap_->cachedCount()), int64_t(all))) + "%");
}

int64_t StreamStatusView::percentOf(int64_t part, int64_t whole) {
    if (whole <= 0 || part <= 0) return 0;
    if (part >= whole) return 100;
    // Not there until the last unit is: part-way never shows 100%.
    return std::min<int64_t>(99, int64_t(double(part) * 100.0 / double(whole)));
}

void StreamStatusView::setIsVerticalWritting(bool on) { blockMap_->setRightToLeft(on); }
