#include "engine/PageReaderZip.h"
#include "fuzz/support/FuzzEnvironment.h"
#include "fuzz/support/PageReaderRun.h"

#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    runPageReader<PageReaderZip>(FuzzEnvironment::writeFile("book.zip", std::span<const uint8_t>(data, size)));
    return 0;
}
