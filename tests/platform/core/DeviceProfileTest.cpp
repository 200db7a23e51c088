#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/core/DeviceProfile.h"

using sys::DeviceProfile;
using O = sys::DeviceProfile::Orientation;

namespace {

class EnvScope {
public:
    EnvScope() {
        for (const char* n : kNames) {
            const char* v = std::getenv(n);
            saved_.emplace_back(v ? std::optional<std::string>(v) : std::nullopt);
            ::unsetenv(n);
        }
    }
    ~EnvScope() {
        for (std::size_t i = 0; i < saved_.size(); ++i) {
            if (saved_[i]) ::setenv(kNames[i], saved_[i]->c_str(), 1);
            else ::unsetenv(kNames[i]);
        }
    }

private:
    static constexpr const char* kNames[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
    std::vector<std::optional<std::string>> saved_;
};

}  // namespace

TEST(DeviceProfileTest, Presets) {
    auto phone = DeviceProfile::named("phone");
    ASSERT_TRUE(phone.has_value());
    EXPECT_EQ(phone->idiom, DeviceProfile::Idiom::Phone);
    EXPECT_EQ(phone->screenWidth, 390);
    EXPECT_EQ(phone->screenHeight, 844);
    EXPECT_EQ(phone->scale, 3);
    EXPECT_TRUE(phone->hasNotch);
    EXPECT_TRUE(phone->hasHomeIndicator);
    EXPECT_EQ(phone->statusBarHeight(O::Portrait), 47);
    EXPECT_EQ(phone->statusBarHeight(O::LandscapeRight), 0);
    EXPECT_EQ(phone->safeAreaInsets(O::Portrait), (DeviceProfile::Insets{47, 0, 34, 0}));
    EXPECT_EQ(phone->safeAreaInsets(O::LandscapeLeft).left, 47);
    EXPECT_EQ(phone->safeAreaInsets(O::LandscapeRight).right, 47);
    // What the notch test looks at: a top or side inset above 20 points.
    EXPECT_GT(phone->safeAreaInsets(O::Portrait).top, 20);

    auto se = DeviceProfile::named("phone-se");
    ASSERT_TRUE(se.has_value());
    EXPECT_EQ(se->screenWidth, 375);
    EXPECT_EQ(se->screenHeight, 667);
    EXPECT_EQ(se->scale, 2);
    EXPECT_FALSE(se->hasNotch);
    EXPECT_FALSE(se->hasHomeIndicator);
    EXPECT_EQ(se->statusBarHeight(O::Portrait), 20);
    EXPECT_LE(se->safeAreaInsets(O::Portrait).top, 20);
    EXPECT_EQ(se->safeAreaInsets(O::LandscapeLeft), DeviceProfile::Insets{});

    auto pad = DeviceProfile::named("pad");
    ASSERT_TRUE(pad.has_value());
    EXPECT_TRUE(pad->isPad());
    EXPECT_EQ(pad->screenWidth, 1024);
    EXPECT_EQ(pad->screenHeight, 1366);
    EXPECT_EQ(pad->statusBarHeight(O::LandscapeLeft), 24);

    auto desktop = DeviceProfile::named("desktop");
    ASSERT_TRUE(desktop.has_value());
    EXPECT_TRUE(desktop->isPad());
    EXPECT_EQ(desktop->initialOrientation, O::LandscapeLeft);
    EXPECT_EQ(desktop->safeAreaInsets(O::Portrait), DeviceProfile::Insets{});
    EXPECT_FALSE(desktop->modelIdentifier.empty());

    for (const auto& name : DeviceProfile::presetNames()) {
        auto p = DeviceProfile::named(name);
        ASSERT_TRUE(p.has_value()) << name;
        EXPECT_EQ(p->name, name);
        EXPECT_LE(p->screenWidth, p->screenHeight) << name;
        EXPECT_FALSE(p->hasCamera);
        EXPECT_FALSE(p->canSendMail);
        EXPECT_EQ(p->biometry, DeviceProfile::Biometry::None);
        EXPECT_FALSE(p->preferredLanguages.empty());
    }
    EXPECT_FALSE(DeviceProfile::named("watch").has_value());

    // Each preset also on the newer system: the same device, its name alone.
    for (const auto& name : DeviceProfile::presetNames()) {
        auto older = DeviceProfile::named(name);
        auto newer = DeviceProfile::named(name + "@26");
        ASSERT_TRUE(newer.has_value()) << name;
        EXPECT_EQ(newer->name, name);
        EXPECT_EQ(newer->systemMajorVersion(), 26);
        EXPECT_EQ(older->systemMajorVersion(), 18);
        EXPECT_EQ(newer->screenHeight, older->screenHeight);
        EXPECT_EQ(newer->idiom, older->idiom);
        EXPECT_EQ(DeviceProfile::named(name + "@18")->systemVersion, older->systemVersion);
    }
    for (const char* wrong : {"phone@", "phone@25", "phone@26x", "@26", "watch@26", "phone@26@26"})
        EXPECT_FALSE(DeviceProfile::named(wrong).has_value()) << wrong;
}

TEST(DeviceProfileTest, SystemMajorVersion) {
    DeviceProfile p;
    p.systemVersion = "26.0.1";
    EXPECT_EQ(p.systemMajorVersion(), 26);
    p.systemVersion = "9.3";
    EXPECT_EQ(p.systemMajorVersion(), 9);
    p.systemVersion = "";
    EXPECT_EQ(p.systemMajorVersion(), 0);
    p.systemVersion = "beta";
    EXPECT_EQ(p.systemMajorVersion(), 0);
}

TEST(DeviceProfileTest, CurrentIsProcessWideAndSafeToShare) {
    DeviceProfile saved = DeviceProfile::current();
    DeviceProfile::setCurrent(*DeviceProfile::named("phone"));
    EXPECT_EQ(DeviceProfile::current().name, "phone");

    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (!stop) {
            DeviceProfile p = DeviceProfile::current();
            bool phone = p.name == "phone" && p.screenHeight == 844;
            bool pad = p.name == "pad" && p.screenHeight == 1366;
            if (!phone && !pad) ++torn;
        }
    });
    for (int i = 0; i < 500; ++i) DeviceProfile::setCurrent(*DeviceProfile::named(i % 2 ? "phone" : "pad"));
    stop = true;
    reader.join();
    EXPECT_EQ(torn.load(), 0);
    DeviceProfile::setCurrent(saved);
}

