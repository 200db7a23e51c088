#pragma once

#include "platform/ui/BarButtonItem.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ui {

class View;

// What a navigation bar shows for one screen: a title or title view, left
// and right items, and how the back button looks or whether it hides.
class NavigationItem : public std::enable_shared_from_this<NavigationItem> {
public:
    using Ref = std::shared_ptr<NavigationItem>;
    static Ref make(const std::string& title = "");

    const std::string& title() const { return title_; }
    void setTitle(const std::string& t);
    const std::shared_ptr<View>& titleView() const { return titleView_; }
    void setTitleView(std::shared_ptr<View> v);

    const std::vector<BarButtonItem::Ref>& leftBarButtonItems() const { return left_; }
    void setLeftBarButtonItems(std::vector<BarButtonItem::Ref> items, bool animated = false);
    BarButtonItem::Ref leftBarButtonItem() const { return left_.empty() ? nullptr : left_.front(); }
    void setLeftBarButtonItem(BarButtonItem::Ref item, bool animated = false);
    const std::vector<BarButtonItem::Ref>& rightBarButtonItems() const { return right_; }
    void setRightBarButtonItems(std::vector<BarButtonItem::Ref> items, bool animated = false);
    BarButtonItem::Ref rightBarButtonItem() const { return right_.empty() ? nullptr : right_.front(); }
    void setRightBarButtonItem(BarButtonItem::Ref item, bool animated = false);

    bool hidesBackButton() const { return hidesBack_; }
    void setHidesBackButton(bool h, bool animated = false);
    // Shown as the back button of the screen pushed over this one.
    BarButtonItem::Ref backBarButtonItem() const { return backItem_; }
    void setBackBarButtonItem(BarButtonItem::Ref item);
    const std::optional<std::string>& backButtonTitle() const { return backTitle_; }
    void setBackButtonTitle(std::optional<std::string> t);
    bool leftItemsSupplementBackButton() const { return supplement_; }
    void setLeftItemsSupplementBackButton(bool s);

    // The bar showing this item listens here.
    void setChangeHandler(std::function<void()> h) { onChange_ = std::move(h); }

private:
    NavigationItem() = default;
    void changed();

    std::string title_;
    std::shared_ptr<View> titleView_;
    std::vector<BarButtonItem::Ref> left_, right_;
    bool hidesBack_ = false;
    BarButtonItem::Ref backItem_;
    std::optional<std::string> backTitle_;
    bool supplement_ = false;
    std::function<void()> onChange_;
};

}  // namespace ui
