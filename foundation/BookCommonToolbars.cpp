#include "foundation/BookCommonToolbars.h"

#include "foundation/BookCommon.h"
#include "foundation/OptimizeFilename.h"
#include "foundation/QNTextEncoding.h"
#include "foundation/QNUrl.h"
#include "platform/core/DeviceProfile.h"

#include <atomic>
#include <cstdlib>
#include <mutex>

namespace {

std::atomic<bool> gNextSilentResume{false};

std::mutex gShortcutMutex;
std::vector<ShortcutItemModel> gShortcutItems;

}  // namespace

// ---- Tool bars ----------------------------------------------------------------------

namespace {

using Item = ToolbarItemModel;
using Action = ToolbarItemModel::Action;

Item P() { return Item::button("toolbar_popup", Action::PopupMenu); }
Item D() { return Item::button("toolbar_download", Action::Download); }
Item B() { return Item::button("toolbar_brightness", Action::Brightness); }
Item T() { return Item::button("toolbar_settings", Action::Settings); }
Item A() { return Item::button("toolbar_tag", Action::ActionButton); }
Item F() { return Item::flexibleSpace(); }
Item X() { return Item::fixedSpace(20); }

Item S(const BookCommonToolbars::ToolbarFacts& f) {
    return Item::button(f.isScanFolder ? "toolbar_book" : "toolbar_camera", Action::Scan);
}

// The rotation-lock button, or on a pad that cannot lock, the space it leaves.
Item R(const BookCommonToolbars::ToolbarFacts& f) {
    if (f.isPad && f.systemVersion >= 9.0 && !f.rotationLockEnable) return X();
    return Item::button(f.rotationLocked ? "toolbar_rotationlocked" : "toolbar_rotationlock", Action::RotationLock);
}

}  // namespace

namespace {

BookCommonToolbars::ToolbarFacts currentToolbarFacts(const std::optional<std::string>& folder) {
    sys::DeviceProfile profile = sys::DeviceProfile::current();
    BookCommonToolbars::ToolbarFacts f;
    f.isPad = profile.isPad();
    f.systemVersion = std::strtod(profile.systemVersion.c_str(), nullptr);
    f.cameraAvailable = profile.hasCamera;
    f.isScanFolder = folder && BookCommon::isFolderScanFiles(*folder);
    f.rotationLocked = BookCommon::isSoftwareRotationLock();
    f.rotationLockEnable = BookCommon::isIpadRotationLockEnable();
    return f;
}

}  // namespace

std::vector<ToolbarItemModel> BookCommonToolbars::arrayGetToolbarButtonItems(const std::optional<std::string>& currentFullPath,
                                                                        bool /*isRootView*/) {
    return arrayGetToolbarButtonItems(currentToolbarFacts(currentFullPath), currentFullPath.has_value());
}

std::vector<ToolbarItemModel> BookCommonToolbars::arrayGetToolbarButtonItemsForRemote() {
    return arrayGetToolbarButtonItemsForRemote(currentToolbarFacts(std::nullopt));
}

std::vector<ToolbarItemModel> BookCommonToolbars::arrayGetToolbarButtonItems(const ToolbarFacts& f, bool hasPath) {
    const bool modern = f.systemVersion >= 26.0;
    const bool scan = hasPath && f.cameraAvailable && (!f.isPad || f.systemVersion >= 8.0);
    std::vector<Item> items;
    auto add = [&](std::initializer_list<Item> list) { items.insert(items.end(), list); };
    if (!f.isPad) {
        add({P(), F()});
        if (hasPath) add({D(), F()});
        if (scan) add({S(f), F()});
        if (modern)
            add({B(), R(f), T()});
        else
            add({B(), F(), R(f), F(), T()});
        return items;
    }
    if (!hasPath) {
        if (modern)
            add({P(), F(), R(f), B(), T()});
        else
            add({P(), F(), R(f), X(), B(), X(), T()});
        return items;
    }
    add({P(), X(), D(), F()});
    if (scan) add({S(f), X()});
    if (modern)
        add({R(f), B(), T()});
    else
        add({R(f), X(), B(), X(), T()});
    return items;
}

std::vector<ToolbarItemModel> BookCommonToolbars::arrayGetToolbarButtonItemsForRemote(const ToolbarFacts& f) {
    const bool modern = f.systemVersion >= 26.0;
    if (!f.isPad) {
        if (modern) return {P(), F(), D(), F(), A(), F(), B(), R(f), T()};
        return {P(), F(), D(), F(), A(), F(), B(), F(), R(f), F(), T()};
    }
    if (modern) return {P(), X(), D(), X(), A(), F(), R(f), X(), B(), T()};
    return {P(), X(), D(), X(), A(), F(), R(f), X(), B(), X(), T()};
}

// ---- Quick actions -------------------------------------------------------------------

std::string BookCommonToolbars::shortcutTitleForBook(const std::string& pathOrUrl) {
    std::string title;
    if (QNUrl::isURL(pathOrUrl)) {
        auto url = QNUrl::URLWithString(pathOrUrl);
        std::string last = QNUrl::lastPathComponentOf(url ? url->path() : pathOrUrl);
        std::string bytes = QNUrl::getCStringWithEncodedUrl(last);
        if (!bytes.empty() && bytes.back() == '\0') bytes.pop_back();
        if (auto utf8 = QNTextEncoding::stringWithCString(bytes.c_str(), QNTextEncoding::kUTF8)) {
            title = *utf8;
        } else if (auto sjis = QNTextEncoding::stringWithCString(bytes.c_str(), QNTextEncoding::kShiftJIS)) {
            title = *sjis;
        } else {
            title = QNTextEncoding::stringWithCString(bytes.c_str()).value_or(last);
        }
    } else {
        title = QNUrl::lastPathComponentOf(pathOrUrl);
    }
    return OptimizeFilename::getOptimizedString(title);
}

void BookCommonToolbars::setShortcutMenu(int mode, const std::optional<std::string>& readingTitle) {
    if (sys::DeviceProfile::current().systemMajorVersion() < 9) return;
    ShortcutItemModel reading;
    reading.title = BookCommon::localizedStringWithOnOff("Continue Reading");
    reading.subtitle = readingTitle ? shortcutTitleForBook(*readingTitle) : std::string();
    reading.systemIconName = "play";
    reading.userInfo = {{"key", "reading"}};
    ShortcutItemModel list;
    list.title = BookCommon::localizedStringWithOnOff("File List");
    list.templateImageName = "shortcuticon_filelist";
    list.userInfo = {{"key", "filelist"}};
    std::vector<ShortcutItemModel> items;
    if (mode == 2) {
        items = {reading};
    } else if (mode == 1) {
        items = {reading, list};
    } else {
        items = {list};
    }
    std::lock_guard<std::mutex> lock(gShortcutMutex);
    gShortcutItems = std::move(items);
}

std::vector<ShortcutItemModel> BookCommonToolbars::shortcutMenuItems() {
    std::lock_guard<std::mutex> lock(gShortcutMutex);
    return gShortcutItems;
}

// ---- Silent resume -------------------------------------------------------------------

void BookCommonToolbars::setNextSilentResumeFlag() { gNextSilentResume.store(true); }

bool BookCommonToolbars::getNextSilentResumeFlag() { return gNextSilentResume.exchange(false); }
