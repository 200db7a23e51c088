// Links of PDF pages on the reading screen: the link under a tap wherever
// the image view shows the page and at whatever size the page was drawn,
// the highlights shown while the link question is open, and a whole PDF
// book read in the viewer with a tap on a link.
#include "viewer/PdfLinkViews.h"

#include "engine/PdfRect.h"
#include "tests/support/PdfBuilder.h"
#include "tests/viewer/ViewerFixture.h"

#include <gtest/gtest.h>

namespace {

using ui::Rect;

// A view of 280 x 420 pixels with two links, as the session makes for a
// page drawn 1.4 times larger than the 200 x 300 points it is shown at.
std::shared_ptr<BookPage> pageWithLinks() {
    auto page = std::make_shared<BookPage>();
    page->image = gfx::Image::make(280, 420, std::vector<uint32_t>(280 * 420, 0xFFFFFFFF));
    auto links = std::make_shared<PdfRect>();
    links->addRect(gfx::Rect(28, 42, 56, 28), "http://example.org/a");
    links->addRect(gfx::Rect(140, 280, 140, 140), "example.org/b");
    page->pdfLinkRect = links;
    return page;
}

class PdfLinkViewsTest : public test::VirtualClockTest {};

TEST_F(PdfLinkViewsTest, LinksAreFoundThroughWhereTheImageLands) {
    auto page = pageWithLinks();
    ui::ImageView view(Rect(0, 0, 200, 300));
    view.setImage(ui::Image::withBitmap(page->image));

    EXPECT_EQ(PdfLinkViews::frameOfLink(*page, view, 0), Rect(20, 30, 40, 20));
    EXPECT_EQ(PdfLinkViews::linkAtPoint(page.get(), &view, {20, 30}), "http://example.org/a") << "edges count";
    EXPECT_EQ(PdfLinkViews::linkAtPoint(page.get(), &view, {60, 50}), "http://example.org/a");
    EXPECT_EQ(PdfLinkViews::linkAtPoint(page.get(), &view, {61, 50}), std::nullopt);
    EXPECT_EQ(PdfLinkViews::linkAtPoint(page.get(), &view, {150, 250}), "example.org/b");

    // Shown smaller and centred in a wider view.
    view.setFrame(Rect(0, 0, 400, 150));
    view.setContentMode(ui::ContentMode::ScaleAspectFit);
    EXPECT_EQ(PdfLinkViews::frameOfLink(*page, view, 0), Rect(160, 15, 20, 10));
    EXPECT_EQ(PdfLinkViews::linkAtPoint(page.get(), &view, {170, 20}), "http://example.org/a");
    EXPECT_EQ(PdfLinkViews::linkAtPoint(page.get(), &view, {20, 30}), std::nullopt);

    // Pages without links, views without pages.
    auto plain = std::make_shared<BookPage>(*page);
    plain->pdfLinkRect.reset();
    EXPECT_EQ(PdfLinkViews::linkAtPoint(plain.get(), &view, {170, 20}), std::nullopt);
    EXPECT_EQ(PdfLinkViews::linkAtPoint(nullptr, &view, {170, 20}), std::nullopt);
    EXPECT_EQ(PdfLinkViews::linkAtPoint(page.get(), nullptr, {170, 20}), std::nullopt);
}

TEST_F(PdfLinkViewsTest, HighlightsFadeInOverEveryLinkAndGo) {
    auto page = pageWithLinks();
    auto view = std::make_shared<ui::ImageView>(Rect(0, 0, 200, 300));
    view->setImage(ui::Image::withBitmap(page->image));
    PdfLinkViews links;
    links.show(page.get(), view.get());
    ASSERT_EQ(links.views().size(), 2u);
    EXPECT_EQ(view->subviews().size(), 2u);
    EXPECT_EQ(links.views()[1]->frame(), Rect(100, 200, 100, 100));
    advance(1.0);
    for (const auto& v : links.views()) EXPECT_NEAR(v->alpha(), 0.3, 1e-9);

    // Shown again, the old ones go first.
    links.show(page.get(), view.get());
    EXPECT_EQ(view->subviews().size(), 2u);
    links.removeAll();
    EXPECT_TRUE(links.views().empty());
    EXPECT_TRUE(view->subviews().empty());
    links.show(nullptr, view.get());
    EXPECT_TRUE(view->subviews().empty());
}

// The reading screen as it is, noting only the link questions it asks.
class LinkAskingViewer : public BookViewController {
public:
    std::vector<std::string> linkSheets;
    void showLinkSheet(const std::string& url) override { linkSheets.push_back(url); }
    using BookViewController::linkAtPoint;
    using BookViewController::linkSheetClicked;
};

class PdfBookViewerTest : public viewertest::ViewerTest {
protected:
    // A PDF book of two pages, each with a link over a green block.
    void openPdf() {
        test::PdfBuilder b;
        for (int i = 0; i < 2; ++i) {
            test::PdfBuilder::Page p;
            p.content = test::PdfBuilder::fill(0, 1, 0, 50, 100, 150, 200);
            p.annots.push_back(test::PdfBuilder::uriLink("[50 100 150 200]", "(www.example.org/" +
                                                                                 std::to_string(i) + ")"));
            b.pages.push_back(p);
        }
        pdfPath = bookDir() + "/book.pdf";
        ASSERT_TRUE(b.write(pdfPath));
        settings->setTargetBook(pdfPath);
        set("pdfOptimize", "image");  // drawn 1.4 times the shown size

        session = std::make_shared<BookReaderEx>();
        session->setSettings(settings);
        ASSERT_TRUE(session->openBookWithName(pdfPath, {}, std::nullopt, std::nullopt, std::nullopt, false, false));
        ASSERT_NO_FATAL_FAILURE(loadFirstPageAtWidth());

        showEmptyNavigation();
        pdfViewer = std::make_shared<LinkAskingViewer>();
        pdfViewer->setBookReader(session);
        pdfViewer->setFileName(pdfPath);
        pdfViewer->setPage(0);
        pdfViewer->setSettings(settings);
        pdfViewer->setIsLandscape(false);
        pdfViewer->setStartTime(sys::Date::now());
        pdfViewer->setIsStreamingMode(false);
        pdfViewer->setDelegate(&list);
        pdfViewer->setOpenFolder(bookDir());
        nav->pushViewController(pdfViewer, false);
        settle();
    }
    void TearDown() override {
        if (pdfViewer) pdfViewer->setDelegate(nullptr);
        if (window) window->setRootViewController(nullptr);
        nav.reset();
        pdfViewer.reset();
        viewertest::ViewerTest::TearDown();
    }

