#include "foundation/BookCommonDevice.h"

#include "foundation/BookCommonPaths.h"
#include "foundation/DeviceCommon.h"
#include "foundation/DeviceScreenState.h"
#include "platform/core/DeviceProfile.h"
#include "platform/core/FileManager.h"
#include "platform/core/Path.h"
#include "platform/core/PropertyList.h"
#include "platform/ui/View.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// Process-wide values, main thread only.
int gIdleTimerHolders = 0;
bool gSafeAreaSeen = false;
bool gRotationLocked = false;
int gLockedOrientation = 0;
bool gTempUnlock = false;
bool gTempLock = false;
int gTempLockOrientation = 0;
std::unique_ptr<std::vector<std::shared_ptr<GlobalRotationEventNofityObjectDelegate>>> gObservers;

std::shared_ptr<DeviceScreenState> screen() { return DeviceScreenState::shared(); }
sys::DeviceProfile profile() { return sys::DeviceProfile::current(); }

// The system version read as a decimal number ("7.1.2" reads as 7.1).
double versionNumber() { return std::strtod(profile().systemVersion.c_str(), nullptr); }
bool osAtLeast(double v) { return versionNumber() >= v; }

bool isPad() { return profile().isPad(); }

int screenHeightClass() { return static_cast<int>(BookCommonDevice::getScreenHeight()); }

bool phoneHeightIs(int h) { return !isPad() && screenHeightClass() == h; }

bool padSideIs(double side) {
    if (!isPad()) return false;
    gfx::Rect b = screen()->mainScreenBounds();
    return b.width() == side || b.height() == side;
}

std::string orientationFilePath() {
    return sys::Path::stringByAppendingPathComponent(BookCommonPaths::getSettingsFolder(), ".orientation.lbs");
}

}  // namespace

int BookCommonDevice::getDeviceDisplayType() { return isPad() ? 1 : 0; }

gfx::Rect BookCommonDevice::getScreenRectNew() { return screen()->keyWindowBounds().value_or(gfx::Rect()); }

gfx::EdgeInsets BookCommonDevice::getSafeAreaNew() {
    if (!screen()->keyWindowBounds()) return {};
    return screen()->keyWindowSafeArea();
}

bool BookCommonDevice::isLeafbrightFullScreen() {
    double windowHeight = getScreenRectNew().height();
    return screen()->mainScreenBounds().height() - windowHeight < 10;
}

namespace {
// The rectangle the screen sizes are measured on, with its height and width.
void screenSides(double* h, double* w) {
    auto s = screen();
    if (osAtLeast(9)) {
        gfx::Rect f = s->applicationFrame();
        *h = f.height() + f.y();
        *w = f.width();
    } else {
        gfx::Rect b = s->mainScreenBounds();
        *h = b.height();
        *w = b.width();
    }
}
}  // namespace

double BookCommonDevice::getScreenHeight() {
    double h, w;
    screenSides(&h, &w);
    return osAtLeast(8) ? std::max(h, w) : h;
}

double BookCommonDevice::getScreenWidth() {
    double h, w;
    screenSides(&h, &w);
    return osAtLeast(8) ? std::min(h, w) : w;
}

double BookCommonDevice::getScreenHeightWithoutStatusbar() {
    gfx::Rect f = screen()->applicationFrame();
    return osAtLeast(8) ? std::max(f.height(), f.width()) : f.height();
}

double BookCommonDevice::getScreenWidthWithoutStatusbar() {
    gfx::Rect f = screen()->applicationFrame();
    return osAtLeast(8) ? std::min(f.height(), f.width()) : f.width();
}

gfx::Rect BookCommonDevice::getScreenRect() {
    if (osAtLeast(8)) {
        gfx::Rect b = screen()->mainScreenBounds();
        return gfx::Rect(b.x(), b.y(), getScreenWidth(), getScreenHeight());
    }
    return screen()->mainScreenBounds();
}

gfx::Rect BookCommonDevice::getScreenRectWithoutStatusbarWithRotation(bool landscape) {
    double h = getScreenHeightWithoutStatusbar(), w = getScreenWidthWithoutStatusbar();
    double top = getStatusbarHeight();
    return landscape ? gfx::Rect(0, top, h, w) : gfx::Rect(0, top, w, h);
}