TEST(DeviceProfileTest, LanguagesComeFromTheHostLocale) {
    EnvScope scope;
    EXPECT_EQ(DeviceProfile::hostPreferredLanguages(), (std::vector<std::string>{"en-US"}));

    ::setenv("LANG", "C.UTF-8", 1);
    EXPECT_EQ(DeviceProfile::hostPreferredLanguages(), (std::vector<std::string>{"en-US"}));

    ::setenv("LANG", "ja_JP.UTF-8", 1);
    EXPECT_EQ(DeviceProfile::hostPreferredLanguages(), (std::vector<std::string>{"ja-JP"}));
    auto pad = DeviceProfile::named("pad");
    EXPECT_EQ(pad->localeIdentifier, "ja_JP");

    ::setenv("LC_ALL", "ko_KR.UTF-8", 1);
    EXPECT_EQ(DeviceProfile::hostPreferredLanguages().front(), "ko-KR");

    ::setenv("LANGUAGE", "zh_TW:en", 1);
    EXPECT_EQ(DeviceProfile::hostPreferredLanguages(), (std::vector<std::string>{"zh-TW", "en", "ko-KR"}));

    // Without a locale, LANGUAGE is not looked at.
    ::unsetenv("LC_ALL");
    ::setenv("LANG", "C", 1);
    EXPECT_EQ(DeviceProfile::hostPreferredLanguages(), (std::vector<std::string>{"en-US"}));
}
