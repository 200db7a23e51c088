// Pages of extreme shape (a scrolling strip 800 x 20,000 and a panorama
// 20,000 x 800) in every zoom mode, alone and where spreads are on, on a
// phone, a tablet and a desktop window, upright and turned: the page fills
// the width it is fitted to, starts at its edge, and no half of the screen
// stays empty beside it.
#include "tests/viewer/ViewerFixture.h"

#include "platform/graphics/Canvas.h"
#include "platform/graphics/JpegEncoder.h"

#include <fstream>

using namespace viewertest;

namespace {

constexpr int kTall = 1;      // 02.jpg: 800 x 20,000
constexpr int kPairA = 2;     // 03.jpg: an ordinary page, paired with...
[[maybe_unused]] constexpr int kTallish = 3;   // 04.jpg: 800 x 3,000, tall but still paired
constexpr int kWide = 7;      // 08.jpg: 20,000 x 800

class BookViewExtremePageTest : public ViewerTest {
protected:
    void SetUp() override {
        ViewerTest::SetUp();
        writePage("02.jpg", 800, 20000, {0.8, 0.2, 0.2, 1});
        writePage("04.jpg", 800, 3000, {0.2, 0.2, 0.8, 1});
        writePage("08.jpg", 20000, 800, {0.2, 0.7, 0.2, 1});
    }
    void writePage(const std::string& name, int w, int h, gfx::Rgba colour) {
        gfx::Canvas c(w, h, 1.0);
        c.fillRect({0, 0, double(w), double(h)}, colour);
        auto bytes = gfx::JpegEncoder::encode(*c.image(), 0.5);
        ASSERT_FALSE(bytes.empty());
        std::ofstream(bookDir() + "/" + name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    // Another device, upright or turned, before the book opens.
    void useDevice(const std::string& preset, bool landscape) {
        closeScreen();
        setProfile(preset);
        BookCommon::resetDeviceStateForTesting();
        DeviceScreenState::setShared(std::make_shared<WindowScreenState>());
        window = std::make_shared<ui::Window>();
        window->makeKeyAndVisible();
        window->setOrientation(landscape ? ui::InterfaceOrientation::LandscapeLeft : ui::InterfaceOrientation::Portrait);
        driver = std::make_unique<ui::test::Driver>(*window);
    }
    void useMode(const char* mode, bool spreads) {
        set("defaultZoomMode", mode);
        set("doubleTruckZoomMode", mode);
        set("isDoubleTruck", spreads);
        settings->setTargetBook(bookPath());
    }
    void show(int page) {
        open(page);
        pass();
    }
    ui::ScrollView& sv() const { return *viewer->scrollView(); }
    // The page image on screen, in the page area's coordinates.
    ui::Rect shownImage() const {
        for (auto& v : sv().subviews())
            if (!v->isHidden() && dynamic_cast<ui::ImageView*>(v.get())) {
                const ui::Rect f = v->frame();
                return {f.x() - sv().contentOffset().x, f.y() - sv().contentOffset().y, f.width(), f.height()};
            }
        return {};
    }
    std::string where() const {
        const ui::Rect a = area();
        char text[160];
        std::snprintf(text, sizeof text, "%s %.0fx%.0f zoom %.4f content %.0fx%.0f offset %.0f,%.0f",
                      sys::DeviceProfile::current().name.c_str(), a.width(), a.height(), sv().zoomScale(),
                      sv().contentSize().width, sv().contentSize().height, sv().contentOffset().x,
                      sv().contentOffset().y);
        return text;
    }
};

const std::vector<std::string> kDevices = {"phone", "pad", "desktop"};

TEST_F(BookViewExtremePageTest, AStripFitsTheWidthAloneFromItsTopOnEveryDeviceWithOrWithoutSpreads) {
    for (const auto& device : kDevices)
        for (bool landscape : {false, true})
            for (bool spreads : {false, true}) {
                useDevice(device, landscape);
                useMode("width", spreads);
                show(kTall);
                SCOPED_TRACE(where());
                ASSERT_TRUE(viewer->displayBookPage());
                EXPECT_FALSE(viewer->displayBookPage()->is2PageLoaded) << "a strip is never half a spread";
                EXPECT_EQ(viewer->displayBookPage()->originalSize, ui::Size(800, 20000));
                const ui::Rect a = area();
                EXPECT_NEAR(sv().zoomScale(), a.width() / 800, 1e-3);
                EXPECT_NEAR(sv().contentSize().width, a.width(), 0.5);
                EXPECT_NEAR(sv().contentSize().height, 20000 * a.width() / 800, 2);
                EXPECT_EQ(sv().contentOffset(), ui::Point(0, 0)) << "a strip starts at its top";
                const ui::Rect image = shownImage();
                EXPECT_NEAR(image.x(), 0, 0.5);
                EXPECT_NEAR(image.width(), a.width(), 0.5) << "the page leaves part of the width empty";
                // The bitmap behind it stays within the load budget.
                ASSERT_TRUE(viewer->displayBookPage()->image);
                EXPECT_LE(double(viewer->displayBookPage()->image->width()) * viewer->displayBookPage()->image->height(),
                          64.0 * 1024 * 1024);
            }
}

TEST_F(BookViewExtremePageTest, APanoramaFitsTheWidthOrTheHeightAndStartsAtTheReadingEdge) {
    for (const auto& device : kDevices)
        for (bool landscape : {false, true}) {
            useDevice(device, landscape);
            useMode("width", true);
            show(kWide);
            SCOPED_TRACE(where());
            const ui::Rect a = area();
            EXPECT_FALSE(viewer->displayBookPage()->is2PageLoaded);
            EXPECT_NEAR(sv().zoomScale(), a.width() / 20000, 1e-4);
            EXPECT_NEAR(sv().contentSize().width, a.width(), 0.5);
            EXPECT_GE(sv().contentSize().height, a.height() - 0.5) << "a thin page still fills the page area";
            EXPECT_NEAR(shownImage().width(), a.width(), 0.5);

            useMode("height", true);
            show(kWide);
            EXPECT_NEAR(sv().zoomScale(), a.height() / 800, 1e-3);
            EXPECT_NEAR(sv().contentSize().width, 20000 * a.height() / 800, 2);
            // Pages turn to the left here: the page is read from its right edge.
            EXPECT_NEAR(sv().contentOffset().x, sv().contentSize().width - a.width(), 0.5);
            EXPECT_NEAR(shownImage().x() + shownImage().width(), a.width(), 0.5);
        }
}

TEST_F(BookViewExtremePageTest, EveryZoomModeKeepsExtremePagesWithinTheLimitsAndCoversThePageArea) {
    const std::vector<std::pair<const char*, int>> modes = {
        {"user", BookViewController::kZoomCustom},      {"zoom", BookViewController::kZoomMaximum},
        {"width", BookViewController::kZoomFitWidth},   {"height", BookViewController::kZoomFitHeight},
        {"fit", BookViewController::kZoomFitImage}};
    for (bool landscape : {false, true})
        for (const auto& [name, code] : modes)
            for (int page : {kTall, kWide}) {
                useDevice("phone", landscape);
                useMode(name, true);
                show(page);
                SCOPED_TRACE(std::string(name) + " page " + std::to_string(page) + " " + where());
                const ui::Rect a = area();
                const ui::Size o = viewer->displayBookPage()->originalSize;
                const double z = sv().zoomScale();
                EXPECT_EQ(viewer->zoomMode(), code);
                EXPECT_GE(z, sv().minimumZoomScale() - 1e-6);
                EXPECT_LE(z, sv().maximumZoomScale() + 1e-6);
                EXPECT_GE(sv().contentSize().width, a.width() - 0.5);
                EXPECT_GE(sv().contentSize().height, std::min(a.height(), o.height * z) - 0.5);
                const ui::Rect image = shownImage();
                // The page (or its letterbox) is on screen: no blank half.
                EXPECT_LE(image.x(), 0.5);
                EXPECT_GE(image.x() + image.width(), a.width() - 0.5);
                EXPECT_LE(image.y(), 0.5);
                if (code == BookViewController::kZoomFitImage) {
                    EXPECT_NEAR(z, std::min(a.width() / o.width, a.height() / o.height), 1e-3);
                    EXPECT_EQ(sv().contentOffset(), ui::Point(0, 0)) << "the whole page is on screen";
                }
            }
}

TEST_F(BookViewExtremePageTest, ATallPageThatStillPairsFillsItsSpreadsWidth) {
    useDevice("phone", true);
    useMode("width", true);
    show(kPairA);
    SCOPED_TRACE(where());
    ASSERT_TRUE(viewer->displayBookPage()->is2PageLoaded);
    const ui::Rect a = area();
    const ui::Size o = viewer->displayBookPage()->originalSize;
    EXPECT_NEAR(o.height, 3000, 0.5);
    EXPECT_NEAR(sv().zoomScale(), a.width() / o.width, 1e-3);
    EXPECT_NEAR(shownImage().width(), a.width(), 0.5);
    EXPECT_EQ(sv().contentOffset(), ui::Point(0, 0));
}

TEST_F(BookViewExtremePageTest, TurningTheDeviceRefitsAStripToTheNewWidth) {
    useDevice("phone", false);
    useMode("width", false);
    show(kTall);
    for (auto o : {ui::InterfaceOrientation::LandscapeLeft, ui::InterfaceOrientation::Portrait,
                   ui::InterfaceOrientation::LandscapeLeft}) {
        ASSERT_TRUE(window->rotate(o));
        pass();
        SCOPED_TRACE(where());
        const ui::Rect a = area();
        EXPECT_NEAR(sv().zoomScale(), a.width() / 800, 0.01);
        EXPECT_NEAR(shownImage().width(), a.width(), 1.0);
        EXPECT_NEAR(shownImage().x(), 0, 0.5);
        EXPECT_NEAR(sv().contentOffset().x, 0, 0.5);
    }
    writeSnapshot("strip-turned.png");
}

}  // namespace
