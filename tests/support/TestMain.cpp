#include <gtest/gtest.h>

#include "platform/core/RunLoop.h"
#include "LeafbrightPaths.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

// Every test program runs with a private application home, so that nothing a
// test writes can reach a real user's library.
int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    fs::path home = fs::path(LEAFBRIGHT_TEST_WORK) / ("home-" + std::to_string(::getpid()));
    fs::remove_all(home);
    fs::create_directories(home);
    ::setenv("LEAFBRIGHT_HOME", home.c_str(), 1);
    // Nor a real user's secret store: without a session bus the key chain
    // keeps to its file; the tests of the secret store start their own bus.
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    ::unsetenv("XDG_RUNTIME_DIR");
    sys::RunLoop::main().bindToCurrentThread();
    ::testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();
    std::error_code ec;
    fs::remove_all(home, ec);
    fs::remove_all(fs::path(LEAFBRIGHT_TEST_WORK) / ("p" + std::to_string(::getpid())), ec);
    return rc;
}
