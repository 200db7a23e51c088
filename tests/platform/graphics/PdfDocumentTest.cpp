// The MuPDF wrapper on PDFs written at test time: by hand (exact boxes,
// rotations and annotations) and by Ghostscript (what real tools make).
#include "platform/graphics/Image.h"
#include "platform/graphics/pdf/PdfBandPlan.h"
#include "platform/graphics/pdf/PdfDocument.h"
#include "platform/graphics/pdf/PdfPage.h"
#include "tests/support/PdfBuilder.h"
#include "tests/support/TestHome.h"

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

namespace {

using gfx::PdfDocument;
using gfx::PdfPage;
using gfx::Rect;

constexpr uint32_t kWhite = 0xFFFFFFFF;

std::string readAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

void writeAll(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary);
    f << bytes;
}

// Draws the whole media box upright into w x h pixels over white.
std::vector<uint32_t> drawUpright(const PdfPage& page, int w, int h) {
    const Rect m = page.mediaBox();
    const auto t = gfx::AffineTransform::makeTranslation(0, h)
                       .scaled(w / m.width(), -h / m.height())
                       .translated(-m.x(), -m.y());
    std::vector<uint32_t> px(size_t(w) * size_t(h), kWhite);
    EXPECT_TRUE(page.render(t, px.data(), w, h, size_t(w) * 4));
    return px;
}

// A page with a red top half and a blue bottom half.
test::PdfBuilder::Page twoColourPage() {
    test::PdfBuilder::Page p;
    p.content = test::PdfBuilder::fill(1, 0, 0, 0, 150, 200, 300) + test::PdfBuilder::fill(0, 0, 1, 0, 0, 200, 150);
    return p;
}

// What a draw of `height` rows costs in bands as `plan` makes them, when a
// band costs `fixed` seconds and its rows `firstRow` (row 0) and `row` each:
// the total, the longest band after the first three, and the rows drawn
// when `limit` (if any) was reached. Band `slow` (from 1) is measured five
// times as long as it costs, as on a busy machine.
struct BandCost {
    double total = 0, longest = 0;
    int rowsBeforeLimit = 0;
};
BandCost drawInBands(int height, double fixed, double firstRow, double row, double limit = -1, int slow = 0) {
    gfx::PdfBandPlan plan(height);
    BandCost cost;
    int bands = 0;
    for (int y = 0; y < height;) {
        if (limit >= 0 && cost.total >= limit) break;
        const int rows = std::min(height - y, plan.nextRows(limit >= 0 ? limit - cost.total : -1));
        const double took = fixed + rows * row + (y == 0 ? firstRow - row : 0);
        ++bands;
        plan.drawn(rows, bands == slow ? 5 * took : took);
        cost.total += took;
        if (bands > 3) cost.longest = std::max(cost.longest, took);
        y += rows;
        cost.rowsBeforeLimit = y;
    }
    return cost;
}

class PdfDocumentTest : public ::testing::Test {
protected:
    std::shared_ptr<PdfDocument> open(const test::PdfBuilder& b) {
        const std::string path = dir.file("doc" + std::to_string(++count_) + ".pdf");
        EXPECT_TRUE(b.write(path));
        PdfDocument::Error error;
        auto doc = PdfDocument::open(path, &error);
        EXPECT_TRUE(doc) << PdfDocument::describe(error);
        return doc;
    }
    test::TempDir dir{"pdfdoc"};

private:
    int count_ = 0;
};

TEST_F(PdfDocumentTest, BoxesTakeTheirDefaultsAndStayInsideTheMediaBox) {
    test::PdfBuilder b;
    b.pages.resize(5);
    b.pages[0].mediaBox = "[0 0 200 300]";
    b.pages[1].cropBox = "[10 20 190 280]";
    b.pages[2].cropBox = "[10 20 190 280]";
    b.pages[2].trimBox = "[30 40 170 260]";
    // Corners in the other order, and a crop box reaching past the media box.
    b.pages[3].mediaBox = "[200 300 0 0]";
    b.pages[3].cropBox = "[-50 -50 100 100]";
    // A trim box wholly outside the media box leaves nothing.
    b.pages[4].trimBox = "[500 500 600 600]";
    auto doc = open(b);
    ASSERT_TRUE(doc);
    ASSERT_EQ(doc->pageCount(), 5);

    auto p0 = doc->page(0);
    EXPECT_EQ(p0->mediaBox(), Rect(0, 0, 200, 300));
    EXPECT_EQ(p0->cropBox(), Rect(0, 0, 200, 300));
    EXPECT_EQ(p0->trimBox(), Rect(0, 0, 200, 300));
    auto p1 = doc->page(1);
    EXPECT_EQ(p1->cropBox(), Rect(10, 20, 180, 260));
    EXPECT_EQ(p1->trimBox(), Rect(10, 20, 180, 260)) << "a missing trim box is the crop box";
    auto p2 = doc->page(2);
    EXPECT_EQ(p2->trimBox(), Rect(30, 40, 140, 220));
    auto p3 = doc->page(3);
    EXPECT_EQ(p3->mediaBox(), Rect(0, 0, 200, 300));
    EXPECT_EQ(p3->cropBox(), Rect(0, 0, 100, 100));
    auto p4 = doc->page(4);
    EXPECT_EQ(p4->trimBox().size.width, 0);
    EXPECT_EQ(p4->trimBox().size.height, 0);

    EXPECT_FALSE(doc->page(5));
    EXPECT_FALSE(doc->page(-1));
}

