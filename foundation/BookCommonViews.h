#pragma once

#include "platform/graphics/Rgba.h"

#include <memory>
#include <string>

namespace ui {
class Button;
class Image;
class Slider;
class ViewController;
}  // namespace ui

// BookCommon's small view helpers: the program's images, buttons, sliders and
// colours, presenting screens and asking for notices. Class operations only;
// reach them through BookCommon.
class BookCommonViews {
public:
    static std::string getFileListIconImageName(bool isNew, bool isFin, bool isBookmark, bool isFolderTarget);
    // The flat artwork of an image ("_f" added), and its name.
    static std::shared_ptr<const ui::Image> imageNamed(const std::string& name);
    static std::string flatImageName(const std::string& name);
    // The program's plain wide button: white, or tinted when `white` is false.
    static std::shared_ptr<ui::Button> buttoniOS7Flat(bool white);
    // Track images stretched between caps of `capWidth`, and the thumb.
    static void setSliderImage(ui::Slider& slider, const std::shared_ptr<const ui::Image>& maximumTrackImage,
                               const std::shared_ptr<const ui::Image>& minimumTrackImage,
                               const std::shared_ptr<const ui::Image>& thumbImage, double capWidth);
    // Presents `present` over `viewController`, or dismisses what it presents.
    static void lbCommonPresentViewController(ui::ViewController& viewController,
                                              const std::shared_ptr<ui::ViewController>& present, bool animated);
    static void lbCommonDismissModalViewController(ui::ViewController& viewController, bool animated);
    // Push the About page or the reading statistics on the screen's
    // navigation controller, animated; nothing without one (or, for the
    // statistics, without the screens' factory installed).
    static void pushAboutViewController(ui::ViewController& viewController);
    static void pushStatisticsInformationViewController(ui::ViewController& viewController);
    // Asks for badge and alert notices when alerts are not yet allowed.
    static void setLocalNitificationSetting();
    // A 1 x 1 point image of one colour.
    static std::shared_ptr<const ui::Image> imageWithColor(const gfx::Rgba& color);
    static gfx::Rgba getLeafbrightBackgroundColor();
    static gfx::Rgba getLeafbrightTextColor();
    static std::string getHtmlWithMessage(const std::string& message, const std::string& title);

protected:
    BookCommonViews() = default;
};
