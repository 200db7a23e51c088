#include "library/LibraryCommonToolbar.h"

#include "foundation/BookCommon.h"
#include "foundation/ui/AboutViewControllerEx.h"
#include "foundation/ui/PopupMenuView.h"
#include "library/LibraryServices.h"
#include "library/LocalFilelistViewController.h"
#include "library/LibraryToolbar.h"
#include "platform/core/DeviceProfile.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Toolbar.h"
#include "viewer/BrightnessSetting.h"

std::shared_ptr<LibraryCommonToolbar> LibraryCommonToolbar::create(std::weak_ptr<ui::ViewController> owner) {
    return std::shared_ptr<LibraryCommonToolbar>(new LibraryCommonToolbar(std::move(owner)));
}

LibraryCommonToolbar::~LibraryCommonToolbar() {
    if (popUpMenu_) popUpMenu_->setDelegate(nullptr);
}

void LibraryCommonToolbar::setupToolbarItems(bool animated) {
    auto owner = owner_.lock();
    if (!owner) return;
    std::weak_ptr<LibraryCommonToolbar> weak = weak_from_this();
    auto call = [weak](void (LibraryCommonToolbar::*fn)()) {
        return [weak, fn](ui::BarButtonItem&) {
            if (auto self = weak.lock()) ((*self).*fn)();
        };
    };
    auto items = LibraryToolbar::items(
        BookCommon::arrayGetToolbarButtonItems(std::nullopt, false),
        [&](ToolbarItemModel::Action a) -> ui::BarButtonItem::Action {
            using Action = ToolbarItemModel::Action;
            switch (a) {
            case Action::PopupMenu: return call(&LibraryCommonToolbar::onPopupMenu);
            case Action::Settings: return call(&LibraryCommonToolbar::onSettingsBtn);
            case Action::RotationLock: return call(&LibraryCommonToolbar::onRotationLock);
            case Action::Download: return call(&LibraryCommonToolbar::onDownLoadBtn);
            case Action::Brightness: {
                // Not over an open popup.
                auto brightness = BrightnessSetting::toolbarAction(owner_);
                return [weak, brightness](ui::BarButtonItem& item) {
                    auto self = weak.lock();
                    if (self && !self->popUpMenu_ && brightness) brightness(item);
                };
            }
            default: return {};
            }
        });
    owner->setToolbarItems(items, animated);
}

void LibraryCommonToolbar::removePopup() {
    if (popUpMenu_) popUpMenu_->removePopup();
}

void LibraryCommonToolbar::onPopupMenu() {
    auto owner = owner_.lock();
    auto* nav = owner ? owner->navigationController() : nullptr;
    if (popUpMenu_ || !nav) return;
    popUpMenu_ = std::make_shared<PopupMenuView>();
    popUpMenu_->setDelegate(this);
    std::weak_ptr<LibraryCommonToolbar> weak = weak_from_this();
    auto call = [weak](void (LibraryCommonToolbar::*fn)()) {
        return [weak, fn] {
            if (auto self = weak.lock()) ((*self).*fn)();
        };
    };
    popUpMenu_->addItem("About", ui::Image::named("toolbar_infomation_w"), call(&LibraryCommonToolbar::onAboutBtn));
    popUpMenu_->addItem("Home", ui::Image::named("toolbar_home_w"), call(&LibraryCommonToolbar::onGoHomeBtn));
    popUpMenu_->addItem(BookCommon::localizedStringWithOnOff("Starting the MediaServer"),
                        ui::Image::named("toolbar_mediaserver_w"), call(&LibraryCommonToolbar::onMediaServerBtn));
    popUpMenu_->popUpFromToolbar(*nav, *owner->view());
}

void LibraryCommonToolbar::onRemovePopup() {
    popUpMenu_.reset();
    auto owner = owner_.lock();
    if (auto* nav = owner ? owner->navigationController() : nullptr) nav->setInteractivePopEnabled(true);
}

void LibraryCommonToolbar::onAboutBtn() {
    auto owner = owner_.lock();
    if (auto* nav = owner ? owner->navigationController() : nullptr)
        nav->pushViewController(std::make_shared<AboutViewControllerEx>(), true);
}

void LibraryCommonToolbar::onGoHomeBtn() {
    auto owner = owner_.lock();
    if (auto* nav = owner ? owner->navigationController() : nullptr) nav->popToRootViewController(true);
}

void LibraryCommonToolbar::onMediaServerBtn() {
    auto services = LibraryServices::installed();
    auto owner = owner_.lock();
    auto* nav = owner ? owner->navigationController() : nullptr;
    if (!services || !nav) return;
    if (auto screen = services->makeMediaServerViewController(settings_)) nav->pushViewController(screen, true);
}

void LibraryCommonToolbar::onSettingsBtn() {
    if (popUpMenu_) return;
    auto services = LibraryServices::installed();
    auto owner = owner_.lock();
    auto* nav = owner ? owner->navigationController() : nullptr;
    if (!services || !nav) return;
    auto screen = services->makeSettingViewController(settings_, 0);
    if (!screen) return;
    nav->pushViewController(screen, true);
    // The libraries under this list show the changed settings when they are back in front.
    LocalFilelistViewController::setNeedUpdateFlag(nav);
}

void LibraryCommonToolbar::onRotationLock() {
    BookCommon::setSoftwareRotationLock(!BookCommon::isSoftwareRotationLock());
    setupToolbarItems(true);
}
