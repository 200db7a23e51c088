// The PDF reader and PDF books in the reading session, on PDFs written at
// test time: by hand for exact boxes, rotations and links, by img2pdf for
// image books, by Ghostscript for encrypted ones; remote PDFs through a
// fake page fetcher.
#include "engine/PageReaderPDF.h"

#include "engine/BookReaderEx.h"
#include "engine/PdfRect.h"
#include "tests/engine/BookSessionFixture.h"
#include "tests/engine/FakeUrlListStream.h"
#include "tests/support/PdfBuilder.h"
#include "tests/support/PdfDrawWatch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>

namespace {

using gfx::Rect;
using gfx::Size;
using test::PdfBuilder;

constexpr uint32_t kRed = 0xFFFF0000, kGreen = 0xFF00FF00, kWhite = 0xFFFFFFFF, kBlue = 0xFF0000FF;

// A 200 x 300 page: a red block in its top-left corner and a green block
// under a link near its bottom right.
PdfBuilder::Page markedPage() {
    PdfBuilder::Page p;
    p.content = PdfBuilder::fill(1, 0, 0, 0, 240, 40, 300) + PdfBuilder::fill(0, 1, 0, 120, 40, 180, 80);
    p.annots.push_back(PdfBuilder::uriLink("[120 40 180 80]", "(http://example.org/green)"));
    return p;
}

// The pixel at the middle of a link's rectangle, and pixels just outside it.
struct LinkProbe {
    uint32_t centre = 0;
    std::vector<uint32_t> outside;
};

LinkProbe probe(const gfx::ImageRef& image, Rect r) {
    LinkProbe p;
    auto at = [&](double x, double y) -> uint32_t {
        int ix = int(x), iy = int(y);
        if (ix < 0 || iy < 0 || ix >= image->width() || iy >= image->height()) return kWhite;
        return image->pixel(ix, iy);
    };
    p.centre = at(r.x() + r.width() / 2, r.y() + r.height() / 2);
    p.outside = {at(r.minX() - 3, r.y() + r.height() / 2), at(r.maxX() + 3, r.y() + r.height() / 2),
                 at(r.x() + r.width() / 2, r.minY() - 3), at(r.x() + r.width() / 2, r.maxY() + 3)};
    return p;
}

class PageReaderPdfTest : public test::BookSessionFixture {
protected:
    std::string writePdf(const PdfBuilder& b, const std::string& name = "book.pdf") {
        const std::string path = bookDir.file(name);
        EXPECT_TRUE(b.write(path));
        return path;
    }
    std::shared_ptr<PageReaderPDF> openReader(const std::string& path, bool expected = true) {
        auto r = std::make_shared<PageReaderPDF>();
        r->setSettings(settings);
        EXPECT_EQ(r->openFile(path, std::nullopt, std::nullopt, false, false), expected) << path;
        return r;
    }
    // Measures page `page` and draws it at its measured size, 1 pixel a point.
    gfx::ImageRef drawMeasured(PageReaderPDF& r, int page, Size* measured = nullptr) {
        int result = -1;
        EXPECT_EQ(r.newLoadAndCreateImage(page, result), nullptr);
        EXPECT_EQ(result, PageReader::kResultPending);
        const Size s = r.getPendingImageSize();
        if (measured) *measured = s;
        return r.newCreatePendingImage(page, s, Rect::null(), Rect::null(), false);
    }
};

TEST_F(PageReaderPdfTest, OpensAndNamesItsPages) {
    PdfBuilder b;
    for (int i = 0; i < 3; ++i) b.pages.push_back(markedPage());
    auto r = openReader(writePdf(b));
    const auto names = r->getPageNameList();
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[2], std::string("00000002") + std::string(8, '\0'));
    EXPECT_FALSE(r->getGlobalPageNoList());
    EXPECT_FALSE(r->isStreamPage());

    int result = -1;
    EXPECT_EQ(r->newLoadAndCreateImage(3, result), nullptr);
    EXPECT_EQ(result, PageReader::kResultFailed);
    EXPECT_EQ(r->newCreatePendingImage(3, {10, 10}, Rect::null(), Rect::null(), false), nullptr);
    EXPECT_EQ(r->newCreatePendingImage(-1, {10, 10}, Rect::null(), Rect::null(), false), nullptr);

    r->closeFile();
    EXPECT_TRUE(r->getPageNameList().empty());
    EXPECT_EQ(r->newCreatePendingImage(0, {10, 10}, Rect::null(), Rect::null(), false), nullptr);
}

