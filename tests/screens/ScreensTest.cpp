#include "tests/library/LibraryTestSupport.h"

#include "foundation/ActiveLog.h"
#include "foundation/BookHistory.h"
#include "foundation/LBDebugLog.h"
#include "foundation/FolderLockInfo.h"
#include "foundation/HistoryCollector.h"
#include "foundation/LanguageTables.h"
#include "foundation/ThemeLoader.h"
#include "foundation/ui/ItemSelectViewController.h"
#include "foundation/ui/TextInputViewController.h"
#include "library/ThemeSelectViewController.h"
#include "foundation/ui/QNTableViewCellCustom.h"
#include "foundation/ui/QNTableViewData.h"
#include "library/LocalFilelistViewController.h"
#include "platform/core/Thread.h"
#include "platform/graphics/Canvas.h"
#include "platform/graphics/PangoTextEngine.h"
#include "screens/HistoryViewController.h"
#include "screens/LogTextViewController.h"
#include "screens/PassCodeInputViewEx.h"
#include "screens/PassCodeRequet.h"
#include "platform/ui/Label.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/Switch.h"
#include "screens/SettingViewControllerEx.h"
#include "viewer/BookViewController.h"

using librarytest::LibraryTest;

namespace {

struct InputRecorder : PassCodeInputViewExDelegate {
    std::vector<std::string> events;
    void passCodeInputComplete(int64_t action, const std::string& path, const std::string& rel,
                               const std::string& code) override {
        events.push_back("complete " + std::to_string(action) + " " + path + " " + rel + " " + code);
    }
    void passCodeInputCancel(int64_t action) override { events.push_back("cancel " + std::to_string(action)); }
};

struct RequestRecorder : PassCodeRequetDelegate {
    std::vector<std::string> events;
    void finishRequestPasscode(const PassCodeTarget& t, bool ok) override {
        events.push_back(std::string(ok ? "ok " : "failed ") + t.pathFromBooks);
    }
    void cancelRequestPasscode(const PassCodeTarget& t) override { events.push_back("cancel " + t.pathFromBooks); }
};

// The row of `key` on the screen, or none.
std::pair<ui::IndexPath, QNTableViewData*> rowOf(SettingViewControllerEx& screen, const std::string& key) {
    const auto& sections = screen.table()->sectionList();
    for (size_t s = 0; s < sections.size(); ++s)
        for (size_t r = 0; r < sections[s].size(); ++r)
            if (sections[s][r]->key() == key) return {{int(s), int(r)}, sections[s][r].get()};
    return {{0, 0}, nullptr};
}

// The switch of the row at `ip`, the row scrolled into sight; none when the
// row shows no switch.
ui::Switch* switchAt(SettingViewControllerEx& screen, const ui::IndexPath& ip) {
    screen.table()->scrollToRowAtIndexPath(ip, ui::TableViewScrollPosition::Middle, false);
    screen.table()->layoutIfNeeded();
    auto* cell = screen.table()->cellForRowAtIndexPath(ip);
    return cell ? dynamic_cast<ui::Switch*>(cell->accessoryView().get()) : nullptr;
}

class ScreensTest : public LibraryTest {
protected:
    void TearDown() override {
        PassCodeRequet::setAuthenticator(nullptr);
        HistoryCollector::relaseHistory();
        LibraryTest::TearDown();
    }
    // The settings screen (`type` 1: the book's own) pushed over `nav`, at rest.
    std::shared_ptr<SettingViewControllerEx> pushSettings(ui::NavigationController& nav, int type = 0) {
        auto screen = std::make_shared<SettingViewControllerEx>();
        screen->setSettings_(settings);
        if (type != 0) screen->setSettingViewType(type);
        nav.pushViewController(screen, false);
        driver->advance(0.5);
        return screen;
    }
};

TEST_F(ScreensTest, PasscodeEntryChecksFourDigitsAndAnswersAfterItCloses) {
    auto base = std::make_shared<ui::ViewController>();
    showInNavigation(base);
    auto rec = std::make_shared<InputRecorder>();
    auto screen = std::make_shared<PassCodeInputViewEx>();
    screen->setPassCodeHash_(BookCommon::passcodeToHash("2468"));
    screen->setPath_("/lib/.lock_Secret");
    screen->setPathFromBooks_(".lock_Secret");
    screen->setActionID_(1);
    screen->setDelegate(rec);
    base->present(screen, false);
    driver->advance(0.5);
    screen->passcodeChanged("24");
    EXPECT_EQ(screen->messageLabel()->text(), "");
    screen->passcodeField()->setText("1357");
    screen->passcodeChanged("1357");
    EXPECT_EQ(screen->messageLabel()->text(), "Incorrect pass code.");
    EXPECT_EQ(screen->passcodeField()->text(), "");
    EXPECT_TRUE(rec->events.empty());
    screen->passcodeChanged("2468");
    driver->advance(0.05);
    EXPECT_TRUE(rec->events.empty());  // not before the screen has gone
    driver->advance(0.6);
    EXPECT_EQ(rec->events, std::vector<std::string>{"complete 1 /lib/.lock_Secret .lock_Secret 2468"});
    EXPECT_FALSE(base->presentedViewController());
    screen->onCancel();  // too late: already answered
    EXPECT_EQ(rec->events.size(), 1u);
}

TEST_F(ScreensTest, CancellingThePasscodeEntryTellsTheList) {
    auto base = std::make_shared<ui::ViewController>();
    showInNavigation(base);
    auto rec = std::make_shared<InputRecorder>();
    auto screen = std::make_shared<PassCodeInputViewEx>();
    screen->setActionID_(3);
    screen->setDelegate(rec);
    base->present(screen, false);
    driver->advance(0.5);
    ASSERT_TRUE(tapText("Cancel"));
    driver->advance(0.6);
    EXPECT_EQ(rec->events, std::vector<std::string>{"cancel 3"});
    EXPECT_FALSE(base->presentedViewController());
}

TEST_F(ScreensTest, BiometricRequestsAnswerOnTheMainThreadAndFailWithoutBiometrics) {
    auto rec = std::make_shared<RequestRecorder>();
    auto request = std::make_shared<PassCodeRequet>();
    request->setPath("/lib/Comics/.lock_Secret");
    request->setPathFromBooks("Comics/.lock_Secret");
    request->setDelegate(rec);
    EXPECT_EQ(request->reason(), "Secret is locked.");
    request->requestPasscode();
    EXPECT_TRUE(rec->events.empty());
    driver->advance(0.1);
    EXPECT_EQ(rec->events, std::vector<std::string>{"failed Comics/.lock_Secret"});

    // A platform check answering from its own thread.
    std::string reasonSeen;
    PassCodeRequet::setAuthenticator([&reasonSeen](const std::string& reason, std::function<void(PassCodeRequet::Outcome)> done) {
        reasonSeen = reason;
        sys::Thread([done](const std::atomic<bool>&) { done(PassCodeRequet::Outcome::Cancelled); }).join();
    });
    request->requestPasscode();
    driver->advance(0.1);
    EXPECT_EQ(reasonSeen, "Secret is locked.");
    EXPECT_EQ(rec->events.back(), "cancel Comics/.lock_Secret");
    PassCodeRequet::setAuthenticator([](const std::string&, std::function<void(PassCodeRequet::Outcome)> done) {
        done(PassCodeRequet::Outcome::Success);
    });
    request->requestPasscode();
    driver->advance(0.1);
    EXPECT_EQ(rec->events.back(), "ok Comics/.lock_Secret");
}

TEST_F(ScreensTest, PickingAHistoryEntryWalksToItsFolderAndOpensTheBook) {
    const std::string folder = join(documents(), "Comics");
    gfx::Canvas page(40, 60, 1.0);
    page.fillRect({0, 0, 40, 60}, gfx::Rgba{0.8, 0.2, 0.2, 1});
    mkdir(folder);
    ASSERT_TRUE(page.writePNG(join(folder, "p1.png")));
    BookHistory h;
    h.setPathFromBooks("Comics/p1.png");
    h.setBookTitle("p1.png");
    HistoryCollector::addHistory(h);
    // A book read since, and then moved or deleted outside the program.
    h.setPathFromBooks("Comics/Gone.cbz");
    h.setBookTitle("Gone.cbz");
    HistoryCollector::addHistory(h);

    // The root list as the program has it, taking a jump as it comes back
    // on screen as well as from the history's own start.
    auto root = std::make_shared<LocalFilelistViewController>();
    root->setIsRootViewController(true);
    auto nav = showInNavigation(root);
    auto history = std::make_shared<HistoryViewController>();
    history->setCalledViewController(root);
    root->present(std::make_shared<ui::NavigationController>(history), false);
    driver->advance(0.5);
    ASSERT_EQ(history->entries().size(), 2u);
    EXPECT_TRUE(driver->findByText("p1.png"));
    // The book that is gone says so; the history stays for another choice.
    history->selectEntry(0);
    driver->advance(1.0);
    EXPECT_TRUE(driver->findByText("This book is no longer in the library."));
    EXPECT_TRUE(nav->presentedViewController()) << "the history closed";
    EXPECT_FALSE(LastStatusRestore::getJumpBook());
    ASSERT_TRUE(tapText("OK"));
    driver->advance(1.0);
    EXPECT_FALSE(driver->findByText("This book is no longer in the library."));
    history->selectEntry(1);
    driver->advance(2.0);
    EXPECT_FALSE(root->presentedViewController());
    // The book is opened once: one close brings back its folder.
    ASSERT_EQ(nav->viewControllers().size(), 3u);
    auto* comics = dynamic_cast<LocalFilelistViewController*>(nav->viewControllers()[1].get());
    ASSERT_TRUE(comics);
    EXPECT_EQ(comics->pathFromBooks(), "Comics");
    auto* viewer = dynamic_cast<BookViewController*>(nav->topViewController());
    ASSERT_TRUE(viewer);
    EXPECT_EQ(viewer->fileName(), join(folder, "p1.png"));
    EXPECT_FALSE(LastStatusRestore::getJumpBook());
}

// Picked while a list inside a locked folder is shown, the walk from the root
// asks the folder's passcode once the history has gone (asked while it went,
// the passcode screen was refused and the walk stopped short of the book).
TEST_F(ScreensTest, PickingAHistoryEntryInALockedFolderAsksItsPasscode) {
    const std::string vault = join(documents(), ".lock_Vault");
    mkdir(join(vault, "Inner"));
    ASSERT_TRUE(FolderLockInfo::lockedWithPasscode("1234", false).writeToFolder(vault));
    gfx::Canvas page(40, 60, 1.0);
    page.fillRect({0, 0, 40, 60}, gfx::Rgba{0.2, 0.8, 0.2, 1});
    ASSERT_TRUE(page.writePNG(join(vault, "Inner/p1.png")));
    BookHistory h;
    h.setPathFromBooks(".lock_Vault/Inner/p1.png");
    h.setBookTitle("p1.png");
    HistoryCollector::addHistory(h);
    auto services = std::make_shared<librarytest::PasscodeServices>();
    LibraryServices::install(services);

    auto root = std::make_shared<LocalFilelistViewController>();
    root->setIsRootViewController(true);
    auto nav = showInNavigation(root);
    auto inner = std::make_shared<LocalFilelistViewController>(ui::TableViewStyle::Plain);
    inner->setIsInLockedFolder(true);
    inner->setPathFromBooks(".lock_Vault/Inner");
    nav->pushViewController(inner, false);
    driver->advance(0.5);
    auto history = std::make_shared<HistoryViewController>();
    history->setCalledViewController(root);
    nav->present(std::make_shared<ui::NavigationController>(history), false);
    driver->advance(0.5);
    // Its folder as the library names it, not by the name that locks it.
    auto* where = dynamic_cast<ui::Label*>(driver->find([](ui::View& v) {
        auto* label = dynamic_cast<ui::Label*>(&v);
        return label && label->text().rfind("Vault/Inner", 0) == 0;
    }));
    EXPECT_TRUE(where);
    history->selectEntry(0);
    driver->advance(2.0);
    ASSERT_EQ(services->asked.size(), 1u);
    EXPECT_EQ(services->asked[0].path, vault);
    ASSERT_TRUE(nav->presentedViewController()) << "the passcode screen was not shown";
    auto answer = services->answer.lock();
    ASSERT_TRUE(answer);
    answer->passCodeInputComplete(services->asked[0].actionID, vault, ".lock_Vault", "1234");
    nav->presentedViewController()->dismiss(false);
    driver->advance(2.0);
    auto* viewer = dynamic_cast<BookViewController*>(nav->topViewController());
    ASSERT_TRUE(viewer);
    EXPECT_EQ(viewer->fileName(), join(vault, "Inner/p1.png"));
    EXPECT_EQ(nav->viewControllers().size(), 4u);
}

TEST_F(ScreensTest, SettingsAndPasscodeScreensPushedOverTheListHideItsToolBar) {
    auto base = std::make_shared<ui::ViewController>();
    auto nav = showInNavigation(base);
    nav->setToolbarHidden(false, false);
    pushSettings(*nav);
    EXPECT_TRUE(nav->isToolbarHidden()) << "an empty tool bar over the last row";
    nav->popViewController(false);
    nav->setToolbarHidden(false, false);
    nav->pushViewController(std::make_shared<PassCodeInputViewEx>(), false);
    driver->advance(0.5);
    EXPECT_TRUE(nav->isToolbarHidden());
}

TEST_F(ScreensTest, TheThemeRowOpensTheThemeListAndShowsTheChoiceOnReturn) {
    auto base = std::make_shared<ui::ViewController>();
    auto nav = showInNavigation(base);
    auto screen = pushSettings(*nav);
    auto [ip, row] = rowOf(*screen, SettingViewControllerEx::kThemeRowKey);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->detailText(), "Default Style");
    screen->tableViewDidSelectRowAtIndexPath(*screen->table(), ip, row);
    driver->advance(0.6);
    auto* picker = dynamic_cast<ThemeSelectViewController*>(nav->topViewController());
    ASSERT_TRUE(picker);
    EXPECT_EQ(picker->themeLoader(), settings->themeLoader()) << "the list works on the settings' own loader";
    ASSERT_TRUE(tapText("Folder Style"));
    driver->advance(0.8);
    EXPECT_EQ(nav->topViewController(), screen.get());
    EXPECT_EQ(settings->themeLoader()->getThemeNo(), 1);
    EXPECT_EQ(rowOf(*screen, SettingViewControllerEx::kThemeRowKey).second->detailText(), "Folder Style");
}

