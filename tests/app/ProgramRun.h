#pragma once

#include <gtest/gtest.h>

#include "app/LeafbrightProgram.h"
#include "platform/core/DeviceProfile.h"
#include "tests/support/TestHome.h"

#include <memory>
#include <optional>
#include <string>

// Base fixture for tests that run the whole program headless on the virtual
// clock in a home of their own, and put every shared state back afterwards.
class ProgramRun : public ::testing::Test {
protected:
    // A fresh home tagged `tag`, with a stand-in for the bundled sample book.
    void makeHome(const std::string& tag);
    void TearDown() override;

    std::string lib() const { return home->file("lib"); }
    std::string docs() const { return lib() + "/Documents"; }
    // Prepares the home before a launch (folders, defaults, key chain).
    void useHome();
    // Settings and library folders already there: no sample book in the way.
    void markNotFirstRun();

    // Launches the program (on `device`, headless) and lets its first second run.
    bool launch(std::optional<std::string> target = std::nullopt);
    void stop();
    // The pictures of the home's "shots" folder outlive the home: copied to
    // the test work area's "snapshots", their names after `prefix`.
    void keepShots(const std::string& prefix);

    std::string device = "phone";
    // The quick action the next launch starts with.
    std::optional<std::string> quickAction;
    // Off: the version was seen before, so no notice page waits for "Close",
    // and launch() lets the launch animation end before the program's first second.
    bool showStartScreens = false;
    sys::DeviceProfile savedProfile_ = sys::DeviceProfile::current();
    std::unique_ptr<test::TempDir> home;
    std::unique_ptr<LeafbrightProgram> program;
};
