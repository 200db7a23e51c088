// A page in the in-app web browser, as any server may send it, laid out and
// drawn by litehtml through our page container: style sheets linked and
// imported, addresses resolved against the page's (and a <base>'s), list
// markers of every kind, pictures as images, backgrounds and markers, and
// the links a tap follows.
//
// The input is the page, then, each after a line "@@@@", a style sheet
// (style.css), a sheet it may import (more.css) and a picture (pic.png),
// written beside the page. The page is shown twice: as a file of this
// computer (its sheets and pictures are read) and as a server's page (none
// of them is).
#include "fuzz/support/FuzzEnvironment.h"
#include "platform/graphics/Canvas.h"
#include "platform/ui/WebDocumentContainer.h"
#include "platform/ui/WebURL.h"

#include <litehtml/litehtml.h>

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
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

void show(const std::string& html, const std::string& baseURL) {
    ui::WebDocumentContainer container;
    container.setBaseURL(baseURL);
    container.setViewport(320, 480);
    std::vector<std::string> followed;
    container.onAnchorClick = [&](const std::string& href, const std::string&) {
        if (followed.size() < 8) followed.push_back(href);
    };
    auto doc = litehtml::document::createFromUTF8(html.c_str(), &container, &ui::WebDocumentContainer::context());
    if (!doc) return;
    doc->render(320);
    // What a window of the page's width shows at its top, and a narrow one.
    const int height = std::clamp(doc->height(), 1, 640);
    gfx::Canvas canvas(320, height);
    container.draw(*doc, canvas, gfx::Rect(0, 0, 320, height));
    doc->render(90);
    container.draw(*doc, canvas, gfx::Rect(0, 0, 90, height));
    // Taps down the page: a link under one is followed.
    litehtml::position::vector redraw;
    for (int y = 4; y < std::min(doc->height(), 400); y += 24) {
        doc->on_mouse_over(20, y, 20, y, redraw);
        doc->on_lbutton_down(20, y, 20, y, redraw);
        doc->on_lbutton_up(20, y, 20, y, redraw);
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
    const std::string html(p[0]);
    show(html, ui::WebURL::fromPath(FuzzEnvironment::workDir() + "/page.html"));
    show(html, "http://127.0.0.1:1/site/page.html");
    return 0;
}