TEST_F(PageReaderPdfTest, BadFilesFailTheOpenWithTheirReason) {
    auto r = std::make_shared<PageReaderPDF>();
    EXPECT_FALSE(r->openFile("", std::nullopt, std::nullopt, false, false));
    EXPECT_FALSE(r->openFile(bookDir.file("missing.pdf"), std::nullopt, std::nullopt, false, false));
    EXPECT_EQ(r->openFailure(), PageReader::OpenFailure::Unreadable);

    std::ofstream(bookDir.file("junk.pdf")) << std::string(3000, '#');
    EXPECT_FALSE(r->openFile(bookDir.file("junk.pdf"), std::nullopt, std::nullopt, false, false));
    EXPECT_EQ(r->openError(), gfx::PdfDocument::Error::Damaged);
    EXPECT_EQ(r->openFailure(), PageReader::OpenFailure::Damaged);

    EXPECT_FALSE(r->openFile(writePdf(PdfBuilder{}, "empty.pdf"), std::nullopt, std::nullopt, false, false));
    EXPECT_TRUE(r->isNoPage());
    EXPECT_EQ(r->openFailure(), PageReader::OpenFailure::None);
    EXPECT_TRUE(r->getPageNameList().empty());

    if (test::haveProgram("gs")) {
        PdfBuilder b;
        b.pages.push_back(markedPage());
        const std::string plain = writePdf(b, "plain.pdf");
        ASSERT_EQ(test::shell("gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -sOwnerPassword=o -sUserPassword=u -o '" +
                              bookDir.file("locked.pdf") + "' '" + plain + "' >/dev/null 2>&1"),
                  0);
        EXPECT_FALSE(r->openFile(bookDir.file("locked.pdf"), std::nullopt, std::string("u"), false, false));
        EXPECT_EQ(r->openError(), gfx::PdfDocument::Error::Encrypted);
        // Not "password needed": no password given here could open it.
        EXPECT_EQ(r->openFailure(), PageReader::OpenFailure::Encrypted);
        EXPECT_FALSE(r->isNoPage());
        auto locked = std::make_shared<BookReaderEx>();
        EXPECT_FALSE(locked->openBookWithName(bookDir.file("locked.pdf"), {}, std::nullopt, std::string("u"),
                                              std::nullopt, false, false));
        EXPECT_EQ(locked->openFailure(), PageReader::OpenFailure::Encrypted);
    }

    // A good open after the failures clears their reasons.
    PdfBuilder good;
    good.pages.push_back(markedPage());
    EXPECT_TRUE(r->openFile(writePdf(good, "good.pdf"), std::nullopt, std::nullopt, false, false));
    EXPECT_EQ(r->openError(), gfx::PdfDocument::Error::None);
    EXPECT_EQ(r->openFailure(), PageReader::OpenFailure::None);

    // Through the session: the book does not open, and nothing is shown.
    session = std::make_shared<BookReaderEx>();
    session->setSettings(settings);
    EXPECT_FALSE(session->openBookWithName(bookDir.file("junk.pdf"), {}, std::nullopt, std::nullopt, std::nullopt,
                                           false, false));
    EXPECT_TRUE(session->isPdf());
    EXPECT_EQ(session->getPageNum(), 0);
}

TEST_F(PageReaderPdfTest, TheTrimmingSettingPicksTheBox) {
    PdfBuilder b;
    PdfBuilder::Page p;
    p.mediaBox = "[0 0 400 500]";
    p.cropBox = "[10 10 390 490]";
    p.trimBox = "[20 20 380 480]";
    b.pages.push_back(p);
    p.trimBox = "";  // no trim box: the crop box stands in for it
    b.pages.push_back(p);
    p.trimBox = "[20 20 380 480]";
    p.cropBox = "[30 5 370 495]";  // narrower but taller than the trim box
    b.pages.push_back(p);
    p.cropBox = "[30 30 370 470]";  // smaller both ways
    b.pages.push_back(p);
    auto r = openReader(writePdf(b));
    auto doc = gfx::PdfDocument::open(bookDir.file("book.pdf"));
    ASSERT_TRUE(doc);

    struct Case {
        const char* code;
        int page;
        Rect expected;
    };
    const Case cases[] = {
        {"none", 0, Rect(0, 0, 400, 500)},    {"crop", 0, Rect(10, 10, 380, 480)},
        {"trim", 0, Rect(20, 20, 360, 460)},  {"both", 0, Rect(20, 20, 360, 460)},
        {"none", 1, Rect(0, 0, 400, 500)},    {"crop", 1, Rect(10, 10, 380, 480)},
        {"trim", 1, Rect(10, 10, 380, 480)},  {"both", 1, Rect(10, 10, 380, 480)},
        {"both", 2, Rect(20, 20, 360, 460)},  {"both", 3, Rect(30, 30, 340, 440)},
    };
    for (const Case& c : cases) {
        set("pdfTrimming", c.code);
        EXPECT_EQ(r->getPdfTrimRect(*doc->page(c.page)), c.expected) << c.code << " page " << c.page;
    }

    // Thumbnails take their own code, whatever the setting says.
    set("pdfTrimming", "none");
    auto thumbs = std::make_shared<PageReaderPDF>();
    thumbs->setSettings(settings);
    thumbs->setPdfTrimmingForThumbsCreeateMode(PageReaderPDF::kTrimTrim);
    ASSERT_TRUE(thumbs->openFile(bookDir.file("book.pdf"), std::nullopt, std::nullopt, false, true));
    EXPECT_EQ(thumbs->getPdfTrimRect(*doc->page(0)), Rect(20, 20, 360, 460));
}

