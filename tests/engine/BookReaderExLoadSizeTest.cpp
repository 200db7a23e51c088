#include "engine/BookReaderEx.h"

#include "foundation/DeviceScreenState.h"
#include "foundation/Settings.h"
#include "platform/core/DeviceProfile.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace {

struct Sized {
    gfx::Size size;
    bool over = false;
    double scale = 0;
    gfx::Size uncapped;
};

Sized calc(ImageSizeLoad load, gfx::Size page, gfx::Size minimum = {}, double budget = 1e12) {
    Sized s;
    s.size = BookReaderEx::calcLoadImageSize(load, page, minimum, budget, &s.over, &s.scale, &s.uncapped);
    return s;
}

TEST(LoadSizeTest, ZoomModesBecomeLoadModes) {
    struct Case {
        int zoomMode;
        int32_t mode;
        double zoom;
    } cases[] = {{-1, ImageSizeLoad::kModeZoom, 2.5}, {Settings::kZoomUser, ImageSizeLoad::kModeFitWidth, 2.5},
                 {Settings::kZoomZoom, ImageSizeLoad::kModeZoom, 1.0}, {Settings::kZoomWidth, ImageSizeLoad::kModeFitWidth, 2.5},
                 {Settings::kZoomHeight, ImageSizeLoad::kModeFitHeight, 2.5}, {Settings::kZoomFit, ImageSizeLoad::kModeFitPage, 2.5},
                 {9, ImageSizeLoad::kModeFitWidth, 2.5}};
    for (const auto& c : cases) {
        ImageSizeLoad l;
        BookReaderEx::setLoadSizeLoadStructWithMode(c.zoomMode, l, {320, 480}, 2.5);
        EXPECT_EQ(l.mode, c.mode) << c.zoomMode;
        EXPECT_EQ(l.zoom, c.zoom) << c.zoomMode;
        EXPECT_EQ(l.width, 320);
        EXPECT_EQ(l.height, 480);
    }
}

TEST(LoadSizeTest, ScaleByModeWithTheMinimumAsFloor) {
    const gfx::Size page{200, 300};
    auto s = calc({ImageSizeLoad::kModeZoom, 0, 0, 2.0}, page);
    EXPECT_EQ(s.size, (gfx::Size{400, 600}));
    EXPECT_EQ(s.scale, 2.0);
    EXPECT_FALSE(s.over);
    EXPECT_EQ(s.uncapped, s.size);
    EXPECT_EQ(calc({ImageSizeLoad::kModeFitWidth, 300, 1, 0}, page).size, (gfx::Size{300, 450}));
    EXPECT_EQ(calc({ImageSizeLoad::kModeFitHeight, 1, 600, 0}, page).size, (gfx::Size{400, 600}));
    EXPECT_EQ(calc({ImageSizeLoad::kModeFitPage, 300, 600, 0}, page).size, (gfx::Size{300, 450}));
    EXPECT_EQ(calc({ImageSizeLoad::kModeFitPage, 600, 300, 0}, page).size, (gfx::Size{200, 300}));
    EXPECT_EQ(calc({7, 10, 10, 5}, page).size, page) << "unknown modes keep the page's size";

    // Never smaller than the display area on both sides.
    s = calc({ImageSizeLoad::kModeZoom, 0, 0, 0.5}, page, {300, 300});
    EXPECT_EQ(s.size, (gfx::Size{200, 300}));
    EXPECT_EQ(s.scale, 1.0);
}

TEST(LoadSizeTest, SizesAreTruncatedThroughSinglePrecision) {
    // 100 x 1.14 is 113.99999999999999 in double precision; the single
    // precision step makes it the 114 points the fit asked for.
    auto s = calc({ImageSizeLoad::kModeFitHeight, 0, 114, 0}, {100, 100});
    EXPECT_EQ(s.size, (gfx::Size{114, 114}));
    // A fraction is cut, not rounded.
    EXPECT_EQ(calc({ImageSizeLoad::kModeZoom, 0, 0, 1.999}, {100, 100}).size, (gfx::Size{199, 199}));
}

