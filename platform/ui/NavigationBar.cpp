#include "platform/ui/NavigationBar.h"

#include "platform/ui/Application.h"

#include <algorithm>
#include <cmath>

namespace ui {

namespace {
constexpr double kMargin = 8;
}  // namespace

NavigationBar::NavigationBar() : NavigationBar(Rect(0, 0, 320, kHeight)) {}

NavigationBar::NavigationBar(const Rect& frame) : View(frame) {
    title_ = std::make_shared<Label>();
    title_->setFont(gfx::Font::system(17, gfx::Font::Weight::Semibold));
    title_->setTextAlignment(TextAlignment::Center);
    addSubview(title_);
    back_ = std::make_shared<Button>(ButtonType::System);
    back_->setImage(Image::systemNamed("chevron.left"));
    back_->setImagePadding(4);
    back_->titleLabel()->setFont(gfx::Font::system(17));
    back_->addAction(ControlEventTouchUpInside, [this](Control&) { backTapped(); });
    addSubview(back_);
    rebuild(false);
}

void NavigationBar::setItems(std::vector<NavigationItem::Ref> items, bool animated) {
    for (auto& i : items_) i->setChangeHandler(nullptr);
    items_ = std::move(items);
    rebuild(animated);
}

void NavigationBar::pushItem(NavigationItem::Ref item, bool animated) {
    if (!item) return;
    if (delegate_ && !delegate_->navigationBarShouldPushItem(*this, *item)) return;
    if (!items_.empty()) items_.back()->setChangeHandler(nullptr);
    items_.push_back(item);
    rebuild(animated);
    if (delegate_) delegate_->navigationBarDidPushItem(*this, *item);
}

NavigationItem::Ref NavigationBar::popItem(bool animated) {
    if (items_.size() < 2) return nullptr;
    NavigationItem::Ref top = items_.back();
    if (delegate_ && !delegate_->navigationBarShouldPopItem(*this, *top)) return nullptr;
    top->setChangeHandler(nullptr);
    items_.pop_back();
    rebuild(animated);
    if (delegate_) delegate_->navigationBarDidPopItem(*this, *top);
    return top;
}

void NavigationBar::backTapped() {
    auto keep = weak_from_this().lock();
    popItem(true);
}

std::string NavigationBar::backTitle() const {
    NavigationItem::Ref b = backItem();
    if (!b) return "";
    if (b->backBarButtonItem()) return b->backBarButtonItem()->effectiveTitle();
    if (b->backButtonTitle()) return *b->backButtonTitle();
    return b->title().empty() ? Application::shared().systemWord("Back") : b->title();
}

void NavigationBar::rebuild(bool animated) {
    for (auto& [item, v] : left_) v->removeFromSuperview();
    for (auto& [item, v] : right_) v->removeFromSuperview();
    left_.clear();
    right_.clear();
    if (titleView_) titleView_->removeFromSuperview();
    titleView_.reset();
    NavigationItem::Ref top = topItem();
    std::weak_ptr<View> weakSelf = weak_from_this();
    // The top item and the one below it (its title names the back button)
    // are the ones whose changes show.
    for (auto& i : items_) i->setChangeHandler(nullptr);
    for (auto& i : {top, backItem()}) {
        if (!i) continue;
        i->setChangeHandler([weakSelf] {
            if (auto s = weakSelf.lock()) static_cast<NavigationBar*>(s.get())->rebuild(false);
        });
    }
    if (top) {
        auto add = [&](const BarButtonItem::Ref& item,
                       std::vector<std::pair<BarButtonItem::Ref, std::shared_ptr<View>>>& into) {
            if (item->isSpace()) {
                into.push_back({item, std::make_shared<View>()});
                return;
            }
            auto v = Toolbar::makeItemView(item);
            std::weak_ptr<View> weakView = v;
            std::weak_ptr<BarButtonItem> weakItem = item;
            item->attach(v, [weakSelf, weakView, weakItem] {
                auto view = weakView.lock();
                auto it = weakItem.lock();
                if (view && it) Toolbar::refreshItemView(*view, *it);
                if (auto s = weakSelf.lock()) s->setNeedsLayout();
            });
            addSubview(v);
            into.push_back({item, v});
        };
        for (auto& i : top->leftBarButtonItems()) add(i, left_);
        for (auto& i : top->rightBarButtonItems()) add(i, right_);
        if (top->titleView()) {
            titleView_ = top->titleView();
            addSubview(titleView_);
        }
    }
    title_->setText(top && !top->titleView() ? top->title() : "");
    title_->setTextColor(titleColor_ ? *titleColor_ : (barStyle_ == BarStyle::Black ? Color::whiteColor() : Color::label()));
    bool showBack = top && backItem() && !top->hidesBackButton() &&
                    (top->leftBarButtonItems().empty() || top->leftItemsSupplementBackButton());
    back_->setHidden(!showBack);
    back_->setTitle(backTitle());
    setNeedsLayout();
    if (animated) {
        // The new content fades in over the old place.
        std::vector<View*> fresh{title_.get(), back_.get()};
        for (auto& [i, v] : left_) fresh.push_back(v.get());
        for (auto& [i, v] : right_) fresh.push_back(v.get());
        if (titleView_) fresh.push_back(titleView_.get());
        for (View* v : fresh) v->setAlpha(0);
        View::animate(0.3, [fresh] {
            for (View* v : fresh) v->setAlpha(1);
        });
    }
}

View* NavigationBar::viewForItem(const BarButtonItem* item) const {
    for (auto& [i, v] : left_)
        if (i.get() == item) return v.get();
    for (auto& [i, v] : right_)
        if (i.get() == item) return v.get();
    return nullptr;
}

void NavigationBar::setBarStyle(BarStyle s) {
    barStyle_ = s;
    rebuild(false);
    setNeedsDisplay();
}

void NavigationBar::setBarTintColor(std::optional<Color> c) {
    barTint_ = std::move(c);
    setNeedsDisplay();
}

void NavigationBar::setTranslucent(bool t) {
    translucent_ = t;
    setNeedsDisplay();
}

void NavigationBar::setBackgroundImage(ImageRef image) {
    background_ = std::move(image);
    setNeedsDisplay();
}

void NavigationBar::setTransparent(bool t) {
    transparent_ = t;
    setNeedsDisplay();
}

void NavigationBar::setShadowHidden(bool h) {
    shadowHidden_ = h;
    setNeedsDisplay();
}

void NavigationBar::setTitleColor(std::optional<Color> c) {
    titleColor_ = std::move(c);
    rebuild(false);
}

void NavigationBar::setTitleFont(const gfx::Font& f) {
    title_->setFont(f);
    setNeedsLayout();
}

Size NavigationBar::sizeThatFits(Size size) const {
    return {size.width > 0 ? size.width : bounds().width(), kHeight};
}

void NavigationBar::layoutSubviews() {
    Rect b = bounds();
    // The content row is the bottom 44 points (a taller bar reaches under the status bar).
    double rowY = b.maxY() - kHeight;
    double left = b.x() + kMargin;
    if (!back_->isHidden()) {
        Size s = back_->sizeThatFits({0, 0});
        back_->setFrame(Rect(left, rowY, std::max(44.0, s.width), kHeight));
        left = back_->frame().maxX();
    }
    for (auto& [item, v] : left_) {
        double w = item->isSpace() ? item->width() : Toolbar::itemWidth(*v, *item);
        double h = item->customView() ? v->frame().height() : kHeight;
        v->setFrame(Rect(left, rowY + (kHeight - h) / 2, w, h));
        left += w;
    }
    double right = b.maxX() - kMargin;
    for (auto& [item, v] : right_) {
        double w = item->isSpace() ? item->width() : Toolbar::itemWidth(*v, *item);
        double h = item->customView() ? v->frame().height() : kHeight;
        right -= w;
        v->setFrame(Rect(right, rowY + (kHeight - h) / 2, w, h));
    }
    // The title is centred on the bar, pushed aside only by the items.
    View* t = titleView_ ? titleView_.get() : static_cast<View*>(title_.get());
    Size ts = titleView_ ? titleView_->frame().size : title_->sizeThatFits({0, 0});
    double room = std::max(0.0, right - left - 2 * kMargin);
    double w = std::min(ts.width, room);
    double x = b.x() + (b.width() - w) / 2;
    x = std::clamp(x, left + kMargin, std::max(left + kMargin, right - kMargin - w));
    double h = titleView_ ? ts.height : std::ceil(title_->font().lineHeight());
    t->setFrame(Rect(x, rowY + (kHeight - h) / 2, w, h));
}

void NavigationBar::draw(gfx::Canvas& c, const Rect&) {
    if (transparent_) return;
    Toolbar::drawBarBackground(c, *this, bounds(), barStyle_, barTint_, translucent_, background_, false,
                               shadowHidden_);
}

}  // namespace ui