// Every turn of the page, with and without a crop box away from the page's
// corner: the drawing shows the page turned, and the link lies over the
// block drawn under it.
TEST_F(PageReaderPdfTest, TurnedAndCroppedPagesDrawWithTheirLinksInPlace) {
    set("pdfOptimize", "text");
    set("pdfTrimming", "crop");
    const char* rotations[] = {"0", "90", "180", "270", "-90"};
    for (bool cropped : {false, true}) {
        PdfBuilder b;
        for (const char* rot : rotations) {
            PdfBuilder::Page p = markedPage();
            p.rotate = rot;
            if (cropped) p.cropBox = "[10 20 190 290]";
            b.pages.push_back(p);
        }
        auto r = openReader(writePdf(b, cropped ? "cropped.pdf" : "plain.pdf"));
        for (int i = 0; i < int(std::size(rotations)); ++i) {
            SCOPED_TRACE(std::string("Rotate ") + rotations[i] + (cropped ? " cropped" : ""));
            Size measured;
            auto image = drawMeasured(*r, i, &measured);
            ASSERT_TRUE(image);
            const int turn = (std::stoi(rotations[i]) + 360) % 360;
            const Size upright = cropped ? Size{180, 270} : Size{200, 300};
            const bool quarter = turn == 90 || turn == 270;
            EXPECT_EQ(measured, (quarter ? Size{upright.height, upright.width} : upright));
            ASSERT_EQ(image->width(), int(measured.width));

            // The red block marks the page's top-left corner, wherever the turn took it.
            const int w = image->width(), h = image->height();
            const int nearX = 3, farX = w - 4, nearY = 3, farY = h - 4;
            const std::pair<int, int> corner = turn == 0    ? std::pair{nearX, nearY}
                                               : turn == 90  ? std::pair{farX, nearY}
                                               : turn == 180 ? std::pair{farX, farY}
                                                             : std::pair{nearX, farY};
            EXPECT_EQ(image->pixel(corner.first, corner.second), kRed);
            EXPECT_EQ(image->pixel(w - 1 - corner.first, h - 1 - corner.second), kWhite);

            auto links = r->pdfLinkRect();
            ASSERT_TRUE(links);
            ASSERT_EQ(links->getCount(), 1);
            EXPECT_EQ(links->getURIAtIndex(0), "http://example.org/green");
            const Rect lr = links->getRectAtIndex(0);
            EXPECT_NEAR(lr.width(), quarter ? 40 : 60, 1);
            EXPECT_NEAR(lr.height(), quarter ? 60 : 40, 1);
            const LinkProbe pr = probe(image, lr);
            EXPECT_EQ(pr.centre, kGreen) << "link at " << lr.x() << "," << lr.y();
            for (uint32_t o : pr.outside) EXPECT_EQ(o, kWhite) << "link at " << lr.x() << "," << lr.y();
        }
    }
}

TEST_F(PageReaderPdfTest, LinksReadFromThePageAreFlippedIntoTopDownPoints) {
    PdfBuilder b;
    PdfBuilder::Page p;
    p.mediaBox = "[0 0 600 800]";
    p.annots.push_back(PdfBuilder::uriLink("[100 700 300 750]", "(http://example.org/top)"));
    p.annots.push_back(PdfBuilder::uriLink("[1 2 3 4]", "(caf\\351)"));  // Latin-1 bytes, decoded
    b.pages.push_back(p);
    auto r = openReader(writePdf(b));
    auto doc = gfx::PdfDocument::open(bookDir.file("book.pdf"));
    auto links = r->getLinkInPDF(*doc->page(0));
    ASSERT_EQ(links->getCount(), 2);
    EXPECT_EQ(links->getRectAtIndex(0), Rect(100, 50, 200, 50));
    EXPECT_EQ(links->mediaSize(), (Size{600, 800}));
    EXPECT_EQ(links->getURIAtIndex(1), "caf\xC3\xA9");
}

// Drawing part of a page: a source rectangle (in measured units) picks what
// is drawn, and the link follows it, turned pages included.
TEST_F(PageReaderPdfTest, SourceRectanglesCarryTheLinksAlong) {
    set("pdfOptimize", "text");
    PdfBuilder b;
    b.pages.push_back(markedPage());
    b.pages.push_back(markedPage());
    b.pages.back().rotate = "90";
    auto r = openReader(writePdf(b));
    // Upright: the bottom-right 100 x 100; turned: the block is at the
    // bottom left of the 300 x 200 page.
    const Rect sources[] = {Rect(100, 200, 100, 100), Rect(0, 100, 100, 100)};
    for (int page = 0; page < 2; ++page) {
        int result;
        r->newLoadAndCreateImage(page, result);
        auto image = r->newCreatePendingImage(page, {200, 200}, sources[page], Rect::null(), false);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->width(), 200);
        ASSERT_EQ(r->pdfLinkRect()->getCount(), 1);
        const Rect lr = r->pdfLinkRect()->getRectAtIndex(0);
        EXPECT_EQ(probe(image, lr).centre, kGreen) << "page " << page << " link " << lr.x() << "," << lr.y();
        EXPECT_NEAR(lr.width() * lr.height(), 60 * 40 * 4, 40);
    }
}

