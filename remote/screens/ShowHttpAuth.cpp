#include "remote/screens/ShowHttpAuth.h"

#include "foundation/BookCommon.h"
#include "foundation/QNKeyChain.h"
#include "platform/core/RunLoop.h"
#include "platform/core/UserDefaults.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/KeyCommand.h"
#include "platform/ui/Label.h"
#include "platform/ui/Touch.h"
#include "platform/ui/Window.h"

#include <algorithm>
#include <cmath>

namespace {

const ui::Color kButtonBlue = ui::Color::rgb(0, 0.478, 1);

// The dimmed cover: a tap on it outside the panel is a cancel. While it is
// up the keys go to it (and to the panel's field being edited) alone.
class AuthBackgroundView : public ui::View {
public:
    std::function<void(ui::Point)> onTap;
    std::function<void()> onCancel;
    std::function<std::vector<ui::KeyCommand>()> keys;
    bool isKeyOverlay() const override { return true; }
    std::vector<ui::KeyCommand> keyCommands() const override { return keys ? keys() : std::vector<ui::KeyCommand>{}; }
    void touchesEnded(const ui::TouchSet& touches, const ui::Event& event) override {
        if (!touches.empty() && onTap) onTap((*touches.begin())->locationInWindow());
        ui::View::touchesEnded(touches, event);
    }
};

std::shared_ptr<ui::Label> makeLabel(const std::string& text, ui::Rect frame, ui::TextAlignment align) {
    auto l = std::make_shared<ui::Label>();
    l->setFrame(frame);
    l->setText(text);
    l->setTextColor(ui::Color::rgb(0, 0, 0));
    l->setTextAlignment(align);
    return l;
}

std::shared_ptr<ui::Button> makePanelButton(const std::string& title, ui::Rect frame) {
    auto b = std::make_shared<ui::Button>(ui::ButtonType::Custom);
    b->setFrame(frame);
    b->setTitle(BookCommon::localizedStringWithOnOff(title));
    b->setBackgroundImage(ui::Image::named("button_220x38f"));
    b->setBackgroundImage(ui::Image::named("button_220x38f_on"), ui::ControlStateHighlighted);
    b->setTitleColor(kButtonBlue);
    b->setTitleColor(ui::Color::rgb(1, 1, 1), ui::ControlStateHighlighted);
    return b;
}

}  // namespace

ShowHttpAuth::ShowHttpAuth() = default;

ShowHttpAuth::~ShowHttpAuth() {
    if (bkgndView_) bkgndView_->removeFromSuperview();
}

ui::View* ShowHttpAuth::backgroundView() const { return bkgndView_.get(); }

bool ShowHttpAuth::cancelPanelCoveredBy(ui::View& view) {
    auto* cover = dynamic_cast<AuthBackgroundView*>(&view);
    if (!cover || !cover->onCancel) return false;
    cover->onCancel();
    return true;
}
ui::View* ShowHttpAuth::inputArea() const { return inputArea_.get(); }

void ShowHttpAuth::setRefusedCredentials(const std::optional<std::string>& user,
                                         const std::optional<std::string>& password) {
    refusedUser_ = user;
    refusedPassword_ = password;
}

void ShowHttpAuth::rememberAccepted(const std::string& url, const std::string& user, const std::string& password) {
    QNKeyChain::addOrUpdateAccountWithURL(url, user, password);
}

void ShowHttpAuth::forgetRefusedSitePassword(const std::string& siteID, const std::optional<std::string>& refused) {
    if (siteID.empty() || !refused) return;
    if (refused == QNKeyChain::getPasswordWithAccount(siteID, std::string(kSitePasswordService)))
        QNKeyChain::deletePasswordWithAccount(siteID, kSitePasswordService);
}