    std::string pdfPath;
    std::shared_ptr<LinkAskingViewer> pdfViewer;
    viewertest::ListDelegate list;
};

TEST_F(PdfBookViewerTest, ATapOnALinkAsksAboutItWithTheLinksHighlighted) {
    openPdf();
    auto page = pdfViewer->displayBookPage();
    ASSERT_TRUE(page && page->pdfLinkRect);
    ASSERT_EQ(page->pdfLinkRect->getCount(), 1);
    ui::ImageView* shown = pdfViewer->imageViewDisplay() && pdfViewer->imageViewDisplay()->image()
                               ? pdfViewer->imageViewDisplay()
                               : pdfViewer->imageView();
    ASSERT_TRUE(shown);
    const Rect link = PdfLinkViews::frameOfLink(*page, *shown, 0);
    ASSERT_GT(link.width(), 10);
    // The link lies over the green block of the drawn page.
    const gfx::Rect inImage = page->pdfLinkRect->getRectAtIndex(0);
    EXPECT_EQ(page->image->pixel(int(inImage.x() + inImage.width() / 2), int(inImage.y() + inImage.height() / 2)),
              0xFF00FF00u);
    const ui::Point centre{link.x() + link.width() / 2, link.y() + link.height() / 2};
    const ui::Point onWindow = shown->convertPointToWindow(centre);
    const ui::Point outside = shown->convertPointToWindow({link.maxX() + 20, link.maxY() + 20});
    ASSERT_TRUE(pdfViewer->scrollView());
    const auto inContent = [&](ui::Point w) { return pdfViewer->scrollView()->convertPointFromWindow(w); };
    EXPECT_EQ(pdfViewer->linkAtPoint(inContent(onWindow)), "www.example.org/0");
    EXPECT_EQ(pdfViewer->linkAtPoint(inContent(outside)), std::nullopt);

    // A tap there: the function it resolves to waits behind the question,
    // asked with "http://" in front, and the links light up.
    driver->tap(onWindow);
    settle();
    advance(1.0);
    ASSERT_EQ(pdfViewer->linkSheets, std::vector<std::string>{"http://www.example.org/0"});
    ASSERT_EQ(pdfViewer->linkDrawViews().views().size(), 1u);
    const auto& highlight = pdfViewer->linkDrawViews().views()[0];
    EXPECT_EQ(highlight->superview(), shown);
    EXPECT_NEAR(highlight->frame().x(), link.x(), 1e-6);
    EXPECT_NEAR(highlight->frame().y(), link.y(), 1e-6);
    EXPECT_NEAR(highlight->frame().width(), link.width(), 1e-6);
    EXPECT_NEAR(highlight->alpha(), 0.3, 1e-9);

    // Not opened: the highlights go and the waiting function runs.
    pdfViewer->linkSheetClicked(false);
    settle();
    EXPECT_TRUE(pdfViewer->linkDrawViews().views().empty());
    EXPECT_FALSE(pdfViewer->uriToOpen());
}

}  // namespace
