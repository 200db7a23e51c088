#include "foundation/BookCommonViews.h"

#include "foundation/BookCommon.h"
#include "foundation/ui/AboutViewControllerEx.h"
#include "foundation/ui/AuxiliaryScreenFactory.h"
#include "platform/core/DeviceProfile.h"
#include "platform/graphics/Image.h"
#include "platform/ui/Button.h"
#include "platform/ui/Image.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Slider.h"
#include "platform/ui/TableView.h"
#include "platform/ui/UserNotificationCenter.h"
#include "platform/ui/ViewController.h"

// ---- Small helpers -------------------------------------------------------------------

std::string BookCommonViews::flatImageName(const std::string& name) {
    return sys::DeviceProfile::current().systemMajorVersion() >= 7 ? name + "_f" : name;
}

std::shared_ptr<const ui::Image> BookCommonViews::imageNamed(const std::string& name) {
    return ui::Image::named(flatImageName(name));
}

std::shared_ptr<ui::Button> BookCommonViews::buttoniOS7Flat(bool white) {
    auto button = std::make_shared<ui::Button>(ui::ButtonType::Custom);
    const ui::EdgeInsets caps{14, 14, 14, 14};
    auto background = ui::Image::named(white ? "button_220x38w" : "button_220x38f");
    if (background) background = background->resizableImage(caps);
    button->setBackgroundImage(background, ui::ControlStateNormal);
    button->setBackgroundImage(background, ui::ControlStateHighlighted);
    const ui::Color blue(getLeafbrightTextColor());
    const ui::Color whiteColor = ui::Color::whiteColor();
    button->setTitleColor(white ? whiteColor : blue, ui::ControlStateNormal);
    button->setTitleColor(white ? blue : whiteColor, ui::ControlStateHighlighted);
    return button;
}

void BookCommonViews::setSliderImage(ui::Slider& slider, const std::shared_ptr<const ui::Image>& maximumTrackImage,
                                    const std::shared_ptr<const ui::Image>& minimumTrackImage,
                                    const std::shared_ptr<const ui::Image>& thumbImage, double capWidth) {
    const ui::EdgeInsets caps{0, capWidth, 0, capWidth};
    auto stretch = [&](const std::shared_ptr<const ui::Image>& image) -> std::shared_ptr<const ui::Image> {
        return image ? image->resizableImage(caps) : nullptr;
    };
    slider.setMaximumTrackImage(stretch(maximumTrackImage), ui::ControlStateNormal);
    slider.setMinimumTrackImage(stretch(minimumTrackImage), ui::ControlStateNormal);
    slider.setThumbImage(thumbImage, ui::ControlStateNormal);
}

void BookCommonViews::lbCommonPresentViewController(ui::ViewController& viewController,
                                                   const std::shared_ptr<ui::ViewController>& present, bool animated) {
    if (present) viewController.present(present, animated);
}

void BookCommonViews::lbCommonDismissModalViewController(ui::ViewController& viewController, bool animated) {
    viewController.dismiss(animated);
}

void BookCommonViews::pushAboutViewController(ui::ViewController& viewController) {
    if (auto* nav = viewController.navigationController())
        nav->pushViewController(std::make_shared<AboutViewControllerEx>(), true);
}

void BookCommonViews::pushStatisticsInformationViewController(ui::ViewController& viewController) {
    auto* nav = viewController.navigationController();
    auto factory = AuxiliaryScreenFactory::installed();
    if (!nav || !factory) return;
    if (auto screen = factory->makeStatisticsInformationViewController(ui::TableViewStyle::Grouped))
        nav->pushViewController(screen, true);
}

void BookCommonViews::setLocalNitificationSetting() {
    if (!BookCommon::isOS8()) return;
    auto centre = ui::UserNotificationCenter::shared();
    if (!centre || (centre->authorizedOptions() & ui::UserNotificationCenter::OptionAlert)) return;
    centre->requestAuthorization(ui::UserNotificationCenter::OptionBadge | ui::UserNotificationCenter::OptionAlert,
                                 [](bool) {});
}

std::shared_ptr<const ui::Image> BookCommonViews::imageWithColor(const gfx::Rgba& color) {
    return ui::Image::withBitmap(gfx::Image::make(1, 1, {color.argb32()}));
}

std::string BookCommonViews::getFileListIconImageName(bool isNew, bool isFin, bool isBookmark, bool isFolderTarget) {
    if (isFolderTarget) {
        std::string name = isFin ? "book_folder_fin" : "book_folder_read1";
        return isBookmark ? name + "_b" : name;
    }
    std::string name = isNew ? "book_new" : (isFin ? "book_fin" : "book_read1");
    return isBookmark ? name + "_b" : name;
}

gfx::Rgba BookCommonViews::getLeafbrightBackgroundColor() {
    return gfx::Rgba::rgb(47.0 / 255.0, 188.0 / 255.0, 234.0 / 255.0);
}

gfx::Rgba BookCommonViews::getLeafbrightTextColor() { return gfx::Rgba::rgb(0.0, 122.0 / 255.0, 1.0); }

std::string BookCommonViews::getHtmlWithMessage(const std::string& message, const std::string& title) {
    return "<html><head><meta http-equiv=\"content-type\" content=\"text/html; charset=utf-8\">"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1, maximum-scale=1, "
           "user-scalable=no\" /><meta name=\"format-detection\" content=\"telephone=no\"><title>" +
           title + "</title><body>" + message + "</body>";
}
