#include "remote/StreamStatusView.h"

#include "foundation/BookCommon.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "remote/StreamStatusViewBlockMap.h"

#include <algorithm>
#include <string>

namespace {

constexpr double kPanelWidth = 280;
constexpr double kPanelHeight = 96;
constexpr double kMargin = 12;

}  // namespace

StreamStatusView::StreamStatusView(const ui::Rect& frame)
    : ui::View(frame), delegate_(std::make_shared<std::weak_ptr<StreamStatusViewDelegate>>()) {
    setBackgroundColor(ui::Color::clear());
    panel_ = std::make_shared<ui::View>();
    panel_->setBackgroundColor(ui::Color::white(0.0, 0.7));
    blockMap_ = std::make_shared<StreamStatusViewBlockMap>();
    progress_ = std::make_shared<ui::Label>();
    progress_->setTextColor(ui::Color::white(1.0));
    progress_->setTextAlignment(ui::TextAlignment::Center);
    disconnect_ = std::make_shared<ui::Button>(ui::ButtonType::System);
    disconnect_->setTitle(BookCommon::localizedStringWithOnOff("Disconnect"));
    // The button may outlive the overlay (a caller can hold it), so the
    // action reaches the delegate through a slot of its own.
    disconnect_->addAction(ui::ControlEventTouchUpInside, [slot = delegate_](ui::Control&) {
        if (auto d = slot->lock()) d->onCancelStreaming();
    });
    addSubview(panel_);
    panel_->addSubview(blockMap_);
    panel_->addSubview(progress_);
    panel_->addSubview(disconnect_);
    layoutSubviews();
}

void StreamStatusView::layoutSubviews() {
    const ui::Rect b = bounds();
    const double w = std::min(kPanelWidth, b.size.width);
    panel_->setFrame(ui::Rect(b.origin.x + (b.size.width - w) / 2, b.origin.y + (b.size.height - kPanelHeight) / 2, w,
                              kPanelHeight));
    const double inner = std::max(0.0, w - 2 * kMargin);
    blockMap_->setFrame(ui::Rect(kMargin, kMargin, inner, 8));
    progress_->setFrame(ui::Rect(kMargin, kMargin + 12, inner, 24));
    disconnect_->setFrame(ui::Rect(kMargin, kMargin + 40, inner, 32));
}

void StreamStatusView::updateCacheStatus(uint64_t count, const uint16_t* map, bool isPage) {
    blockMap_->updateCacheStatus(count, map, isPage);
}

void StreamStatusView::updateCacheBlock(int64_t cached, int64_t /*blockSize*/, int64_t block, int64_t numUnits) {
    if (block >= 0) blockMap_->markCached(uint64_t(block));
    if (numUnits > 0) {
        int64_t percent = std::clamp<int64_t>(cached * 100 / numUnits, 0, 100);
        progress_->setText(std::to_string(percent) + "%");
    }
}

void StreamStatusView::setIsVerticalWritting(bool on) { blockMap_->setRightToLeft(on); }
