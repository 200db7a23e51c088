#include "tests/support/TestHome.h"
#include "tests/app/ProgramRun.h"

#include "platform/core/Thread.h"

#include "app/NestlarkAppDelegate.h"
#include "app/SampleBook.h"
#include "foundation/BookCommon.h"
#include "foundation/HistoryCollector.h"
#include "foundation/LastStatusRestore.h"
#include "foundation/StatisticsStore.h"
#include "library/LocalFilelistViewController.h"
#include "platform/core/AppPaths.h"
#include "platform/core/Clock.h"
#include "platform/core/Keychain.h"
#include "platform/core/PropertyList.h"
#include "platform/core/RunLoop.h"
#include "platform/core/UserDefaults.h"
#include "platform/graphics/Canvas.h"
#include "platform/ui/Application.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/Window.h"
#include "platform/ui/TestDriver.h"
#include "viewer/BookViewController.h"

#include <filesystem>
#include <fstream>

void ProgramRun::makeHome(const std::string& tag) {
    sys::RunLoop::main().clear();
    LeafbrightProgram::resetStopRequest();
    home = std::make_unique<test::TempDir>(tag);
    const std::string sample = home->file("sample-source.cbz");
    std::ofstream(sample, std::ios::binary) << "PK sample";
    SampleBook::setSourcePathOverride(sample);
}

void ProgramRun::TearDown() {
    program.reset();
    // Workers the run left to finish (a cover still decoding) end before its home goes.
    sys::Thread::joinLeftThreads();
    SampleBook::setSourcePathOverride(std::nullopt);
    HistoryCollector::relaseHistory();
    StatisticsStore::releaseSharedStatisticsStore();
    LastStatusRestore::setRestoreMode(0);
    LastStatusRestore::setJumpMode(false);
    // A jump target (book and remote folder) left by a remote list's run
    // would send the next run's start elsewhere: a new process has none.
    LastStatusRestore::releaseObjects();
    // A run that read a saved rotation lock must not lock the next one's screen.
    BookCommon::onLoadSoftwareRotationLockSetting(false, 0);
    sys::RunLoop::main().drain();
    sys::RunLoop::main().clear();
    sys::Clock::setVirtual(false);
    sys::AppPaths::setHome("");
    sys::UserDefaults::standard().reload();
    sys::Keychain::setShared(nullptr);
    ui::Application::shared().reset();
    sys::DeviceProfile::setCurrent(savedProfile_);
    home.reset();
}

void ProgramRun::useHome() {
    sys::AppPaths::setHome(lib());
    sys::UserDefaults::standard().reload();
    sys::Keychain::setShared(nullptr);
}

void ProgramRun::markNotFirstRun() {
    useHome();
    std::filesystem::create_directories(BookCommon::getSettingsFolder());
    std::filesystem::create_directories(docs());
    sys::PropertyList::writeFile(sys::PlistArray{sys::PlistValue(int64_t(811))},
                                 BookCommon::getSettingsFolder() + "/.version.lbs");
}

ProgramOptions ProgramRun::headlessOptions(std::optional<std::string> target) const {
    ProgramOptions o;
    o.home = lib();
    o.device = device;
    o.headless = true;
    o.shots = home->file("shots");
    o.target = std::move(target);
    return o;
}

void ProgramRun::markNoticeSeen() {
    std::filesystem::create_directories(docs());
    sys::PropertyList::writeFile(sys::PlistArray{sys::PlistValue(std::string(LEAFBRIGHT_VERSION))},
                                 docs() + "/.notice.lbs");
}

bool ProgramRun::launch(std::optional<std::string> target) {
    program.reset();
    ProgramOptions o = headlessOptions(target);
    o.quickAction = quickAction;
    if (!showStartScreens) markNoticeSeen();
    program = std::make_unique<LeafbrightProgram>(o);
    std::string error;
    if (!program->launch(true, &error)) {
        ADD_FAILURE() << error;
        return false;
    }
    if (!showStartScreens) {
        for (int i = 0; i < 40 && !program->delegate()->isStartLBWindowDone(); ++i) sys::RunLoop::main().advance(0.1);
    }
    sys::RunLoop::main().advance(1.0);
    return true;
}

