#include "foundation/ui/PopupMenuView.h"

#include "foundation/BookCommon.h"
#include "foundation/ui/LiquidGlassView.h"
#include "platform/core/DeviceProfile.h"
#include "platform/ui/Toolbar.h"

#include <algorithm>

using ui::Color;
using ui::Rect;

namespace {

bool newerLook() { return sys::DeviceProfile::current().systemMajorVersion() >= 26; }

const Color kTitleBlue = Color::rgb255(0, 122, 255);

}  // namespace

PopupMenuView::PopupMenuView(const Rect& frame) : ui::View(frame) {
    glass_ = newerLook();
    if (glass_) {
        itemHeight_ = 55;
        itemWidth_ = 320;
        contentOffset_ = -8;
        auto glass = std::make_shared<LiquidGlassView>();
        glass->setMaterialStyle(LiquidGlassView::kMaterialThin);
        menuRectView_ = glass;
        setBackgroundColor(Color::black().withAlpha(0));
    } else {
        itemHeight_ = 50;
        itemWidth_ = 300;
        contentOffset_ = 0;
        menuRectView_ = std::make_shared<ui::View>();
        menuRectView_->setClipsToBounds(true);
        // Dims the screen more in dark appearance, where a light wash would glare.
        setBackgroundColor(Color(gfx::Rgba{0, 0, 0, 0.1}, gfx::Rgba{0, 0, 0, 0.5}));
    }
    addSubview(menuRectView_);
}

ui::View* PopupMenuView::rowContainer() const {
    if (glass_) return static_cast<LiquidGlassView&>(*menuRectView_).contentView();
    return menuRectView_.get();
}

Color PopupMenuView::titleColor() const {
    if (glass_) return Color(kTitleBlue.light(), gfx::Rgba{1, 1, 1, 1});
    return kTitleBlue;
}

void PopupMenuView::addItem(const std::string& title, PopupMenuItem::Selector selector) {
    addItem(title, nullptr, std::move(selector));
}

void PopupMenuView::addItem(const std::string& title, ui::ImageRef image, PopupMenuItem::Selector selector) {
    const int index = int(itemList_.size());
    auto item = std::make_shared<PopupMenuItem>();
    item->setSelector(std::move(selector));

    auto icon = std::make_shared<ui::ImageView>();
    if (image) icon->setImage(image->withRenderingMode(ui::ImageRenderingMode::AlwaysTemplate));
    item->setImageView(icon);

    auto button = std::make_shared<ui::Button>(ui::ButtonType::Custom);
    if (glass_) {
        button->setFrame(Rect(10, itemHeight_ * index + 8, itemWidth_ - 20, itemHeight_ - 16));
        button->setCornerRadius(20);
        button->setClipsToBounds(true);
        button->setBackgroundColor(Color(gfx::Rgba{0.7, 0.7, 0.7, 0.1}, gfx::Rgba{0, 0, 0, 0.3}));
    } else {
        button->setFrame(Rect(0, itemHeight_ * index, itemWidth_, itemHeight_));
        button->setBackgroundImage(ui::Image::named(index == 0 ? "popupmenubg_top" : "popupmenubg"));
        button->setBackgroundColor(Color::systemBackground());
    }
    button->setTag(index);
    ui::Button* raw = button.get();
    button->addAction(ui::ControlEventTouchUpInside, [this, raw](ui::Control&) { onItemBtn(*raw); });
    button->addAction(ui::ControlEventTouchUpInside | ui::ControlEventTouchUpOutside,
                      [this, raw](ui::Control&) { onMenuButtonUp(*raw); });
    button->addAction(ui::ControlEventTouchDown, [this, raw](ui::Control&) { onMenuButtonDown(*raw); });
    item->setButton(button);

    const Color color = titleColor();
    icon->setFrame(Rect(13, (itemHeight_ - 24) / 2 + contentOffset_, 24, 24));
    icon->setTag(kIconTag);
    icon->setTintColor(color);

    auto label = std::make_shared<ui::Label>(Rect(50, contentOffset_, itemWidth_ - 50, itemHeight_));
    label->setBackgroundColor(Color::clear());
    label->setTag(kLabelTag);
    label->setText(title);
    label->setTextColor(color);
    item->setLabel(label);

    itemList_.push_back(item);
    rowContainer()->addSubview(button);
    button->addSubview(icon);
    button->addSubview(label);
}

