#pragma once

#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationItem.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/View.h"

#include <vector>

namespace ui {

class NavigationBar;

// Optional hooks of the bar's delegate (the navigation controller).
class NavigationBarDelegate {
public:
    virtual ~NavigationBarDelegate() = default;
    virtual bool navigationBarShouldPushItem(NavigationBar&, NavigationItem&) { return true; }
    virtual void navigationBarDidPushItem(NavigationBar&, NavigationItem&) {}
    virtual bool navigationBarShouldPopItem(NavigationBar&, NavigationItem&) { return true; }
    virtual void navigationBarDidPopItem(NavigationBar&, NavigationItem&) {}
};

// The bar over a stack of screens (44 points high): the top item's title in
// the middle, its left items or a back button titled after the item below,
// and its right items. The back button pops the top item when the delegate
// agrees.
class NavigationBar : public View {
public:
    NavigationBar();
    explicit NavigationBar(const Rect& frame);

    const std::vector<NavigationItem::Ref>& items() const { return items_; }
    void setItems(std::vector<NavigationItem::Ref> items, bool animated = false);
    void pushItem(NavigationItem::Ref item, bool animated = false);
    // The popped item, or null when only one is left.
    NavigationItem::Ref popItem(bool animated = false);
    NavigationItem::Ref topItem() const { return items_.empty() ? nullptr : items_.back(); }
    NavigationItem::Ref backItem() const { return items_.size() < 2 ? nullptr : items_[items_.size() - 2]; }

    NavigationBarDelegate* delegate() const { return delegate_; }
    void setDelegate(NavigationBarDelegate* d) { delegate_ = d; }

    BarStyle barStyle() const { return barStyle_; }
    void setBarStyle(BarStyle s);
    std::optional<Color> barTintColor() const { return barTint_; }
    void setBarTintColor(std::optional<Color> c);
    bool isTranslucent() const { return translucent_; }
    void setTranslucent(bool t);
    void setBackgroundImage(ImageRef image);
    // A bar without background at all (content shows through).
    void setTransparent(bool t);
    void setShadowHidden(bool h);
    void setTitleColor(std::optional<Color> c);
    void setTitleFont(const gfx::Font& f);

    // The views now shown (for tests and popover anchors).
    Button* backButton() const { return back_.get(); }
    Label* titleLabel() const { return title_.get(); }
    View* viewForItem(const BarButtonItem* item) const;

    Size sizeThatFits(Size size) const override;
    void layoutSubviews() override;
    void draw(gfx::Canvas& canvas, const Rect& rect) override;

    static constexpr double kHeight = 44;

private:
    void rebuild(bool animated);
    void backTapped();
    std::string backTitle() const;

    std::vector<NavigationItem::Ref> items_;
    NavigationBarDelegate* delegate_ = nullptr;
    std::shared_ptr<Label> title_;
    std::shared_ptr<Button> back_;
    std::vector<std::pair<BarButtonItem::Ref, std::shared_ptr<View>>> left_, right_;
    std::shared_ptr<View> titleView_;
    BarStyle barStyle_ = BarStyle::Default;
    std::optional<Color> barTint_;
    bool translucent_ = true;
    bool transparent_ = false;
    ImageRef background_;
    bool shadowHidden_ = false;
    std::optional<Color> titleColor_;
};

}  // namespace ui
