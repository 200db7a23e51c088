#include "platform/core/DeviceProfile.h"

#include <cstdlib>
#include <mutex>
#include <sys/utsname.h>

namespace sys {

namespace {

std::mutex gMutex;

DeviceProfile& currentStorage() {
    static DeviceProfile profile = *DeviceProfile::named("desktop");
    return profile;
}

// "ja_JP.UTF-8@euro" -> "ja-JP"; "C" and "POSIX" say nothing about a language.
std::string languageTagFromPosix(std::string_view value) {
    auto cut = value.find_first_of(".@");
    if (cut != std::string_view::npos) value = value.substr(0, cut);
    if (value.empty() || value == "C" || value == "POSIX") return {};
    std::string tag(value);
    for (char& c : tag)
        if (c == '_') c = '-';
    return tag;
}

std::string localeFromTag(const std::string& tag) {
    std::string id = tag;
    for (char& c : id)
        if (c == '-') c = '_';
    return id;
}

void applyHostLocale(DeviceProfile& p) {
    p.preferredLanguages = DeviceProfile::hostPreferredLanguages();
    p.localeIdentifier = localeFromTag(p.preferredLanguages.front());
    if (p.localeIdentifier == "en") p.localeIdentifier = "en_US";
}

std::string machineName() {
    struct utsname u{};
    if (::uname(&u) == 0 && u.machine[0]) return u.machine;
    return "unknown";
}

}  // namespace

double DeviceProfile::statusBarHeight(Orientation o) const {
    return (o == Orientation::LandscapeLeft || o == Orientation::LandscapeRight) ? statusBarHeightLandscape
                                                                                : statusBarHeightPortrait;
}

DeviceProfile::Insets DeviceProfile::safeAreaInsets(Orientation o) const {
    switch (o) {
    case Orientation::Portrait: return safeAreaPortrait;
    case Orientation::PortraitUpsideDown: return safeAreaPortraitUpsideDown;
    case Orientation::LandscapeLeft: return safeAreaLandscapeLeft;
    case Orientation::LandscapeRight: return safeAreaLandscapeRight;
    }
    return {};
}

int DeviceProfile::systemMajorVersion() const {
    int major = 0;
    for (char c : systemVersion) {
        if (c < '0' || c > '9') break;
        if (major > 100000) break;
        major = major * 10 + (c - '0');
    }
    return major;
}

DeviceProfile DeviceProfile::current() {
    std::lock_guard lock(gMutex);
    return currentStorage();
}

void DeviceProfile::setCurrent(const DeviceProfile& profile) {
    std::lock_guard lock(gMutex);
    currentStorage() = profile;
}

std::vector<std::string> DeviceProfile::presetNames() { return {"phone", "phone-se", "pad", "desktop"}; }

std::vector<std::string> DeviceProfile::systemVersions() { return {"18", "26"}; }

std::vector<std::string> DeviceProfile::hostPreferredLanguages() {
    std::vector<std::string> tags;
    // LANGUAGE is a priority list ("ja:en"), honoured by gettext only when
    // a locale is set at all; the others name one locale each.
    const char* all = std::getenv("LC_ALL");
    const char* messages = std::getenv("LC_MESSAGES");
    const char* lang = std::getenv("LANG");
    std::string primary;
    for (const char* v : {all, messages, lang}) {
        if (v && *v) {
            primary = languageTagFromPosix(v);
            break;
        }
    }
    if (const char* list = std::getenv("LANGUAGE"); list && *list && !primary.empty()) {
        std::string_view rest(list);
        while (!rest.empty()) {
            auto colon = rest.find(':');
            std::string tag = languageTagFromPosix(rest.substr(0, colon));
            if (!tag.empty()) tags.push_back(tag);
            if (colon == std::string_view::npos) break;
            rest.remove_prefix(colon + 1);
        }
    }
    if (!primary.empty()) {
        bool present = false;
        for (auto& t : tags) present = present || t == primary;
        if (!present) tags.push_back(primary);
    }
    if (tags.empty()) tags.push_back("en-US");
    return tags;
}

std::optional<DeviceProfile> DeviceProfile::named(std::string_view presetName) {
    DeviceProfile p;
    // "phone@26": the preset on another of the systems it can be asked on.
    if (auto at = presetName.find('@'); at != std::string_view::npos) {
        const std::string_view version = presetName.substr(at + 1);
        bool known = false;
        for (const auto& v : systemVersions()) known = known || version == v;
        if (!known) return std::nullopt;
        p.systemVersion = std::string(version) + ".0";
        presetName = presetName.substr(0, at);
    }
    p.name = std::string(presetName);
    if (presetName == "phone") {
        // A 6.1-inch phone with a notch and a home indicator.
        p.idiom = Idiom::Phone;
        p.screenWidth = 390;
        p.screenHeight = 844;
        p.scale = 3;
        p.statusBarHeightPortrait = 47;
        p.statusBarHeightLandscape = 0;
        p.safeAreaPortrait = {47, 0, 34, 0};
        p.safeAreaPortraitUpsideDown = {47, 0, 34, 0};
        p.safeAreaLandscapeLeft = {0, 47, 21, 47};
        p.safeAreaLandscapeRight = {0, 47, 21, 47};
        p.modelIdentifier = "iPhone14,7";
        p.hasHomeIndicator = true;
        p.hasNotch = true;
    } else if (presetName == "phone-se") {
        // A 4.7-inch phone with a home button.
        p.idiom = Idiom::Phone;
        p.screenWidth = 375;
        p.screenHeight = 667;
        p.scale = 2;
        p.statusBarHeightPortrait = 20;
        p.statusBarHeightLandscape = 0;
        p.safeAreaPortrait = {20, 0, 0, 0};
        p.safeAreaPortraitUpsideDown = {20, 0, 0, 0};
        p.modelIdentifier = "iPhone12,8";
    } else if (presetName == "pad") {
        // A 12.9-inch tablet without a home button.
        p.idiom = Idiom::Pad;
        p.screenWidth = 1024;
        p.screenHeight = 1366;
        p.scale = 2;
        p.statusBarHeightPortrait = 24;
        p.statusBarHeightLandscape = 24;
        Insets bars{24, 0, 20, 0};
        p.safeAreaPortrait = p.safeAreaPortraitUpsideDown = bars;
        p.safeAreaLandscapeLeft = p.safeAreaLandscapeRight = bars;
        p.modelIdentifier = "iPad8,5";
        p.hasHomeIndicator = true;
    } else if (presetName == "desktop") {
        // A window on a desktop: tablet layouts, no bars, nothing cut away.
        p.idiom = Idiom::Pad;
        p.screenWidth = 768;
        p.screenHeight = 1024;
        p.scale = 1;
        p.initialOrientation = Orientation::LandscapeLeft;
        p.modelIdentifier = machineName();
    } else {
        return std::nullopt;
    }
    applyHostLocale(p);
    return p;
}

}  // namespace sys