TEST_F(PdfDocumentTest, RotationIsReducedToAQuarterTurn) {
    const std::pair<const char*, int> cases[] = {{"", 0}, {"90", 90}, {"-90", 270}, {"450", 90},
                                                 {"180", 180}, {"-270", 90}, {"45", 0}};
    test::PdfBuilder b;
    for (const auto& c : cases) {
        test::PdfBuilder::Page p;
        p.rotate = c.first;
        b.pages.push_back(p);
    }
    auto doc = open(b);
    ASSERT_TRUE(doc);
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(doc->page(int(i))->rotation(), cases[i].second) << "Rotate " << cases[i].first;
}

TEST_F(PdfDocumentTest, RendersUserSpaceWithTheGivenTransformIntoPremultipliedArgb) {
    test::PdfBuilder b;
    b.pages.push_back(twoColourPage());
    // The same page turned: the transform the caller gives starts from the
    // page's own space, whatever its rotation.
    b.pages.push_back(twoColourPage());
    b.pages.back().rotate = "90";
    auto doc = open(b);
    ASSERT_TRUE(doc);

    for (int i = 0; i < 2; ++i) {
        auto px = drawUpright(*doc->page(i), 20, 30);
        EXPECT_EQ(px[2 * 20 + 10], 0xFFFF0000u) << "top is red, page " << i;
        EXPECT_EQ(px[27 * 20 + 10], 0xFF0000FFu) << "bottom is blue, page " << i;
    }

    // Scaled up twice and shifted: only the part of the page inside the
    // bitmap is drawn; a transform that misses the bitmap leaves it white.
    auto page = doc->page(0);
    std::vector<uint32_t> px(10 * 10, kWhite);
    auto t = gfx::AffineTransform::makeTranslation(0, 10).scaled(2, -2).translated(-100, -147.5);
    ASSERT_TRUE(page->render(t, px.data(), 10, 10, 40));
    EXPECT_EQ(px[0], 0xFFFF0000u);
    EXPECT_EQ(px[99], 0xFF0000FFu);
    std::vector<uint32_t> blank(10 * 10, kWhite);
    ASSERT_TRUE(page->render(gfx::AffineTransform::makeTranslation(-5000, 0), blank.data(), 10, 10, 40));
    EXPECT_EQ(blank, std::vector<uint32_t>(100, kWhite));

    // A stride wider than the rows keeps the padding untouched.
    std::vector<uint32_t> padded(4 * 3, 0x12345678u);
    auto small = gfx::AffineTransform::makeTranslation(0, 3).scaled(3.0 / 200, -3.0 / 300);
    ASSERT_TRUE(page->render(small, padded.data(), 3, 3, 16));
    for (int y = 0; y < 3; ++y) EXPECT_EQ(padded[size_t(y) * 4 + 3], 0x12345678u);
    EXPECT_FALSE(page->render(small, padded.data(), 3, 3, 8)) << "a stride shorter than a row is refused";
    EXPECT_FALSE(page->render(small, nullptr, 3, 3, 12));
}

TEST_F(PdfDocumentTest, LinksAreUriActionsWithShortNumericRects) {
    test::PdfBuilder b;
    b.pages.push_back({});
    auto& a = b.pages.back().annots;
    a.push_back(test::PdfBuilder::uriLink("[10 700 60 750]", "(http://example.org/one)"));
    a.push_back(test::PdfBuilder::uriLink("[1 2]", "<68747470733A2F2F782E6A702F>"));  // hex string, short Rect
    a.push_back(test::PdfBuilder::uriLink("[1 2 3 4 5]", "(http://five.example)"));    // too many numbers
    a.push_back(test::PdfBuilder::uriLink("[1 /Two 3 4]", "(http://name.example)"));   // not a number
    a.push_back("<< /Type /Annot /Subtype /Link /Rect [0 0 5 5] /A << /S /GoTo /D [0] >> >>");
    a.push_back("<< /Type /Annot /Subtype /Link /Rect [0 0 5 5] /A << /S /URI /URI /NotAString >> >>");
    a.push_back("<< /Type /Annot /Subtype /Link /A << /S /URI /URI (http://norect.example) >> >>");
    a.push_back("<< /Type /Annot /Subtype /Text /Rect [0 0 5 5] /Contents (note) >>");
    a.push_back(test::PdfBuilder::uriLink("[5 6 7 8]", "(caf\\351)"));  // Latin-1 bytes stay raw
    auto doc = open(b);
    ASSERT_TRUE(doc);
    auto links = doc->page(0)->links();
    ASSERT_EQ(links.size(), 3u);
    EXPECT_EQ(links[0].rect, (std::vector<double>{10, 700, 60, 750}));
    EXPECT_EQ(links[0].uri, "http://example.org/one");
    EXPECT_EQ(links[1].rect, (std::vector<double>{1, 2}));
    EXPECT_EQ(links[1].uri, "https://x.jp/");
    EXPECT_EQ(links[2].uri, "caf\xE9");
}

