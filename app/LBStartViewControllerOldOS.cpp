#include "app/LBStartViewControllerOldOS.h"

#include "app/NestlarkAppDelegate.h"
#include "platform/core/RunLoop.h"

LBStartViewControllerOldOS::LBStartViewControllerOldOS(std::weak_ptr<NestlarkAppDelegate> delegate)
    : delegate_(std::move(delegate)) {}

void LBStartViewControllerOldOS::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    view()->setBackgroundColor(ui::Color::rgb255(47, 188, 234));
}

void LBStartViewControllerOldOS::viewWillAppear(bool animated) {
    ui::ViewController::viewWillAppear(animated);
    if (!needSetWindowSize_) return;
    view()->setFrame(targetWindowSize_);
    hideStatusbar_ = true;
    setNeedsStatusBarAppearanceUpdate();
}

void LBStartViewControllerOldOS::viewDidAppear(bool animated) {
    ui::ViewController::viewDidAppear(animated);
    if (needSetWindowSize_) {
        hideStatusbar_ = false;
        setNeedsStatusBarAppearanceUpdate();
    }
    // The delegate replaces this screen, so not from within its own appearance.
    sys::RunLoop::main().post([d = delegate_] {
        if (auto delegate = d.lock()) delegate->startLBWindow();
    });
}
