#pragma once

#include "platform/ui/Button.h"
#include "platform/ui/Geometry.h"
#include "platform/ui/View.h"

#include <memory>
#include <string>

namespace ui {
class Label;
class Slider;
}

// The two looks of the reading screen's floating panels (the slideshow and
// sound panel, the brightness panel): before system version 26 a drawn
// backing picture, filled buttons and pictured sliders; from 26 the glass
// container, clear glass buttons, plain sliders and a spring as the panel
// appears. The screens choose nothing themselves: they ask here.
class PanelLook {
public:
    // Spring of a glass panel coming in.
    static constexpr double kSpringDuration = 0.5;
    static constexpr double kSpringDamping = 0.6;
    static constexpr double kSpringVelocity = 1.0;
    static constexpr double kSpringStartScale = 0.1;

    static bool isGlass();

    // A panel of `size`: the glass container, or an image view of the
    // backing `imageName` ("<imageName>_dark" when `dark`). Takes touches.
    static std::shared_ptr<ui::View> makePanel(ui::Size size, const std::string& imageName, bool dark);
    // Where the panel's own views go (the glass keeps them in its content view).
    static ui::View& contentOf(ui::View& panel);

    // A panel button in `frame`: its title at 14 points, the system image
    // `systemImage` (none when empty) after the title.
    static std::shared_ptr<ui::Button> makeButton(const std::string& title, const std::string& systemImage,
                                                  ui::Rect frame);
    // A panel label in `frame`: `text` in the system font at `size` points.
    static std::shared_ptr<ui::Label> makeLabel(const std::string& text, ui::Rect frame, double size);
    // The pictured track and thumb of the older look; the glass look keeps
    // the plain slider.
    static void styleSlider(ui::Slider& slider);

    // Brings a panel in: faded in over 0.3 s, or, in glass, sprung from a
    // tenth of its size. `panel` must be on screen.
    static void animateIn(const std::shared_ptr<ui::View>& panel);
};
