#pragma once

#include "platform/ui/ViewController.h"

#include <memory>

class NestlarkAppDelegate;

// The start screen of a launch with a saved rotation lock: the brand colour
// at the locked window's size, handing over as soon as it is on screen,
// with no animation and no notice.
class LBStartViewControllerOldOS : public ui::ViewController {
public:
    explicit LBStartViewControllerOldOS(std::weak_ptr<NestlarkAppDelegate> delegate);

    bool prefersStatusBarHidden() const override { return hideStatusbar_; }
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;

    bool needSetWindowSize() const { return needSetWindowSize_; }
    void setNeedSetWindowSize(bool on) { needSetWindowSize_ = on; }
    ui::Rect targetWindowSize() const { return targetWindowSize_; }
    void setTargetWindowSize(const ui::Rect& r) { targetWindowSize_ = r; }

private:
    std::weak_ptr<NestlarkAppDelegate> delegate_;
    bool hideStatusbar_ = false;
    bool needSetWindowSize_ = false;
    ui::Rect targetWindowSize_;
};
