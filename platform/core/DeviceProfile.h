#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sys {

// What the program may ask about the device it runs on: the kind of device,
// its screen, bars and safe areas, the system version, the user's languages
// and what hardware it has. A desktop has none of these, so a profile stands
// in for them; the process has one current profile, chosen at start-up
// (presets below) and readable from any thread.
class DeviceProfile {
public:
    enum class Idiom { Phone, Pad };

    // Values of the platform's interface orientations.
    enum class Orientation { Portrait = 1, PortraitUpsideDown = 2, LandscapeLeft = 3, LandscapeRight = 4 };

    enum class Biometry { None, TouchID, FaceID };

    struct Insets {
        double top = 0, left = 0, bottom = 0, right = 0;
        bool operator==(const Insets&) const = default;
    };

    std::string name;  // the preset's name ("phone", "pad"…)
    Idiom idiom = Idiom::Pad;

    // Screen in points, in portrait: width is the shorter side.
    double screenWidth = 768;
    double screenHeight = 1024;
    double scale = 1.0;  // pixels per point
    // The orientation a window starts in (a desktop window is wider than high).
    Orientation initialOrientation = Orientation::Portrait;

    // Status-bar height in points in portrait and in landscape (phones hide
    // the bar in landscape).
    double statusBarHeightPortrait = 0;
    double statusBarHeightLandscape = 0;

    // Safe-area insets of a full-screen window, per orientation.
    Insets safeAreaPortrait;
    Insets safeAreaPortraitUpsideDown;
    Insets safeAreaLandscapeLeft;
    Insets safeAreaLandscapeRight;

    std::string systemVersion = "18.0";  // as the platform reports it, "18.0", "26.0"
    std::string modelIdentifier;         // "iPhone14,7", "iPad8,5"; the machine name on a desktop

    bool darkMode = false;
    // The accessibility setting Reduce Transparency: translucent materials
    // are drawn as plain, opaque ones.
    bool reduceTransparency = false;
    std::vector<std::string> preferredLanguages{"en-US"};  // BCP 47, most preferred first
    std::string localeIdentifier = "en_US";                // ICU form
    std::string timeZoneName;                              // empty: the system's time zone

    bool hasCamera = false;
    Biometry biometry = Biometry::None;
    bool canSendMail = false;
    bool hasHomeIndicator = false;
    bool hasNotch = false;

    bool isPad() const { return idiom == Idiom::Pad; }
    double statusBarHeight(Orientation o) const;
    Insets safeAreaInsets(Orientation o) const;
    // The leading number of the system version ("18.0" gives 18; 0 when none).
    int systemMajorVersion() const;

    // The process-wide profile. Until setCurrent() it is the "desktop" preset.
    static DeviceProfile current();
    static void setCurrent(const DeviceProfile& profile);

    // A preset by name: "phone" (390 x 844 @3, notch), "phone-se" (375 x 667 @2),
    // "pad" (1024 x 1366 @2), "desktop" (768 x 1024 @1, pad idiom, landscape),
    // on system 18; "NAME@26" is the same device on the newer system ("@18"
    // names the default). `name` is the preset's alone ("phone" for
    // "phone@26"). Languages, locale and time zone are the host user's.
    static std::optional<DeviceProfile> named(std::string_view presetName);
    static std::vector<std::string> presetNames();
    // The system versions a preset may be asked on, oldest first.
    static std::vector<std::string> systemVersions();

    // The host user's languages from the environment (LANGUAGE, LC_ALL,
    // LC_MESSAGES, LANG), as BCP 47 tags; "en-US" when none is set.
    static std::vector<std::string> hostPreferredLanguages();
};

}  // namespace sys
