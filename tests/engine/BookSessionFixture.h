#pragma once

#include "engine/BookReaderEx.h"
#include "foundation/Settings.h"
#include "platform/core/DeviceProfile.h"
#include "platform/core/UserDefaults.h"
#include "tests/engine/BookTestPages.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"

#include <memory>
#include <string>

namespace test {

// A reading session over a folder of synthetic pages, with settings whose
// every display switch starts off. Pages 0-7 are 200 x 300 except page 3,
// a wide 400 x 300 page; each half of a page has its own colour
// (pageColour), so a sampled pixel tells which page and half it shows.
class BookSessionFixture : public VirtualClockTest {
protected:
    static constexpr int kPages = 8;
    static constexpr int kWidePage = 3;

    void SetUp() override {
        VirtualClockTest::SetUp();
        savedProfile_ = sys::DeviceProfile::current();
        useProfile("desktop");
        settings = std::make_shared<Settings>(settingsDir.path(), &defaults);
        settings->readFromFile();
        for (const char* key : {"isPreRead", "isDivisionPage", "isDoubleTruck", "isNoAspectFill",
                                "isSwitchSplitLeftRight", "isExchangeDoublePage", "isSingleViewFirstPage",
                                "clipBlankSpace"})
            set(key, false);
        set("centerSpace", "0");
        set("pageDirection", "left");  // the next page lies to the left: a right-bound book
        for (const char* key : {"imageFilter", "imageFilter2", "imageFilter3"}) set(key, "none");
        for (int i = 0; i < kPages; ++i) {
            int w = i == kWidePage ? 400 : 200;
            ASSERT_TRUE(writeHalvesPage(pagePath(i), w, 300, pageColour(i, false), pageColour(i, true)));
        }
    }
    void TearDown() override {
        if (session) session->closeBook();
        session.reset();
        sys::DeviceProfile::setCurrent(savedProfile_);
        VirtualClockTest::TearDown();
    }

    void useProfile(const char* name, double scale = 0) {
        auto p = sys::DeviceProfile::named(name);
        ASSERT_TRUE(p.has_value()) << name;
        if (scale > 0) {
            p->scale = scale;
            p->name = std::string(name) + "-scaled";
        }
        sys::DeviceProfile::setCurrent(*p);
    }

    void set(const std::string& key, const sys::PlistValue& value) { settings->setValueForKey(key, value); }

    std::string pagePath(int i) const { return bookDir.file("p" + std::to_string(i) + ".bmp"); }

    std::shared_ptr<BookReaderEx> openBook(int page = 0) {
        EXPECT_TRUE(openBookFile(pagePath(page)));
        return session;
    }

    // A new session on the settings, opening the book at `path`.
    bool openBookFile(const std::string& path) {
        session = std::make_shared<BookReaderEx>();
        session->setSettings(settings);
        return session->openBookWithName(path, {}, std::nullopt, std::nullopt, std::nullopt, false, false);
    }

    // A request for `op` from the current view (or from `page` when there is
    // none or for a jump), fitting the page into `area`.
    PageLoadRequest request(int op, int page, gfx::Size area) const {
        PageLoadRequest r{};
        r.operation = op;
        r.targetPage = page;
        r.minimumImageSize = area;
        BookReaderEx::setLoadSizeLoadStructWithMode(Settings::kZoomFit, r.targetSize, area, 1.0);
        r.targetSizePreload = r.targetSize;
        auto now = session ? session->loadedPage() : nullptr;
        if (now && op >= 0 && op <= 3) {
            r.targetPage = now->targetPage;
            r.isNow2PageLoaded = now->is2PageLoaded;
            r.isNowDividedPage = now->isDividedPage;
            r.secondPage = now->isSecondPage;
        }
        return r;
    }

    // Loads a view and returns it (the result must be `expected`).
    std::shared_ptr<const BookPage> load(int op, int page, gfx::Size area, int expected = 0) {
        int result = session->loadPage(request(op, page, area));
        EXPECT_EQ(result, expected);
        return session->loadedPage();
    }

    TempDir bookDir{"book"};
    TempDir settingsDir{"booksettings"};
    TempDir prefsDir{"bookprefs"};
    sys::UserDefaults defaults{prefsDir.file("defaults.plist")};
    std::shared_ptr<Settings> settings;
    std::shared_ptr<BookReaderEx> session;
    sys::DeviceProfile savedProfile_;
};

}  // namespace test
