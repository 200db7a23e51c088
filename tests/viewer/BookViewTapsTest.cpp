#include "tests/viewer/ViewerFixture.h"

#include "platform/core/OutputVolume.h"
#include "platform/core/PropertyList.h"
#include "platform/ui/KeyCommand.h"

using namespace viewertest;

namespace {

// Taps, keys and buttons, seen as the functions they choose.
class BookViewTapsTest : public ViewerTest {
protected:
    // Every region its own function; quarters run at once (no double tap).
    // The top-left quarter holds the menu: a table without one is changed
    // by the settings so that a single tap always reaches it.
    static PageTapConfig regionTable() {
        PageTapConfig t;
        t.tapTopLeft = 5;
        t.tapTopRight = 6;
        t.tapBottomLeft = 7;
        t.tapBottomRight = 8;
        t.tapLeftEdge = 9;
        t.tapRightEdge = 10;
        t.tapTopEdge = 11;
        t.tapBottomEdge = 12;
        t.tapQuarterTopLeft = 1;
        t.tapQuarterTopRight = 15;
        t.tapQuarterBottomLeft = 16;
        t.tapQuarterBottomRight = 17;
        t.tapSingle = 0;
        t.tapDouble = 0;
        t.tapForwardEdge = 2;
        t.tapBackwardEdge = 3;
        return t;
    }
    // A tap at a window point; the function it ran (0 for none) once every wait is over.
    int32_t tapAt(double x, double y) {
        viewer->functions.clear();
        driver->tap({x, y});
        driver->advance(0.6);
        return viewer->take();
    }
    void openRecording(const PageTapConfig& table, double margin = 60) {
        settings->setTapConfig(table);
        settings->setTapMargin(margin);
        open(2);
        viewer->runFunctions = false;
    }
};

TEST_F(BookViewTapsTest, EveryRegionRunsItsFunctionInOrder) {
    openRecording(regionTable());
    // Page area 390 x 760, margin 60, no side insets in portrait.
    EXPECT_EQ(tapAt(10, 10), 5);
    EXPECT_EQ(tapAt(380, 10), 6);
    EXPECT_EQ(tapAt(10, 750), 7);
    EXPECT_EQ(tapAt(380, 750), 8);
    // Right-bound: the left margin is the forward edge, ahead of "left edge".
    EXPECT_EQ(tapAt(10, 380), 2);
    EXPECT_EQ(tapAt(380, 380), 3);
    EXPECT_EQ(tapAt(195, 10), 11);
    EXPECT_EQ(tapAt(195, 750), 12);
    EXPECT_EQ(tapAt(120, 200), 1);
    EXPECT_EQ(tapAt(270, 200), 15);
    EXPECT_EQ(tapAt(120, 500), 16);
    EXPECT_EQ(tapAt(270, 500), 17);
    // On the half lines: the right and the bottom quarter.
    EXPECT_EQ(tapAt(195, 200), 15);
    EXPECT_EQ(tapAt(120, 380), 16);
    // The margin itself still belongs to the edge.
    EXPECT_EQ(tapAt(60, 380), 2);
    EXPECT_EQ(tapAt(61, 380), 16);  // on the middle line: bottom-left quarter
    // Under the page area (the seek bar's band) nothing runs.
    EXPECT_EQ(tapAt(195, 770), 0);
}

TEST_F(BookViewTapsTest, EmptyRegionsFallThroughAndSwapMirrorsAllButTheTurningEdges) {
    PageTapConfig t = regionTable();
    t.tapForwardEdge = 0;
    t.tapBackwardEdge = 0;
    t.tapTopLeft = 0;
    openRecording(t);
    EXPECT_EQ(tapAt(10, 380), 9);
    EXPECT_EQ(tapAt(380, 380), 10);
    EXPECT_EQ(tapAt(10, 10), 9) << "top-left empty: the left edge is next in order";

    set("isSwapTapLeftRight", true);
    settings->setTargetBook(bookPath());
    EXPECT_EQ(tapAt(10, 380), 10);
    EXPECT_EQ(tapAt(380, 10), 9);
    // Quarters that run at once are not mirrored.
    EXPECT_EQ(tapAt(120, 200), 1);

    // The turning edges ignore the swap.
    t = regionTable();
    settings->setTapConfig(t);
    EXPECT_EQ(tapAt(10, 380), 2);
    EXPECT_EQ(tapAt(380, 380), 3);
}

TEST_F(BookViewTapsTest, WithADoubleTapFunctionSingleTapsWaitAndQuartersAreMirrored) {
    PageTapConfig t = regionTable();
    t.tapDouble = 13;
    t.tapSingle = 4;
    t.tapQuarterTopLeft = 0;
    t.tapBottomEdge = 1;  // the menu stays reachable
    openRecording(t);
    viewer->functions.clear();
    driver->tap({120, 200});
    driver->advance(0.25);
    EXPECT_TRUE(viewer->functions.empty()) << "a single tap waits for a second one";
    driver->advance(0.1);
    EXPECT_EQ(viewer->take(), 4) << "an empty quarter runs the single-tap function";

    driver->advance(1.0);
    driver->doubleTap({120, 600});
    driver->advance(0.6);
    EXPECT_EQ(viewer->functions, std::vector<int32_t>{13}) << "only the double-tap function";
    viewer->functions.clear();

    set("isSwapTapLeftRight", true);
    settings->setTargetBook(bookPath());
    EXPECT_EQ(tapAt(270, 200), 4) << "mirrored: the empty top-left quarter";
    EXPECT_EQ(tapAt(120, 200), 15);
}

TEST_F(BookViewTapsTest, TheDefaultTableOpensTheMenuZoomsAndTurns) {
    set("pageDirection", "left");
    open(2);
    const PageTapConfig t = settings->tapConfig();
    ASSERT_EQ(t.tapSingle, 1);
    ASSERT_EQ(t.tapDouble, 15);
    driver->tap(at(0.5, 0.5));
    driver->advance(0.2);
    EXPECT_TRUE(viewer->calls.empty());
    driver->advance(0.2);
    EXPECT_EQ(viewer->calls, std::vector<std::string>{"menu"});

    pass();
    const double z = viewer->scrollView()->zoomScale();
    driver->doubleTap(at(0.5, 0.5));
    pass();
    EXPECT_EQ(viewer->calls, std::vector<std::string>{"menu"}) << "a double tap abandons the single tap";
    EXPECT_NEAR(viewer->scrollView()->zoomScale(), z * 1.5, 1e-6);
    driver->doubleTap(at(0.5, 0.5));
    pass();
    EXPECT_NEAR(viewer->scrollView()->zoomScale(), z, 1e-6);

    // The top margin away from the sides switches the zoom mode.
    const int mode = viewer->zoomMode();
    driver->tap(at(0.5, 0.02));
    pass();
    EXPECT_NE(viewer->zoomMode(), mode);
    // The left margin of a right-bound book turns forward.
    driver->tap(at(0.02, 0.5));
    pass();
    EXPECT_EQ(shownPage(), 3);
}

TEST_F(BookViewTapsTest, AHugeMarginIsHeldToHalfTheViewLessThirtyPoints) {
    openRecording(regionTable(), 1000);
    // m = 195 - 30 = 165: the middle band 166 ... 224 is left for quarters.
    EXPECT_EQ(tapAt(165, 380), 2);
    EXPECT_EQ(tapAt(200, 380), 17);
    EXPECT_EQ(tapAt(225, 380), 3);
}

TEST_F(BookViewTapsTest, FunctionsAreGatedAndAMovedTouchIsNoTap) {
    openRecording(regionTable());
    viewer->doFunction(4);
    viewer->doFunction(5);
    EXPECT_EQ(viewer->functions, std::vector<int32_t>{4}) << "the second within 0.1 s is dropped";
    driver->advance(0.11);
    viewer->doFunction(5);
    EXPECT_EQ(viewer->functions, (std::vector<int32_t>{4, 5}));
    driver->advance(0.2);

    // 15 points sideways still taps; 15 up or down does not.
    viewer->functions.clear();
    driver->touchDown({120, 200});
    driver->touchUp({135, 200});
    driver->advance(0.2);
    EXPECT_EQ(viewer->take(), 1);
    driver->touchDown({120, 200});
    driver->touchUp({120, 215});
    driver->advance(0.2);
    EXPECT_EQ(viewer->take(), 0);
}

TEST_F(BookViewTapsTest, TheInvalidTapWatchdogRunsOncePerEpisodeAndCountsFromZero) {
    openRecording(regionTable());
    viewer->setInvalidTap(true);
    for (int i = 0; i < 5; ++i) driver->key(" ");  // every refused key asks again
    EXPECT_TRUE(viewer->functions.empty());
    driver->advance(3.5);
    EXPECT_TRUE(viewer->invalidTap());
    EXPECT_EQ(viewer->invalidTapReleaseCount(), 3) << "one watchdog, one tick a second";
    driver->advance(1.0);
    EXPECT_FALSE(viewer->invalidTap());
    EXPECT_EQ(viewer->invalidTapReleaseCount(), 4);

    // A second episode gets its own few seconds.
    viewer->setInvalidTap(true);
    EXPECT_EQ(tapAt(120, 200), 0);
    driver->advance(2.0);
    EXPECT_TRUE(viewer->invalidTap());
    driver->advance(2.0);
    EXPECT_FALSE(viewer->invalidTap());
    EXPECT_EQ(tapAt(120, 200), 1);
}

TEST_F(BookViewTapsTest, ALinkDefersTheFunctionOfItsOwnTapOnly) {
    openRecording(regionTable());
    viewer->linkHere = "example.com/a";
    EXPECT_EQ(tapAt(120, 200), 0) << "the function waits behind the question";
    ASSERT_EQ(viewer->linkSheets, std::vector<std::string>{"http://example.com/a"});
    ASSERT_TRUE(viewer->uriToOpen());
    viewer->linkSheetClicked(false);
    EXPECT_EQ(viewer->take(), 1) << "cancelled: the tap's own function";
    EXPECT_FALSE(viewer->uriToOpen());

    // A tap under the page area finds no link, and a touch clears an old one.
    driver->advance(0.2);
    EXPECT_EQ(tapAt(195, 780), 0);
    EXPECT_FALSE(viewer->uriToOpen());
    driver->key(" ");
    EXPECT_EQ(viewer->take(), 2);
    EXPECT_EQ(viewer->linkSheets.size(), 1u);

    // Pending link, then a new touch: the link is gone before any key.
    driver->advance(0.2);
    viewer->linkHere = "https://example.com/b";
    driver->tap({120, 200});
    ASSERT_TRUE(viewer->uriToOpen());
    viewer->linkHere.reset();
    driver->touchDown({195, 780});
    EXPECT_FALSE(viewer->uriToOpen());
    driver->touchUp({195, 780});
    driver->advance(0.2);
    driver->key(" ");
    EXPECT_EQ(viewer->take(), 2);
    EXPECT_EQ(viewer->linkSheets.size(), 2u);

    // Only web and mail addresses are offered; a local file or another
    // program's scheme is never made into a web address, and the tap does
    // what it would without a link.
    for (const char* other : {"file:///etc/passwd", "FILE:/home/u/x.cbz", "smb://nas/share", "javascript:alert(1)",
                              "/etc/passwd", "../other.pdf", " file:///etc/passwd", "\tfile:///etc/passwd",
                              "1file:///etc/passwd", "%66ile:///etc/passwd", "a b/c", ".hidden/x",
                              "mailto:a@example.com?attach=/etc/passwd", "MAILTO:a@example.com?subject=x&Attachment=~/.ssh/id_rsa",
                              "mailto:?%61ttach=file:///etc/passwd"}) {
        driver->advance(0.2);
        viewer->linkHere = other;
        EXPECT_EQ(tapAt(120, 200), 1) << other;
        EXPECT_FALSE(viewer->uriToOpen()) << other;
    }
    EXPECT_EQ(viewer->linkSheets.size(), 2u);
    const std::pair<const char*, const char*> offered[] = {
        {"mailto:a@example.com", "mailto:a@example.com"},
        {"mailto:a@example.com?subject=attached&body=attach", "mailto:a@example.com?subject=attached&body=attach"},
        {"HTTPS://example.com/c", "HTTPS://example.com/c"},
        {"www.example.com:8080/d", "http://www.example.com:8080/d"},
        {" https://example.com/e\n", "https://example.com/e"},
        {"example.com?q=1", "http://example.com?q=1"},
    };
    for (const auto& [link, shown] : offered) {
        driver->advance(0.2);
        viewer->linkHere = link;
        EXPECT_EQ(tapAt(120, 200), 0) << link;
        ASSERT_FALSE(viewer->linkSheets.empty());
        EXPECT_EQ(viewer->linkSheets.back(), shown);
        viewer->linkSheetClicked(false);
        EXPECT_EQ(viewer->take(), 1);
    }
}

TEST_F(BookViewTapsTest, KeysUseTheShortcutListButSpaceAlwaysTurns) {
    // The keyboard settings screen's list: space is taken for "zoom mode".
    sys::PlistArray list;
    for (auto [key, command] : {std::pair<const char*, int>{" ", 4}, {"z", 16}, {"z", 14}, {"\r", 5}}) {
        sys::PlistDictionary d;
        d.set("key", sys::PlistValue(std::string(key)));
        d.set("command", sys::PlistValue(int64_t(command)));
        list.push_back(sys::PlistValue(std::move(d)));
    }
    ASSERT_TRUE(sys::PropertyList::writeFile(sys::PlistValue(std::move(list)), settingsDir.file(".keyboard.lbs")));
    openRecording(regionTable());
    ASSERT_EQ(viewer->keyboardShortcuts().size(), 4u);
    driver->key(" ");
    EXPECT_EQ(viewer->take(), 2);
    driver->advance(0.2);
    driver->key("z");
    EXPECT_EQ(viewer->take(), 16) << "the first matching entry";
    driver->advance(0.2);
    driver->key("\r");
    EXPECT_EQ(viewer->take(), 5);
    driver->advance(0.2);
    viewer->calls.clear();
    driver->key("q");
    EXPECT_EQ(viewer->take(), 0);
    EXPECT_EQ(viewer->calls, std::vector<std::string>{"removePageJump1"}) << "every key closes the menu";
    // Modifiers do not make another key.
    driver->advance(0.2);
    EXPECT_FALSE(driver->key("z", ui::KeyModifierCommand));
}

TEST_F(BookViewTapsTest, ArrowsPanAZoomedPageBeforeTurning) {
    open(2);
    viewer->toggleZoom(2.0);
    pass();
    ui::ScrollView& sv = *viewer->scrollView();
    ASSERT_GT(sv.contentSize().width, sv.frame().width() + 1);
    // A right-bound page opens at its top-right corner; left pans first.
    sv.setContentOffset({sv.contentSize().width - sv.frame().width(), 0});
    const double x0 = sv.contentOffset().x;
    driver->key(ui::KeyInput::leftArrow);
    pass();
    EXPECT_EQ(shownPage(), 2);
    EXPECT_NEAR(viewer->scrollView()->contentOffset().x, x0 - sv.frame().width() / 2, 1e-6);
    driver->key(ui::KeyInput::leftArrow);
    pass();
    EXPECT_EQ(shownPage(), 2);
    EXPECT_NEAR(viewer->scrollView()->contentOffset().x, 0, 1e-6);
    driver->key(ui::KeyInput::leftArrow);
    pass();
    EXPECT_EQ(shownPage(), 3) << "at the edge the arrow turns";
    // Down scrolls by half a screen, never past the end.
    const double y0 = viewer->scrollView()->contentOffset().y;
    driver->key(ui::KeyInput::downArrow);
    pass();
    EXPECT_GE(viewer->scrollView()->contentOffset().y, y0);
    EXPECT_LE(viewer->scrollView()->contentOffset().y,
              viewer->scrollView()->contentSize().height - viewer->scrollView()->frame().height() + 1e-6);
}

TEST_F(BookViewTapsTest, VolumeButtonsTurnPagesAndADoublePressGoesBack) {
    set("volumeButton", "doubleclick");
    open(3);
    driver->advance(0.6);  // the check takes presses half a second after it starts
    auto volume = sys::OutputVolume::shared();
    volume->pressVolumeButton(true);
    driver->advance(0.2);
    EXPECT_EQ(shownPage(), 3) << "one press waits 0.3 s for a second";
    pass();
    EXPECT_EQ(shownPage(), 4);

    volume->pressVolumeButton(false);
    driver->advance(0.15);  // the check puts the volume back after 0.1 s
    volume->pressVolumeButton(true);
    pass();
    EXPECT_EQ(shownPage(), 3) << "two presses: back, and the pending forward turn is dropped";
    pass();
    EXPECT_EQ(shownPage(), 3);

    set("volumeButton", "up");
    volume->pressVolumeButton(true);
    pass();
    EXPECT_EQ(shownPage(), 4);
    volume->pressVolumeButton(false);
    pass();
    EXPECT_EQ(shownPage(), 3);
}

}  // namespace

