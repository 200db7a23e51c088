#pragma once

#include "foundation/ui/PopupMenuViewDelegate.h"

#include <memory>

class PopupMenuView;
class Settings;
namespace ui {
class ViewController;
}

// The library's common tool bar on a screen pushed over the lists (the
// archive extract screen): the menu button opens a popup with About, Home
// and the media server; settings, brightness and the rotation lock act at
// once; the download button does nothing. The owner keeps this object and
// forwards its appearance and size changes.
class LibraryCommonToolbar : public PopupMenuViewDelegate, public std::enable_shared_from_this<LibraryCommonToolbar> {
public:
    static std::shared_ptr<LibraryCommonToolbar> create(std::weak_ptr<ui::ViewController> owner);
    ~LibraryCommonToolbar() override;

    void setSettings(std::shared_ptr<Settings> settings) { settings_ = std::move(settings); }
    // Puts the tool bar's items on the owner (after it has appeared).
    void setupToolbarItems(bool animated);
    // Closes an open popup (the owner disappears or changes size).
    void removePopup();
    PopupMenuView* popUpMenu() const { return popUpMenu_.get(); }

    void onPopupMenu();
    void onRemovePopup() override;
    void onAboutBtn();
    void onGoHomeBtn();
    void onMediaServerBtn();
    void onSettingsBtn();
    void onRotationLock();
    void onDownLoadBtn() {}

private:
    explicit LibraryCommonToolbar(std::weak_ptr<ui::ViewController> owner) : owner_(std::move(owner)) {}

    std::weak_ptr<ui::ViewController> owner_;
    std::shared_ptr<Settings> settings_;
    std::shared_ptr<PopupMenuView> popUpMenu_;
};
