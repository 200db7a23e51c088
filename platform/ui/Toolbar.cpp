#include "platform/ui/Toolbar.h"

#include <algorithm>
#include <cmath>

namespace ui {

namespace {
constexpr double kMargin = 8;
// How far a translucent bar blurs what lies under it (points).
constexpr double kBackdropBlur = 20;
constexpr double kMinItem = 44;
constexpr double kItemPadding = 10;
}  // namespace

Toolbar::Toolbar() : Toolbar(Rect(0, 0, 320, kHeight)) {}

Toolbar::Toolbar(const Rect& frame) : View(frame) {}

void Toolbar::setItems(std::vector<BarButtonItem::Ref> items, bool animated) {
    items_ = std::move(items);
    rebuild();
    if (animated) {
        for (auto& v : views_) {
            if (!v) continue;
            v->setAlpha(0);
        }
        View::animate(0.25, [this] {
            for (auto& v : views_)
                if (v) v->setAlpha(1);
        });
    }
}

void Toolbar::rebuild() {
    for (auto& v : views_)
        if (v) v->removeFromSuperview();
    views_.clear();
    std::weak_ptr<View> weakSelf = weak_from_this();
    for (auto& item : items_) {
        if (item->isSpace()) {
            views_.push_back(nullptr);
            continue;
        }
        auto v = makeItemView(item);
        std::weak_ptr<View> weakView = v;
        std::weak_ptr<BarButtonItem> weakItem = item;
        item->attach(v, [weakSelf, weakView, weakItem] {
            auto view = weakView.lock();
            auto it = weakItem.lock();
            if (view && it) refreshItemView(*view, *it);
            if (auto bar = weakSelf.lock()) bar->setNeedsLayout();
        });
        addSubview(v);
        views_.push_back(v);
    }
    setNeedsLayout();
}

std::shared_ptr<View> Toolbar::makeItemView(const BarButtonItem::Ref& item) {
    if (item->customView()) return item->customView();
    auto b = std::make_shared<Button>(ButtonType::System);
    std::weak_ptr<BarButtonItem> weak = item;
    b->addAction(ControlEventTouchUpInside, [weak](Control&) {
        if (auto it = weak.lock()) it->trigger();
    });
    refreshItemView(*b, *item);
    return b;
}

void Toolbar::refreshItemView(View& view, const BarButtonItem& item) {
    auto* b = dynamic_cast<Button*>(&view);
    if (!b || item.customView()) return;
    b->setTitle(item.effectiveTitle());
    b->setImage(item.effectiveImage());
    b->titleLabel()->setFont(gfx::Font::system(17, item.isBold() ? gfx::Font::Weight::Semibold
                                                                  : gfx::Font::Weight::Regular));
    b->setTintColor(item.tintColor());
    b->setEnabled(item.isEnabled());
    b->setNeedsLayout();
}

double Toolbar::itemWidth(View& view, const BarButtonItem& item) {
    if (item.customView()) return view.frame().width();
    if (item.width() > 0) return item.width();
    Size s = view.sizeThatFits({0, 0});
    return std::max(kMinItem, std::ceil(s.width + 2 * kItemPadding));
}

View* Toolbar::viewForItem(const BarButtonItem* item) const {
    for (size_t i = 0; i < items_.size(); ++i)
        if (items_[i].get() == item) return views_[i].get();
    return nullptr;
}

void Toolbar::setBarStyle(BarStyle s) {
    barStyle_ = s;
    setNeedsDisplay();
}

void Toolbar::setBarTintColor(std::optional<Color> c) {
    barTint_ = std::move(c);
    setNeedsDisplay();
}

void Toolbar::setTranslucent(bool t) {
    translucent_ = t;
    setNeedsDisplay();
}

void Toolbar::setBackgroundImage(ImageRef image) {
    background_ = std::move(image);
    setNeedsDisplay();
}

void Toolbar::setShadowHidden(bool h) {
    shadowHidden_ = h;
    setNeedsDisplay();
}

Size Toolbar::sizeThatFits(Size size) const { return {size.width > 0 ? size.width : bounds().width(), kHeight}; }

void Toolbar::layoutSubviews() {
    Rect b = bounds();
    // Items stay clear of the rounded corners and sensor housing at the
    // sides, and sit in the bar's row: a compact bar (a phone turned on its
    // side) is lower than the usual 44 points, and a bar reaching under the
    // home indicator keeps its row at the top.
    const EdgeInsets safe = safeAreaInsets();
    const double rowH = std::min(kHeight, b.height());
    const double left = b.x() + kMargin + safe.left;
    double avail = b.width() - 2 * kMargin - safe.left - safe.right;
    double fixed = 0;
    int flexible = 0;
    std::vector<double> widths(items_.size(), 0);
    for (size_t i = 0; i < items_.size(); ++i) {
        const auto& item = items_[i];
        if (item->isFlexibleSpace()) {
            ++flexible;
            continue;
        }
        widths[i] = item->isFixedSpace() ? item->width() : itemWidth(*views_[i], *item);
        fixed += widths[i];
    }
    if (fixed > avail) {
        // More than the bar holds (a narrow window): the fixed spaces give
        // way first, then the room around each button's symbol, so that
        // the last item stays on the bar.
        double spaces = 0, buttons = 0;
        for (size_t i = 0; i < items_.size(); ++i) {
            if (items_[i]->isFixedSpace()) spaces += widths[i];
            else if (!items_[i]->isFlexibleSpace() && !items_[i]->customView()) buttons += widths[i];
        }
        double over = fixed - avail;
        const double spaceScale = spaces > 0 ? std::max(0.0, spaces - over) / spaces : 1;
        over = std::max(0.0, over - spaces);
        const double buttonScale = buttons > 0 ? std::max(0.0, buttons - over) / buttons : 1;
        fixed = 0;
        for (size_t i = 0; i < items_.size(); ++i) {
            if (items_[i]->isFixedSpace()) widths[i] *= spaceScale;
            else if (!items_[i]->isFlexibleSpace() && !items_[i]->customView()) widths[i] *= buttonScale;
            fixed += widths[i];
        }
    }
    double share = flexible > 0 ? std::max(0.0, (avail - fixed) / flexible) : 0;
    double x = left;
    for (size_t i = 0; i < items_.size(); ++i) {
        double w = items_[i]->isFlexibleSpace() ? share : widths[i];
        if (views_[i]) {
            double h = items_[i]->customView() ? views_[i]->frame().height() : rowH;
            views_[i]->setFrame(Rect(x, b.y() + (rowH - h) / 2, w, h));
        }
        x += w;
    }
}

void Toolbar::drawBarBackground(gfx::Canvas& c, const View& bar, const Rect& r, BarStyle style,
                                const std::optional<Color>& tint, bool translucent, const ImageRef& image,
                                bool hairlineAtTop, bool hairlineHidden) {
    if (image) {
        image->draw(c, r);
    } else {
        gfx::Rgba fill = tint ? bar.resolve(*tint)
                              : (style == BarStyle::Black ? gfx::Rgba::rgb(0, 0, 0, 1) : bar.resolve(Color::barBackground()));
        // A translucent bar lets only a blur of what lies under it through:
        // texts scrolled beneath it would read over its own.
        if (translucent && fill.a < 1.0) c.blurBehind(r, kBackdropBlur);
        fill.a = translucent ? std::min(fill.a, 0.94) : 1.0;
        c.fillRect(r, fill);
    }
    if (!hairlineHidden && !image) {
        double y = hairlineAtTop ? r.y() : r.maxY() - 0.5;
        c.fillRect(Rect(r.x(), y, r.width(), 0.5), bar.resolve(Color::separator()));
    }
}

void Toolbar::draw(gfx::Canvas& c, const Rect&) {
    drawBarBackground(c, *this, bounds(), barStyle_, barTint_, translucent_, background_, true, shadowHidden_);
}

}  // namespace ui