TEST_F(ScreensTest, SettingsRowsComeFromTheKeysAndAreSavedOnLeaving) {
    textScope.reset();
    textScope = std::make_unique<gfx::TextEngine::Scope>(std::make_shared<gfx::PangoTextEngine>());
    auto base = std::make_shared<ui::ViewController>();
    auto nav = showInNavigation(base);
    auto screen = pushSettings(*nav);
    size_t rows = 0;
    for (const auto& s : screen->table()->sectionList()) rows += s.size();
    // Every key's row (the three filters among them), the row that opens the
    // bookshelf themes, those of the reader's zoom modes, tap areas and keys,
    // and the two logs' switches and texts.
    EXPECT_EQ(rows,
              SettingViewControllerEx::rowDefs().size() + 1 + SettingViewControllerEx::readingControlRowKeys(0).size() + 4);
    ASSERT_TRUE(window->snapshot(snapshotPath("settings.png")));

    // A switch row writes its key; a long list is picked from a pushed screen.
    ASSERT_TRUE(settings->isOptimizeFilename());
    screen->setValue("isOptimizeFilename", sys::PlistValue(false));
    screen->setValue("isGotoTheLastFolder", sys::PlistValue(false));
    if (auto [at, row] = rowOf(*screen, "backgroundColor"); row)
        screen->tableViewDidSelectRowAtIndexPath(*screen->table(), at, row);
    driver->advance(0.6);
    ASSERT_NE(nav->topViewController(), screen.get());
    ASSERT_TRUE(tapText("Dark Gray"));
    driver->advance(0.8);
    EXPECT_EQ(nav->topViewController(), screen.get());
    EXPECT_EQ(screen->values()->getString("backgroundColor"), "dark_gray");
    EXPECT_EQ(settings->backgroundColor(), settings->backgroundColor());  // nothing saved while on screen
    EXPECT_TRUE(settings->isOptimizeFilename());

    nav->popViewController(false);
    driver->advance(0.5);
    EXPECT_FALSE(settings->isOptimizeFilename());
    EXPECT_EQ(settings->backgroundColor(), 4);
    EXPECT_FALSE(settings->getIsGotoThelastFolder());
    auto stored = sys::PropertyList::readDictionary(join(BookCommon::getSettingsFolder(), ".globalsettings.lbs"));
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->getString("backgroundColor"), "dark_gray");
    EXPECT_EQ(stored->get("isOptimizeFilename"), sys::PlistValue(false));
}

