#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "platform/core/AppPaths.h"
#include "platform/core/FileManager.h"
#include "tests/support/TestHome.h"

using sys::AppPaths;

namespace {

// Puts an environment variable back as it was when the test ends.
class EnvGuard {
public:
    explicit EnvGuard(const char* name) : name_(name) {
        if (const char* v = std::getenv(name)) saved_ = v, had_ = true;
    }
    ~EnvGuard() {
        if (had_) ::setenv(name_, saved_.c_str(), 1);
        else ::unsetenv(name_);
    }

private:
    const char* name_;
    std::string saved_;
    bool had_ = false;
};

mode_t modeOf(const std::string& path) {
    struct stat st{};
    ::stat(path.c_str(), &st);
    return st.st_mode & 0777;
}

bool isDir(const std::string& path) {
    bool d = false;
    return sys::FileManager::fileExists(path, &d) && d;
}

class AppPathsTest : public ::testing::Test {
protected:
    void TearDown() override { AppPaths::setHome(""); }
    test::TempDir dir{"home"};
};

}  // namespace

TEST_F(AppPathsTest, FoldersOfAGivenHomeAreMadeOnDemand) {
    std::string home = dir.file("app");
    AppPaths::setHome(home);
    EXPECT_EQ(AppPaths::home(), home);
    EXPECT_EQ(AppPaths::documents(), home + "/Documents");
    EXPECT_EQ(AppPaths::library(), home + "/Library");
    EXPECT_EQ(AppPaths::caches(), home + "/Library/Caches");
    EXPECT_EQ(AppPaths::preferences(), home + "/Library/Preferences");
    EXPECT_EQ(AppPaths::tmp(), home + "/tmp");
    for (const char* sub : {"", "/Documents", "/Library", "/Library/Caches", "/Library/Preferences", "/tmp"}) {
        EXPECT_TRUE(isDir(home + sub)) << sub;
        EXPECT_EQ(modeOf(home + sub), 0700u) << sub;
    }
}

TEST_F(AppPathsTest, FoldersOpenToOthersAreMadePrivateButAGivenHomeIsLeftAlone) {
    std::string home = dir.file("old");
    for (const char* sub : {"/Documents", "/Library/Preferences", "/Library/Caches"}) {
        ASSERT_TRUE(sys::FileManager::createDirectory(home + sub, true));
    }
    for (const char* sub : {"", "/Documents", "/Library", "/Library/Preferences", "/Library/Caches"})
        ASSERT_EQ(::chmod((home + sub).c_str(), 0755), 0);
    AppPaths::setHome(home);
    AppPaths::documents();
    AppPaths::library();
    AppPaths::preferences();
    AppPaths::caches();
    for (const char* sub : {"/Documents", "/Library", "/Library/Preferences", "/Library/Caches"})
        EXPECT_EQ(modeOf(home + sub), 0700u) << sub;
    EXPECT_EQ(modeOf(home), 0755u) << "the folder the user named";
}

TEST_F(AppPathsTest, TmpIsMadePrivateEvenWhenItExisted) {
    std::string home = dir.file("app");
    ASSERT_TRUE(sys::FileManager::createDirectory(home + "/tmp", true));
    ASSERT_EQ(::chmod((home + "/tmp").c_str(), 0777), 0);
    AppPaths::setHome(home);
    AppPaths::tmp();
    EXPECT_EQ(modeOf(home + "/tmp"), 0700u);
}

TEST_F(AppPathsTest, OverrideThenEnvironmentThenXdg) {
    EnvGuard keepHome("LEAFBRIGHT_HOME");
    EnvGuard keepXdg("XDG_DATA_HOME");

    ::setenv("LEAFBRIGHT_HOME", dir.file("env").c_str(), 1);
    ::setenv("XDG_DATA_HOME", dir.file("xdg").c_str(), 1);
    AppPaths::setHome(dir.file("flag"));
    EXPECT_EQ(AppPaths::home(), dir.file("flag"));

    AppPaths::setHome("");
    EXPECT_EQ(AppPaths::home(), dir.file("env"));

    ::unsetenv("LEAFBRIGHT_HOME");
    EXPECT_EQ(AppPaths::home(), dir.file("xdg") + "/leafbright");
    EXPECT_TRUE(isDir(dir.file("xdg") + "/leafbright"));
}

TEST_F(AppPathsTest, RelativeHomeBecomesAbsolute) {
    char buf[4096];
    ASSERT_NE(::getcwd(buf, sizeof buf), nullptr);
    std::string saved = buf;
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    AppPaths::setHome("rel/./home/");
    EXPECT_EQ(AppPaths::home(), dir.path() + "/rel/home");
    ASSERT_EQ(::chdir(saved.c_str()), 0);
}

TEST_F(AppPathsTest, ReadsWhileTheHomeChanges) {
    std::atomic<bool> stop{false};
    std::vector<std::thread> readers;
    std::atomic<int> bad{0};
    std::string a = dir.file("a"), b = dir.file("b");
    AppPaths::setHome(a);
    for (int i = 0; i < 4; ++i) {
        readers.emplace_back([&] {
            while (!stop) {
                std::string d = AppPaths::documents();
                if (d != a + "/Documents" && d != b + "/Documents") ++bad;
            }
        });
    }
    for (int i = 0; i < 200; ++i) AppPaths::setHome(i % 2 ? a : b);
    stop = true;
    for (auto& t : readers) t.join();
    EXPECT_EQ(bad.load(), 0);
}
