#pragma once

#include "foundation/GlobalRotationEventNofityObjectDelegate.h"
#include "platform/graphics/EdgeInsets.h"
#include "platform/graphics/Geometry.h"

#include <memory>
#include <string>
#include <vector>

namespace ui {
class View;
class ViewController;
}  // namespace ui

// BookCommon's operations for device, screen and OS facts, the rotation lock and observers.
// Class operations only; reach them through BookCommon.
//
// Answered from the device profile and the screen state (DeviceScreenState).
// Sizes are in points. "From OS n on" means the profile's system version,
// read as a number, is at least n. Main thread only: the process-wide values
// (idle-timer holders, rotation lock, observers, safe-area flag) are plain.
class BookCommonDevice {
public:
    // Interface orientations and their mask bits (1 << orientation).
    enum { kPortrait = 1, kPortraitUpsideDown = 2, kLandscapeLeft = 3, kLandscapeRight = 4 };
    enum { kMaskPortrait = 2, kMaskUpsideDown = 4, kMaskLandscapeLeft = 8, kMaskLandscapeRight = 16,
           kMaskPortraits = 6, kMaskLandscapes = 24, kMaskAll = 30 };

    // 1 on a pad, else 0.
    static int getDeviceDisplayType();

    // The key window's bounds (zero without a window) and its safe-area insets.
    static gfx::Rect getScreenRectNew();
    static gfx::EdgeInsets getSafeAreaNew();
    // The program is not sharing the screen: the key window is less than 10
    // points shorter than the screen.
    static bool isLeafbrightFullScreen();

    // The longer and the shorter side of the usable screen (from OS 8 on
    // independent of the orientation).
    static double getScreenHeight();
    static double getScreenWidth();
    static double getScreenHeightWithoutStatusbar();
    static double getScreenWidthWithoutStatusbar();
    static gfx::Rect getScreenRect();
    static gfx::Rect getScreenRectWithoutStatusbarWithRotation(bool landscape);
    static gfx::Size getRotationSizeForUnder_iOS7(bool exchange);
    static gfx::Rect getWindowRect();
    static gfx::Rect getPortratioRect(const gfx::Rect& rect);
    static double getScreenScale();
    static bool isScreenSplit();
    static int getDefaultTapMargin();

    // Status bar and safe area. Both heights are 0 unless full screen.
    static double getStatusbarHeight();
    static double getStatusbarHeightNew();
    static bool isStatusbarExtended();
    // A view's window bounds less the status bar at the top.
    static gfx::Rect getScreentSafeRect(const ui::View& view);
    static gfx::Rect getScreentSafeRect(const gfx::Rect& windowBounds);
    // Remembers (for good) that a view with a bottom safe-area inset was seen.
    static void checkSafeArea(const ui::View& view);
    static void checkSafeArea(const gfx::EdgeInsets& viewSafeArea);
    static bool hasSafeArea();
    static bool isDeviceType_Notch();

    // Screen classes by the screen height (all but the first two NO on a pad).
    static bool isDeviceType4inch();
    static bool isDeviceType4_7inch();
    static bool isDeviceType4inchOrBigger();
    static bool isDeviceType5_5inch();
    static bool isDeviceTypeX();
    static bool isDeviceTypeXR_XMax();
    static bool isDeviceType12();
    static bool isDeviceType12ProMax();
    static bool isDeviceType14Pro();
    static bool isDeviceType14ProMax();
    static bool isDeviceType16Pro();
    static bool isDeviceType16ProMax();
    // Pad classes (pads only).
    static bool isDeviceType_iPadPro10_5();
    static bool isDeviceType_iPadPro11();
    static bool isDeviceType_iPadPro12_9();
    static bool isDeviceLargeiPad();
    static bool isDeviceHomeCanRotateLandscape();

    // The system version compared component by component is not below `version`.
    static bool checkOSVersionWithString(const std::string& version);
    static bool isOS7();
    static bool isOS8();
    static bool isOS9();
    static bool isOS11();
    static bool isOS15();
    // From OS 7 on the screen's content is not laid out under the bars.
    static void setEdgeExtendLayoutForiOS7(ui::ViewController& viewController);

    // Layouts drawn for a 320 x 568 screen, scaled to this one; the exclusion
    // size is the part of the layout that does not scale.
    static double getRatioOf_iPhone5WithExclusionSize(const gfx::Size& exclusion);
    static gfx::Point convertPointFrom_iPhone5(const gfx::Point& p, const gfx::Size& exclusion);
    static gfx::Rect convertRectFrom_iPhone5(const gfx::Rect& r, const gfx::Size& exclusion);
    static gfx::Size convertSizeFrom_iPhone5(const gfx::Size& s, const gfx::Size& exclusion);

    // Counted: the screen stays awake while any holder still says YES.
    static void globalIdleTimerDisabled(bool disabled);
    static int idleTimerHolders();

    // The program's own rotation lock, above the platform's orientation rules.
    // Setting it records it in the settings folder's ".orientation.lbs".
    static void setSoftwareRotationLock(bool lock);
    static void onLoadSoftwareRotationLockSetting(bool lock, int interfaceOrientation);
    static bool isSoftwareRotationLock();
    static int softwareRotationLockOrientation();
    static bool isRotationLockWithInterfaceOrientation(int interfaceOrientation);
    static void setRotationTempUnlock(bool unlock);
    static void setRotationTempLock(bool lock);
    // The orientation mask every screen answers.
    static int supportedInterfaceOrientationsForLB();
    static bool isIpadRotationLockEnable();
    static bool isLandscapeSwitchOSVersionWithViewController();
    // The saved lock: ".orientation.lbs" read back (false/1 when missing).
    static bool readSoftwareRotationLockSetting(bool* locked, int* interfaceOrientation);

    // Rotation observers, told before the interface rotates. An object added
    // twice is held (and told) twice; removal drops every occurrence.
    static void addGlobalRotationNotifyObject(const std::shared_ptr<GlobalRotationEventNofityObjectDelegate>& o);
    static void removeGlobalRotationNotifyObject(const std::shared_ptr<GlobalRotationEventNofityObjectDelegate>& o);
    static size_t globalRotationNotifyObjectCount();
    static void onViewWillRotation(int interfaceOrientation);
    static void viewWillTransitionToSize(const gfx::Size& size);

    // Back to the start-up state (tests).
    static void resetDeviceStateForTesting();

protected:
    BookCommonDevice() = default;
};