TEST(LoadSizeTest, BudgetCapsTheSizeAndReportsIt) {
    auto s = calc({ImageSizeLoad::kModeZoom, 0, 0, 1.0}, {4000, 3000}, {}, 2'250'000);
    EXPECT_TRUE(s.over);
    EXPECT_EQ(s.size, (gfx::Size{1732, 1299}));
    EXPECT_LE(s.size.width * s.size.height, 2'250'000);
    EXPECT_EQ(s.uncapped, (gfx::Size{4000, 3000}));
    EXPECT_EQ(s.scale, 1.0);
    // Exactly at the budget is not over it.
    s = calc({ImageSizeLoad::kModeZoom, 0, 0, 1.0}, {1500, 1500}, {}, 2'250'000);
    EXPECT_FALSE(s.over);
    EXPECT_EQ(s.size, (gfx::Size{1500, 1500}));
}

TEST(LoadSizeTest, DegenerateSizesNeverDivideByZero) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (gfx::Size page : {gfx::Size{0, 300}, gfx::Size{200, 0}, gfx::Size{-5, 10}, gfx::Size{nan, 10}}) {
        auto s = calc({ImageSizeLoad::kModeFitPage, 300, 600, 0}, page, {300, 600});
        EXPECT_EQ(s.size, gfx::Size{});
        EXPECT_FALSE(s.over);
        EXPECT_EQ(s.scale, 1.0);
    }
    EXPECT_EQ(calc({ImageSizeLoad::kModeFitWidth, 0, 0, 0}, {200, 300}).size, gfx::Size{});
    EXPECT_EQ(calc({ImageSizeLoad::kModeZoom, 0, 0, nan}, {200, 300}).size, gfx::Size{});
    // A tiny scale still leaves one point.
    EXPECT_EQ(calc({ImageSizeLoad::kModeZoom, 0, 0, 0.01}, {10, 10}).size, (gfx::Size{1, 1}));
    // Null arguments are allowed.
    EXPECT_EQ(BookReaderEx::calcLoadImageSize({0, 0, 0, 1}, {10, 20}, {}, 0, nullptr, nullptr, nullptr),
              (gfx::Size{10, 20}));
}

class PixelBudgetTest : public ::testing::Test {
protected:
    void SetUp() override { saved_ = sys::DeviceProfile::current(); }
    void TearDown() override {
        sys::DeviceProfile::setCurrent(saved_);
        DeviceScreenState::setShared(nullptr);
    }
    double budgetFor(const char* preset, const char* model = nullptr, double scale = 0, double height = 0) {
        auto p = sys::DeviceProfile::named(preset);
        EXPECT_TRUE(p.has_value());
        if (model || scale > 0 || height > 0) p->name = "custom";
        if (model) p->modelIdentifier = model;
        if (scale > 0) p->scale = scale;
        if (height > 0) p->screenHeight = height;
        sys::DeviceProfile::setCurrent(*p);
        DeviceScreenState::setShared(nullptr);
        return BookReaderEx::calcInitValues();
    }
    sys::DeviceProfile saved_;
};

TEST_F(PixelBudgetTest, ByModelThenByScreen) {
    EXPECT_EQ(budgetFor("desktop"), 8'294'400);
    EXPECT_EQ(budgetFor("phone"), 3'686'400);
    EXPECT_EQ(budgetFor("phone-se"), 2'250'000);
    EXPECT_EQ(budgetFor("pad"), 7'463'824);
    EXPECT_EQ(budgetFor("pad", nullptr, 2, 1024), 4'194'304);
    EXPECT_EQ(budgetFor("pad", nullptr, 1, 1024), 2'560'000);
    EXPECT_EQ(budgetFor("desktop", nullptr, 1), 2'560'000) << "a pad-sized screen that is not the desktop";
    EXPECT_EQ(budgetFor("phone", "iPhone1,2"), 1'638'400);
    EXPECT_EQ(budgetFor("phone", "iPhone3,1"), 2'250'000);
    EXPECT_EQ(budgetFor("pad", "iPad1,1"), 2'560'000);
    EXPECT_EQ(budgetFor("phone", "iPod2,1"), 1'638'400);
    EXPECT_EQ(budgetFor("phone", "iPod4,1"), 1'960'000);
}

}  // namespace