void ShowHttpAuth::getUserAuth(const std::string& url, const std::optional<std::string>& defaultUserName,
                               bool isPrevStoredAccount, bool dontUseStoredAccount,
                               const std::shared_ptr<ShowHttpAuthDelegate>& delegate) {
    const sys::PlistValue remember = sys::UserDefaults::standard().objectForKey(kRememberPasswordKey);
    isRememberPassword_ = remember.isBool() ? remember.boolValue() : true;
    delegate_ = delegate;
    defaultUserName_ = defaultUserName;
    url_ = url;
    answered_ = false;
    rememberAnswer_ = false;
    if (!dontUseStoredAccount) {
        QNKeyChain::OptString user, password;
        if (!isPrevStoredAccount) QNKeyChain::getAccountWithURL(url, &user, &password);
        // What the server has just refused is what the key chain keeps: the
        // same refused remembered entry.
        const bool storedRefused = user && password && refusedPassword_ && user == refusedUser_.value_or("") &&
                                   password == refusedPassword_;
        if (isPrevStoredAccount || storedRefused) {
            // The server has just refused what the key chain gave: forget the
            // entry that was found for this URL (it may belong to a folder
            // above it).
            QNKeyChain::deleteAccountWithURL(url);
        } else {
            if (user && password) {
                sys::RunLoop::main().post(
                    [weak = weak_from_this(), user, password] {
                        if (auto self = weak.lock()) self->callFinishInput(user, password, true);
                    });
                return;
            }
        }
    }
    showPanel();
}

void ShowHttpAuth::showPanel() {
    ui::Window* window = ui::Application::shared().keyWindow();
    if (!window) {
        // Nowhere to ask: as if the user cancelled.
        sys::RunLoop::main().post([weak = weak_from_this()] {
            if (auto self = weak.lock()) self->callFinishInput(std::nullopt, std::nullopt, false);
        });
        return;
    }
    auto bg = std::make_shared<AuthBackgroundView>();
    bg->setBackgroundColor(ui::Color::rgb(0, 0, 0.3137255, 0.7));
    bg->setAlpha(0);
    std::weak_ptr<ShowHttpAuth> weak = weak_from_this();
    bg->onTap = [weak](ui::Point p) {
        if (auto self = weak.lock()) self->onTapBackGround(p);
    };
    bg->onCancel = [weak] {
        if (auto self = weak.lock()) self->onCancelBtn();
    };
    bg->keys = [weak] {
        auto self = weak.lock();
        return self ? self->panelKeys() : std::vector<ui::KeyCommand>{};
    };
    bkgndView_ = bg;

    inputArea_ = std::make_shared<ui::ImageView>(ui::Image::named("auth_bk_ask"));
    inputArea_->setFrame(ui::Rect(0, 0, 320, 190));
    inputArea_->setUserInteractionEnabled(true);
    bkgndView_->addSubview(inputArea_);

    labelText_ = makeLabel(BookCommon::localizedStringWithOnOff("Authentication Required.\n\n%@"), ui::Rect(0, 30, 320, 60),
                           ui::TextAlignment::Center);
    {
        std::string text = labelText_->text();
        size_t at = text.find("%@");
        if (at != std::string::npos) text.replace(at, 2, url_);
        labelText_->setText(text);
    }
    labelText_->setNumberOfLines(0);
    inputArea_->addSubview(labelText_);

    btnInputStart_ = makePanelButton("Enter Password", ui::Rect(50, 100, 220, 38));
    btnInputStart_->addAction(ui::ControlEventTouchUpInside, [weak](ui::Control&) {
        if (auto self = weak.lock()) self->onInputStartBtn();
    });
    inputArea_->addSubview(btnInputStart_);
    btnCancel_ = makePanelButton("Cancel", ui::Rect(50, 145, 220, 38));
    btnCancel_->addAction(ui::ControlEventTouchUpInside, [weak](ui::Control&) {
        if (auto self = weak.lock()) self->onCancelBtn();
    });
    inputArea_->addSubview(btnCancel_);

    window->addSubview(bkgndView_);
    configPositions();
    auto view = bkgndView_;
    ui::View::animate(0.3, [view] { view->setAlpha(1.0); });
    BookCommon::addGlobalRotationNotifyObject(shared_from_this());
    observing_ = true;
}

std::vector<ui::KeyCommand> ShowHttpAuth::panelKeys() {
    std::weak_ptr<ShowHttpAuth> weak = weak_from_this();
    auto on = [weak](void (ShowHttpAuth::*act)()) {
        return [weak, act](const ui::KeyCommand&) {
            if (auto self = weak.lock()) ((*self).*act)();
        };
    };
    std::vector<ui::KeyCommand> keys{ui::KeyCommand::make(ui::KeyInput::escape, 0, on(&ShowHttpAuth::onCancelBtn))};
    if (!btnInputStart_) return keys;
    for (const char* k : {ui::KeyInput::downArrow, ui::KeyInput::upArrow, ui::KeyInput::tab})
        keys.push_back(ui::KeyCommand::make(k, 0, on(&ShowHttpAuth::moveKeyHighlight)));
    keys.push_back(ui::KeyCommand::make(ui::KeyInput::tab, ui::KeyModifierShift, on(&ShowHttpAuth::moveKeyHighlight)));
    keys.push_back(ui::KeyCommand::make(ui::KeyInput::returnKey, 0, [weak](const ui::KeyCommand&) {
        auto self = weak.lock();
        if (!self) return;
        if (self->keyButton_ && self->keyButton_ == self->btnCancel_.get()) self->onCancelBtn();
        else self->onInputStartBtn();
    }));
    return keys;
}

