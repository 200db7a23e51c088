#pragma once

#include "engine/BookReaderEx.h"
#include "foundation/BookCommon.h"
#include "foundation/DeviceScreenState.h"
#include "foundation/Settings.h"
#include "foundation/StatisticsStore.h"
#include "foundation/WindowScreenState.h"
#include "platform/core/AppPaths.h"
#include "platform/core/DeviceProfile.h"
#include "platform/core/FileManager.h"
#include "platform/core/UserDefaults.h"
#include "platform/graphics/FixedTextEngine.h"
#include "platform/ui/Application.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Responder.h"
#include "platform/ui/Screen.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/Window.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"
#include "viewer/BookViewController.h"

#include <chrono>
#include <filesystem>
#include <thread>
#include <memory>
#include <string>
#include <vector>

namespace viewertest {

// A reading screen that notes the functions it runs and the later pieces of
// the screen it reaches, and can leave the functions out (to see only which
// one a tap or key chose).
class RecordingViewer : public BookViewController {
public:
    std::vector<int32_t> functions;
    std::vector<std::string> calls;
    bool runFunctions = true;
    std::optional<std::string> linkHere;
    std::vector<std::string> linkSheets;
    // The menu sheet and the next-book button run for real (they are only noted otherwise).
    bool realSheet = false;

    void runFunction(int32_t f) override {
        functions.push_back(f);
        if (runFunctions) BookViewController::runFunction(f);
    }
    void onTapMenuarea() override {
        calls.push_back("menu");
        if (realSheet) BookViewController::onTapMenuarea();
    }
    void displayNextBookButton(bool next) override {
        calls.push_back(next ? "nextBookButton" : "prevBookButton");
        if (realSheet) BookViewController::displayNextBookButton(next);
    }
    void removePageJump(int mode) override {
        calls.push_back("removePageJump" + std::to_string(mode));
        if (realSheet) BookViewController::removePageJump(mode);
    }
    void presentAlert(const AlertQuestion&) override { calls.push_back("alert"); }
    void showLinkSheet(const std::string& url) override { linkSheets.push_back(url); }
    std::optional<std::string> linkAtPoint(ui::Point) override { return linkHere; }
    using BookViewController::setInvalidTap;

    // The last function noted, 0 for none; clears the record.
    int32_t take() {
        int32_t f = functions.empty() ? 0 : functions.back();
        functions.clear();
        return f;
    }
};

// The list that opened the book.
class ListDelegate : public BookViewControllerDelegate {
public:
    std::vector<std::string> finished;
    int thumbs = 0;
    std::vector<bool> reopenAsked;
    int64_t nextIndex = -1;  // the answer about a neighbouring book
    void finishReadBook(const std::string& name) override { finished.push_back(name); }
    void changeBookThumbs() override { ++thumbs; }
    bool reOpenNextBook(const std::string&, const std::optional<std::string>&, bool isNext, bool*) override {
        reopenAsked.push_back(isNext);
        return false;
    }
    int64_t getNextBookIndex(const std::string&, const std::optional<std::string>&, bool) override {
        return nextIndex;
    }
};

// A real folder book (the eight fixture pages; 06.png is a wide page) read
// on the "phone" profile in a navigation stack, driven on the virtual clock.
class ViewerTest : public test::VirtualClockTest {
protected:
    static constexpr int kPages = 8;

    void SetUp() override {
        VirtualClockTest::SetUp();
        savedProfile_ = sys::DeviceProfile::current();
        sys::AppPaths::setHome(home.path());
        setProfile("phone");
        textScope_ = std::make_unique<gfx::TextEngine::Scope>(std::make_shared<gfx::FixedTextEngine>());
        BookCommon::resetDeviceStateForTesting();
        DeviceScreenState::setShared(std::make_shared<WindowScreenState>());
        window = std::make_shared<ui::Window>();
        window->makeKeyAndVisible();
        driver = std::make_unique<ui::test::Driver>(*window);

        std::filesystem::create_directories(bookDir());
        for (const char* n : {"01.jpg", "02.jpg", "03.jpg", "04.jpg", "05.jpg", "06.png", "07.jpg", "08.jpg"})
            std::filesystem::copy_file(test::dataPath(std::string("pages/") + n), bookDir() + "/" + n);

        settings = std::make_shared<Settings>(settingsDir.path(), &defaults);
        settings->readFromFile();
        set("pageDirection", "left");
        set("isPreRead", true);
        set("isDivisionPage", false);
        set("isDoubleTruck", false);
        set("isShowStatusbar", false);
        set("animation", "default");
        set("bookToolView", "bottom");
        set("defaultZoomMode", "fit");
        set("isDisplayZoomMode", false);
        settings->setTargetBook(bookPath());
    }

    void TearDown() override {
        closeScreen();
        DeviceScreenState::setShared(nullptr);
        BookCommon::resetDeviceStateForTesting();
        StatisticsStore::releaseSharedStatisticsStore();
        textScope_.reset();
        sys::DeviceProfile::setCurrent(savedProfile_);
        ui::Application::shared().reset();
        ui::Screen::main().reset();
        sys::AppPaths::setHome("");
        VirtualClockTest::TearDown();
    }

    // Closes the book and its screen and lets the window go.
    void closeScreen() {
        if (viewer) viewer->setDelegate(nullptr);
        if (window) window->setRootViewController(nullptr);
        nav.reset();
        viewer.reset();
        if (session) session->closeBook();
        session.reset();
        driver.reset();
        if (ui::Responder::firstResponder()) ui::Responder::firstResponder()->resignFirstResponder();
        window.reset();
    }

