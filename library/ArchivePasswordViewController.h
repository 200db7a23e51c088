#pragma once

#include "library/ArchivePasswordViewControllerDelegate.h"
#include "platform/ui/Label.h"
#include "platform/ui/TextField.h"
#include "platform/ui/ViewController.h"

#include <memory>

// Asks for the password of an encrypted archive. The opener pushes it after
// an open or an extraction failed for want of a password; Return pops the
// screen and hands the text to the delegate, which retries with it. Going
// back with the bar's back button hands nothing. The field shows the text as
// typed: archive passwords are often long and copied from elsewhere.
class ArchivePasswordViewController : public ui::ViewController {
public:
    static constexpr double kMaxFieldWidth = 600.0;

    ArchivePasswordViewController() = default;

    std::shared_ptr<ArchivePasswordViewControllerDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<ArchivePasswordViewControllerDelegate> d) { delegate_ = std::move(d); }
    // The previous attempt used a password that did not open the archive.
    // Set before the screen loads.
    bool isPasswordRetry() const { return isPasswordRetry_; }
    void setIsPasswordRetry(bool on) { isPasswordRetry_ = on; }

    ui::Label* label_() const { return label_value_.get(); }
    ui::TextField* textField_() const { return textField_value_.get(); }

    // Lays out the field and the prompt for a view of `size`.
    void configItemPosNew(ui::Size size);
    // Return in the field: close and report.
    void inputExit();

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillTransitionToSize(ui::Size size, const std::shared_ptr<ui::TransitionCoordinator>& coordinator) override;

private:
    std::weak_ptr<ArchivePasswordViewControllerDelegate> delegate_;
    bool isPasswordRetry_ = false;
    bool finished_ = false;
    std::shared_ptr<ui::Label> label_value_;
    std::shared_ptr<ui::TextField> textField_value_;
};
