#include "platform/ui/Renderer.h"

#include "platform/ui/View.h"

#include <algorithm>

namespace ui {

void Renderer::drawTree(gfx::Canvas& canvas, View& root, const TraitCollection& traits,
                        const std::function<bool(const View&)>& skip) {
    drawPlaced(canvas, root, traits, false, skip);
}

void Renderer::drawView(gfx::Canvas& canvas, View& view, const TraitCollection& traits) {
    drawPlaced(canvas, view, traits, true);
}

void Renderer::drawPlaced(gfx::Canvas& c, View& v, const TraitCollection& traits, bool placed,
                          const std::function<bool(const View&)>& skip) {
    if (v.isHidden()) return;
    double alpha = std::clamp(v.presentationAlpha(), 0.0, 1.0);
    if (alpha < 0.002) return;
    Rect b = v.presentationBounds();
    c.save();
    if (placed) {
        Point ctr = v.presentationCenter();
        c.translate(ctr.x, ctr.y);
        AffineTransform t = v.presentationTransform();
        if (!t.isIdentity()) c.concat(t);
        c.translate(-(b.x() + b.width() / 2), -(b.y() + b.height() / 2));
    }
    const bool group = alpha < 1;
    if (group) c.beginGroup();

    const double radius = std::max(0.0, v.presentationCornerRadius());
    const gfx::Rgba bg = v.presentationBackgroundColor().resolve(traits);
    bool contentShadow = false;
    gfx::Rgba shadow;
    Point shadowOffset{v.shadowOffset().width, v.shadowOffset().height};
    if (v.shadowOpacity() > 0 && !v.shadowColor().isClear()) {
        shadow = v.shadowColor().resolve(traits);
        shadow.a *= v.shadowOpacity();
        if (v.shadowPath()) {
            c.drawShadow(*v.shadowPath(), shadow, shadowOffset, v.shadowRadius());
        } else if (!bg.isClear()) {
            c.drawShadow(gfx::Path::roundedRect(b, radius), shadow, shadowOffset, v.shadowRadius());
        } else {
            // No shape to go by: the shadow follows what the view draws.
            contentShadow = true;
            c.beginShadowGroup();
        }
    }

    if (!bg.isClear()) c.fillRoundedRect(b, radius, bg);

    c.save();
    if (v.clipsToBounds() && radius > 0)
        c.clipRoundedRect(b, radius);
    else if (v.clipsOwnDrawing() || v.clipsToBounds())
        c.clipRect(b);
    v.draw(c, b);
    c.restore();

    if (!v.subviews().empty()) {
        c.save();
        if (v.clipsToBounds()) {
            if (radius > 0)
                c.clipRoundedRect(b, radius);
            else
                c.clipRect(b);
        }
        auto subs = v.subviews();  // drawing must not see the list change under it
        for (auto& s : subs)
            if (!skip || !skip(*s)) drawPlaced(c, *s, traits, true);
        c.restore();
    }

    if (v.borderWidth() > 0) c.strokeRoundedRectInside(b, radius, v.borderColor().resolve(traits), v.borderWidth());

    if (contentShadow) c.endShadowGroup(shadow, shadowOffset, v.shadowRadius());
    if (group) c.endGroup(alpha);
    c.restore();
}

}  // namespace ui