void PopupMenuView::setSize(const Rect& frame, ui::Point point) {
    if (glass_) point = ui::Point{point.x + 20, point.y - 35};
    popupPoint_ = point;
    setFrame(frame);
    const double height = itemHeight_ * double(itemList_.size());
    // Inside what it is given (a window made small): moved left or down
    // where the point would put it past the right or top edge.
    const double x = std::min(point.x - frame.x(), frame.width() - itemWidth_);
    const double y = point.y - height - frame.y();
    menuRectView_->setFrame(Rect(std::max(0.0, x), std::max(0.0, y), itemWidth_, height));
}

void PopupMenuView::popUpFromToolbar(ui::NavigationController& nav, const ui::View& ownerView) {
    ui::View* navView = nav.view();
    const ui::Rect safe = BookCommon::getScreentSafeRect(ownerView);
    ui::Point point;
    if (sys::DeviceProfile::current().systemMajorVersion() >= 26) {
        point = {safe.x(), safe.height()};
    } else {
        point = nav.toolbar()->convertPointTo({0, 0}, navView);
        point.x += navView->safeAreaInsets().left;
    }
    setSize(safe, point);
    addPopupView(*navView);
    nav.setInteractivePopEnabled(false);
}

void PopupMenuView::addPopupView(ui::View& superview) {
    setAlpha(0);
    const ui::Point home = center();
    superview.addSubview(std::static_pointer_cast<PopupMenuView>(shared_from_this()));
    auto self = std::static_pointer_cast<PopupMenuView>(shared_from_this());
    if (!glass_) {
        ui::View::animate(kFadeDuration, [self] { self->setAlpha(1); });
        return;
    }
    setCenter(popupPoint_);
    setTransform(ui::AffineTransform::makeScale(0.1, 0.1));
    ui::View::animateSpring(kSpringDuration, 0, 0.65, 1.0, ui::AnimationOptionCurveEaseOut, [self, home] {
        self->setAlpha(1);
        self->setCenter(home);
        self->setTransform(ui::AffineTransform::identity());
    });
}

void PopupMenuView::removePopup() {
    if (closing_) return;
    closing_ = true;
    if (delegate_) delegate_->onRemovePopup();
    auto self = std::static_pointer_cast<PopupMenuView>(shared_from_this());
    ui::View::animate(
        kFadeDuration, [self] { self->setAlpha(0); }, [self](bool) { self->removeFromSuperview(); });
}

std::vector<ui::KeyCommand> PopupMenuView::keyCommandsOfOwner(PopupMenuView* menu) {
    // A menu fading out takes no keys.
    if (!menu || menu->closing_) return {};
    std::weak_ptr<ui::View> weak = menu->weak_from_this();
    auto on = [weak](std::function<void(PopupMenuView&)> act) {
        return [weak, act](const ui::KeyCommand&) {
            if (auto self = std::static_pointer_cast<PopupMenuView>(weak.lock())) act(*self);
        };
    };
    auto nothing = [](PopupMenuView&) {};
    using namespace ui::KeyInput;
    return {
        ui::KeyCommand::make(escape, 0, on([](PopupMenuView& m) { m.removePopup(); })),
        ui::KeyCommand::make(downArrow, 0, on([](PopupMenuView& m) { m.moveKeyHighlight(1); })),
        ui::KeyCommand::make(tab, 0, on([](PopupMenuView& m) { m.moveKeyHighlight(1); })),
        ui::KeyCommand::make(upArrow, 0, on([](PopupMenuView& m) { m.moveKeyHighlight(-1); })),
        ui::KeyCommand::make(tab, ui::KeyModifierShift, on([](PopupMenuView& m) { m.moveKeyHighlight(-1); })),
        ui::KeyCommand::make(home, 0, on([](PopupMenuView& m) { m.setKeyHighlightedRow(0); })),
        ui::KeyCommand::make(end, 0, on([](PopupMenuView& m) { m.setKeyHighlightedRow(int(m.itemList_.size()) - 1); })),
        ui::KeyCommand::make(returnKey, 0, on([](PopupMenuView& m) { m.chooseKeyHighlightedRow(); })),
        ui::KeyCommand::make(" ", 0, on([](PopupMenuView& m) { m.chooseKeyHighlightedRow(); })),
        // Keys that would scroll or move what is behind the menu.
        ui::KeyCommand::make(leftArrow, 0, on(nothing)),
        ui::KeyCommand::make(rightArrow, 0, on(nothing)),
        ui::KeyCommand::make(pageUp, 0, on(nothing)),
        ui::KeyCommand::make(pageDown, 0, on(nothing)),
    };
}

