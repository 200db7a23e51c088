#pragma once

#include "engine/ThumbsCreate.h"
#include "foundation/AppDelegateServices.h"
#include "foundation/BookCommon.h"
#include "foundation/HistoryCollector.h"
#include "foundation/LastStatusRestore.h"
#include "foundation/Settings.h"
#include "library/LibraryServices.h"
#include "platform/core/AppPaths.h"
#include "platform/core/FileManager.h"
#include "platform/core/Path.h"
#include "platform/core/PropertyList.h"
#include "platform/core/UserDefaults.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/TestDriver.h"
#include "tests/platform/ui/UITestSupport.h"
#include "tests/support/TestHome.h"

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace librarytest {

// The settings of the test's own home, handed out as the application would.
class TestServices : public AppDelegateServices {
public:
    explicit TestServices(std::shared_ptr<Settings> s) : settings_(std::move(s)) {}
    std::shared_ptr<Settings> settings() override { return settings_; }
    bool isAppGotoBackgroundProcess() override { return false; }

private:
    std::shared_ptr<Settings> settings_;
};

// A phone window on the virtual clock, over a fresh application home with
// its own settings store; the relaunch state starts empty.
class LibraryTest : public uitest::UITest {
protected:
    void SetUp() override {
        UITest::SetUp();
        home = std::make_unique<test::TempDir>("libhome");
        sys::AppPaths::setHome(home->path());
        sys::UserDefaults::standard().reload();
        // The history of an earlier test's home is not this one's.
        HistoryCollector::relaseHistory();
        settings = std::make_shared<Settings>();
        settings->readFromFile();
        AppDelegateServices::install(std::make_shared<TestServices>(settings));
        LastStatusRestore::setRestoreMode(0);
        LastStatusRestore::setJumpMode(false);
        LastStatusRestore::setForceEnableGotoLastFoler(false);
        driver = std::make_unique<ui::test::Driver>(*window);
    }
    void TearDown() override {
        window->setRootViewController(nullptr);
        driver.reset();
        ThumbsCreate::releaseThumbsCreate();
        LibraryServices::install(nullptr);
        AppDelegateServices::install(nullptr);
        settings.reset();
        UITest::TearDown();
        sys::AppPaths::setHome("");
        sys::UserDefaults::standard().reload();
        HistoryCollector::relaseHistory();
        home.reset();
    }

    // Taps the frontmost view showing exactly this text; false when none does.
    bool tapText(const std::string& text) {
        ui::View* v = driver->findByText(text);
        if (!v) return false;
        // A segmented control answers for any of its titles: tap that segment.
        if (auto* seg = dynamic_cast<ui::SegmentedControl*>(v)) {
            for (int i = 0; i < seg->numberOfSegments(); ++i) {
                if (seg->titleForSegment(i) != text) continue;
                ui::Rect r = seg->segmentRect(i);
                driver->tap(seg->convertPointToWindow({r.x() + r.width() / 2, r.y() + r.height() / 2}));
                return true;
            }
        }
        driver->tap(*v);
        return true;
    }
    std::string documents() const { return BookCommon::getBooksDocumentsFolder(); }
    std::string downloads() const { return BookCommon::getBooksTempRoot(); }
    static void touch(const std::string& path, const std::string& bytes = "x") {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
    }
    static void mkdir(const std::string& path) { std::filesystem::create_directories(path); }
    static std::string join(const std::string& a, const std::string& b) {
        return sys::Path::stringByAppendingPathComponent(a, b);
    }
    static std::string snapshotPath(const std::string& name) {
        std::filesystem::path dir = std::filesystem::path(::test::workDir()) / "snapshots";
        std::filesystem::create_directories(dir);
        return (dir / name).string();
    }
    // `root` at the bottom of a navigation controller that the window shows.
    std::shared_ptr<ui::NavigationController> showInNavigation(std::shared_ptr<ui::ViewController> root) {
        auto nav = std::make_shared<ui::NavigationController>(root);
        window->setRootViewController(nav);
        driver->advance(0.5);
        return nav;
    }

    std::unique_ptr<test::TempDir> home;
    std::shared_ptr<Settings> settings;
    std::unique_ptr<ui::test::Driver> driver;
};

// The application's side of the library, answering nothing: tests
// override what they watch.
struct NullServices : LibraryServices {
    void setBookTransfer(std::shared_ptr<BookTransfer>) override {}
    std::optional<std::string> startupOpenUrl() override { return std::nullopt; }
    void setStartupOpenUrl(const std::optional<std::string>&) override {}
    std::shared_ptr<ui::ViewController> makeHistoryViewController(std::weak_ptr<LocalFilelistViewController>) override {
        return nullptr;
    }
    std::shared_ptr<ui::ViewController> makeMediaServerViewController(std::shared_ptr<Settings>) override {
        return nullptr;
    }
    std::shared_ptr<ui::ViewController> makeSettingViewController(std::shared_ptr<Settings>, int) override {
        return nullptr;
    }
    void requestPasscode(const PassCodeTarget&, std::weak_ptr<PassCodeRequetDelegate>) override {}
    std::shared_ptr<ui::ViewController> makePassCodeInputView(const PassCodeTarget&,
                                                              std::weak_ptr<PassCodeInputViewExDelegate>) override {
        return nullptr;
    }
};

// Counts the screens the tool bar asks for.
struct CountingServices : NullServices {
    int settingsScreens = 0;
    int mediaScreens = 0;
    std::shared_ptr<ui::ViewController> makeMediaServerViewController(std::shared_ptr<Settings>) override {
        ++mediaScreens;
        return std::make_shared<ui::ViewController>();
    }
    std::shared_ptr<ui::ViewController> makeSettingViewController(std::shared_ptr<Settings>, int type) override {
        EXPECT_EQ(type, 0) << "the full settings";
        ++settingsScreens;
        return std::make_shared<ui::ViewController>();
    }
};

// Hands out a passcode screen that the test answers itself.
struct PasscodeServices : NullServices {
    std::vector<PassCodeTarget> asked;
    std::weak_ptr<PassCodeInputViewExDelegate> answer;
    std::shared_ptr<ui::ViewController> makePassCodeInputView(const PassCodeTarget& t,
                                                              std::weak_ptr<PassCodeInputViewExDelegate> d) override {
        asked.push_back(t);
        answer = d;
        return std::make_shared<ui::ViewController>();
    }
};

}  // namespace librarytest