TEST_F(ScreensTest, ABooksOwnFilterIsPickedFromTheWholeListAndCanGoBackToTheGlobalOne) {
    const std::string book = join(documents(), "Book.cbz");
    touch(book, "PK");
    settings->setValueForKey("imageFilter2", sys::PlistValue("mirror"));
    settings->setTargetBook(book);
    auto base = std::make_shared<ui::ViewController>();
    auto nav = showInNavigation(base);
    auto open = [&] { return pushSettings(*nav, 1); };
    auto pick = [&](SettingViewControllerEx& screen, const std::string& title) {
        if (auto [at, row] = rowOf(screen, "imageFilter2"); row)
            screen.tableViewDidSelectRowAtIndexPath(*screen.table(), at, row);
        driver->advance(0.6);
        ASSERT_TRUE(tapText(title)) << title;
        driver->advance(0.8);
        nav->popViewController(false);
        driver->advance(0.5);
    };
    // The book's screen offers no global-only rows, and its filter starts at "-".
    auto screen = open();
    const auto keys = SettingViewControllerEx::readingControlRowKeys(1);
    EXPECT_EQ(std::count(keys.begin(), keys.end(), SettingViewControllerEx::kTapAreasRowKey), 0);
    EXPECT_EQ(screen->values()->getString("imageFilter2"), "_default");
    const auto filterRow = [](const std::vector<SettingViewControllerEx::RowDef>& defs) {
        return std::find_if(defs.begin(), defs.end(), [](const auto& def) { return std::string(def.key) == "imageFilter2"; });
    };
    const auto own = filterRow(SettingViewControllerEx::bookRowDefs());
    const auto global = filterRow(SettingViewControllerEx::rowDefs());
    ASSERT_NE(own, SettingViewControllerEx::bookRowDefs().end());
    ASSERT_NE(global, SettingViewControllerEx::rowDefs().end());
    EXPECT_EQ(std::string(own->choices.front().word), "_default");
    EXPECT_EQ(own->choices.size(), global->choices.size() + 1);
    pick(*screen, "Pseudo color(B)");
    EXPECT_EQ(settings->bookSettings().getString("imageFilter2"), "virtual_color_c10");
    EXPECT_EQ(settings->imageFilter_Local2(), Settings::imageFilterCode(sys::PlistValue("virtual_color_c10")));
    EXPECT_EQ(settings->globalSettings().getString("imageFilter2"), "mirror") << "the other books keep theirs";

    // "-" hands the book back to the global filter.
    screen = open();
    pick(*screen, "-");
    EXPECT_EQ(settings->bookSettings().getString("imageFilter2"), "_default");
    EXPECT_EQ(settings->imageFilter_Local2(), Settings::imageFilterCode(sys::PlistValue("mirror")));
}

