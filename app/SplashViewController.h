#pragma once

#include "platform/ui/ViewController.h"

#include <memory>
#include <string>

namespace ui {
class ImageView;
}

// A plain launch-picture screen: the picture for the device and the way the
// screen is turned, at its own size from the top left corner, drawn under
// the status bar on a phone.
class SplashViewController : public ui::ViewController {
public:
    SplashViewController() = default;

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;

    // The picture's name for a pad (`pad`) turned landscape or not, or a
    // phone with a 4-inch screen or not.
    static std::string launchImageName(bool pad, bool landscape, bool fourInch);
    const std::shared_ptr<ui::ImageView>& mainImageView() const { return mainImageView_; }

private:
    std::shared_ptr<ui::ImageView> mainImageView_;
};
