// The settings store reading its folder with ".zoomsettings.lbs" taken from the input.
#include "foundation/Settings.h"
#include "fuzz/support/FuzzEnvironment.h"

#include <cstdint>
#include <filesystem>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::filesystem::create_directories(FuzzEnvironment::workDir() + "/settings");
    FuzzEnvironment::writeFile("settings/.zoomsettings.lbs", std::span<const uint8_t>(data, size));
    Settings settings(FuzzEnvironment::workDir() + "/settings");
    settings.readFromFile();
    settings.globalSettings();
    FuzzEnvironment::settle();
    return 0;
}