TEST_F(ScreensTest, KeepAspectRatioShowsOnWhilePagesKeepTheirShapeAndOffStretchesThem) {
    auto base = std::make_shared<ui::ViewController>();
    auto nav = showInNavigation(base);
    ASSERT_FALSE(settings->isNoAspectFill()) << "pages keep their shape unless asked";
    auto screen = pushSettings(*nav);
    const auto found = rowOf(*screen, "isNoAspectFill");
    ASSERT_TRUE(found.second);
    const ui::IndexPath ip = found.first;
    auto theSwitch = [&] { return switchAt(*screen, ip); };
    ASSERT_TRUE(theSwitch());
    EXPECT_TRUE(theSwitch()->isOn()) << "\"Keep Aspect Ratio\" is on while pages keep their shape";

    // Switched off: the pages are stretched to the screen.
    driver->tap(*theSwitch());
    driver->advance(0.5);
    EXPECT_FALSE(theSwitch()->isOn());
    nav->popViewController(false);
    driver->advance(0.5);
    EXPECT_TRUE(settings->isNoAspectFill());

    // Shown again: off, and on again keeps the shape.
    screen = pushSettings(*nav);
    ASSERT_TRUE(theSwitch());
    EXPECT_FALSE(theSwitch()->isOn());
    driver->tap(*theSwitch());
    driver->advance(0.5);
    nav->popViewController(false);
    driver->advance(0.5);
    EXPECT_FALSE(settings->isNoAspectFill());
}

