#include "viewer/PdfLinkViews.h"

#include "engine/PdfRect.h"
#include "platform/ui/Color.h"

namespace {

constexpr double kHighlightAlpha = 0.3;
constexpr double kHighlightFade = 0.25;

// Points of the image view per pixel of the composed image, and where the
// image starts in the view; nothing when the view shows no usable image.
struct Mapping {
    ui::Point origin;
    double sx = 1, sy = 1;
};

std::optional<Mapping> mappingOf(const BookPage& page, const ui::ImageView& view) {
    if (!page.image || page.image->width() <= 0 || page.image->height() <= 0) return std::nullopt;
    const ui::Rect r = view.imageRect();
    if (!(r.width() > 0) || !(r.height() > 0)) return std::nullopt;
    return Mapping{r.origin, r.width() / page.image->width(), r.height() / page.image->height()};
}

bool hasLinks(const BookPage* page) { return page && page->pdfLinkRect && page->pdfLinkRect->getCount() > 0; }

}  // namespace

std::optional<std::string> PdfLinkViews::linkAtPoint(const BookPage* page, const ui::ImageView* imageView,
                                                      ui::Point point) {
    if (!hasLinks(page) || !imageView) return std::nullopt;
    auto m = mappingOf(*page, *imageView);
    if (!m) return std::nullopt;
    const ui::Point inImage{(point.x - m->origin.x) / m->sx, (point.y - m->origin.y) / m->sy};
    const int index = page->pdfLinkRect->hitTestThePoint(inImage, 1.0);
    if (index < 0) return std::nullopt;
    return page->pdfLinkRect->getURIAtIndex(index);
}

ui::Rect PdfLinkViews::frameOfLink(const BookPage& page, const ui::ImageView& imageView, int index) {
    if (!page.pdfLinkRect) return {};
    auto m = mappingOf(page, imageView);
    if (!m) return {};
    const gfx::Rect r = page.pdfLinkRect->getRectAtIndex(index);
    return ui::Rect(m->origin.x + r.x() * m->sx, m->origin.y + r.y() * m->sy, r.width() * m->sx, r.height() * m->sy);
}

void PdfLinkViews::show(const BookPage* page, ui::ImageView* imageView) {
    removeAll();
    if (!hasLinks(page) || !imageView) return;
    for (int i = 0; i < page->pdfLinkRect->getCount(); ++i) {
        auto v = std::make_shared<ui::View>(frameOfLink(*page, *imageView, i));
        v->setBackgroundColor(ui::Color::blue());
        v->setAlpha(0);
        imageView->addSubview(v);
        linkDrawViewArray_.push_back(v);
    }
    auto views = linkDrawViewArray_;
    ui::View::animate(kHighlightFade, [views] {
        for (const auto& v : views) v->setAlpha(kHighlightAlpha);
    });
}

void PdfLinkViews::removeAll() {
    for (const auto& v : linkDrawViewArray_) v->removeFromSuperview();
    linkDrawViewArray_.clear();
}