void ShowHttpAuth::moveKeyHighlight() {
    if (!btnInputStart_ || !btnCancel_) return;
    // Two buttons: every move goes to the other one (from none, the first).
    keyButton_ = keyButton_ == btnInputStart_.get() ? btnCancel_.get() : btnInputStart_.get();
    btnInputStart_->setHighlighted(keyButton_ == btnInputStart_.get());
    btnCancel_->setHighlighted(keyButton_ == btnCancel_.get());
}

void ShowHttpAuth::onInputStartBtn() {
    if (!inputArea_) return;
    keyButton_ = nullptr;
    labelText_->removeFromSuperview();
    btnInputStart_->removeFromSuperview();
    btnCancel_->removeFromSuperview();
    labelText_.reset();
    btnInputStart_.reset();
    btnCancel_.reset();
    inputArea_->setImage(ui::Image::named("auth_bk_input"));

    labelUsername_ = makeLabel(BookCommon::localizedStringWithOnOff("Username"), ui::Rect(0, 35, 100, 25),
                               ui::TextAlignment::Right);
    labelPassword_ = makeLabel(BookCommon::localizedStringWithOnOff("Password"), ui::Rect(0, 75, 100, 25),
                               ui::TextAlignment::Right);
    inputArea_->addSubview(labelUsername_);
    inputArea_->addSubview(labelPassword_);

    auto field = [this](ui::Rect frame) {
        auto f = std::make_shared<ui::TextField>();
        f->setFrame(frame);
        f->setTextColor(ui::Color::rgb(0, 0, 0));
        f->setBackgroundColor(ui::Color());
        f->setKeyboardType(1);  // 7-bit characters only
        // Escape in a field cancels the panel at once, as a dialog's does.
        f->setLeavesOnEscape(false);
        f->setDelegate(this);
        inputArea_->addSubview(f);
        return f;
    };
    textFldUsername_ = field(ui::Rect(110, 35, 180, 25));
    textFldUsername_->setReturnKeyType(ui::ReturnKeyType::Next);
    textFldUsername_->setText(defaultUserName_.value_or(""));
    textFldPassword_ = field(ui::Rect(110, 75, 180, 25));
    textFldPassword_->setSecureTextEntry(true);
    textFldPassword_->setReturnKeyType(ui::ReturnKeyType::Done);

    btnRememberPassword_ = std::make_shared<ui::Button>(ui::ButtonType::Custom);
    btnRememberPassword_->setFrame(ui::Rect(12, 120, 297, 40));
    btnRememberPassword_->setTitle(BookCommon::localizedStringWithOnOff("Remember My Password"));
    btnRememberPassword_->setBackgroundImage(ui::Image::named("askpassword_highlighted"), ui::ControlStateHighlighted);
    btnRememberPassword_->setTitleColor(ui::Color::rgb(0, 0, 0), ui::ControlStateHighlighted);
    std::weak_ptr<ShowHttpAuth> weak = weak_from_this();
    btnRememberPassword_->addAction(ui::ControlEventTouchUpInside, [weak](ui::Control&) {
        if (auto self = weak.lock()) self->onBtnRememberPassword();
    });
    inputArea_->addSubview(btnRememberPassword_);
    onChangePasswordRememberStatus();

    if (defaultUserName_ && !defaultUserName_->empty()) {
        textFldPassword_->becomeFirstResponder();
    } else {
        textFldUsername_->becomeFirstResponder();
    }
}

void ShowHttpAuth::onBtnRememberPassword() {
    isRememberPassword_ = !isRememberPassword_;
    onChangePasswordRememberStatus();
    sys::UserDefaults::standard().setBool(isRememberPassword_, kRememberPasswordKey);
    sys::UserDefaults::standard().synchronize();
}