TEST_F(PageReaderPdfTest, DrawingSizeFollowsTheContent) {
    PdfBuilder b;
    for (int i = 0; i < 10; ++i) b.pages.push_back(markedPage());
    const size_t base = b.bytes().size();
    // The cross-reference offset grows by a digit or two with the filler.
    b.fillerBytes = 700000 - base;
    b.fillerBytes -= b.bytes().size() - 700000;
    ASSERT_EQ(b.bytes().size(), 700000u);
    const std::string images = writePdf(b, "images.pdf");
    b.fillerBytes = 600000 - base;
    b.fillerBytes -= b.bytes().size() - 600000;
    ASSERT_EQ(b.bytes().size(), 600000u);
    const std::string text = writePdf(b, "text.pdf");

    auto measure = [&](const std::string& path) {
        auto r = openReader(path);
        int result;
        r->newLoadAndCreateImage(0, result);
        return r->getPendingImageSize();
    };
    const double f = double(1.4f);
    set("pdfOptimize", "auto");
    EXPECT_EQ(measure(images), (Size{200 * f, 300 * f})) << "70,000 bytes a page: an image book";
    EXPECT_EQ(measure(text), (Size{200, 300}));
    set("pdfOptimize", "text");
    EXPECT_EQ(measure(images), (Size{200, 300}));
    set("pdfOptimize", "image");
    EXPECT_EQ(measure(text), (Size{200 * f, 300 * f}));
    set("pdfOptimize", "smooth");
    const Size smooth = measure(text);
    EXPECT_NEAR(smooth.height, 1400, 1e-9);
    EXPECT_NEAR(smooth.width, 1400.0 * 2 / 3, 1e-9);

    // Asked to, the drawing is made at the enlarged size, links with it.
    set("pdfOptimize", "image");
    auto r = openReader(text);
    int result;
    r->newLoadAndCreateImage(0, result);
    auto image = r->newCreatePendingImage(0, {100, 150}, Rect::null(), Rect::null(), true);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), int(100 * f));
    EXPECT_EQ(image->height(), int(150 * f));
    EXPECT_EQ(probe(image, r->pdfLinkRect()->getRectAtIndex(0)).centre, kGreen);
}

TEST_F(PageReaderPdfTest, DrawingsStayWithinThePixelBudget) {
    PdfBuilder b;
    b.pages.push_back(markedPage());
    b.pages.push_back({});
    b.pages.back().mediaBox = "[0 0 1000000000 1000000000]";
    b.pages.back().content = PdfBuilder::fill(0, 0, 1, 0, 0, 1000000000, 1000000000);
    b.pages.push_back({});
    b.pages.back().mediaBox = "[0 0 0 0]";
    b.pages.push_back({});
    b.pages.back().mediaBox = "[0 0 300 400]";
    b.pages.back().cropBox = "[50 50 50 50]";  // a crop box of nothing: the media box is drawn
    auto r = openReader(writePdf(b));
    int result;
    EXPECT_EQ(r->newLoadAndCreateImage(2, result), nullptr);
    EXPECT_EQ(result, PageReader::kResultFailed) << "a page of no size";
    r->newLoadAndCreateImage(3, result);
    EXPECT_EQ(result, PageReader::kResultPending);
    EXPECT_EQ(r->getPendingImageSize(), (Size{300, 400}));
    r->newLoadAndCreateImage(0, result);
    const double budget = 2 * BookReaderEx::calcInitValues();
    auto image = r->newCreatePendingImage(0, {40000, 60000}, Rect::null(), Rect::null(), true);
    ASSERT_TRUE(image);
    EXPECT_LE(double(image->width()) * image->height(), budget);
    EXPECT_NEAR(double(image->width()) / image->height(), 2.0 / 3, 0.01);
    EXPECT_EQ(probe(image, r->pdfLinkRect()->getRectAtIndex(0)).centre, kGreen);
    // Within the budget but wider than any image can be: refused, not wrapped.
    EXPECT_EQ(r->newCreatePendingImage(0, {1e7, 0.5}, Rect::null(), Rect::null(), false), nullptr);

    // A huge page opens in the session at the display's size.
    settings->setValueForKey("isPreRead", false);
    openBook();
    session = std::make_shared<BookReaderEx>();
    session->setSettings(settings);
    ASSERT_TRUE(session->openBookWithName(bookDir.file("book.pdf"), {}, std::nullopt, std::nullopt, std::nullopt,
                                          false, false));
    auto view = load(PageLoadRequest::kJumpForward, 1, {600, 800});
    ASSERT_TRUE(view && view->image);
    EXPECT_LE(view->image->width(), 600);
    EXPECT_EQ(view->image->pixel(view->image->width() / 2, view->image->height() / 2), kBlue);
}

TEST_F(PageReaderPdfTest, ImageBooksFromImg2pdf) {
    if (!test::haveProgram("img2pdf") || !test::haveProgram("convert")) GTEST_SKIP() << "no img2pdf or convert";
    ASSERT_TRUE(test::writeHalvesPage(bookDir.file("a.bmp"), 120, 160, test::pageColour(0, false),
                                      test::pageColour(0, true)));
    ASSERT_EQ(test::shell("cd '" + bookDir.path() + "' && convert a.bmp a.png && img2pdf a.png a.png -o img.pdf"), 0);
    set("pdfOptimize", "text");
    auto r = openReader(bookDir.file("img.pdf"));
    ASSERT_EQ(r->getPageNameList().size(), 2u);
    Size measured;
    auto image = drawMeasured(*r, 1, &measured);
    ASSERT_TRUE(image);
    // The page size follows the picture's density; only its proportions are known here.
    EXPECT_NEAR(measured.width / measured.height, 120.0 / 160, 0.01);
    EXPECT_TRUE(test::colourNear(image->pixel(image->width() / 4, image->height() / 2), test::pageColour(0, false)));
    EXPECT_TRUE(test::colourNear(image->pixel(image->width() * 3 / 4, image->height() / 2), test::pageColour(0, true)));
    EXPECT_EQ(r->pdfLinkRect()->getCount(), 0);
}

