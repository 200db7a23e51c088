// An interface language table ("key" = "value"; lines) as read from its file.
#include "foundation/LanguageTables.h"
#include "fuzz/support/FuzzEnvironment.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzEnvironment::setUp();
    LanguageTables::parse(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