    static void setProfile(const std::string& name) {
        sys::DeviceProfile p = *sys::DeviceProfile::named(name);
        p.darkMode = false;
        sys::DeviceProfile::setCurrent(p);
        ui::Application::shared().reset();
        ui::Screen::main().reset();
    }

    void set(const std::string& key, const sys::PlistValue& value) { settings->setValueForKey(key, value); }

    std::string bookDir() const { return home.path() + "/Documents/book"; }
    std::string bookPath() const { return bookDir() + "/01.jpg"; }

    // Opens the book as the file list does and pushes the reading screen.
    // `viewerPage` is what the opener hands the screen (the page loaded when
    // negative); `book` is another book than the folder of pictures.
    void open(int page = 0, int viewerPage = -1, const std::string& book = {}) {
        session = std::make_shared<BookReaderEx>();
        session->setSettings(settings);
        const std::string path = book.empty() ? bookPath() : book;
        ASSERT_TRUE(session->openBookWithName(path, {}, std::nullopt, std::nullopt, std::nullopt, false, false));
        if (book.empty()) {
            ASSERT_EQ(session->getPageNum(), kPages);
        }
        PageLoadRequest r{};
        const ui::Rect area =
            BookViewController::getBookviewAreaRect(!settings->isShowStatusbar(), settings->getBookToolviewStyle());
        const ui::Rect win = window->bounds();
        int mode = settings->getZoomModeForUseWithRotation(win.width() > win.height());
        if (mode == 0 || mode == -1) mode = 2;
        BookReaderEx::setLoadSizeLoadStructWithMode(mode, r.targetSize, area.size, 1.0);
        r.targetSizePreload = r.targetSize;
        r.minimumImageSize = area.size;
        r.targetPage = page;
        r.operation = PageLoadRequest::kCompose;
        r.isPreloadPages = true;
        ASSERT_EQ(session->loadPage(r), BookReaderEx::kLoadDone);

        showEmptyNavigation();
        viewer = std::make_shared<RecordingViewer>();
        viewer->setBookReader(session);
        viewer->setFileName(path);
        viewer->setPage(viewerPage >= 0 ? viewerPage : page);
        viewer->setSettings(settings);
        viewer->setIsLandscape(win.width() > win.height());
        viewer->setStartTime(sys::Date::now());
        viewer->setIsStreamingMode(false);
        viewer->setDelegate(&list);
        viewer->setOpenFolder(bookDir());
        nav->pushViewController(viewer, false);
        settle();
    }

    // Loads the first page of the open `session` at the page area's width, as
    // a book opened without a zoom mode of its own.
    void loadFirstPageAtWidth() {
        PageLoadRequest r{};
        const ui::Rect area =
            BookViewController::getBookviewAreaRect(!settings->isShowStatusbar(), settings->getBookToolviewStyle());
        BookReaderEx::setLoadSizeLoadStructWithMode(4, r.targetSize, area.size, 1.0);
        r.targetSizePreload = r.targetSize;
        r.minimumImageSize = area.size;
        r.operation = PageLoadRequest::kCompose;
        ASSERT_EQ(session->loadPage(r), BookReaderEx::kLoadDone);
    }

    // The window's root becomes a navigation stack with an empty screen, for
    // the reading screen to be pushed on.
    void showEmptyNavigation() {
        auto root = std::make_shared<ui::ViewController>();
        nav = std::make_shared<ui::NavigationController>(root);
        window->setRootViewController(nav);
        driver->settle();
    }

    // Lets posted work and workers finish, and the run loop's timers due now fire.
    void settle() {
        driver->settle();
        driver->advance(0);
    }
    // Waits (in real time, bounded) until no page load of the screen is
    // under way: a worker that joins another is briefly not counted busy, so
    // the loop's own waiting cannot be relied on alone.
    bool settleLoads() {
        bool waited = false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (viewer && (viewer->isMovingPage() || viewer->isPageMoveLoading() || viewer->isNowReloading()) &&
               std::chrono::steady_clock::now() < deadline) {
            waited = true;
            driver->settle();
            driver->advance(0);
            std::this_thread::yield();
        }
        return waited;
    }
    // Time enough for every slide, single-tap wait and function gate.
    void pass(double seconds = 1.0) {
        settleLoads();
        driver->advance(seconds);
        if (settleLoads()) driver->advance(0.5);
    }

    int shownPage() const { return viewer->displayBookPage() ? viewer->displayBookPage()->targetPage : -1; }
    ui::Rect area() const { return viewer->getScreenRect(); }
    // A point of the page area in window coordinates, as fractions of it.
    ui::Point at(double fx, double fy) const {
        const ui::Rect a = area();
        return {a.x() + a.width() * fx, a.y() + a.height() * fy};
    }

    void writeSnapshot(const std::string& name) {
        const std::string dir = ::test::workDir() + "/viewer-snapshots";
        std::filesystem::create_directories(dir);
        ASSERT_TRUE(driver->snapshot(dir + "/" + name));
    }

    test::TempDir home{"viewer-home"};
    test::TempDir settingsDir{"viewer-settings"};
    test::TempDir prefsDir{"viewer-prefs"};
    sys::UserDefaults defaults{prefsDir.file("defaults.plist")};
    std::shared_ptr<Settings> settings;
    std::shared_ptr<BookReaderEx> session;
    std::shared_ptr<ui::Window> window;
    std::unique_ptr<ui::test::Driver> driver;
    std::shared_ptr<ui::NavigationController> nav;
    std::shared_ptr<RecordingViewer> viewer;
    ListDelegate list;

private:
    sys::DeviceProfile savedProfile_;
    std::unique_ptr<gfx::TextEngine::Scope> textScope_;
};

}  // namespace viewertest