// Receives what the reader reports of a download.
class MapTarget : public RemoteStreamReadDelegate {
public:
    std::vector<std::vector<uint16_t>> maps;
    std::vector<bool> pageFlags;
    void updateCacheStatus(uint64_t count, const uint16_t* map, bool isPage) override {
        maps.emplace_back(map, map + count);
        pageFlags.push_back(isPage);
    }
};

class PageReaderPdfRemoteTest : public PageReaderPdfTest {
protected:
    void SetUp() override {
        PageReaderPdfTest::SetUp();
        fake = std::make_shared<test::FakeUrlListStream>();
        UrlListStream::registerMaker([this] { return fake; });
    }
    void TearDown() override {
        UrlListStream::registerMaker(nullptr);
        PageReaderPdfTest::TearDown();
    }
    std::shared_ptr<test::FakeUrlListStream> fake;
    const std::string url = "http://127.0.0.1:8080/books/remote.pdf";
};

TEST_F(PageReaderPdfRemoteTest, ARemotePdfIsFetchedWholeAndReadFromTheCache) {
    PdfBuilder b;
    b.pages.push_back(markedPage());
    b.pages.push_back(markedPage());
    fake->files[url] = writePdf(b, "cached.pdf");
    auto r = std::make_shared<PageReaderPDF>();
    r->setSettings(settings);
    r->setUserName("reader");
    ASSERT_TRUE(r->openFile(url, std::nullopt, std::nullopt, false, false));
    EXPECT_EQ(fake->openedUrls, std::vector<std::string>{url});
    EXPECT_EQ(fake->openedGlobals, (std::vector<int32_t>{0}));
    EXPECT_EQ(fake->openedTotal, 1);
    EXPECT_EQ(fake->openedInfo, url);
    EXPECT_FALSE(fake->openedLbExpand);
    EXPECT_EQ(fake->userName(), "reader");
    EXPECT_EQ(r->getPageNameList().size(), 2u);
    EXPECT_TRUE(drawMeasured(*r, 1));
    EXPECT_FALSE(r->isPDFOptimizeAutoselectImage()) << "an address has no size to judge by";

    // The download's progress as a map of a hundred steps.
    auto target = std::make_shared<MapTarget>();
    r->setTargetForOnlineStatus(target);
    fake->reportBlock(1, 200, 0, 0);      // 0.5 %
    fake->reportBlock(500, 1000, 0, 0);   // 50 %
    fake->reportBlock(1000, 1000, 0, 0);  // done
    fake->reportBlock(5, 0, 0, 0);        // nothing to measure against
    ASSERT_EQ(target->maps.size(), 3u);
    EXPECT_EQ(target->maps[0], std::vector<uint16_t>(100, 0));
    std::vector<uint16_t> half(100, 0);
    std::fill(half.begin(), half.begin() + 50, 1);
    EXPECT_EQ(target->maps[1], half);
    std::vector<uint16_t> full(100, 1);
    full[99] = 0;
    EXPECT_EQ(target->maps[2], full);
    EXPECT_EQ(target->pageFlags, std::vector<bool>(3, false));
    r->updateCacheStatus(3, full.data(), true);  // the fetcher's own map is not passed on
    EXPECT_EQ(target->maps.size(), 3u);

    r.reset();
    EXPECT_GE(fake->closeCount.load(), 1) << "the fetcher goes with the reader";
}

TEST_F(PageReaderPdfRemoteTest, FailedOrCancelledFetchesFailTheOpen) {
    auto r = std::make_shared<PageReaderPDF>();
    fake->openResult = false;
    EXPECT_FALSE(r->openFile(url, std::nullopt, std::nullopt, false, false));
    EXPECT_GE(fake->closeCount.load(), 1);

    fake = std::make_shared<test::FakeUrlListStream>();
    EXPECT_FALSE(r->openFile(url, std::nullopt, std::nullopt, false, false)) << "nothing cached for the address";

    // A download that never ends is ended by a cancel from another thread.
    fake = std::make_shared<test::FakeUrlListStream>();
    fake->holdFrom = 0;
    std::atomic<bool> opened{true};
    std::thread opener([&] { opened = r->openFile(url, std::nullopt, std::nullopt, false, false); });
    fake->waitUntilHeld();
    r->cancelStreaming();
    opener.join();
    EXPECT_FALSE(opened.load());
    EXPECT_GE(fake->cancelCount.load(), 1);

    UrlListStream::registerMaker(nullptr);
    EXPECT_FALSE(r->openFile(url, std::nullopt, std::nullopt, false, false)) << "no fetcher at all";
}

