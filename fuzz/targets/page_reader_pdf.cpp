#include "engine/PageReaderPDF.h"
#include "fuzz/support/FuzzEnvironment.h"
#include "fuzz/support/PageReaderRun.h"

#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    runPageReader<PageReaderPDF>(FuzzEnvironment::writeFile("book.pdf", std::span<const uint8_t>(data, size)));
    return 0;
}
