#pragma once

#include "foundation/GlobalRotationEventNofityObjectDelegate.h"
#include "platform/ui/TextField.h"
#include "remote/screens/ShowHttpAuthDelegate.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ui {
class Button;
class ImageView;
class Label;
class View;
}  // namespace ui

// Asks for a user name and password when a server wants them, over a dimmed
// panel of its own laid on the key window (it is not a screen of its own).
// Remembered credentials come from the key chain without any panel; a
// refused remembered entry is deleted and the panel asks. The "Remember My
// Password" switch is kept in the user default "isRememberPassword".
//
// A typed answer is not written to the key chain by the panel: the client
// keeps it (rememberAnswer()) and calls rememberAccepted() once the server
// has taken it, so that a wrong password is never remembered.
//
// The client keeps the object until the answer. While the panel is up it is
// one of BookCommon's rotation observers and lays itself out again on turns.
class ShowHttpAuth : public GlobalRotationEventNofityObjectDelegate,
                     public ui::TextFieldDelegate,
                     public std::enable_shared_from_this<ShowHttpAuth> {
public:
    static constexpr const char* kRememberPasswordKey = "isRememberPassword";
    // Key-chain service of the stored sites' own passwords (account: the site's id).
    static constexpr const char* kSitePasswordService = "MediaServer";

    ShowHttpAuth();
    ~ShowHttpAuth() override;

    // The credentials the server has just refused, when the client knows
    // them: should the key chain give exactly these, they are the refused
    // remembered entry (deleted, and the panel asks) even when the client
    // did not know they came from there. Set before getUserAuth.
    void setRefusedCredentials(const std::optional<std::string>& user, const std::optional<std::string>& password);

    // The delegate is not retained.
    void getUserAuth(const std::string& url, const std::optional<std::string>& defaultUserName,
                     bool isPrevStoredAccount, bool dontUseStoredAccount,
                     const std::shared_ptr<ShowHttpAuthDelegate>& delegate);

    void willRotationnotify(int interfaceOrientation) override;
    void willRotationnotify_iOS8() override;
    bool textFieldShouldReturn(ui::TextField& field) override;

    // The panel's parts while shown (null otherwise), for the layout and tests.
    ui::View* backgroundView() const;
    ui::View* inputArea() const;
    ui::TextField* userNameField() const { return textFldUsername_.get(); }
    ui::TextField* passwordField() const { return textFldPassword_.get(); }
    ui::Button* rememberButton() const { return btnRememberPassword_.get(); }
    bool isRememberPassword() const { return isRememberPassword_; }
    bool isShown() const { return bkgndView_ != nullptr; }
    // Whether the answer given was typed with "Remember My Password" on: the
    // client remembers it once the server accepts it.
    bool rememberAnswer() const { return rememberAnswer_; }
    // Remembers credentials the server accepted for the URL.
    static void rememberAccepted(const std::string& url, const std::string& user, const std::string& password);
    // A stored site's own password its server has just refused (`refused`,
    // what was sent): forgotten, so that nothing sends it again. Nothing
    // happens when the site keeps another one.
    static void forgetRefusedSitePassword(const std::string& siteID, const std::optional<std::string>& refused);
    // Answers the panel whose dimmed cover `view` is as its Cancel would;
    // false for any other view.
    static bool cancelPanelCoveredBy(ui::View& view);

    // The orientation the panel was last told about (0 before any rotation).
    int pendingOrientation() const { return pendingOrientation_; }

private:
    void showPanel();
    void onInputStartBtn();
    void onCancelBtn();
    void onBtnRememberPassword();
    void onChangePasswordRememberStatus();
    void onTapBackGround(ui::Point inWindow);
    void callFinishInput(const std::optional<std::string>& user, const std::optional<std::string>& password,
                         bool stored);
    void removePanel();
    void configPositions();
    // The keys while the panel is up: Escape cancels; before the fields are
    // asked for, the arrows and Tab move a highlight between the two
    // buttons and Return presses it (with none, "Enter Password").
    std::vector<ui::KeyCommand> panelKeys();
    void moveKeyHighlight();

    std::string url_;
    std::shared_ptr<ui::View> bkgndView_;
    std::shared_ptr<ui::ImageView> inputArea_;
    std::shared_ptr<ui::Button> btnCancel_, btnInputStart_;
    ui::Button* keyButton_ = nullptr;  // the button the keys highlighted
    std::shared_ptr<ui::Label> labelText_, labelUsername_, labelPassword_;
    std::shared_ptr<ui::TextField> textFldUsername_, textFldPassword_;
    std::shared_ptr<ui::Button> btnRememberPassword_;
    std::weak_ptr<ShowHttpAuthDelegate> delegate_;
    bool isRememberPassword_ = true;
    bool observing_ = false;
    bool answered_ = false;
    bool rememberAnswer_ = false;
    std::optional<std::string> refusedUser_, refusedPassword_;
    std::optional<std::string> defaultUserName_;
    int pendingOrientation_ = 0;
};
