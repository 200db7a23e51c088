#include "tests/app/ProgramRun.h"
#include "tests/app/ProgramShot.h"

#include "app/LeafbrightProgram.h"
#include "app/NestlarkAppDelegate.h"
#include "app/ProgramOptions.h"
#include "engine/BookReaderEx.h"
#include "foundation/BookCommon.h"
#include "foundation/QNKeyChain.h"
#include "foundation/Settings.h"
#include "library/ArchivePasswordViewController.h"
#include "library/LocalFilelistViewController.h"
#include "library/PreparedBookOpen.h"
#include "platform/core/PropertyList.h"
#include "platform/core/RunLoop.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/Window.h"
#include "screens/StartupPasscodeInputViewController.h"
#include "tests/support/PdfBuilder.h"
#include "tests/support/PdfDrawWatch.h"
#include "viewer/BookViewController.h"

#include <algorithm>
#include <filesystem>
#include <vector>

namespace {

using programtest::kPage;
using programtest::toRgba;

// A book given on the command line of a start that shows the launch
// animation (the notice of this version already seen).
class PreparedBookProgramTest : public ProgramRun {
protected:
    void SetUp() override {
        makeHome("prepared");
        markNotFirstRun();
        showStartScreens = true;
        given_ = home->file("given");
        std::filesystem::create_directories(given_);
    }

    // Starts the program and hands it `book` as the command line does, while
    // the launch animation plays.
    void startWith(const std::string& book) {
        markNoticeSeen();
        program = std::make_unique<LeafbrightProgram>(headlessOptions(book));
        std::string error;
        ASSERT_TRUE(program->launch(true, &error)) << error;
        ASSERT_TRUE(program->delegate()->isStartScreenShown());
        ASSERT_TRUE(program->delegate()->openURL(LeafbrightProgram::targetURL(book)));
    }

    // The library's book Documents/`name` of six flat pages, a copy of it
    // in the "given" folder, and a stored position at page 3.
    std::string bookAtPageThree(const std::string& name) {
        std::filesystem::create_directories(home->file("pages"));
        makeFlatBook(home->file("pages"), name, 6, 300, 400, [](int i) { return toRgba(kPage[i % 6]); });
        std::filesystem::copy_file(docs() + "/" + name, given_ + "/" + name);
        EXPECT_TRUE(BookCommon::writeFilePageInfoWithFilename(docs() + "/" + name, 3, false, false, 0, false, 6, "",
                                                              false, false));
        return given_ + "/" + name;
    }

    // Whether the middle of the view the reading session composed is page `i`'s colour.
    bool showsPage(int i) const {
        auto page = viewer()->bookReader()->loadedPage();
        if (!page || !page->image) return false;
        const gfx::Image& img = *page->image;
        const uint32_t p = img.pixel(img.width() / 2, img.height() / 2);
        auto near = [](uint32_t a, int b) { return std::abs(int(a) - b) <= 3; };
        return near(gfx::redOf(p), kPage[i].r) && near(gfx::greenOf(p), kPage[i].g) && near(gfx::blueOf(p), kPage[i].b);
    }

    std::string given_;
};

}  // namespace

// The book is opened and its first page composed while the animation
// plays; the library then shows that very session at the stored page.
TEST_F(PreparedBookProgramTest, ABookGivenAtStartIsComposedWhileTheAnimationPlays) {
    if (!test::haveProgram("zip")) GTEST_SKIP() << "zip missing";
    startWith(bookAtPageThree("Story.cbz"));
    sys::RunLoop::main().advance(0.5);
    ASSERT_TRUE(program->delegate()->isStartScreenShown()) << "the animation ended early";
    const BookReaderEx* prepared = PreparedBookOpen::ready();
    ASSERT_TRUE(prepared) << "nothing composed while the animation played";
    // The page shows as the animation ends, not sliding in over the library.
    auto shown = [&] { return nav() ? viewer() : nullptr; };
    for (int i = 0; i < 150 && !shown(); ++i) sys::RunLoop::main().advance(0.02);
    ASSERT_TRUE(viewer()) << "the book is not open";
    EXPECT_EQ(viewer()->view()->presentationFrame().x(), 0);
    EXPECT_TRUE(viewer()->view()->window());
    sys::RunLoop::main().advance(1);
    ASSERT_TRUE(viewer());
    EXPECT_EQ(viewer()->fileName(), docs() + "/Story.cbz");
    EXPECT_EQ(viewer()->bookReader().get(), prepared) << "the book was opened a second time";
    EXPECT_EQ(viewer()->page(), 3);
    EXPECT_TRUE(showsPage(3));
    EXPECT_FALSE(PreparedBookOpen::ready());
}

