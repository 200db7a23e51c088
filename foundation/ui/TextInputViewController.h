#pragma once

#include "foundation/ui/TextInputViewDelegate.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/TextField.h"
#include "platform/ui/ViewController.h"

#include <any>
#include <cstdint>
#include <memory>
#include <string>

// Edits one line of text under a caption. When editing ends with a changed
// text the delegate decides whether the screen closes; an unchanged text
// leaves it open. Presented modally it has a Cancel button.
class TextInputViewController : public ui::ViewController, public ui::TextFieldDelegate {
public:
    static constexpr double kMaxFieldWidth = 600.0;
    // Room between the field's border and its text.
    static constexpr double kTextInset = 6.0;

    TextInputViewController() = default;

    void configItemPosNew(ui::Size size);
    void textFieldDidEnd(ui::TextField& field);
    void cancelInput();

    ui::Label* titleLabel_() const { return titleLabel_value_.get(); }
    ui::TextField* textField_() const { return textField_value_.get(); }
    ui::Button* cancelButton() const { return cancelButton_.get(); }
    const std::string& textLabel_() const { return textLabel_value_; }
    void setTextLabel_(const std::string& t) { textLabel_value_ = t; }
    const std::string& textToEdit_() const { return textToEdit_value_; }
    void setTextToEdit_(const std::string& t) { textToEdit_value_ = t; }
    std::shared_ptr<TextInputViewDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<TextInputViewDelegate> d) { delegate_ = std::move(d); }
    bool isModalView_() const { return isModalView_value_; }
    void setIsModalView_(bool on) { isModalView_value_ = on; }
    int64_t keybordType_() const { return keybordType_value_; }
    void setKeybordType_(int64_t t) { keybordType_value_ = t; }
    int64_t userTag() const { return userTag_; }
    void setUserTag(int64_t t) { userTag_ = t; }
    const std::any& userInfo() const { return userInfo_; }
    void setUserInfo(std::any i) { userInfo_ = std::move(i); }
    bool isClosing() const { return closing_; }

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillTransitionToSize(ui::Size size, const std::shared_ptr<ui::TransitionCoordinator>& coordinator) override;
    bool textFieldShouldReturn(ui::TextField& field) override;
    // Escape answers as Cancel when presented (pushed, it goes back as Back
    // does): either way what was typed is not offered.
    std::vector<ui::KeyCommand> keyCommands() const override;

private:
    void close();

    std::shared_ptr<ui::Label> titleLabel_value_;
    std::shared_ptr<ui::TextField> textField_value_;
    std::shared_ptr<ui::Button> cancelButton_;
    std::string textLabel_value_;
    std::string textToEdit_value_;
    std::weak_ptr<TextInputViewDelegate> delegate_;
    bool isModalView_value_ = false;
    int64_t keybordType_value_ = 0;
    int64_t userTag_ = 0;
    std::any userInfo_;
    bool closing_ = false;
};
