#pragma once

#include <gtest/gtest.h>

#include "app/LeafbrightProgram.h"
#include "platform/core/DeviceProfile.h"
#include "platform/core/PropertyList.h"
#include "platform/graphics/Rgba.h"
#include "platform/ui/NavigationController.h"
#include "tests/support/TestHome.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

class BookViewController;
namespace ui {
class BarButtonItem;
class NavigationController;
class View;
class Window;
}  // namespace ui

// Base fixture for tests that run the whole program headless on the virtual
// clock in a home of their own, and put every shared state back afterwards.
class ProgramRun : public ::testing::Test {
protected:
    // A fresh home tagged `tag`, with a stand-in for the bundled sample book.
    void makeHome(const std::string& tag);
    void TearDown() override;

    std::string lib() const { return home->file("lib"); }
    std::string docs() const { return lib() + "/Documents"; }
    // Prepares the home before a launch (folders, defaults, key chain).
    void useHome();
    // Settings and library folders already there: no sample book in the way.
    void markNotFirstRun();

    // The options of a headless run in this home on `device`, opening `target`.
    ProgramOptions headlessOptions(std::optional<std::string> target = std::nullopt) const;
    // The version's notice taken as seen: no page of news comes first.
    void markNoticeSeen();
    // Launches the program (on `device`, headless) and lets its first second run.
    bool launch(std::optional<std::string> target = std::nullopt);
    void stop();
    // Plays a script in the README's step language; any step that fails fails the test.
    void play(const std::string& script) {
        std::string error;
        ASSERT_EQ(program->playScript(script, &error), 0) << error;
    }
    // The running program's window, its navigation, and the reading screen when it is on top.
    ui::Window& window() const;
    ui::NavigationController* nav() const;
    BookViewController* viewer() const;
    // The navigation of the screens presented over the library (the transfer
    // screens), and its top screen as a T, when shown.
    ui::NavigationController* presentedNav() const;
    template <class T> T* presentedTop() const {
        auto* n = presentedNav();
        return n ? dynamic_cast<T*>(n->topViewController()) : nullptr;
    }
    // The library's download button: the list of sites comes up.
    void openSiteList();
    // The view of the reading screen's menu bar item `which` picks, or null.
    ui::View* menuBarItem(const std::function<bool(const ui::BarButtonItem&)>& which) const;
    // Whether the item's image name holds `part`.
    static bool named(const ui::BarButtonItem& item, const char* part);
    // "X Y" of the middle of `v` in the window, for a tap step.
    static std::string centreOf(const ui::View& v);
    // A tap step in the middle of the window.
    std::string tapMiddle() const;
    // A page of news about the version may come first: closed when it shows.
    void closeWhatsNew();
    // The settings every book starts from, as the settings screen keeps them.
    void writeGlobalSettings(const sys::PlistDictionary& settings);
    // The book Documents/`name` of `pages` flat PNG pages of `w` x `h`, page i
    // painted `colour(i)`; the pages are written to `folder` first.
    void makeFlatBook(const std::string& folder, const std::string& name, int pages, int w, int h,
                      const std::function<gfx::Rgba(int)>& colour);
    // Stores `list` (quoted names in `folder`) as the book Documents/`name`.
    void zipBook(const std::string& folder, const std::string& name, const std::string& list);
    // The pictures of the home's "shots" folder outlive the home: copied to
    // the test work area's "snapshots", their names after `prefix`.
    void keepShots(const std::string& prefix);

    std::string device = "phone";
    // The quick action the next launch starts with.
    std::optional<std::string> quickAction;
    // Off: the version was seen before, so no notice page waits for "Close",
    // and launch() lets the launch animation end before the program's first second.
    bool showStartScreens = false;
    sys::DeviceProfile savedProfile_ = sys::DeviceProfile::current();
    std::unique_ptr<test::TempDir> home;
    std::unique_ptr<LeafbrightProgram> program;
};