// The book's page is the first frame after the animation: the library's
// list is made under it only once that frame is drawn (a window's frames are
// drawn here as the desktop shell draws them), and is then as a tap on the
// book would have left it; the open's records are written.
TEST_F(PreparedBookProgramTest, ThePageIsDrawnBeforeTheLibraryUnderItIsMade) {
    if (!test::haveProgram("zip")) GTEST_SKIP() << "zip missing";
    startWith(bookAtPageThree("Story.cbz"));
    struct Frame {
        bool reading = false;
        bool libraryMade = false;
    };
    std::vector<Frame> frames;
    ui::Window& w = window();
    w.setRenderRequestHandler([&] {
        w.render();
        auto root = program->delegate()->rootList();
        frames.push_back({nav() && viewer(), root && root->isViewLoaded()});
    });
    // The window's first frame, as the shell draws it when the window shows.
    w.render();
    sys::RunLoop::main().advance(0.5);
    const BookReaderEx* prepared = PreparedBookOpen::ready();
    ASSERT_TRUE(prepared);
    sys::RunLoop::main().advance(1.5);
    w.setRenderRequestHandler({});
    auto first = std::find_if(frames.begin(), frames.end(), [](const Frame& f) { return f.reading; });
    ASSERT_NE(first, frames.end()) << "no frame showed the book";
    EXPECT_FALSE(first->libraryMade) << "the library was made before the page was drawn";
    EXPECT_TRUE(std::none_of(frames.begin(), first, [](const Frame& f) { return f.libraryMade; }))
        << "a frame of the library came before the book";
    ASSERT_TRUE(viewer());
    EXPECT_EQ(viewer()->bookReader().get(), prepared) << "the book was opened a second time";
    EXPECT_EQ(viewer()->page(), 3);
    EXPECT_TRUE(showsPage(3));

    // Under the book: the library read its folder and selected the book.
    auto root = program->delegate()->rootList();
    ASSERT_TRUE(root && root->isViewLoaded()) << "the library was never made";
    ASSERT_TRUE(root->lastSeletItem());
    EXPECT_EQ(root->lastSeletItem()->filename().value_or(""), "Story.cbz");
    // What the open records: the last book and the folder's last one read.
    auto last = sys::PropertyList::readArray(BookCommon::getLastBookSettingFilePath());
    ASSERT_TRUE(last && !last->empty());
    EXPECT_EQ((*last)[0].asString(), "Story.cbz");
    auto lastRead = sys::PropertyList::readArray(BookCommon::getLastReadingFileStoreFile(docs()));
    ASSERT_TRUE(lastRead && !lastRead->empty());
    EXPECT_EQ((*lastRead)[0].asString(), "Story.cbz");

    // Back from the book, the library lists it.
    nav()->popViewController(false);
    sys::RunLoop::main().advance(1);
    EXPECT_EQ(nav()->topViewController(), root.get());
    ui::test::Driver d(window());
    EXPECT_TRUE(d.findByText("Story")) << "the library does not list the book";
}