gfx::Size BookCommonDevice::getRotationSizeForUnder_iOS7(bool exchange) {
    gfx::Size s = getScreenRect().size;
    return exchange ? gfx::Size{s.height, s.width} : s;
}

gfx::Rect BookCommonDevice::getWindowRect() {
    gfx::Rect f = screen()->applicationFrame();
    if (osAtLeast(8)) return gfx::Rect(f.x(), 0, f.width(), f.height() + f.y());
    double w = f.width() + f.x(), h = f.height() + f.y();
    int o = screen()->interfaceOrientation();
    if (o == kLandscapeLeft || o == kLandscapeRight) std::swap(w, h);
    return gfx::Rect(0, 0, w, h);
}

gfx::Rect BookCommonDevice::getPortratioRect(const gfx::Rect& r) {
    if (r.width() <= r.height()) return r;
    return gfx::Rect(r.y(), r.x(), r.height(), r.width());
}

double BookCommonDevice::getScreenScale() { return osAtLeast(4) ? screen()->screenScale() : 1.0; }

bool BookCommonDevice::isScreenSplit() { return isPad() && getWindowRect().width() < 768; }

int BookCommonDevice::getDefaultTapMargin() {
    if (!osAtLeast(8)) return 60;
    int m = static_cast<int>(getScreenWidth() / 320.0 * 60.0);
    return std::min(m, 120);
}

double BookCommonDevice::getStatusbarHeight() {
    if (!isLeafbrightFullScreen()) return 0;
    gfx::Rect f = screen()->statusBarFrame();
    return std::min(f.width(), f.height());
}

double BookCommonDevice::getStatusbarHeightNew() {
    if (!isLeafbrightFullScreen()) return 0;
    return screen()->statusBarManagerHeight();
}

bool BookCommonDevice::isStatusbarExtended() { return getStatusbarHeight() >= 40; }

gfx::Rect BookCommonDevice::getScreentSafeRect(const gfx::Rect& windowBounds) {
    double bar = getStatusbarHeightNew();
    return gfx::Rect(windowBounds.x(), windowBounds.y() + bar, windowBounds.width(), windowBounds.height() - bar);
}

gfx::Rect BookCommonDevice::getScreentSafeRect(const ui::View& view) {
    // A view that is not on screen has no safe rectangle.
    ui::Window* window = view.window();
    return window ? getScreentSafeRect(window->bounds()) : gfx::Rect();
}

void BookCommonDevice::checkSafeArea(const ui::View& view) { checkSafeArea(view.safeAreaInsets()); }

void BookCommonDevice::checkSafeArea(const gfx::EdgeInsets& viewSafeArea) {
    if (viewSafeArea.bottom > 0) gSafeAreaSeen = true;
}

bool BookCommonDevice::hasSafeArea() { return gSafeAreaSeen; }

bool BookCommonDevice::isDeviceType_Notch() {
    if (isPad() || !screen()->keyWindowBounds()) return false;
    gfx::EdgeInsets i = screen()->keyWindowSafeArea();
    return std::max({i.top, i.left, i.right}) > 20;
}

bool BookCommonDevice::isDeviceType4inch() { return screenHeightClass() == 568; }
bool BookCommonDevice::isDeviceType4_7inch() { return screenHeightClass() == 667; }
bool BookCommonDevice::isDeviceType4inchOrBigger() { return !isPad() && screenHeightClass() > 567; }
bool BookCommonDevice::isDeviceType5_5inch() { return phoneHeightIs(736); }
bool BookCommonDevice::isDeviceTypeX() { return phoneHeightIs(812); }
bool BookCommonDevice::isDeviceTypeXR_XMax() { return phoneHeightIs(896); }
bool BookCommonDevice::isDeviceType12() { return phoneHeightIs(844); }
bool BookCommonDevice::isDeviceType12ProMax() { return phoneHeightIs(926); }
bool BookCommonDevice::isDeviceType14Pro() { return phoneHeightIs(852); }
bool BookCommonDevice::isDeviceType14ProMax() { return phoneHeightIs(932); }
bool BookCommonDevice::isDeviceType16Pro() { return phoneHeightIs(874); }
bool BookCommonDevice::isDeviceType16ProMax() { return phoneHeightIs(956); }

bool BookCommonDevice::isDeviceType_iPadPro10_5() { return padSideIs(1112); }
bool BookCommonDevice::isDeviceType_iPadPro11() { return padSideIs(1194); }
bool BookCommonDevice::isDeviceType_iPadPro12_9() { return padSideIs(1366); }