namespace {

// Keys of a desktop keyboard.
class BookViewDesktopKeysTest : public ViewerTest {};

TEST_F(BookViewDesktopKeysTest, KeysPressedWhilePagesSlideSkimTheBook) {
    open(0);
    pass();
    // Six presses 60 ms apart, each during the slide (or the load) of the
    // one before: every press turns once.
    for (int i = 0; i < 6; ++i) {
        driver->key(ui::KeyInput::pageDown);
        driver->advance(0.06);
        settleLoads();
    }
    pass();
    EXPECT_EQ(shownPage(), 6);
    // Keys that come faster than pages move are kept, a few of them.
    for (int i = 0; i < 5; ++i) driver->key(ui::KeyInput::pageUp);
    pass(2);
    EXPECT_EQ(shownPage(), 2);
}

TEST_F(BookViewDesktopKeysTest, PageDownTurnsForwardWhateverTheVolumeButtonsDo) {
    for (const char* volume : {"up", "down", "disable"}) {
        set("volumeButton", volume);
        open(3);
        pass();
        driver->key(ui::KeyInput::pageDown);
        pass();
        EXPECT_EQ(shownPage(), 4) << volume;
        driver->key(ui::KeyInput::pageUp);
        pass();
        driver->key(ui::KeyInput::pageUp);
        pass();
        EXPECT_EQ(shownPage(), 2) << volume;
        viewer->setDelegate(nullptr);
        window->setRootViewController(nullptr);
        viewer.reset();
        session->closeBook();
        pass();
    }
}

}  // namespace
