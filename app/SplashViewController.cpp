#include "app/SplashViewController.h"

#include "foundation/BookCommon.h"
#include "platform/ui/Application.h"
#include "platform/ui/Image.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Screen.h"

std::string SplashViewController::launchImageName(bool pad, bool landscape, bool fourInch) {
    if (pad) return landscape ? "Default_iPad-Landscape~ipad" : "Default_iPad-Portrait~ipad";
    return fourInch ? "Default-568h.png" : "Default.png";
}

void SplashViewController::viewDidLoad() { ui::ViewController::viewDidLoad(); }

void SplashViewController::viewWillAppear(bool animated) {
    ui::ViewController::viewWillAppear(animated);
    double offset = BookCommon::getStatusbarHeight();
    const bool pad = BookCommon::getDeviceDisplayType() == 1;
    // The pad's pictures start below the status bar; the phone's lie under it.
    if (pad) offset = 0;
    const std::string name = launchImageName(
        pad, ui::isLandscape(ui::Application::shared().statusBarOrientation()), BookCommon::isDeviceType4inch());
    auto image = ui::Image::named(name);
    if (mainImageView_) mainImageView_->removeFromSuperview();
    mainImageView_ = std::make_shared<ui::ImageView>(image);
    const ui::Size size = image ? image->size() : ui::Size();
    mainImageView_->setFrame(ui::Rect(0, -offset, size.width, size.height));
    view()->addSubview(mainImageView_);
}