// PDF books in the session: pages drawn at the display's size, links moved
// into the composed view, side by side and centred too.
class PageReaderPdfSessionTest : public PageReaderPdfTest {
protected:
    void openPdf(int pages) {
        PdfBuilder b;
        for (int i = 0; i < pages; ++i) {
            b.pages.push_back(markedPage());
            b.pages.back().annots[0] = PdfBuilder::uriLink("[120 40 180 80]", "(http://example.org/" +
                                                                                   std::to_string(i) + ")");
        }
        session = std::make_shared<BookReaderEx>();
        session->setSettings(settings);
        ASSERT_TRUE(session->openBookWithName(writePdf(b), {}, std::nullopt, std::nullopt, std::nullopt, false,
                                              false));
        ASSERT_TRUE(session->isPdf());
        ASSERT_EQ(session->getPageNum(), pages);
    }
    void expectLinksOverGreen(const BookPage& view, int count) {
        ASSERT_TRUE(view.pdfLinkRect);
        ASSERT_EQ(view.pdfLinkRect->getCount(), count);
        for (int i = 0; i < count; ++i) {
            const Rect lr = view.pdfLinkRect->getRectAtIndex(i);
            const LinkProbe p = probe(view.image, lr);
            EXPECT_EQ(p.centre, kGreen) << "link " << i << " at " << lr.x() << "," << lr.y();
            for (uint32_t o : p.outside) EXPECT_NE(o, kGreen) << "link " << i << " too small";
        }
    }
};

// A book opened with settings of its own and then handed the screen's (the
// book prepared at start, taken by the library): its reader reads the new
// ones from then on, and the ones it opened with may go while it reads.
TEST_F(PageReaderPdfSessionTest, SettingsHandedToAnOpenBookReachItsReader) {
    PdfBuilder b;
    PdfBuilder::Page p;
    p.mediaBox = "[0 0 400 500]";
    p.cropBox = "[10 10 390 490]";
    b.pages.push_back(p);
    test::TempDir firstDir{"firstsettings"};
    auto first = std::make_shared<Settings>(firstDir.path(), &defaults);
    first->readFromFile();
    first->setValueForKey("pdfTrimming", sys::PlistValue("none"));
    set("pdfTrimming", "crop");
    session = std::make_shared<BookReaderEx>();
    session->setSettings(first);
    ASSERT_TRUE(session->openBookWithName(writePdf(b), {}, std::nullopt, std::nullopt, std::nullopt, false, false));
    ASSERT_EQ(session->loadPage(request(PageLoadRequest::kCompose, 0, {200, 300})), 0);
    EXPECT_EQ(session->loadedPage()->originalSize, Size(400, 500)) << "the whole page, as the first settings say";

    session->setSettings(settings);
    first.reset();
    ASSERT_EQ(session->loadPage(request(PageLoadRequest::kCompose, 0, {200, 300})), 0);
    EXPECT_EQ(session->loadedPage()->originalSize, Size(380, 480)) << "the reader kept the first settings";
}

TEST_F(PageReaderPdfSessionTest, SinglePagesAreDrawnAtTheDisplaySizeWithTheirLinks) {
    set("pdfOptimize", "text");
    openPdf(3);
    // Fitted into 400 x 600: drawn at twice the page's size, not scaled.
    auto view = load(PageLoadRequest::kJumpForward, 1, {400, 600});
    ASSERT_TRUE(view->image);
    EXPECT_EQ(view->image->width(), 400);
    EXPECT_EQ(view->image->height(), 600);
    EXPECT_EQ(view->image->pixel(5, 5), kRed);
    expectLinksOverGreen(*view, 1);
    EXPECT_EQ(view->pdfLinkRect->getURIAtIndex(0), "http://example.org/1");
    EXPECT_EQ(view->pdfLinkRect->hitTestThePoint({300, 480}, 1), 0);

    // A wider display centres the page; its link moves with it.
    view = load(PageLoadRequest::kJumpForward, 2, {800, 600});
    EXPECT_GT(view->offset.x, 0);
    expectLinksOverGreen(*view, 1);

    // The clip of blank margins draws only what is inked, links along.
    set("clipBlankSpace", "normal");
    view = load(PageLoadRequest::kJumpForward, 0, {400, 600});
    expectLinksOverGreen(*view, 1);
}

TEST_F(PageReaderPdfSessionTest, PairedPagesMergeTheirLinks) {
    set("pdfOptimize", "image");
    set("isDoubleTruck", true);
    set("centerSpace", "10");
    openPdf(4);
    for (bool swap : {false, true}) {
        set("isExchangeDoublePage", swap);
        auto view = load(PageLoadRequest::kJumpForward, 0, {900, 600});
        ASSERT_TRUE(view->is2PageLoaded);
        expectLinksOverGreen(*view, 2);
        // The two links point at their own pages, on their own sides.
        const Rect a = view->pdfLinkRect->getRectAtIndex(0), b = view->pdfLinkRect->getRectAtIndex(1);
        const bool zeroLeft = view->pdfLinkRect->getURIAtIndex(0) == "http://example.org/0" ? a.x() < b.x()
                                                                                              : b.x() < a.x();
        EXPECT_EQ(zeroLeft, swap) << "a right-bound book puts page 0 on the right";
    }
}

// A PDF's page sizes come from the document: a jump to a page in a book
// just opened shows the pair paging from the start would, (0) [1] (2, 3) (4)
// with page 1 wide, never (3, 4).
TEST_F(PageReaderPdfSessionTest, AJumpPairsThePagesAsPagingFromTheStartWould) {
    set("isDoubleTruck", true);
    PdfBuilder b;
    for (int i = 0; i < 5; ++i) {
        b.pages.push_back(markedPage());
        if (i == 1) b.pages.back().mediaBox = "[0 0 400 300]";
    }
    const std::string pdf = writePdf(b);
    session = std::make_shared<BookReaderEx>();
    session->setSettings(settings);
    ASSERT_TRUE(session->openBookWithName(pdf, {}, std::nullopt, std::nullopt, std::nullopt, false, false));
    auto view = load(PageLoadRequest::kJumpForward, 3, {900, 600});
    EXPECT_EQ(view->targetPage, 2);
    EXPECT_TRUE(view->is2PageLoaded);
    view = load(PageLoadRequest::kNext, 0, {900, 600});
    EXPECT_EQ(view->targetPage, 4);
    EXPECT_FALSE(view->is2PageLoaded);
}

