#include "platform/graphics/ImageDecoder.h"
#include "fuzz/support/FuzzEnvironment.h"
#include "fuzz/support/ImageCheck.h"

#include <cstdint>
#include <span>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzEnvironment::setUp();
    std::span<const uint8_t> bytes(data, size);
    gfx::ImageDecoder::formatName(gfx::ImageDecoder::sniff(bytes));
    gfx::ImageInfo info;
    std::string error;
    gfx::ImageDecoder::probe(bytes, info, &error);
    checkFuzzImage(gfx::ImageDecoder::decode(bytes, {}, &error));
    return 0;
}