TEST_F(ScreensTest, TheLogSwitchesAreUserDefaultsAndTheirRowsShowEachLogsText) {
    LBDebugLog::deleteInstance();
    auto base = std::make_shared<ui::ViewController>();
    auto nav = showInNavigation(base);
    auto screen = pushSettings(*nav);
    auto switchOf = [&](const char* key) -> ui::Switch* {
        auto [ip, row] = rowOf(*screen, key);
        if (!row) return nullptr;
        EXPECT_EQ(ip.section, SettingViewControllerEx::kSectionOther);
        return switchAt(*screen, ip);
    };
    auto show = [&](const char* key) -> std::vector<std::string> {
        auto [ip, row] = rowOf(*screen, key);
        if (!row) return {"no row"};
        screen->tableViewDidSelectRowAtIndexPath(*screen->table(), ip, row);
        driver->advance(0.6);
        auto* log = dynamic_cast<LogTextViewController*>(nav->topViewController());
        if (!log) return {"no log screen"};
        auto lines = log->lines();
        nav->popViewController(false);
        driver->advance(0.5);
        return lines;
    };
    auto& defaults = sys::UserDefaults::standard();
    ASSERT_TRUE(switchOf(SettingViewControllerEx::kDebugLogKey));
    ASSERT_TRUE(switchOf(SettingViewControllerEx::kActivityLogKey));
    EXPECT_FALSE(switchOf(SettingViewControllerEx::kDebugLogKey)->isOn());
    EXPECT_EQ(show(SettingViewControllerEx::kShowDebugLogRowKey), std::vector<std::string>{"[Debuglog is disabled]"});
    EXPECT_EQ(show(SettingViewControllerEx::kShowActivityLogRowKey),
              std::vector<std::string>{"[CrashLog is disabled]"});

    // Switched on, the default is written at once and the log keeps lines.
    driver->tap(*switchOf(SettingViewControllerEx::kDebugLogKey));
    driver->advance(0.5);
    EXPECT_TRUE(defaults.boolForKey("enable_bookmarktest"));
    LBDebugLog::writeDebugLog("read position", std::string("page 3"), 0);
    auto lines = show(SettingViewControllerEx::kShowDebugLogRowKey);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(0, 3), "[1]");
    EXPECT_NE(lines[0].find("]read position,page 3"), std::string::npos) << lines[0];
    EXPECT_FALSE(settings->valueForKey("enable_bookmarktest").boolValue()) << "not a key of the settings file";

    driver->tap(*switchOf(SettingViewControllerEx::kActivityLogKey));
    driver->advance(0.5);
    EXPECT_TRUE(defaults.boolForKey("enable_crashlog"));
    EXPECT_TRUE(ActiveLog::hasInstance());
    ActiveLog::writeCheckpoint("page shown");
    EXPECT_EQ(show(SettingViewControllerEx::kShowActivityLogRowKey),
              std::vector<std::string>{ActiveLog::entryLine("page shown", "C").substr(0, ActiveLog::kLineBytes - 1)});
    ActiveLog::applicationWillTerminate();

    // Shown again: the switches read the defaults.
    nav->popViewController(false);
    driver->advance(0.5);
    screen = pushSettings(*nav);
    ASSERT_TRUE(switchOf(SettingViewControllerEx::kDebugLogKey));
    EXPECT_TRUE(switchOf(SettingViewControllerEx::kDebugLogKey)->isOn());
    driver->tap(*switchOf(SettingViewControllerEx::kDebugLogKey));
    driver->advance(0.5);
    EXPECT_FALSE(defaults.boolForKey("enable_bookmarktest"));
    LBDebugLog::deleteInstance();
}