// Behind the start-up lock the book given at start is not opened before
// the passphrase, not even under the lock: no frame has it; it opens at its
// stored page once the passphrase is given.
TEST_F(PreparedBookProgramTest, BehindTheStartupLockNoFrameHasTheBookBeforeThePassphrase) {
    if (!test::haveProgram("zip")) GTEST_SKIP() << "zip missing";
    sys::PropertyList::writeFile(sys::PlistDictionary{{"startupLock", sys::PlistValue("passphrase")}},
                                 BookCommon::getSettingsFolder() + "/.globalsettings.lbs");
    QNKeyChain::addOrUpdatePassword(BookCommon::passcodeToHash("open sesame"),
                                    StartupPasscodeInputViewController::kKeychainAccount,
                                    StartupPasscodeInputViewController::kKeychainService);
    startWith(bookAtPageThree("Story.cbz"));
    auto lock = [&] {
        return nav() ? dynamic_cast<StartupPasscodeInputViewController*>(nav()->presentedViewController()) : nullptr;
    };
    int frames = 0, withBook = 0;
    ui::Window& w = window();
    w.setRenderRequestHandler([&] {
        w.render();
        ++frames;
        if (nav() && viewer()) ++withBook;
    });
    w.render();
    sys::RunLoop::main().advance(2);
    ASSERT_TRUE(lock()) << "no passphrase asked";
    EXPECT_GT(frames, 0);
    EXPECT_EQ(withBook, 0) << "the book was opened behind the lock";
    EXPECT_FALSE(viewer());
    ASSERT_TRUE(lock()->submit("open sesame"));
    sys::RunLoop::main().advance(2);
    w.setRenderRequestHandler({});
    EXPECT_FALSE(lock());
    ASSERT_TRUE(viewer()) << "the book did not open after the passphrase";
    EXPECT_EQ(viewer()->fileName(), docs() + "/Story.cbz");
    EXPECT_EQ(viewer()->page(), 3);
    EXPECT_TRUE(showsPage(3));
}

// Settings changed between the preparation and the open: the prepared page
// does not serve, the book is opened afresh with the settings the library has.
TEST_F(PreparedBookProgramTest, SettingsChangedMeanwhileOpenTheBookAfresh) {
    if (!test::haveProgram("zip")) GTEST_SKIP() << "zip missing";
    startWith(bookAtPageThree("Story.cbz"));
    sys::RunLoop::main().advance(0.5);
    const BookReaderEx* prepared = PreparedBookOpen::ready();
    ASSERT_TRUE(prepared);
    auto settings = Settings::settings();
    settings->setValueForKey("isDivisionPage", sys::PlistValue(false));
    settings->saveToFile();
    sys::RunLoop::main().advance(2);
    ASSERT_TRUE(viewer());
    EXPECT_NE(viewer()->bookReader().get(), prepared);
    EXPECT_EQ(viewer()->page(), 3);
    EXPECT_TRUE(showsPage(3));
}

