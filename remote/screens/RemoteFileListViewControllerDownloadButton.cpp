// The remote list's floating download button: picking rows for download,
// its title and place, and the on-screen keyboard it stays clear of.
#include "remote/screens/RemoteFileListViewController.h"

#include "foundation/BookCommon.h"
#include "foundation/Settings.h"
#include "platform/core/NotificationCenter.h"
#include "platform/ui/Button.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Window.h"

#include <algorithm>

namespace {

std::string tr(const std::string& key) { return BookCommon::localizedStringWithOnOff(key); }

}  // namespace

bool RemoteFileListViewController::isSelectedWithIndexNo(int64_t index) {
    if (!settings() || !settings()->isMultipleSelectDownload()) return false;
    const auto& items = itemList();
    return index >= 0 && index < int64_t(items.size()) && items[size_t(index)]->isSelected();
}

bool RemoteFileListViewController::isSelectDownloadMode() {
    if (isStreamingMode()) return false;
    return settings() && settings()->isMultipleSelectDownload();
}

void RemoteFileListViewController::onSetSearchString(const std::string& text) {
    FilelistBaseViewController::onSetSearchString(text);
    updateDownloadButtonStatus();
}

void RemoteFileListViewController::onRotateView(bool landscape) {
    setDownloadButtonRect(landscape);
    FilelistBaseViewController::onRotateView(landscape);
}

void RemoteFileListViewController::updateDownloadButtonStatus() {
    if (!downloadButton_) return;
    size_t n = 0;
    for (const auto& item : itemList()) n += item->isSelected() ? 1 : 0;
    std::string title = tr("Download Selected File");
    if (n >= 2) {
        title = tr("Download %ld Files");
        if (auto at = title.find("%ld"); at != std::string::npos) title.replace(at, 3, std::to_string(n));
    }
    downloadButton_->setTitle(title);
    auto button = downloadButton_;
    if (n >= 1 && button->alpha() < 0.1) ui::View::animate(0.2, [button] { button->setAlpha(1); });
    else if (n == 0) ui::View::animate(0.2, [button] { button->setAlpha(0); });
}

void RemoteFileListViewController::deselectDownloadAndHideDownloadButton() {
    if (downloadButton_) {
        auto button = downloadButton_;
        ui::View::animate(0.2, [button] { button->setAlpha(0); });
    }
    for (auto& item : remoteItemList_) item->setIsSelected(false);
}

void RemoteFileListViewController::setDownloadButtonRect(bool landscape) {
    if (!downloadButton_) return;
    const double W = BookCommon::getScreenWidth();
    const double H = BookCommon::getScreenHeight();
    auto* nav = navigationController();
    const ui::EdgeInsets in = nav ? nav->view()->safeAreaInsets() : ui::EdgeInsets();
    const bool pad = BookCommon::getDeviceDisplayType() == 1;
    ui::Rect r;
    if (isKeyboard_) {
        // Full width, right on top of the keyboard, so the selection can be
        // sent while typing a search.
        r = {0, (landscape ? W : H) - 50 - keyboardRect_.height(), landscape ? H : W, 50};
    } else if (landscape) {
        r = {in.left + 20, W - in.bottom - (pad ? 130 : 90), H - in.left - in.right - 40, 50};
    } else {
        const double m = BookCommon::isDeviceType5_5inch() ? 40 : 20;
        r = {in.left + m, H - in.bottom - (pad ? 135 : 115), W - 2 * m, 65};
    }
    downloadButton_->setFrame(r);
}

void RemoteFileListViewController::keepKeyboardFrame(const sys::Notification& n, bool shown) {
    auto it = n.userInfo.find(ui::Keyboard::frameEndKey);
    if (it != n.userInfo.end())
        if (const auto* r = std::any_cast<ui::Rect>(&it->second)) keyboardRect_ = *r;
    isKeyboard_ = shown;
    setDownloadButtonRect(isLandscapeNow());
}

bool RemoteFileListViewController::isLandscapeNow() {
    // The window this screen is in knows its shape right after a turn.
    if (isViewLoaded())
        if (const ui::Window* w = view()->window()) return w->bounds().width() > w->bounds().height();
    return BookCommon::isLandscapeSwitchOSVersionWithViewController();
}

void RemoteFileListViewController::keyboardWillShow(const sys::Notification& n) { keepKeyboardFrame(n, true); }

void RemoteFileListViewController::keyboardWillHide(const sys::Notification& n) { keepKeyboardFrame(n, false); }

void RemoteFileListViewController::observeKeyboard(bool on) {
    auto& center = sys::NotificationCenter::defaultCenter();
    if (!on) {
        if (keyboardShowToken_) center.removeObserver(*keyboardShowToken_);
        if (keyboardHideToken_) center.removeObserver(*keyboardHideToken_);
        keyboardShowToken_.reset();
        keyboardHideToken_.reset();
        return;
    }
    if (keyboardShowToken_) return;
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    keyboardShowToken_ = center.addObserver(ui::Keyboard::willShowNotification, [weak](const sys::Notification& n) {
        if (auto self = std::dynamic_pointer_cast<RemoteFileListViewController>(weak.lock())) self->keyboardWillShow(n);
    });
    keyboardHideToken_ = center.addObserver(ui::Keyboard::willHideNotification, [weak](const sys::Notification& n) {
        if (auto self = std::dynamic_pointer_cast<RemoteFileListViewController>(weak.lock())) self->keyboardWillHide(n);
    });
}