TEST_F(ScreensTest, EveryChosenKeyHasARowAndItsPickersKeepTheirRanges) {
    // Every key of the store that a user chooses has a row here; the others
    // have screens of their own, or nothing in the program reads them.
    const std::set<std::string> elsewhere{"isBookshelfMode",     "micThreshold",        "micDetectMode",
                                          "tapMargin",           "imageFilter2",        "imageFilter3",
                                          "overWriteModeiTunes", "isEnableMediaServer", "isEnableStreaming"};
    std::set<std::string> rowKeys;
    for (const auto& def : SettingViewControllerEx::rowDefs()) EXPECT_TRUE(rowKeys.insert(def.key).second) << def.key << " twice";
    for (const auto& [key, value] : settings->getDefaultSettings())
        EXPECT_TRUE(rowKeys.count(key) || elsewhere.count(key)) << key << " has no row";
    // Every text of the rows is in every table.
    std::set<std::string> texts{"Use the Global Settings", "Enter a number from %d to %d."};
    for (const auto* defs : {&SettingViewControllerEx::rowDefs(), &SettingViewControllerEx::bookRowDefs()})
        for (const auto& def : *defs) {
            texts.insert(def.title);
            for (size_t i = 0; i < def.choices.size(); ++i)
                if (!def.literalTitles || i == 0) texts.insert(def.choices[i].title);
        }
    for (const auto& t : SettingViewControllerEx::sectionTitles()) texts.insert(t);
    for (const char* code : {"en", "ja", "ko", "zh-Hans", "zh-Hant"})
        for (const auto& t : texts) EXPECT_TRUE(LanguageTables::shared().lookup(code, t).has_value()) << code << " lacks: " << t;

    textScope.reset();
    textScope = std::make_unique<gfx::TextEngine::Scope>(std::make_shared<gfx::PangoTextEngine>());
    auto base = std::make_shared<ui::ViewController>();
    auto nav = showInNavigation(base);
    auto screen = pushSettings(*nav);
    // Choices too wide for a phone open a list; narrow ones stay segments.
    auto [orderAt, order] = rowOf(*screen, "sortMode");
    ASSERT_TRUE(order);
    EXPECT_EQ(order->style(), QNTableViewData::kStyleValue1) << "three long choices do not fit a phone's row";
    EXPECT_EQ(order->detailText(), "Numbers by Value");
    ASSERT_TRUE(rowOf(*screen, "bookListStyle").second);
    EXPECT_EQ(rowOf(*screen, "bookListStyle").second->style(), QNTableViewData::kStyleSegment);
    EXPECT_TRUE(SettingViewControllerEx::segmentsFit({"Detail", "Simple"}, 320));
    EXPECT_FALSE(SettingViewControllerEx::segmentsFit({"Numbers by Value", "Natural", "Natural (Fast)"}, 375));
    EXPECT_TRUE(SettingViewControllerEx::segmentsFit({"Numbers by Value", "Natural", "Natural (Fast)"}, 1024));
    screen->tableViewDidSelectRowAtIndexPath(*screen->table(), orderAt, order);
    driver->advance(0.6);
    auto* list = dynamic_cast<ItemSelectViewController*>(nav->topViewController());
    ASSERT_TRUE(list);
    EXPECT_EQ(list->selectedLine_(), 0);
    ASSERT_TRUE(tapText("Natural"));
    driver->advance(0.8);
    EXPECT_EQ(nav->topViewController(), screen.get());
    EXPECT_EQ(screen->values()->getString("sortMode"), "natural");
    EXPECT_EQ(rowOf(*screen, "sortMode").second->detailText(), "Natural");

    // A number outside its range is refused with a message, and the screen stays.
    auto [spaceAt, space] = rowOf(*screen, "centerSpace");
    ASSERT_TRUE(space);
    screen->tableViewDidSelectRowAtIndexPath(*screen->table(), spaceAt, space);
    driver->advance(0.6);
    auto* input = dynamic_cast<TextInputViewController*>(nav->topViewController());
    ASSERT_TRUE(input);
    EXPECT_EQ(input->textField_()->text(), "1");
    for (const char* bad : {"80", "-3", "4x", "99999999999"}) {
        input->textField_()->setText(bad);
        input->textFieldDidEnd(*input->textField_());
        driver->advance(0.6);
        EXPECT_EQ(nav->topViewController(), input) << bad;
        EXPECT_TRUE(driver->findByText("Enter a number from 0 to 50.")) << bad;
        while (input->presentedViewController()) {
            input->presentedViewController()->dismiss(false);
            driver->advance(0.3);
        }
    }
    EXPECT_EQ(screen->values()->getString("centerSpace"), "1");
    input->textField_()->setText("5");
    input->textFieldDidEnd(*input->textField_());
    driver->advance(0.8);
    EXPECT_EQ(nav->topViewController(), screen.get());
    EXPECT_EQ(rowOf(*screen, "centerSpace").second->detailText(), "5");

    nav->popViewController(false);
    driver->advance(0.5);
    EXPECT_EQ(settings->sortMode(), 1);
    EXPECT_DOUBLE_EQ(settings->centerSpace(), 0.05);

    // Each bounded row takes both its bounds and refuses the numbers just
    // past them, with its message.
    screen = pushSettings(*nav);
    struct Bounded {
        const char* key;
        int minimum, maximum;
    };
    for (const Bounded& b : {Bounded{"centerSpace", 0, 50}, Bounded{"maximumNumberOfHistories", 1, 100}}) {
        const std::string message =
            "Enter a number from " + std::to_string(b.minimum) + " to " + std::to_string(b.maximum) + ".";
        ASSERT_TRUE(rowOf(*screen, b.key).second);
        std::string shown = rowOf(*screen, b.key).second->detailText();
        for (int value : {b.minimum - 1, b.minimum, b.maximum + 1, b.maximum}) {
            SCOPED_TRACE(b.key + std::string(" ") + std::to_string(value));
            const bool inside = value >= b.minimum && value <= b.maximum;
            auto [at, row] = rowOf(*screen, b.key);
            ASSERT_TRUE(row);
            screen->tableViewDidSelectRowAtIndexPath(*screen->table(), at, row);
            driver->advance(0.6);
            auto* field = dynamic_cast<TextInputViewController*>(nav->topViewController());
            ASSERT_TRUE(field);
            field->textField_()->setText(std::to_string(value));
            field->textFieldDidEnd(*field->textField_());
            driver->advance(0.8);
            if (inside) {
                ASSERT_EQ(nav->topViewController(), screen.get()) << "refused";
                shown = std::to_string(value);
                EXPECT_EQ(rowOf(*screen, b.key).second->detailText(), shown);
                continue;
            }
            ASSERT_EQ(nav->topViewController(), field) << "taken";
            EXPECT_TRUE(driver->findByText(message));
            while (field->presentedViewController()) {
                field->presentedViewController()->dismiss(false);
                driver->advance(0.3);
            }
            nav->popViewController(false);
            driver->advance(0.5);
            EXPECT_EQ(rowOf(*screen, b.key).second->detailText(), shown) << "a refused number was kept";
        }
    }
    nav->popViewController(false);
    driver->advance(0.5);
    EXPECT_DOUBLE_EQ(settings->centerSpace(), 0.5);
    EXPECT_EQ(settings->maximumNumberOfHistories(), 100);
}

