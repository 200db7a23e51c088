#pragma once

#include "foundation/ui/LiquidGlassView.h"
#include "platform/ui/Button.h"
#include "platform/ui/Image.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/ViewController.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// The program's own tab container: up to five screens, one shown at a time,
// switched by tab buttons along the bottom in portrait and down the left in
// landscape, with a Close button that dismisses the whole container. It
// sends its screens their appearance calls itself (the shown one only).
class QNMultiViewController : public ui::ViewController {
public:
    static constexpr int kMaxTabs = 5;
    static constexpr double kBarHeight = 50.0;
    static constexpr double kColumnWidth = 64.0;
    static constexpr double kFadeDuration = 0.5;

    QNMultiViewController();

    // Adds a tab (a QNViewController or a QNTableViewController) and gives
    // it its back links. Five tabs at most: more are ignored.
    void addViewController(const std::shared_ptr<ui::ViewController>& child,
                           const std::shared_ptr<ui::ViewController>& parent,
                           const std::shared_ptr<ui::NavigationController>& navigationController, ui::ImageRef image,
                           const std::string& text);
    void addTableViewController(const std::shared_ptr<ui::ViewController>& child,
                                const std::shared_ptr<ui::ViewController>& parent,
                                const std::shared_ptr<ui::NavigationController>& navigationController,
                                ui::ImageRef image, const std::string& text);

    void onTabButton(ui::Button& button);
    void onChangeButtonOnStatus();
    void layoutItems(bool landscape);
    // Width and height each cut down to an even whole number.
    static ui::Rect roundImageViewRect(const ui::Rect& rect);

    // The navigation controller the container sits in (set by whoever builds
    // it; the one above it in the stack otherwise).
    ui::NavigationController* navigationController() const;
    void setNavigationController(const std::shared_ptr<ui::NavigationController>& n) { navigationController_ = n; }
    int64_t startTab() const { return startTab_; }
    void setStartTab(int64_t t) { startTab_ = t; }
    const std::optional<std::string>& closeButtonText() const { return closeButtonText_; }
    void setCloseButtonText(std::optional<std::string> t) { closeButtonText_ = std::move(t); }

    int64_t numbers() const { return numbers_; }
    int64_t selectedTab() const { return selectedTab_; }
    ui::ViewController* viewControllerAt(int index) const;
    ui::Button* tabButton(int index) const;
    ui::ImageView* tabButtonImage(int index) const;
    ui::Label* tabButtonText(int index) const;
    LiquidGlassView* baseView() const { return baseView_.get(); }
    // The colour a tab's icon and caption get when it is shown, and otherwise.
    static ui::Color selectedTabColor();
    static ui::Color unselectedTabColor();

    // --- ViewController ---
    void viewDidLoad() override;
    void viewDidLayoutSubviews() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    bool shouldAutomaticallyForwardAppearanceMethods() const override { return false; }

private:
    ui::ViewController* selectedChild() const;
    ui::View* buttonHost();
    void fadeBar(double alpha);
    bool newerLook() const { return newer_; }

    bool newer_ = false;
    std::shared_ptr<LiquidGlassView> baseView_;
    std::array<std::shared_ptr<ui::Button>, kMaxTabs> tabButtons_;
    std::array<std::shared_ptr<ui::ImageView>, kMaxTabs> tabButtonImage_;
    std::array<std::shared_ptr<ui::Label>, kMaxTabs> tabButtonText_;
    std::array<std::shared_ptr<ui::ViewController>, kMaxTabs> viewControllers_;
    std::array<ui::ImageRef, kMaxTabs> imageTab_;
    std::array<std::string, kMaxTabs> textTab_;
    int64_t numbers_ = 0;
    int64_t selectedTab_ = 0;
    std::weak_ptr<ui::NavigationController> navigationController_;
    int64_t startTab_ = 0;
    std::optional<std::string> closeButtonText_;
};