bool BookCommonDevice::isDeviceLargeiPad() {
    if (!isPad()) return false;
    gfx::Rect b = screen()->mainScreenBounds();
    return std::max(b.width(), b.height()) >= 1366;
}

bool BookCommonDevice::isDeviceHomeCanRotateLandscape() { return isPad() || isDeviceType5_5inch(); }

bool BookCommonDevice::checkOSVersionWithString(const std::string& version) {
    auto components = [](const std::string& s) {
        std::vector<long> out;
        size_t i = 0;
        while (i <= s.size()) {
            size_t dot = s.find('.', i);
            std::string part = s.substr(i, dot == std::string::npos ? std::string::npos : dot - i);
            out.push_back(std::strtol(part.c_str(), nullptr, 10));
            if (dot == std::string::npos) break;
            i = dot + 1;
        }
        return out;
    };
    auto sys = components(profile().systemVersion);
    auto want = components(version);
    size_t n = std::max(sys.size(), want.size());
    for (size_t i = 0; i < n; ++i) {
        long a = i < sys.size() ? sys[i] : 0;
        long b = i < want.size() ? want[i] : 0;
        if (a != b) return a > b;
    }
    return true;
}

bool BookCommonDevice::isOS7() { return osAtLeast(7.0); }
bool BookCommonDevice::isOS8() { return osAtLeast(8.0); }
bool BookCommonDevice::isOS9() { return osAtLeast(9.0); }
bool BookCommonDevice::isOS11() { return osAtLeast(11.0); }
bool BookCommonDevice::isOS15() { return osAtLeast(15.0); }

void BookCommonDevice::setEdgeExtendLayoutForiOS7(ui::ViewController& viewController) {
    if (isOS7()) viewController.setEdgesForExtendedLayout(ui::RectEdgeNone);
}

namespace {
double horizontalFactor(const gfx::Size& e) {
    return (BookCommonDevice::getScreenWidth() - e.width) / (320.0 - e.width);
}
double verticalFactor(const gfx::Size& e) {
    return (BookCommonDevice::getScreenHeight() - e.height) / (568.0 - e.height);
}
double cut(double v) { return std::trunc(v); }
}  // namespace

double BookCommonDevice::getRatioOf_iPhone5WithExclusionSize(const gfx::Size& e) {
    return (horizontalFactor(e) + verticalFactor(e)) / 2.0;
}

gfx::Point BookCommonDevice::convertPointFrom_iPhone5(const gfx::Point& p, const gfx::Size& e) {
    return gfx::Point{cut(p.x * horizontalFactor(e)), cut(p.y * verticalFactor(e))};
}

gfx::Rect BookCommonDevice::convertRectFrom_iPhone5(const gfx::Rect& r, const gfx::Size& e) {
    double h = horizontalFactor(e), v = verticalFactor(e);
    return gfx::Rect(cut(r.x() * h), cut(r.y() * v), cut(r.width() * h), cut(r.height() * v));
}

gfx::Size BookCommonDevice::convertSizeFrom_iPhone5(const gfx::Size& s, const gfx::Size& e) {
    return gfx::Size{cut(s.width * horizontalFactor(e)), cut(s.height * verticalFactor(e))};
}

void BookCommonDevice::globalIdleTimerDisabled(bool disabled) {
    if (disabled)
        ++gIdleTimerHolders;
    else if (gIdleTimerHolders > 0)
        --gIdleTimerHolders;
    screen()->setIdleTimerDisabled(gIdleTimerHolders > 0);
}

int BookCommonDevice::idleTimerHolders() { return gIdleTimerHolders; }

void BookCommonDevice::setSoftwareRotationLock(bool lock) {
    gRotationLocked = lock;
    gLockedOrientation = screen()->interfaceOrientation();
    sys::PlistArray record{sys::PlistValue(static_cast<int64_t>(lock ? gLockedOrientation : 1)),
                           sys::PlistValue(lock)};
    std::string folder = BookCommonPaths::getSettingsFolder();
    sys::FileManager::createDirectory(folder, true);
    sys::PropertyList::writeFile(sys::PlistValue(record), orientationFilePath());
    screen()->attemptRotationToDeviceOrientation();
}