void ProgramRun::keepShots(const std::string& prefix) {
    namespace fs = std::filesystem;
    if (!home || !fs::exists(home->file("shots"))) return;
    const fs::path keep = fs::path(::test::workDir()) / "snapshots";
    fs::create_directories(keep);
    for (const auto& e : fs::directory_iterator(home->file("shots")))
        fs::copy_file(e.path(), keep / (prefix + e.path().filename().string()), fs::copy_options::overwrite_existing);
}

void ProgramRun::stop() {
    if (program) program->terminate();
    program.reset();
    HistoryCollector::relaseHistory();
    StatisticsStore::releaseSharedStatisticsStore();
}

ui::Window& ProgramRun::window() const { return *program->delegate()->window(); }

ui::NavigationController* ProgramRun::nav() const { return program->delegate()->navigationController().get(); }

BookViewController* ProgramRun::viewer() const { return dynamic_cast<BookViewController*>(nav()->topViewController()); }

std::string ProgramRun::centreOf(const ui::View& v) {
    const ui::Rect r = v.convertRectTo(v.bounds(), nullptr);
    return std::to_string(int(r.x() + r.width() / 2)) + " " + std::to_string(int(r.y() + r.height() / 2));
}

ui::NavigationController* ProgramRun::presentedNav() const {
    return dynamic_cast<ui::NavigationController*>(nav()->presentedViewController());
}

void ProgramRun::openSiteList() {
    auto* library = dynamic_cast<LocalFilelistViewController*>(nav()->topViewController());
    ASSERT_TRUE(library);
    library->onDownLoadBtn();
    play("wait 1\n");
    ASSERT_TRUE(presentedNav());
}

ui::View* ProgramRun::menuBarItem(const std::function<bool(const ui::BarButtonItem&)>& which) const {
    ui::Toolbar* bar = viewer()->bvToolbar();
    if (!bar) return nullptr;
    for (const auto& item : bar->items())
        if (which(*item)) return bar->viewForItem(item.get());
    return nullptr;
}

bool ProgramRun::named(const ui::BarButtonItem& item, const char* part) {
    return item.image() && item.image()->name().find(part) != std::string::npos;
}

std::string ProgramRun::tapMiddle() const {
    const ui::Rect w = window().bounds();
    return "tap " + std::to_string(int(w.width() / 2)) + " " + std::to_string(int(w.height() / 2)) + "\n";
}

void ProgramRun::closeWhatsNew() {
    if (ui::test::Driver(window()).findByText("What's new")) play("tap \"Close\"\nwait 1\n");
}

void ProgramRun::writeGlobalSettings(const sys::PlistDictionary& settings) {
    ASSERT_TRUE(sys::PropertyList::writeFile(settings, BookCommon::getSettingsFolder() + "/.globalsettings.lbs"));
}

void ProgramRun::makeFlatBook(const std::string& folder, const std::string& name, int pages, int w, int h,
                              const std::function<gfx::Rgba(int)>& colour) {
    std::string list;
    for (int i = 0; i < pages; ++i) {
        const std::string page = name + "-p" + std::to_string(i) + ".png";
        gfx::Canvas c(w, h, 1.0);
        c.fillRect({0, 0, double(w), double(h)}, colour(i));
        ASSERT_TRUE(c.writePNG(folder + "/" + page));
        list += " '" + page + "'";
    }
    zipBook(folder, name, list);
}

void ProgramRun::zipBook(const std::string& folder, const std::string& name, const std::string& list) {
    ASSERT_EQ(test::shell("cd '" + folder + "' && zip -q -X -0 '" + docs() + "/" + name + "'" + list + " >/dev/null 2>&1"),
              0);
}
