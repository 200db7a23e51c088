#include "platform/graphics/GifDecoder.h"
#include "fuzz/support/FuzzEnvironment.h"
#include "fuzz/support/ImageCheck.h"

#include <cstdint>
#include <span>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzEnvironment::setUp();
    std::span<const uint8_t> bytes(data, size);
    gfx::ImageInfo info;
    std::string error;
    gfx::GifDecoder::probe(bytes, info, &error);
    checkFuzzImage(gfx::GifDecoder::decode(bytes, &error));
    return 0;
}
