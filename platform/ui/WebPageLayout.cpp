#include "platform/ui/WebPageLayout.h"

#include "platform/ui/WebURL.h"

#include <litehtml/litehtml.h>

#include <algorithm>

namespace ui {

WebPageLayout::Page& WebPageLayout::Page::operator=(Page&& other) noexcept {
    if (this == &other) return *this;
    document.reset();
    container = std::move(other.container);
    document = std::move(other.document);
    cut = other.cut;
    unstyled = other.unstyled;
    nodes = other.nodes;
    width = other.width;
    return *this;
}

WebPageLayout::Page WebPageLayout::build(const Request& r) {
    const int width = std::max(1, r.width);
    auto cancelled = [&r] { return r.cancel && r.cancel->load(); };
    for (const bool ownStyles : {true, false}) {
        // A page taller than the view takes is made again with the note.
        for (const bool tooTall : {false, true}) {
            if (cancelled()) return {};
            WebPageBounds::Options o;
            o.limits = r.limits;
            o.authorStyles = ownStyles;
            o.note = ownStyles ? r.cutNote : r.unstyledNote;
            o.noteAlways = !ownStyles || tooTall;
            // A page its server sent only in part says so whatever else it says.
            if (!r.partNote.empty()) {
                o.note = ownStyles ? r.partNote : r.partNote + " " + r.unstyledNote;
                o.noteAlways = true;
            }
            WebPageBounds::Result bounded = WebPageBounds::bound(r.html, o);

            Page p;
            p.container = std::make_unique<WebDocumentContainer>();
            WebDocumentContainer& c = *p.container;
            c.setBaseURL(r.url);
            c.setLocalFilesAllowed(WebURL::scheme(r.url) == "file");
            c.setViewport(width, std::max(1, r.height));
            c.setLanguage(r.language, r.culture);
            c.setStyleSheetAllowance(ownStyles ? bounded.sheetsLeft : WebPageBounds::StyleSheetAllowance{});
            c.budget().begin(WebLayoutBudget::kSelectorTests, WebLayoutBudget::kBoxLayouts);
            // (Only while it is made here: the flag is the caller's.)
            c.budget().setCancel(r.cancel);
            if (cancelled()) return {};
            p.document = litehtml::document::createFromUTF8(bounded.html.c_str(), &c, &WebDocumentContainer::context());
            if (!p.document || c.budget().exhausted()) break;
            p.unstyled = !ownStyles;
            p.nodes = bounded.nodes;
            if (!render(p, width)) break;
            const bool tall = p.document->height() > kMaxHeight;
            if (tall && !bounded.cut && !o.noteAlways) continue;
            p.cut = bounded.cut || tall;
            c.budget().setCancel(nullptr);
            return p;
        }
    }
    return {};
}

bool WebPageLayout::render(Page& page, int width) {
    if (!page.document || !page.container) return false;
    page.container->budget().begin(WebLayoutBudget::kSelectorTests, WebLayoutBudget::kBoxLayouts);
    page.document->render(std::max(1, width));
    page.width = std::max(1, width);
    return !page.container->budget().exhausted();
}

}  // namespace ui
