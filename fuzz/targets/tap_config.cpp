// The tap-area table (".tapconfig.dat"): as bytes, where what reads must
// write back the same, and as the settings store reads it from its folder.
#include "foundation/PageTapConfig.h"
#include "foundation/Settings.h"
#include "fuzz/support/FuzzEnvironment.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    if (auto table = PageTapConfig::fromBytes(bytes)) {
        if (table->toBytes() != bytes) std::abort();
        for (size_t i = 0; i <= PageTapConfig::kFieldCount; ++i) table->field(i);
        table->ensureMenuReachable();
    }
    std::filesystem::create_directories(FuzzEnvironment::workDir() + "/settings");
    FuzzEnvironment::writeFile("settings/.tapconfig.dat", std::span<const uint8_t>(data, size));
    Settings settings(FuzzEnvironment::workDir() + "/settings");
    settings.readFromFile();
    FuzzEnvironment::settle();
    return 0;
}
