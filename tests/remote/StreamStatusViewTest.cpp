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

TEST(StreamStatusView, DisconnectCallsTheDelegateOnceAndNotOnceItIsGone) {
    auto overlay = std::make_shared<StreamStatusView>(ui::Rect(0, 0, 768, 1024));
    auto viewer = std::make_shared<Viewer>();
    overlay->setDelegate(viewer);
    auto button = overlay->disconnectButton();
    EXPECT_EQ(button->currentTitle(), "Disconnect");
    button->sendActions(ui::ControlEventTouchUpInside);
    EXPECT_EQ(viewer->cancels, 1);
    EXPECT_FALSE(button->isEnabled()) << "nothing is left to end";
    button->sendActions(ui::ControlEventTouchUpInside);
    EXPECT_EQ(viewer->cancels, 1);

    // The viewer gone, or the overlay gone while someone holds its button: nothing happens.
    auto other = std::make_shared<StreamStatusView>(ui::Rect(0, 0, 390, 844));
    auto gone = std::make_shared<Viewer>();
    other->setDelegate(gone);
    gone.reset();
    other->disconnectButton()->sendActions(ui::ControlEventTouchUpInside);
    auto held = std::make_shared<StreamStatusView>(ui::Rect(0, 0, 390, 844));
    held->setDelegate(viewer);
    auto heldButton = held->disconnectButton();
    held.reset();
    heldButton->sendActions(ui::ControlEventTouchUpInside);
    EXPECT_EQ(viewer->cancels, 2) << "the button still reaches a living viewer";
}

TEST(StreamStatusView, BlockReportsFillTheMapAndShowTheBooksShareInTheCache) {
    auto overlay = std::make_shared<StreamStatusView>(ui::Rect(0, 0, 768, 1024));
    std::vector<uint16_t> map{1, 0, 0, 0, 0};
    overlay->updateCacheStatus(map.size(), map.data(), false);
    overlay->setIsVerticalWritting(true);
    EXPECT_EQ(overlay->blockMap()->map(), map);
    EXPECT_EQ(overlay->progressLabel()->text(), "20%");

    overlay->updateCacheBlock(2, 262144, 2, 5);
    EXPECT_EQ(overlay->blockMap()->map(), (std::vector<uint16_t>{1, 0, 1, 0, 0}));
    EXPECT_EQ(overlay->progressLabel()->text(), "40%");
    overlay->updateCacheBlock(2, 262144, 2, 5);  // told twice
    EXPECT_EQ(overlay->progressLabel()->text(), "40%");

    // Reports that do not fit the map shown change nothing.
    const std::vector<uint16_t> before = overlay->blockMap()->map();
    overlay->updateCacheBlock(3, 262144, 5, 5);  // past the end
    overlay->updateCacheBlock(3, 262144, -1, 5);  // before the start
    overlay->updateCacheBlock(3, 262144, 3, 9);  // another map's count
    overlay->updateCacheBlock(3, 262144, 3, 0);  // no map at all
    overlay->updateCacheBlock(7, 262144, 3, 5);  // more cached than there are
    overlay->updateCacheBlock(-1, 262144, 3, 5);  // less than none
    overlay->updateCacheBlock(INT64_MAX, INT64_MAX, INT64_MAX, INT64_MAX);
    EXPECT_EQ(overlay->blockMap()->map(), before);
    EXPECT_EQ(overlay->progressLabel()->text(), "40%");
    overlay->updateCacheBlock(3, INT64_MAX, 4, 5);  // the block size plays no part
    EXPECT_EQ(overlay->progressLabel()->text(), "60%");

    // A new map replaces the old one; a null one changes nothing.
    std::vector<uint16_t> longer(8, 1);
    longer[7] = 0;
    overlay->updateCacheStatus(longer.size(), longer.data(), false);
    overlay->updateCacheStatus(3, nullptr, false);
    EXPECT_EQ(overlay->blockMap()->map(), longer);
    EXPECT_EQ(overlay->progressLabel()->text(), "87%");
    overlay->updateCacheBlock(8, 262144, 7, 8);
    EXPECT_EQ(overlay->progressLabel()->text(), "100%");
}

TEST(StreamStatusView, PageReportsShowHowMuchOfThePageIsHere) {
    auto overlay = std::make_shared<StreamStatusView>(ui::Rect(0, 0, 390, 844));
    std::vector<uint16_t> pages(3, 0);
    overlay->updateCacheStatus(pages.size(), pages.data(), true);
    overlay->updateCacheBlock(1000, 4000, 1, 3);
    EXPECT_EQ(overlay->progressLabel()->text(), "25%");
    EXPECT_EQ(overlay->blockMap()->cachedCount(), 0u) << "a page part-way is not cached";
    overlay->updateCacheBlock(4000, 4000, 1, 3);
    EXPECT_EQ(overlay->progressLabel()->text(), "100%");
    EXPECT_EQ(overlay->blockMap()->map(), (std::vector<uint16_t>{0, 1, 0}));
    // A server that names no length: the bytes so far.
    overlay->updateCacheBlock(2048, -1, 2, 3);
    EXPECT_EQ(overlay->progressLabel()->text(), "2.00KB");
    overlay->updateCacheBlock(INT64_MAX - 1, INT64_MAX, 2, 3);
    EXPECT_EQ(overlay->progressLabel()->text(), "99%");
    overlay->updateCacheBlock(50, 100, 3, 3);  // past the last page
    EXPECT_EQ(overlay->progressLabel()->text(), "99%");
    EXPECT_EQ(overlay->blockMap()->map(), (std::vector<uint16_t>{0, 1, 0}));
}

TEST(StreamStatusView, ThePanelSitsUnderTheScreensIndicatorAndFollowsATurn) {
    // Phone, pad and desktop frames, upright and turned.
    for (ui::Size s : {ui::Size{390, 844}, ui::Size{844, 390}, ui::Size{768, 1024}, ui::Size{1024, 768},
                       ui::Size{1280, 800}, ui::Size{320, 200}}) {
        SCOPED_TRACE(std::to_string(int(s.width)) + "x" + std::to_string(int(s.height)));
        auto overlay = std::make_shared<StreamStatusView>(ui::Rect(0, 0, 390, 844));
        overlay->setFrame(ui::Rect(0, 0, s.width, s.height));
        overlay->layoutSubviews();
        const ui::Rect panel = overlay->panel()->frame();
        EXPECT_NEAR(panel.x() + panel.width() / 2, s.width / 2, 0.5) << "centred";
        EXPECT_GE(panel.y(), 0);
        EXPECT_LE(panel.maxY(), s.height);
        EXPECT_GE(panel.x(), 0);
        EXPECT_LE(panel.maxX(), s.width);
        if (s.height >= 390) {
            EXPECT_GE(panel.y(), s.height / 2 + 16) << "clear of the activity indicator";
        }
        const ui::Rect button = overlay->disconnectButton()->frame();
        EXPECT_LE(button.maxY(), panel.height());
        EXPECT_LE(button.maxX(), panel.width());
        EXPECT_GT(overlay->blockMap()->frame().width(), panel.width() * 0.8);
    }
}

}  // namespace