TEST_F(ScreensTest, ABooksOwnSettingsAreKeptAsWordsAndGoBackToTheGlobalOnes) {
    const std::string book = join(documents(), "Own.cbz");
    touch(book);
    settings->setTargetBook(book);
    ASSERT_FALSE(settings->isDoubleTruck());
    auto base = std::make_shared<ui::ViewController>();
    auto nav = showInNavigation(base);
    auto open = [&] { return pushSettings(*nav, 1); };
    auto screen = open();
    size_t rows = 0;
    for (const auto& s : screen->table()->sectionList()) rows += s.size();
    EXPECT_EQ(rows, SettingViewControllerEx::bookRowDefs().size() + SettingViewControllerEx::readingControlRowKeys(1).size() + 1)
        << "the book's keys, its filters and the way back";
    EXPECT_EQ(screen->values()->getString("isDoubleTruck"), "_default");
    screen->setValue("isDoubleTruck", sys::PlistValue("on"));
    screen->setValue("pageDirection", sys::PlistValue("left"));
    nav->popViewController(false);
    driver->advance(0.5);
    // The book's file holds the words the store reads: a number would read as off.
    EXPECT_EQ(settings->bookSettings().get("isDoubleTruck"), sys::PlistValue("on"));
    EXPECT_TRUE(settings->isDoubleTruck_Local());
    EXPECT_FALSE(settings->isDoubleTruck()) << "the global value stays";
    EXPECT_EQ(settings->pageDirection_Local(), 0);

    screen = open();
    EXPECT_EQ(screen->values()->getString("isDoubleTruck"), "on");
    auto [resetAt, reset] = rowOf(*screen, SettingViewControllerEx::kResetRowKey);
    ASSERT_TRUE(reset);
    screen->tableViewDidSelectRowAtIndexPath(*screen->table(), resetAt, reset);
    auto [truckAt, truck] = rowOf(*screen, "isDoubleTruck");
    ASSERT_TRUE(truck);
    EXPECT_EQ(truck->value(), sys::PlistValue(int64_t(0))) << "the row shows Default again";
    nav->popViewController(false);
    driver->advance(0.5);
    EXPECT_FALSE(settings->isExistBookSetting());
    EXPECT_FALSE(settings->isDoubleTruck_Local());
    EXPECT_EQ(settings->pageDirection_Local(), settings->pageDirection());

    // Every switch of the book through its row's segments: "On" and "Off"
    // store the words the reader's getter reads ("Keep Aspect Ratio" the
    // other way round, as on the global screen), "Default" hands the key
    // back to the global value. Each answer is read against a global value
    // that differs from it.
    auto choose = [&](const std::string& key, const std::string& title) {
        auto screen = open();
        auto [at, row] = rowOf(*screen, key);
        ASSERT_TRUE(row);
        ASSERT_EQ(row->style(), QNTableViewData::kStyleSegment);
        screen->table()->scrollToRowAtIndexPath(at, ui::TableViewScrollPosition::Middle, false);
        screen->table()->layoutIfNeeded();
        auto* cell = dynamic_cast<QNTableViewCellCustom*>(screen->table()->cellForRowAtIndexPath(at));
        ASSERT_TRUE(cell && cell->seg());
        ui::SegmentedControl& segments = *cell->seg();
        int index = -1;
        for (int i = 0; i < segments.numberOfSegments(); ++i)
            if (segments.titleForSegment(i) == title) index = i;
        ASSERT_GE(index, 0) << "no segment " << title;
        const ui::Rect r = segments.segmentRect(index);
        driver->tap(segments.convertPointToWindow({r.x() + r.width() / 2, r.y() + r.height() / 2}));
        driver->advance(0.3);
        nav->popViewController(false);
        driver->advance(0.5);
    };
    struct BookSwitch {
        const char* key;
        bool (Settings::*reads)() const;
        bool inverted;
    };
    for (const BookSwitch& s : {BookSwitch{"isDoubleTruck", &Settings::isDoubleTruck_Local, false},
                                BookSwitch{"isSingleViewFirstPage", &Settings::isSingleViewFirstPage_Local, false},
                                BookSwitch{"isDivisionPage", &Settings::isDivisionPage_Local, false},
                                BookSwitch{"isSwitchSplitLeftRight", &Settings::isSwitchSplitLeftRight_Local, false},
                                BookSwitch{"isPageVerticalScroll", &Settings::isPageVerticalScroll_Local, false},
                                BookSwitch{"isSwapTapLeftRight", &Settings::isSwapTapLeftRight_Local, false},
                                BookSwitch{"isNoAspectFill", &Settings::isNoAspectFill_Local, true}}) {
        SCOPED_TRACE(s.key);
        const bool onReads = !s.inverted;
        settings->setValueForKey(s.key, sys::PlistValue(!onReads));
        ASSERT_NO_FATAL_FAILURE(choose(s.key, "On"));
        EXPECT_EQ(settings->bookSettings().getString(s.key), s.inverted ? "off" : "on");
        EXPECT_EQ(((*settings).*s.reads)(), onReads);
        settings->setValueForKey(s.key, sys::PlistValue(onReads));
        ASSERT_NO_FATAL_FAILURE(choose(s.key, "Off"));
        EXPECT_EQ(settings->bookSettings().getString(s.key), s.inverted ? "on" : "off");
        EXPECT_EQ(((*settings).*s.reads)(), !onReads);
        ASSERT_NO_FATAL_FAILURE(choose(s.key, "Default"));
        EXPECT_EQ(settings->bookSettings().getString(s.key), "_default");
        EXPECT_EQ(((*settings).*s.reads)(), onReads) << "the global value";
        settings->setValueForKey(s.key, sys::PlistValue(!onReads));
        EXPECT_EQ(((*settings).*s.reads)(), !onReads) << "the global value, changed";
        // Only the word "on" is on: a number in the book's file reads as off.
        settings->setValueForKey(s.key, sys::PlistValue(true));
        settings->setBookSettingValue(s.key, sys::PlistValue("1"));
        EXPECT_FALSE(((*settings).*s.reads)());
        settings->setBookSettingValue(s.key, sys::PlistValue("_default"));
        settings->setValueForKey(s.key, sys::PlistValue(false));
    }
}

}  // namespace