void ShowHttpAuth::onChangePasswordRememberStatus() {
    if (!btnRememberPassword_) return;
    if (isRememberPassword_) {
        btnRememberPassword_->setTitleColor(ui::Color::rgb(1, 1, 1));
        btnRememberPassword_->setBackgroundImage(ui::Image::named("askpassword_selected"));
    } else {
        btnRememberPassword_->setTitleColor(kButtonBlue);
        btnRememberPassword_->setBackgroundImage(ui::Image::named("askpassword_normal"));
    }
}

bool ShowHttpAuth::textFieldShouldReturn(ui::TextField& field) {
    if (&field == textFldUsername_.get()) {
        textFldPassword_->becomeFirstResponder();
        return true;
    }
    if (&field == textFldPassword_.get()) {
        const std::string user = textFldUsername_->text();
        const std::string password = textFldPassword_->text();
        // Remembered only once the server has taken it (the client's
        // rememberAccepted()).
        rememberAnswer_ = isRememberPassword_;
        auto keep = shared_from_this();
        removePanel();
        callFinishInput(user, password, false);
    }
    return true;
}

void ShowHttpAuth::onCancelBtn() {
    auto keep = shared_from_this();
    removePanel();
    callFinishInput(std::nullopt, std::nullopt, false);
}

void ShowHttpAuth::onTapBackGround(ui::Point inWindow) {
    if (!inputArea_ || !bkgndView_) return;
    ui::Rect panel = inputArea_->frame();
    ui::Point p{inWindow.x - bkgndView_->frame().x(), inWindow.y - bkgndView_->frame().y()};
    if (p.x >= panel.x() && p.x < panel.x() + panel.width() && p.y >= panel.y() && p.y < panel.y() + panel.height()) {
        // A click on a field's name gives that field the keyboard.
        auto on = [inWindow](const std::shared_ptr<ui::Label>& label) {
            return label && ui::rectContainsPoint(label->convertRectTo(label->bounds(), nullptr), inWindow);
        };
        if (on(labelUsername_) && textFldUsername_) textFldUsername_->becomeFirstResponder();
        else if (on(labelPassword_) && textFldPassword_) textFldPassword_->becomeFirstResponder();
        return;
    }
    onCancelBtn();
}

void ShowHttpAuth::removePanel() {
    if (observing_) {
        BookCommon::removeGlobalRotationNotifyObject(shared_from_this());
        observing_ = false;
    }
    if (textFldUsername_) textFldUsername_->resignFirstResponder();
    if (textFldPassword_) textFldPassword_->resignFirstResponder();
    if (bkgndView_) bkgndView_->removeFromSuperview();
    bkgndView_.reset();
    inputArea_.reset();
    btnCancel_.reset();
    btnInputStart_.reset();
    keyButton_ = nullptr;
    labelText_.reset();
    labelUsername_.reset();
    labelPassword_.reset();
    textFldUsername_.reset();
    textFldPassword_.reset();
    btnRememberPassword_.reset();
}

void ShowHttpAuth::callFinishInput(const std::optional<std::string>& user, const std::optional<std::string>& password,
                                   bool stored) {
    if (answered_) return;
    answered_ = true;
    if (auto d = delegate_.lock()) d->onFinishInput(url_, user, password, stored);
}

void ShowHttpAuth::configPositions() {
    if (!bkgndView_ || !inputArea_) return;
    ui::Rect app = bkgndView_->superview() ? bkgndView_->superview()->bounds() : ui::Rect();
    const bool landscape = app.width() > app.height();
    gfx::Rect screen = BookCommon::getScreenRect();
    double w = screen.width(), h = screen.height();
    if (landscape) std::swap(w, h);
    bkgndView_->setFrame(ui::Rect(screen.x(), screen.y(), w, h));
    double top;
    if (BookCommon::getDeviceDisplayType() == 1) {
        top = landscape ? std::floor(screen.width() * 200.0 / 768.0) : std::floor(screen.height() * 300.0 / 1024.0);
    } else {
        top = landscape ? 100 : 200;
    }
    ui::Rect panel = inputArea_->frame();
    // A window too low for the panel there (a desktop's window made small)
    // has it in its middle, whole.
    if (!app.size.isEmpty() && top + panel.height() > app.height())
        top = std::max(0.0, std::floor((app.height() - panel.height()) / 2));
    inputArea_->setFrame(ui::Rect(std::floor((w - panel.width()) / 2), top, panel.width(), panel.height()));
}

void ShowHttpAuth::willRotationnotify(int interfaceOrientation) {
    pendingOrientation_ = interfaceOrientation;
    configPositions();
}

void ShowHttpAuth::willRotationnotify_iOS8() { configPositions(); }