// A long book's first pages are found without mapping the whole page tree;
// a page far in maps it once, and each page is still the right one.
TEST_F(PdfDocumentTest, OnlyAPageFarInMapsThePageTree) {
    test::PdfBuilder b;
    const int pages = PdfDocument::kWalkedPages + 20;
    for (int i = 0; i < pages; ++i) {
        test::PdfBuilder::Page p;
        p.mediaBox = "[0 0 " + std::to_string(100 + i) + " 300]";
        b.pages.push_back(p);
    }
    auto doc = open(b);
    ASSERT_TRUE(doc);
    ASSERT_EQ(doc->pageCount(), pages);
    for (int i : {0, 1, PdfDocument::kWalkedPages - 1}) {
        auto page = doc->page(i);
        ASSERT_TRUE(page) << i;
        EXPECT_EQ(page->mediaBox().width(), 100 + i);
    }
    EXPECT_FALSE(doc->hasPageMap());
    for (int i : {pages - 1, PdfDocument::kWalkedPages, 3}) {
        auto page = doc->page(i);
        ASSERT_TRUE(page) << i;
        EXPECT_EQ(page->mediaBox().width(), 100 + i);
        EXPECT_TRUE(doc->hasPageMap());
    }
    // What was parsed goes; the pages are read again as they were.
    doc->dropParsedObjects();
    EXPECT_EQ(doc->page(pages - 2)->mediaBox().width(), 100 + pages - 2);
    EXPECT_EQ(doc->page(2)->mediaBox().width(), 102);

    // A tree that claims more pages than it holds: the far page is none, and
    // the near ones are still found.
    std::string lying = b.bytes();
    const std::string count = "/Count " + std::to_string(pages);
    lying.replace(lying.find(count), count.size(), "/Count " + std::to_string(pages + 500));
    writeAll(dir.file("lying-long.pdf"), lying);
    if (auto liar = PdfDocument::open(dir.file("lying-long.pdf"))) {
        EXPECT_FALSE(liar->page(pages + 100));
        ASSERT_TRUE(liar->page(pages - 1));
        EXPECT_EQ(liar->page(pages - 1)->mediaBox().width(), 100 + pages - 1);
        EXPECT_EQ(liar->page(1)->mediaBox().width(), 101);
        EXPECT_FALSE(liar->hasPageMap());
    }
}

TEST_F(PdfDocumentTest, BadFilesFailWithTheirReason) {
    PdfDocument::Error error = PdfDocument::Error::None;
    EXPECT_FALSE(PdfDocument::open(dir.file("missing.pdf"), &error));
    EXPECT_EQ(error, PdfDocument::Error::Unreadable);

    writeAll(dir.file("junk.pdf"), std::string(5000, 'x'));
    EXPECT_FALSE(PdfDocument::open(dir.file("junk.pdf"), &error));
    EXPECT_EQ(error, PdfDocument::Error::Damaged);

    test::PdfBuilder empty;
    ASSERT_TRUE(empty.write(dir.file("empty.pdf")));
    EXPECT_FALSE(PdfDocument::open(dir.file("empty.pdf"), &error));
    EXPECT_EQ(error, PdfDocument::Error::NoPages);

    // A page tree that says it has pages it does not hold.
    test::PdfBuilder one;
    one.pages.push_back(twoColourPage());
    std::string lying = one.bytes();
    lying.replace(lying.find("/Count 1"), 8, "/Count 9");
    writeAll(dir.file("lying.pdf"), lying);
    if (auto doc = PdfDocument::open(dir.file("lying.pdf"), &error)) {
        EXPECT_TRUE(doc->page(0));
        EXPECT_FALSE(doc->page(5)) << "a page the tree does not hold is no page";
    }
}

