#pragma once

#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Button.h"
#include "platform/ui/View.h"

#include <vector>

namespace ui {

enum class BarStyle { Default, Black };

// A bar of buttons along an edge (44 points high): items laid out from the
// left, fixed spaces taking their width and flexible spaces sharing what is
// left over.
class Toolbar : public View {
public:
    Toolbar();
    explicit Toolbar(const Rect& frame);

    const std::vector<BarButtonItem::Ref>& items() const { return items_; }
    void setItems(std::vector<BarButtonItem::Ref> items, bool animated = false);

    BarStyle barStyle() const { return barStyle_; }
    void setBarStyle(BarStyle s);
    std::optional<Color> barTintColor() const { return barTint_; }
    void setBarTintColor(std::optional<Color> c);
    bool isTranslucent() const { return translucent_; }
    void setTranslucent(bool t);
    void setBackgroundImage(ImageRef image);
    void setShadowHidden(bool h);

    // The view showing an item (null for spaces and items not on this bar).
    View* viewForItem(const BarButtonItem* item) const;

    Size sizeThatFits(Size size) const override;
    void layoutSubviews() override;
    void draw(gfx::Canvas& canvas, const Rect& rect) override;

    static constexpr double kHeight = 44;

    // Shared by the bars: background with an optional hairline at the top or bottom.
    static void drawBarBackground(gfx::Canvas& c, const View& bar, const Rect& r, BarStyle style,
                                  const std::optional<Color>& tint, bool translucent, const ImageRef& image,
                                  bool hairlineAtTop, bool hairlineHidden);
    // A button for an item, wired to trigger it.
    static std::shared_ptr<View> makeItemView(const BarButtonItem::Ref& item);
    static void refreshItemView(View& view, const BarButtonItem& item);
    static double itemWidth(View& view, const BarButtonItem& item);

private:
    void rebuild();

    std::vector<BarButtonItem::Ref> items_;
    std::vector<std::shared_ptr<View>> views_;
    BarStyle barStyle_ = BarStyle::Default;
    std::optional<Color> barTint_;
    bool translucent_ = true;
    ImageRef background_;
    bool shadowHidden_ = false;
};

}  // namespace ui
