#pragma once

#include "platform/ui/View.h"
#include "remote/StreamStatusViewDelegate.h"
#include "viewer/StreamStatusOverlay.h"

#include <cstdint>
#include <memory>

namespace ui {
class Button;
class Label;
}  // namespace ui
class StreamStatusViewBlockMap;

// The overlay of the reading screen while a page of a streamed book is
// being fetched: the cache map, how far the fetch has come, and a
// Disconnect button that gives up. It covers the reading screen (clear) and
// keeps its panel just below the screen's activity indicator.
class StreamStatusView : public ui::View, public StreamStatusOverlay {
public:
    // The viewer's view frame.
    explicit StreamStatusView(const ui::Rect& frame);

    // Makes the reading screen show this overlay while a page of a streamed
    // book loads; its Disconnect reaches the screen's onCancelStreaming.
    static void registerWithViewer();

    std::shared_ptr<ui::View> view() override { return shared_from_this(); }
    // `count` 16-bit entries (non-zero where the unit is cached); copied.
    void updateCacheStatus(uint64_t count, const uint16_t* map, bool isPage) override;
    // Block streams: `cached` blocks of `numBlocks` are here, block `block`
    // just arrived; the label shows the book's share in the cache. Page
    // streams: `cached` bytes of the `blockSize` expected (0 or less:
    // unknown) of page `block` of `numBlocks`; the label shows how much of
    // that page is here. Reports that do not fit the map are ignored.
    void updateCacheBlock(int64_t cached, int64_t blockSize, int64_t block, int64_t numBlocks) override;
    void setDelegate(std::weak_ptr<StreamStatusViewDelegate> delegate);
    // Books whose next page lies to the left fill the map from the right.
    void setIsVerticalWritting(bool on) override;

    const std::shared_ptr<ui::View>& panel() const { return panel_; }
    const std::shared_ptr<StreamStatusViewBlockMap>& blockMap() const { return blockMap_; }
    const std::shared_ptr<ui::Button>& disconnectButton() const { return disconnect_; }
    const std::shared_ptr<ui::Label>& progressLabel() const { return progress_; }

    void layoutSubviews() override;

private:
    // What the button reaches; shared with its action, which may outlive the overlay.
    struct Link {
        std::weak_ptr<StreamStatusViewDelegate> delegate;
        std::shared_ptr<StreamStatusViewDelegate> owned;  // the viewer's link, when the viewer made the overlay
        bool used = false;
    };

    std::shared_ptr<ui::View> panel_;
    std::shared_ptr<StreamStatusViewBlockMap> blockMap_;
    std::shared_ptr<ui::Label> progress_;
    std::shared_ptr<ui::Button> disconnect_;
    std::shared_ptr<Link> link_;

    void showShareOfBook();
    // Whole per cent of `whole` that `part` is; 100 only when all of it is.
    static int64_t percentOf(int64_t part, int64_t whole);
};
