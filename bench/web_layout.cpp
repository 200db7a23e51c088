// How long the in-app browser takes to lay a page out, and what it peaks at:
// the page bounded and laid out within its budget of work (WebPageLayout),
// as the web view does on its worker, then laid out again at another width
// and drawn, as the main thread does. An ordinary large page (an index of
// 1,500 books in a table, a long article) is also laid out by litehtml alone:
// the headline is the bounded layout's time over litehtml's own, the cost of
// the bounds. Pages that wear litehtml out alone are timed bounded only.
//
//   web_layout [RUNS] [PAGE.html]
//
// With a page, that page alone is laid out (bounded, then by litehtml alone
// with "--raw" after it).
#include "BenchSupport.h"

#include "platform/graphics/Canvas.h"
#include "platform/ui/WebDocumentContainer.h"
#include "platform/ui/WebPageBounds.h"
#include "platform/ui/WebPageLayout.h"

#include <litehtml/litehtml.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

// Milliseconds since `since` (a bench::now()).
double ms(double since) { return (bench::now() - since) * 1000; }
long peakMB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss / 1024;
}

std::string repeat(const std::string& unit, size_t times) {
    std::string s;
    s.reserve(unit.size() * times);
    for (size_t i = 0; i < times; ++i) s += unit;
    return s;
}

constexpr int kWidth = 1024;

// The page laid out as the browser does; the milliseconds it took.
double bounded(const std::string& html, const char* name, bool print) {
    double t = bench::now();
    ui::WebPageLayout::Request r;
    r.html = html;
    r.url = "http://127.0.0.1/page.html";
    r.width = kWidth;
    r.height = 768;
    r.cutNote = "cut";
    r.unstyledNote = "unstyled";
    ui::WebPageLayout::Page page = ui::WebPageLayout::build(r);
    const double built = ms(t);
    if (!page.document) {
        if (print) std::printf("%-34s refused after %7.1f ms\n", name, built);
        return built;
    }
    t = bench::now();
    ui::WebPageLayout::render(page, 500);
    const double again = ms(t);
    gfx::Canvas canvas(kWidth, 768);
    t = bench::now();
    page.container->draw(*page.document, canvas, gfx::Rect(0, 0, kWidth, 768));
    const double drawn = ms(t);
    if (print)
        std::printf("%-34s laid out %7.1f ms%-10s again %6.1f ms, drawn %5.1f ms, %6ld nodes, peak %4ld MB\n", name,
                    built, page.unstyled ? " unstyled" : page.cut ? " cut" : "", again, drawn, page.nodes, peakMB());
    return built;
}

// litehtml alone on the page as it came.
double raw(const std::string& html) {
    double t = bench::now();
    ui::WebDocumentContainer container;
    container.setViewport(kWidth, 768);
    auto doc = litehtml::document::createFromUTF8(html.c_str(), &container, &ui::WebDocumentContainer::context());
    doc->render(kWidth);
    const double took = ms(t);
    doc.reset();
    return took;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = bench::runsFrom(argc, argv, 3);
    if (argc > 2) {
        std::ifstream f(argv[2], std::ios::binary);
        const std::string html((std::istreambuf_iterator<char>(f)), {});
        bounded(html, argv[2], true);
        if (argc > 3 && std::strcmp(argv[3], "--raw") == 0) std::printf("litehtml alone: %.1f ms\n", raw(html));
        return 0;
    }

    std::string index = "<html><head><title>Books</title><style>td { padding: 2px 6px } .size { text-align: right }"
                        "</style></head><body><h1>Index of /books</h1><table>";
    for (int i = 0; i < 1500; ++i)
        index += "<tr><td><a href=\"book" + std::to_string(i) + ".cbz\">Book number " + std::to_string(i) +
                 ".cbz</a></td><td class=size>" + std::to_string(1000 + i * 7) + " KB</td><td>2024-01-01</td></tr>";
    index += "</table></body></html>";
    std::string article = "<html><head><title>Article</title></head><body>";
    for (int i = 0; i < 250; ++i)
        article += "<h2>Part " + std::to_string(i) + "</h2><p>" +
                   repeat("Pages open where you left them, in order, one after another. ", 6) + "</p><ul><li>One</li>"
                   "<li>Two <b>bold</b> <i>and</i> <a href=\"x\">a link</a></li></ul>";
    article += "</body></html>";

    std::vector<std::pair<const char*, std::string>> attacks = {
        {"2,000 nested tables", repeat("<table><tr><td>", 2000) + "deep"},
        {"20,000 nested divs", repeat("<div>", 20000) + "deep"},
        {"spans past any table", "<table><tr><td colspan=\"2147483647\">x</td><td rowspan=\"99999999\">y</td></tr></table>"},
        {"20,000 cells spanning rows below", "<table>" + repeat("<tr><td rowspan=99999999>x", 20000)},
        {"900,000 paragraphs (7 MB)", repeat("<p>para\n", 900000)},
        {"list numbered from 2^31", "<ol start=2147483647 style=\"list-style-type:upper-roman\"><li>a<li>b</ol>"},
        {"cells nested by style", "<style>div { display: table-cell }</style>" + repeat("<div>", 2000) + "x"},
        {"a selector that backtracks",
         "<style>section div div div div div div div div span { color: red }</style>" + repeat("<div>", 60) + "<span>x</span>"},
    };

    double boundedIndex = 1e300, rawIndex = 1e300, boundedArticle = 1e300, rawArticle = 1e300;
    for (int i = 0; i < runs; ++i) {
        boundedIndex = std::min(boundedIndex, bounded(index, "index of 1,500 books", i == 0));
        rawIndex = std::min(rawIndex, raw(index));
        boundedArticle = std::min(boundedArticle, bounded(article, "article of 250 parts", i == 0));
        rawArticle = std::min(rawArticle, raw(article));
    }
    std::printf("litehtml alone: index %.1f ms, article %.1f ms\n", rawIndex, rawArticle);
    for (const auto& [name, html] : attacks) bounded(html, name, true);
    std::printf("ratio: %.2f\n", (boundedIndex + boundedArticle) / (rawIndex + rawArticle));
    return 0;
}