TEST_F(PageReaderPdfSessionTest, APageStandingAloneInAWideDisplayKeepsItsShapeWhenDrawnLarger) {
    // Drawn larger than the view for smoother pictures: a page beside
    // another came back to its size, one standing alone (the last of an odd
    // count, or the first when it is asked to stand alone) was shown at the
    // larger size, squeezed into the view's height and stretched sideways.
    set("pdfOptimize", "image");
    set("isDoubleTruck", true);
    openPdf(3);
    for (int page : {2, 0}) {
        set("isSingleViewFirstPage", page == 0);
        auto view = load(PageLoadRequest::kJumpForward, page, {900, 600});
        ASSERT_TRUE(view && view->image);
        ASSERT_FALSE(view->is2PageLoaded) << page;
        EXPECT_EQ(view->image->width(), 900);
        EXPECT_EQ(view->image->height(), 600);
        // The page (200 x 300) fills the height at twice its size, centred.
        EXPECT_EQ(view->offset.x, 250) << page;
        const int x0 = int(view->offset.x);
        // Its red corner block is 40 x 60 points: 80 x 120 pixels.
        EXPECT_EQ(view->image->pixel(x0 + 4, 4), kRed) << page;
        EXPECT_EQ(view->image->pixel(x0 + 76, 116), kRed) << page;
        EXPECT_NE(view->image->pixel(x0 + 86, 60), kRed) << page << ": the page is stretched sideways";
        EXPECT_NE(view->image->pixel(x0 + 40, 126), kRed) << page;
        expectLinksOverGreen(*view, 1);
    }
}

TEST_F(PageReaderPdfSessionTest, DividedWidePagesKeepTheLinksOfTheirHalf) {
    set("pdfOptimize", "image");
    set("isDivisionPage", true);
    PdfBuilder b;
    PdfBuilder::Page wide;
    wide.mediaBox = "[0 0 400 300]";
    wide.content = PdfBuilder::fill(0, 1, 0, 40, 40, 120, 100) + PdfBuilder::fill(0, 1, 0, 260, 200, 360, 260);
    wide.annots = {PdfBuilder::uriLink("[40 40 120 100]", "(http://left.example)"),
                   PdfBuilder::uriLink("[260 200 360 260]", "(http://right.example)")};
    b.pages.push_back(wide);
    session = std::make_shared<BookReaderEx>();
    session->setSettings(settings);
    ASSERT_TRUE(session->openBookWithName(writePdf(b), {}, std::nullopt, std::nullopt, std::nullopt, false, false));
    // A right-bound book shows the right half first.
    auto first = load(PageLoadRequest::kJumpForward, 0, {200, 300});
    ASSERT_TRUE(first->isDividedPage);
    auto second = load(PageLoadRequest::kNext, 0, {200, 300});
    ASSERT_TRUE(second->isDividedPage && second->isSecondPage);
    for (const auto& view : {first, second}) {
        ASSERT_TRUE(view->pdfLinkRect);
        // Both links come along; the one of the half shown lies over its block.
        ASSERT_EQ(view->pdfLinkRect->getCount(), 2);
        const bool rightHalf = view == first;
        const int shown = rightHalf ? 1 : 0;
        EXPECT_EQ(view->pdfLinkRect->getURIAtIndex(shown), rightHalf ? "http://right.example" : "http://left.example");
        const Rect lr = view->pdfLinkRect->getRectAtIndex(shown);
        EXPECT_EQ(probe(view->image, lr).centre, kGreen) << lr.x() << "," << lr.y();
        const Rect other = view->pdfLinkRect->getRectAtIndex(1 - shown);
        EXPECT_TRUE(other.maxX() <= 0 || other.minX() >= view->image->width()) << "the other half's link is off the view";
    }
}

TEST_F(PageReaderPdfSessionTest, ThePreloadDrawsTheNextPageOnItsOwnThread) {
    set("pdfOptimize", "text");
    set("isPreRead", true);
    openPdf(5);
    for (int i = 0; i < 4; ++i) {
        PageLoadRequest r = request(i == 0 ? PageLoadRequest::kCompose : PageLoadRequest::kNext, 0, {200, 300});
        r.isPreloadPages = true;
        r.isCachePages = true;
        if (i > 0) {
            EXPECT_TRUE(session->isPageLoaded(r));
        }
        ASSERT_EQ(session->loadPage(r), 0);
        auto view = session->loadedPage();
        EXPECT_EQ(view->targetPage, i);
        expectLinksOverGreen(*view, 1);
        EXPECT_EQ(view->pdfLinkRect->getURIAtIndex(0), "http://example.org/" + std::to_string(i));
        session->waitPreloadThread();
    }
}

