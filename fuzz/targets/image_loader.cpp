#include "engine/ImageLoader.h"
#include "fuzz/support/FuzzEnvironment.h"
#include "fuzz/support/ImageCheck.h"

#include <cstdint>
#include <span>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzEnvironment::setUp();
    std::span<const uint8_t> bytes(data, size);
    checkFuzzImage(ImageLoader::imageWithAnyData(bytes));
    {
        // The reduced decode of the makers of small pictures.
        ImageLoader::ScopedDecodeSize reduced(64, 64);
        checkFuzzImage(ImageLoader::imageWithAnyData(bytes));
    }
    checkFuzzImage(ImageLoader::imageWithAnyContentsOfFile(FuzzEnvironment::writeFile("page", bytes)));
    return 0;
}
