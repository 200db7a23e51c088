#include "platform/graphics/Canvas.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "remote/StreamStatusView.h"
#include "remote/StreamStatusViewBlockMap.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <vector>

namespace {

// Blue channel of the pixel at (x, y) of a canvas (premultiplied ARGB32).
int blueAt(gfx::Canvas& canvas, int x, int y) {
    cairo_surface_flush(canvas.surface());
    const unsigned char* data = cairo_image_surface_get_data(canvas.surface());
    int stride = cairo_image_surface_get_stride(canvas.surface());
    uint32_t px = *reinterpret_cast<const uint32_t*>(data + y * stride + x * 4);
    return int(px & 0xFF);
}

TEST(StreamStatusViewBlockMap, KeepsItsOwnCopyOfTheMap) {
    auto view = std::make_shared<StreamStatusViewBlockMap>(ui::Rect(0, 0, 100, 4));
    std::vector<uint16_t> map{1, 0, 0, 3};
    view->updateCacheStatus(map.size(), map.data(), true);
    map[1] = 9;  // the stream goes on changing its own map
    EXPECT_EQ(view->map(), (std::vector<uint16_t>{1, 0, 0, 3}));
    EXPECT_TRUE(view->isPage());
    EXPECT_EQ(view->cachedCount(), 2u);

    view->updateCacheStatus(4, nullptr, false);
    EXPECT_EQ(view->map().size(), 4u) << "a null map changes nothing";
    EXPECT_TRUE(view->isPage());

    view->markCached(2);
    view->markCached(40);  // beyond the map: ignored
    EXPECT_EQ(view->cachedCount(), 3u);
}

TEST(StreamStatusViewBlockMap, DrawsCachedUnitsFromTheReadingSide) {
    auto view = std::make_shared<StreamStatusViewBlockMap>(ui::Rect(0, 0, 100, 4));
    std::vector<uint16_t> map(10, 0);
    map[0] = 1;
    view->updateCacheStatus(map.size(), map.data(), false);
    {
        gfx::Canvas canvas(100, 4);
        view->draw(canvas, view->bounds());
        EXPECT_GT(blueAt(canvas, 5, 2), 200) << "the first block is cached";
        EXPECT_LT(blueAt(canvas, 95, 2), 100);
    }
    view->setRightToLeft(true);
    {
        gfx::Canvas canvas(100, 4);
        view->draw(canvas, view->bounds());
        EXPECT_LT(blueAt(canvas, 5, 2), 100);
        EXPECT_GT(blueAt(canvas, 95, 2), 200) << "right-to-left books fill from the right";
    }
}

struct Viewer : StreamStatusViewDelegate {
    int cancels = 0;
    void onCancelStreaming() override { ++cancels; }
};

TEST(StreamStatusView, DisconnectCancelsTheStreamAndProgressIsShown) {
    auto overlay = std::make_shared<StreamStatusView>(ui::Rect(0, 0, 768, 1024));
    auto viewer = std::make_shared<Viewer>();
    overlay->setDelegate(viewer);
    overlay->disconnectButton()->sendActions(ui::ControlEventTouchUpInside);
    EXPECT_EQ(viewer->cancels, 1);

    std::vector<uint16_t> map(4, 0);
    overlay->updateCacheStatus(map.size(), map.data(), false);
    overlay->updateCacheBlock(1, 262144, 2, 4);
    EXPECT_EQ(overlay->blockMap()->map(), (std::vector<uint16_t>{0, 0, 1, 0}));
    EXPECT_EQ(overlay->progressLabel()->text(), "25%");

    // The panel sits in the middle of the viewer.
    auto panel = overlay->blockMap()->superview();
    ASSERT_NE(panel, nullptr);
    EXPECT_DOUBLE_EQ(panel->frame().origin.x + panel->frame().size.width / 2, 384);

    viewer.reset();
    overlay->disconnectButton()->sendActions(ui::ControlEventTouchUpInside);  // viewer gone: nothing
}

}  // namespace