// What a book asks before it shows is asked as ever: the password of an
// encrypted zip, whether to expand the archive a book holds, the solid 7z
// archive's notice.
TEST_F(PreparedBookProgramTest, QuestionsABookRaisesAreAskedAsEver) {
    if (!test::haveProgram("zip") || !test::haveProgram("convert")) GTEST_SKIP() << "zip or ImageMagick missing";
    ASSERT_EQ(test::shell("cd '" + given_ + "' && convert -size 60x80 xc:'#3366cc' p1.png && convert -size 60x80 "
                          "xc:'#cc6633' p2.png && zip -q -P 'open sesame' Locked.cbz p1.png p2.png"),
              0);
    // A book of pages that also holds another archive: prepared, yet the
    // question of expanding it comes first, over the library, as from a tap.
    ASSERT_EQ(test::shell("cd '" + given_ + "' && zip -q Inner.cbz p1.png p2.png && zip -q Holding.cbz p1.png p2.png "
                          "Inner.cbz"),
              0);
    startWith(given_ + "/Holding.cbz");
    sys::RunLoop::main().advance(0.5);
    EXPECT_TRUE(PreparedBookOpen::ready()) << "its pages were not composed";
    sys::RunLoop::main().advance(2);
    {
        ui::ViewController* top = nav();
        while (top && top->presentedViewController()) top = top->presentedViewController();
        auto* question = dynamic_cast<ui::AlertController*>(top);
        ASSERT_TRUE(question) << "nothing asked";
        EXPECT_EQ(question->alertTitle().value_or(""), "This file includes another archive. Do you want to extract it?");
        EXPECT_FALSE(viewer()) << "the book opened without the question";
    }
    stop();

    startWith(given_ + "/Locked.cbz");
    sys::RunLoop::main().advance(0.5);
    EXPECT_FALSE(PreparedBookOpen::ready()) << "a page without its password";
    sys::RunLoop::main().advance(2);
    ASSERT_TRUE(dynamic_cast<ArchivePasswordViewController*>(nav()->topViewController())) << "no password asked";
    play("type open sesame\nkey return\nwait 2\n");
    ASSERT_TRUE(viewer());
    EXPECT_EQ(viewer()->bookReader()->getPageNum(), 2);
    stop();

    if (!test::haveProgram("7z")) GTEST_SKIP() << "no 7z";
    ASSERT_EQ(test::shell("cd '" + given_ + "' && 7z a -t7z -ms=on Solid.cb7 p1.png p2.png >/dev/null"), 0);
    startWith(given_ + "/Solid.cb7");
    sys::RunLoop::main().advance(0.5);
    EXPECT_FALSE(PreparedBookOpen::ready()) << "a solid archive prepared behind its notice";
    sys::RunLoop::main().advance(2);
    ui::test::Driver d(window());
    EXPECT_TRUE(d.findByText("Loading may take time because this file is a \"Solid Archive\"")) << "no notice";
    EXPECT_FALSE(viewer());
}

// A PDF page that takes long to draw (one path of many full-page strokes,
// as plans and plots are made) holds neither the start nor the book: no
// page is drawn on the main thread; the page still drawing when the library
// opens the book is given up, not waited for, and the reading screen draws
// it on its worker with its loading indicator up, closing at once on
// Escape; so does an open from the library.
TEST_F(PreparedBookProgramTest, APdfPageThatDrawsLongHoldsNeitherTheStartNorTheBook) {
    test::PdfBuilder b;
    test::PdfBuilder::Page plan;
    plan.mediaBox = "[0 0 600 800]";
    // Seconds to draw at the window's size.
    plan.content = test::PdfBuilder::strokes(8000);
    b.pages.push_back(plan);
    ASSERT_TRUE(b.write(given_ + "/Plan.pdf"));
    test::PdfDrawWatch draws;
    ASSERT_NO_FATAL_FAILURE(startWith(given_ + "/Plan.pdf"));
    // The book is copied in first (on a worker, its end posted to the main thread).
    for (int i = 0; i < 500 && draws.started() == 0; ++i) sys::RunLoop::main().advance(0.02);
    ASSERT_TRUE(draws.waitForStarts(1)) << "the page is not prepared";
    for (int i = 0; i < 200 && !(nav() && viewer()); ++i) sys::RunLoop::main().advance(0.02);
    ASSERT_TRUE(nav() && viewer()) << "the book is not open";
    // The page drawn at start was given up, and ends with its band of rows
    // (the screen's own draw of it starts only then).
    ASSERT_TRUE(draws.waitForEnds(1));
    EXPECT_GE(draws.abandoned(), 1) << "the open waited for the page drawn at start";
    EXPECT_TRUE(viewer()->isFirstViewLoading());
    EXPECT_TRUE(viewer()->activityIndicator()) << "no sign of the page being drawn";
    play("key escape\n");
    EXPECT_FALSE(viewer()) << "Escape did not close the book";

    play("wait 1\ntap \"Plan\"\nwait 1\n");
    if (!viewer()) play("sheet 0\nwait 1\n");
    ASSERT_TRUE(viewer()) << "the book did not open from the library";
    EXPECT_TRUE(viewer()->isFirstViewLoading());
    play("key escape\n");
    EXPECT_FALSE(viewer()) << "Escape did not close the book";
    ASSERT_TRUE(draws.waitForEnds(draws.started()));
    EXPECT_EQ(draws.onMainThread(), 0) << "a page was drawn on the main thread";
}