void BookCommonDevice::onLoadSoftwareRotationLockSetting(bool lock, int interfaceOrientation) {
    gRotationLocked = lock;
    gLockedOrientation = interfaceOrientation;
}

bool BookCommonDevice::readSoftwareRotationLockSetting(bool* locked, int* interfaceOrientation) {
    auto value = sys::PropertyList::readArray(orientationFilePath());
    bool ok = value && value->size() >= 2;
    if (locked) *locked = ok ? (*value)[1].boolValue() : false;
    if (interfaceOrientation) *interfaceOrientation = ok ? static_cast<int>((*value)[0].integerValue()) : 1;
    return ok;
}

bool BookCommonDevice::isSoftwareRotationLock() { return gRotationLocked; }

int BookCommonDevice::softwareRotationLockOrientation() { return gLockedOrientation; }

bool BookCommonDevice::isRotationLockWithInterfaceOrientation(int interfaceOrientation) {
    if (interfaceOrientation == gLockedOrientation) return false;
    return gRotationLocked;
}

void BookCommonDevice::setRotationTempUnlock(bool unlock) { gTempUnlock = unlock; }

void BookCommonDevice::setRotationTempLock(bool lock) {
    gTempLock = lock;
    gTempLockOrientation = screen()->interfaceOrientation();
}

int BookCommonDevice::supportedInterfaceOrientationsForLB() {
    if (gTempUnlock) return kMaskAll;
    if (!gTempLock && !gRotationLocked) return kMaskAll;
    int o = gTempLock ? gTempLockOrientation : gLockedOrientation;
    if (isPad()) return (o == kLandscapeLeft || o == kLandscapeRight) ? kMaskLandscapes : kMaskPortraits;
    switch (o) {
    case kPortraitUpsideDown: return kMaskUpsideDown;
    case kLandscapeLeft: return kMaskLandscapeLeft;
    case kLandscapeRight: return kMaskLandscapeRight;
    default: return kMaskPortrait;
    }
}

bool BookCommonDevice::isIpadRotationLockEnable() {
    if (!checkOSVersionWithString("9.0") || !isPad()) return true;
    int type = DeviceCommon::getDeviceType();
    return type >= 12 && type <= 15;
}

bool BookCommonDevice::isLandscapeSwitchOSVersionWithViewController() {
    auto s = screen();
    if (osAtLeast(9)) {
        // The status bar above the frame counted: a square window is upright.
        gfx::Rect f = s->applicationFrame();
        return f.width() > f.y() + f.height();
    }
    if (osAtLeast(8)) {
        gfx::Rect b = s->mainScreenBounds();
        return b.width() > b.height();
    }
    int o = s->interfaceOrientation();
    return o == kLandscapeLeft || o == kLandscapeRight;
}

void BookCommonDevice::addGlobalRotationNotifyObject(
    const std::shared_ptr<GlobalRotationEventNofityObjectDelegate>& o) {
    if (!o) return;
    if (!gObservers) gObservers = std::make_unique<std::vector<std::shared_ptr<GlobalRotationEventNofityObjectDelegate>>>();
    gObservers->push_back(o);
}

void BookCommonDevice::removeGlobalRotationNotifyObject(
    const std::shared_ptr<GlobalRotationEventNofityObjectDelegate>& o) {
    if (!gObservers) return;
    std::erase(*gObservers, o);
    if (gObservers->empty()) gObservers.reset();
}

size_t BookCommonDevice::globalRotationNotifyObjectCount() { return gObservers ? gObservers->size() : 0; }

void BookCommonDevice::onViewWillRotation(int interfaceOrientation) {
    if (!gObservers) return;
    // Walk a copy: an observer that registers or leaves while it is told must
    // not pull the list out from under the walk.
    auto copy = *gObservers;
    for (auto& o : copy) o->willRotationnotify(interfaceOrientation);
}

void BookCommonDevice::viewWillTransitionToSize(const gfx::Size&) {
    if (!gObservers) return;
    auto copy = *gObservers;
    for (auto& o : copy) o->willRotationnotify_iOS8();
}

void BookCommonDevice::resetDeviceStateForTesting() {
    gIdleTimerHolders = 0;
    gSafeAreaSeen = false;
    gRotationLocked = false;
    gLockedOrientation = 0;
    gTempUnlock = false;
    gTempLock = false;
    gTempLockOrientation = 0;
    gObservers.reset();
}