// A page that draws for long (one path of many full-page strokes, as maps
// and plots are made) is abandoned as soon as nobody waits for it: turned
// away from, the load drawing it fails at once, and so does any load until
// draws resume; the book closed while it draws, the close waits for no
// more than the band of rows under way.
TEST_F(PageReaderPdfSessionTest, APageBeingDrawnIsAbandonedWhenNobodyWantsItAnyMore) {
    set("pdfOptimize", "text");
    PdfBuilder b;
    PdfBuilder::Page heavy;
    heavy.mediaBox = "[0 0 600 800]";
    // Seconds to draw whole at this size: far more than one band.
    heavy.content = PdfBuilder::strokes(8000);
    b.pages.push_back(heavy);
    b.pages.push_back(markedPage());
    session = std::make_shared<BookReaderEx>();
    session->setSettings(settings);
    ASSERT_TRUE(session->openBookWithName(writePdf(b), {}, std::nullopt, std::nullopt, std::nullopt, false, false));
    test::PdfDrawWatch draws;
    std::atomic<int> result{-1};
    auto loadHeavyPage = [&] {
        return std::thread([&] { result = session->loadPage(request(PageLoadRequest::kCompose, 0, {600, 800})); });
    };

    std::thread loader = loadHeavyPage();
    ASSERT_TRUE(draws.waitForStarts(1));
    session->abandonPageDraws();
    loader.join();
    EXPECT_EQ(result, BookReaderEx::kLoadError);
    EXPECT_EQ(draws.abandoned(), 1) << "the page turned away from was drawn to its end";
    // Until the draws resume, a load that would draw the page again fails at once.
    EXPECT_EQ(session->loadPage(request(PageLoadRequest::kCompose, 0, {600, 800})), BookReaderEx::kLoadError);
    EXPECT_EQ(draws.started(), 1);
    session->resumePageDraws();
    ASSERT_EQ(session->loadPage(request(PageLoadRequest::kCompose, 1, {200, 300})), BookReaderEx::kLoadDone);
    expectLinksOverGreen(*session->loadedPage(), 1);

    loader = loadHeavyPage();
    ASSERT_TRUE(draws.waitForStarts(3));
    session->closeBook();
    loader.join();
    EXPECT_EQ(result, BookReaderEx::kLoadError);
    EXPECT_EQ(draws.abandoned(), 2) << "the close waited for the page to be drawn";
    EXPECT_EQ(draws.ended(), 3);
}

// A draw given up goes on to the end of its band of rows; a book opened
// again meanwhile (or any reader of the same file) starts no draw of its own
// until then, so draws given up never pile up.
TEST_F(PageReaderPdfSessionTest, NoDrawOfAFileStartsBesideOneOfItGivenUp) {
    PdfBuilder b;
    b.pages.push_back(markedPage());
    const std::string path = writePdf(b);
    auto first = std::make_shared<BookReaderEx>();
    first->setSettings(settings);
    ASSERT_TRUE(first->openBookWithName(path, {}, std::nullopt, std::nullopt, std::nullopt, false, false));
    session = std::make_shared<BookReaderEx>();
    session->setSettings(settings);
    ASSERT_TRUE(session->openBookWithName(path, {}, std::nullopt, std::nullopt, std::nullopt, false, false));
    test::PdfDrawWatch draws;
    draws.hold();  // as a band of a heavy page takes long
    std::atomic<int> firstResult{-1}, againResult{-1};
    std::thread given([&] { firstResult = first->loadPage(request(PageLoadRequest::kCompose, 0, {200, 300})); });
    ASSERT_TRUE(draws.waitForStarts(1));
    first->cancelStreaming();
    std::thread again([&] { againResult = session->loadPage(request(PageLoadRequest::kCompose, 0, {200, 300})); });
    EXPECT_FALSE(draws.waitForStarts(2, 0.5)) << "a draw started beside the one given up";
    draws.release();
    given.join();
    again.join();
    EXPECT_EQ(firstResult, BookReaderEx::kLoadError);
    EXPECT_EQ(againResult, BookReaderEx::kLoadDone);
    EXPECT_EQ(draws.abandoned(), 1);
    first->closeBook();
}

// With blank margins clipped, a page slow to draw is not drawn twice: the
// small preview its margins are found on is given up past a moment, and the
// page is drawn once, whole.
TEST_F(PageReaderPdfSessionTest, APageSlowToDrawIsNotDrawnTwiceForItsMargins) {
    set("pdfOptimize", "text");
    set("clipBlankSpace", "normal");
    PdfBuilder b;
    PdfBuilder::Page heavy;
    heavy.mediaBox = "[0 0 600 800]";
    // Over a second for the preview, a fraction of that at the view's size.
    heavy.content = PdfBuilder::strokes(3000);
    b.pages.push_back(heavy);
    session = std::make_shared<BookReaderEx>();
    session->setSettings(settings);
    ASSERT_TRUE(session->openBookWithName(writePdf(b), {}, std::nullopt, std::nullopt, std::nullopt, false, false));
    test::PdfDrawWatch draws;
    ASSERT_EQ(session->loadPage(request(PageLoadRequest::kCompose, 0, {150, 200})), BookReaderEx::kLoadDone);
    EXPECT_EQ(draws.started(), 2);
    EXPECT_EQ(draws.abandoned(), 1) << "the preview was drawn to its end";
    ASSERT_TRUE(session->loadedPage()->image);
}

}  // namespace
