#pragma once

#include "platform/ui/View.h"
#include "remote/StreamStatusViewDelegate.h"

#include <cstdint>
#include <memory>

namespace ui {
class Button;
class Label;
}  // namespace ui
class StreamStatusViewBlockMap;

// The overlay of the reading screen while a page of a streamed book is
// being fetched: the cache map, how far the fetch has come, and a
// Disconnect button that gives up.
class StreamStatusView : public ui::View {
public:
    // The viewer's view frame.
    explicit StreamStatusView(const ui::Rect& frame);

    void updateCacheStatus(uint64_t count, const uint16_t* map, bool isPage);
    // One unit arrived: `cached` of `numUnits` are there now.
    void updateCacheBlock(int64_t cached, int64_t blockSize, int64_t block, int64_t numUnits);
    void setDelegate(std::weak_ptr<StreamStatusViewDelegate> delegate) { *delegate_ = std::move(delegate); }
    // Books whose next page lies to the left fill the map from the right.
    void setIsVerticalWritting(bool on);

    const std::shared_ptr<StreamStatusViewBlockMap>& blockMap() const { return blockMap_; }
    const std::shared_ptr<ui::Button>& disconnectButton() const { return disconnect_; }
    const std::shared_ptr<ui::Label>& progressLabel() const { return progress_; }

    void layoutSubviews() override;

private:
    std::shared_ptr<ui::View> panel_;
    std::shared_ptr<StreamStatusViewBlockMap> blockMap_;
    std::shared_ptr<ui::Label> progress_;
    std::shared_ptr<ui::Button> disconnect_;
    std::shared_ptr<std::weak_ptr<StreamStatusViewDelegate>> delegate_;
};
