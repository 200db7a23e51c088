// A page in the in-app web browser, as any server may send it, bounded and
// laid out as the web view does (WebPageLayout: the page bounded, then made
// and laid out within a budget of work, without its own styles when they
// ask too much), drawn, and tapped: style sheets linked and imported,
// addresses resolved against the page's (and a <base>'s), list markers of
// every kind, pictures as images, backgrounds and markers, and the links a
// tap follows. What the layout engine is handed stays within the bounds:
// an element tree no deeper and no larger than they allow (checked here).
//
// The input is the page, then, each after a line "@@@@", a style sheet
// (style.css), a sheet it may import (more.css) and a picture (pic.png),
// written beside the page. The page is shown as a file of this computer
// (its sheets and pictures are read) when it comes with any of them, and as
// a server's page (none of them is).
//
// A page that begins with the line "@@repeat" is made of pieces, each after
// a line "@@x COUNT" and repeated COUNT times (the lines between, joined by
// newlines), up to the largest page the browser reads: large pages in a
// few bytes.
#include "fuzz/support/FuzzEnvironment.h"
#include "platform/graphics/Canvas.h"
#include "platform/ui/WebDocumentContainer.h"
#include "platform/ui/WebPageLayout.h"
#include "platform/ui/WebURL.h"
#include "platform/ui/WebView.h"

#include <litehtml/litehtml.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

std::vector<std::string_view> parts(std::string_view input) {
    constexpr std::string_view kSeparator = "\n@@@@\n";
    std::vector<std::string_view> out;
    while (out.size() < 3) {
        const size_t at = input.find(kSeparator);
        if (at == std::string_view::npos) break;
        out.push_back(input.substr(0, at));
        input.remove_prefix(at + kSeparator.size());
    }
    out.push_back(input);
    while (out.size() < 4) out.emplace_back();
    return out;
}

// The page, its "@@repeat" pieces put together.
std::string expand(std::string_view page) {
    constexpr std::string_view kRepeat = "@@repeat\n";
    if (page.substr(0, kRepeat.size()) != kRepeat) return std::string(page);
    page.remove_prefix(kRepeat.size());
    std::string out;
    const size_t cap = ui::WebView::kMaxPageBytes;
    while (!page.empty() && out.size() < cap) {
        if (page.substr(0, 4) != "@@x ") break;
        size_t eol = page.find('\n');
        if (eol == std::string_view::npos) eol = page.size();
        const unsigned long count = std::strtoul(std::string(page.substr(4, eol - 4)).c_str(), nullptr, 10);
        page.remove_prefix(std::min(page.size(), eol + 1));
        size_t next = page.find("\n@@x ");
        const std::string_view piece = page.substr(0, next);
        page.remove_prefix(next == std::string_view::npos ? page.size() : next + 1);
        for (unsigned long i = 0; i < count && out.size() < cap && !piece.empty(); ++i)
            out.append(piece.substr(0, cap - out.size()));
    }
    return out;
}

// What the layout engine was handed: its element tree, walked without
// recursion.
void checkTree(const litehtml::document& doc, long nodes) {
    const litehtml::element::ptr root = const_cast<litehtml::document&>(doc).root();
    if (!root) return;
    const ui::WebPageBounds::Limits limits;
    long count = 0;
    int deepest = 0;
    std::vector<std::pair<litehtml::element::ptr, int>> stack{{root, 1}};
    while (!stack.empty()) {
        auto [el, depth] = stack.back();
        stack.pop_back();
        ++count;
        deepest = std::max(deepest, depth);
        for (size_t i = 0, n = el->get_children_count(); i < n; ++i) stack.push_back({el->get_child(int(i)), depth + 1});
    }
    // Tables made by style get their rows and tables around each cell.
    if (deepest > 3 * limits.maxDepth + 16) {
        std::fprintf(stderr, "web_page: the layout engine was handed a tree %d deep\n", deepest);
        std::abort();
    }
    if (count > 3 * std::max(nodes, 1L) + 10000) {
        std::fprintf(stderr, "web_page: %ld nodes handed on became %ld elements\n", nodes, count);
        std::abort();
    }
}

void show(const std::string& html, const std::string& baseURL) {
    ui::WebPageLayout::Request r;
    r.html = html;
    r.url = baseURL;
    r.width = 320;
    r.height = 480;
    r.cutNote = "Cut.";
    r.unstyledNote = "Unstyled.";
    ui::WebPageLayout::Page page = ui::WebPageLayout::build(r);
    if (!page.document) return;
    checkTree(*page.document, page.nodes);
    litehtml::document& doc = *page.document;
    ui::WebDocumentContainer& container = *page.container;
    std::vector<std::string> followed;
    container.onAnchorClick = [&](const std::string& href, const std::string&) {
        if (followed.size() < 8) followed.push_back(href);
    };
    // What a window of the page's width shows at its top, and a narrow one.
    const int height = std::clamp(doc.height(), 1, 640);
    gfx::Canvas canvas(320, height);
    container.draw(doc, canvas, gfx::Rect(0, 0, 320, height));
    ui::WebPageLayout::render(page, 90);
    container.draw(doc, canvas, gfx::Rect(0, 0, 90, height));
    // Taps down the page, as the web view makes them: a link under one is
    // followed.
    litehtml::position::vector redraw;
    for (int y = 4; y < std::min(doc.height(), 400); y += 48) {
        container.budget().begin(ui::WebLayoutBudget::kTapSelectorTests, ui::WebLayoutBudget::kBoxLayouts);
        doc.on_mouse_over(20, y, 20, y, redraw);
        doc.on_lbutton_down(20, y, 20, y, redraw);
        doc.on_lbutton_up(20, y, 20, y, redraw);
        redraw.clear();
    }
    const std::string base = container.baseURL();
    for (const std::string& href : followed) {
        const std::string url = ui::WebURL::resolve(base, href);
        ui::WebURL::scheme(url);
        ui::WebURL::fragment(url);
        ui::WebURL::toPath(url);
        ui::WebURL::lastPathComponent(url);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzEnvironment::setUp();
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto p = parts(input);
    auto bytes = [](std::string_view s) {
        return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    };
    FuzzEnvironment::writeFile("style.css", bytes(p[1]));
    FuzzEnvironment::writeFile("more.css", bytes(p[2]));
    FuzzEnvironment::writeFile("pic.png", bytes(p[3]));
    const std::string html = expand(p[0]);
    // (Without sheets or a picture the page shows as a file as it shows from
    // a server.)
    if (!p[1].empty() || !p[2].empty() || !p[3].empty())
        show(html, ui::WebURL::fromPath(FuzzEnvironment::workDir() + "/page.html"));
    show(html, "http://127.0.0.1:1/site/page.html");
    return 0;
}