TEST_F(PdfDocumentTest, EncryptedAndDamagedFilesFromGhostscript) {
    if (!test::haveProgram("gs")) GTEST_SKIP() << "no ghostscript";
    writeAll(dir.file("a.ps"),
             "%!PS\n<< /PageSize [200 300] >> setpagedevice\n"
             "1 0 0 setrgbcolor 0 150 200 150 rectfill 0 0 1 setrgbcolor 0 0 200 150 rectfill showpage\n"
             "0 1 0 setrgbcolor 0 0 200 300 rectfill showpage\n");
    const std::string gs = "gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite ";
    ASSERT_EQ(test::shell("cd '" + dir.path() + "' && " + gs + "-o plain.pdf a.ps"), 0);
    ASSERT_EQ(test::shell("cd '" + dir.path() + "' && " + gs +
                          "-sOwnerPassword=own -sUserPassword=usr -o locked.pdf plain.pdf"),
              0);

    PdfDocument::Error error;
    auto plain = PdfDocument::open(dir.file("plain.pdf"), &error);
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->pageCount(), 2);
    auto px = drawUpright(*plain->page(0), 20, 30);
    EXPECT_EQ(px[2 * 20 + 10], 0xFFFF0000u);

    EXPECT_FALSE(PdfDocument::open(dir.file("locked.pdf"), &error));
    EXPECT_EQ(error, PdfDocument::Error::Encrypted);
    EXPECT_NE(std::string(PdfDocument::describe(error)).find("encrypted"), std::string::npos);

    // Cut short, or with its middle overwritten: either it fails to open,
    // or what opens can be asked for everything without harm.
    const std::string bytes = readAll(dir.file("plain.pdf"));
    std::string holed = bytes;
    for (size_t i = bytes.size() / 3; i < bytes.size() / 2; ++i) holed[i] = char(i * 7);
    for (const auto& damaged : {bytes.substr(0, bytes.size() / 2), bytes.substr(0, 40), holed}) {
        writeAll(dir.file("damaged.pdf"), damaged);
        auto doc = PdfDocument::open(dir.file("damaged.pdf"), &error);
        if (!doc) {
            EXPECT_NE(error, PdfDocument::Error::None);
            continue;
        }
        for (int i = 0; i < doc->pageCount(); ++i) {
            if (auto page = doc->page(i)) {
                std::vector<uint32_t> out(20 * 30, kWhite);
                page->render(gfx::AffineTransform::identity(), out.data(), 20, 30, 80);
                page->links();
            }
        }
    }
}

TEST_F(PdfDocumentTest, DocumentsDrawOnSeveralThreadsAtOnceAndMoveBetweenThreads) {
    test::PdfBuilder b;
    for (int i = 0; i < 6; ++i) b.pages.push_back(twoColourPage());
    auto first = open(b);
    ASSERT_TRUE(first);
    const auto expected = drawUpright(*first->page(0), 40, 60);

    // Each thread draws its own document; the first also draws one opened
    // on the main thread.
    std::vector<std::vector<uint32_t>> results(4);
    std::vector<std::thread> threads;
    const std::string path = dir.file("doc1.pdf");
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            auto doc = t == 0 ? first : PdfDocument::open(path);
            if (!doc) return;
            for (int i = 0; i < doc->pageCount(); ++i) results[size_t(t)] = drawUpright(*doc->page(i), 40, 60);
        });
    }
    for (auto& t : threads) t.join();
    for (const auto& r : results) EXPECT_EQ(r, expected);
    first.reset();  // dropped on another thread than the one that drew last
}

// A long path across the whole page is laid out again for every band: the
// bands of a slow page are few enough that this costs little beside the
// drawing, yet each stays short, and a draw with a time limit stops near it.
TEST(PdfBandPlanTest, BandsOfASlowPageCostLittleMoreThanOneAndStayShort) {
    // As 25,000 segments across the page measure: a band's fixed part a
    // third of a row, the first row (above the path) cheaper.
    const double row = 0.018, fixed = 0.006;
    const BandCost banded = drawInBands(1075, fixed, 0.007, row);
    const double whole = fixed + 0.007 + 1074 * row;
    EXPECT_LT(banded.total, whole * 1.03);
    // One band early on measured long, as when the draw waited for a processor.
    for (int slow : {2, 4, 12}) EXPECT_LT(drawInBands(1075, fixed, 0.007, row, -1, slow).total, whole * 1.03) << slow;
    EXPECT_LE(banded.longest, gfx::PdfBandPlan::kLongestBandSeconds * 1.01);
    // A row that alone takes longer than a band: one row at a time.
    EXPECT_LE(drawInBands(1075, 0.1, 0.3, 1.7).longest, 1.8 + 1e-9);
    // The preview's half second: stopped within a row of it.
    const BandCost limited = drawInBands(1075, fixed, 0.007, row, 0.5);
    EXPECT_LT(limited.total, 0.5 + fixed + row + 1e-9);
    EXPECT_GT(limited.rowsBeforeLimit, 20);
}

}  // namespace
