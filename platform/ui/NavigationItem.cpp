#include "platform/ui/NavigationItem.h"

namespace ui {

NavigationItem::Ref NavigationItem::make(const std::string& title) {
    Ref r(new NavigationItem);
    r->title_ = title;
    return r;
}

void NavigationItem::changed() {
    if (onChange_) onChange_();
}

void NavigationItem::setTitle(const std::string& t) {
    title_ = t;
    changed();
}

void NavigationItem::setTitleView(std::shared_ptr<View> v) {
    titleView_ = std::move(v);
    changed();
}

void NavigationItem::setLeftBarButtonItems(std::vector<BarButtonItem::Ref> items, bool) {
    left_ = std::move(items);
    changed();
}

void NavigationItem::setLeftBarButtonItem(BarButtonItem::Ref item, bool animated) {
    std::vector<BarButtonItem::Ref> v;
    if (item) v.push_back(std::move(item));
    setLeftBarButtonItems(std::move(v), animated);
}

void NavigationItem::setRightBarButtonItems(std::vector<BarButtonItem::Ref> items, bool) {
    right_ = std::move(items);
    changed();
}

void NavigationItem::setRightBarButtonItem(BarButtonItem::Ref item, bool animated) {
    std::vector<BarButtonItem::Ref> v;
    if (item) v.push_back(std::move(item));
    setRightBarButtonItems(std::move(v), animated);
}

void NavigationItem::setHidesBackButton(bool h, bool) {
    hidesBack_ = h;
    changed();
}

void NavigationItem::setBackBarButtonItem(BarButtonItem::Ref item) {
    backItem_ = std::move(item);
    changed();
}

void NavigationItem::setBackButtonTitle(std::optional<std::string> t) {
    backTitle_ = std::move(t);
    changed();
}

void NavigationItem::setLeftItemsSupplementBackButton(bool s) {
    supplement_ = s;
    changed();
}

}  // namespace ui
