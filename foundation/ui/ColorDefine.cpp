#include "foundation/ui/ColorDefine.h"

#include "platform/core/DeviceProfile.h"
#include "platform/ui/Application.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"

#include <mutex>

using ui::Color;

namespace {

Color asset(const char* name) {
    ColorDefine::registerColorAssets();
    return Color::named(name);
}

Color pair(int lr, int lg, int lb, int dr, int dg, int db, double la = 1.0, double da = 1.0) {
    return Color(gfx::Rgba{lr / 255.0, lg / 255.0, lb / 255.0, la}, gfx::Rgba{dr / 255.0, dg / 255.0, db / 255.0, da});
}

}  // namespace

void ColorDefine::registerColorAssets() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct Entry {
            const char* name;
            Color color;
        };
        const Entry entries[] = {
            // Page numbers in the lists: a calm blue that stays readable on black.
            {"ColorPageLabel", pair(64, 64, 192, 140, 140, 255)},
            // The opposite of the label colour (text on a label-coloured backing).
            {"ColorOpposite", pair(255, 255, 255, 0, 0, 0)},
            {"ColorSelectedBook", pair(204, 224, 255, 30, 58, 95)},
            {"ColorLastReadBook", pair(255, 244, 214, 58, 51, 32)},
            {"ColorQNMultiViewBg", pair(247, 247, 247, 28, 28, 30)},
            {"QNAlertViewBgColor", pair(242, 242, 242, 44, 44, 46, 0.97, 0.97)},
        };
        for (const auto& e : entries)
            if (!Color::hasNamed(e.name)) Color::setNamed(e.name, e.color);
    });
}

bool ColorDefine::isDarkmode(const ui::View* view) {
    if (view && view->window()) return view->traitCollection().isDark();
    // The appearance belongs to the whole program: a view not yet on screen
    // (a screen building its page before it appears) goes by the key window.
    if (ui::Window* key = ui::Application::shared().keyWindow()) return key->windowTraits().isDark();
    return sys::DeviceProfile::current().darkMode;
}

bool ColorDefine::isDarkmode(const ui::TraitCollection& traits) { return traits.isDark(); }

Color ColorDefine::background() { return Color::systemBackground(); }
Color ColorDefine::label() { return Color::label(); }
Color ColorDefine::labelGray() { return Color::systemGray(); }
Color ColorDefine::labelPage() { return asset("ColorPageLabel"); }
Color ColorDefine::labelOpposite() { return asset("ColorOpposite"); }
Color ColorDefine::labelFolder() { return Color::systemBlue(); }
Color ColorDefine::blueTextColor() { return Color::systemBlue(); }
Color ColorDefine::redTextColor() { return Color::systemRed(); }
Color ColorDefine::lightGray() { return Color::systemGray2(); }
Color ColorDefine::backgroundSortModeSelectView() { return Color::systemGray2(); }
Color ColorDefine::selectedBookBackground() { return asset("ColorSelectedBook"); }
Color ColorDefine::lastReadBookBackground() { return asset("ColorLastReadBook"); }
Color ColorDefine::sortmodeSelectSegmentBg() { return Color::systemBackground(); }
Color ColorDefine::sortmodeSelectSegmentSelected() { return Color::systemGray2(); }
Color ColorDefine::QNMultiViewBgColor() { return asset("ColorQNMultiViewBg"); }
Color ColorDefine::QNAlertViewBgColor() { return asset("QNAlertViewBgColor"); }
