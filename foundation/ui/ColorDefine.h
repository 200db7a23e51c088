#pragma once

#include "platform/ui/Color.h"
#include "platform/ui/TraitCollection.h"

namespace ui {
class View;
}

// The program's named colours. The six colours of our own live in the
// application's colour assets (each with a light and a dark value); the
// others are the system's semantic colours. Views resolve them for their own
// appearance when they draw, so callers keep the returned colours as they are.
class ColorDefine {
public:
    ColorDefine() = delete;

    // Dark appearance for this view (its window's traits; the device's while detached).
    static bool isDarkmode(const ui::View* view);
    static bool isDarkmode(const ui::TraitCollection& traits);

    static ui::Color background();
    static ui::Color label();
    static ui::Color labelGray();
    static ui::Color labelPage();
    static ui::Color labelOpposite();
    static ui::Color labelFolder();
    static ui::Color blueTextColor();
    static ui::Color redTextColor();
    static ui::Color lightGray();
    static ui::Color backgroundSortModeSelectView();
    static ui::Color selectedBookBackground();
    static ui::Color lastReadBookBackground();
    static ui::Color sortmodeSelectSegmentBg();
    static ui::Color sortmodeSelectSegmentSelected();
    static ui::Color QNMultiViewBgColor();
    static ui::Color QNAlertViewBgColor();

    // Puts our colour assets into the platform's named-colour table (done on
    // first use of any colour above; a value already there is kept).
    static void registerColorAssets();
};