void PopupMenuView::setKeyHighlightedRow(int row) {
    if (row < -1 || row >= int(itemList_.size())) row = -1;
    keyRow_ = row;
    for (size_t i = 0; i < itemList_.size(); ++i) {
        ui::Button* b = itemList_[i]->button();
        if (!b) continue;
        ui::View* wash = b->viewWithTag(kKeyHighlightTag);
        if (!wash) {
            auto v = std::make_shared<ui::View>(b->bounds());
            v->setTag(kKeyHighlightTag);
            v->setUserInteractionEnabled(false);
            v->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
            v->setBackgroundColor(Color::systemGray4());
            b->insertSubview(v, 0);
            wash = v.get();
        }
        wash->setHidden(int(i) != row);
    }
}

void PopupMenuView::moveKeyHighlight(int step) {
    const int n = int(itemList_.size());
    if (n == 0 || closing_) return;
    // From nothing, down starts at the top row and up at the bottom one; the
    // highlight goes round.
    int row = keyRow_ < 0 ? (step > 0 ? 0 : n - 1) : ((keyRow_ + step) % n + n) % n;
    setKeyHighlightedRow(row);
}

void PopupMenuView::chooseKeyHighlightedRow() {
    if (keyRow_ < 0 || size_t(keyRow_) >= itemList_.size()) return;
    if (ui::Button* b = itemList_[size_t(keyRow_)]->button()) onItemBtn(*b);
}

PopupMenuItem* PopupMenuView::itemForButton(const ui::Button& button) const {
    int index = button.tag();
    if (index < 0 || size_t(index) >= itemList_.size()) return nullptr;
    return itemList_[size_t(index)].get();
}

void PopupMenuView::onItemBtn(ui::Button& button) {
    if (closing_) return;
    auto keep = shared_from_this();
    if (PopupMenuItem* item = itemForButton(button)) {
        PopupMenuItem::Selector action = item->selector();
        if (action) action();
    }
    removePopup();
}

void PopupMenuView::onMenuButtonDown(ui::Button& button) {
    PopupMenuItem* item = itemForButton(button);
    if (!item) return;
    item->label()->setTextColor(Color::lightGray());
    if (!glass_) return;
    item->imageView()->setTintColor(Color::lightGray());
    auto b = std::static_pointer_cast<ui::Button>(button.shared_from_this());
    ui::View::animateSpring(kSpringDuration, 0, 0.6, 1.0, ui::AnimationOptionCurveEaseOut,
                            [b] { b->setTransform(ui::AffineTransform::makeScale(1.05, 1.05)); });
}

void PopupMenuView::onMenuButtonUp(ui::Button& button) {
    PopupMenuItem* item = itemForButton(button);
    if (!item) return;
    const Color color = titleColor();
    item->label()->setTextColor(color);
    if (!glass_) return;
    item->imageView()->setTintColor(color);
    auto b = std::static_pointer_cast<ui::Button>(button.shared_from_this());
    ui::View::animateSpring(kSpringDuration, 0, 0.6, 1.0, ui::AnimationOptionCurveEaseOut,
                            [b] { b->setTransform(ui::AffineTransform::identity()); });
}

void PopupMenuView::touchesBegan(const ui::TouchSet& touches, const ui::Event& event) {
    removePopup();
    ui::View::touchesBegan(touches, event);
}
