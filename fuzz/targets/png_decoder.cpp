#include "platform/graphics/PngDecoder.h"
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
    if (gfx::PngDecoder::probe(bytes, info, &error)) {
        // The row-by-row shrinking that large pages get.
        gfx::DecodeOptions small;
        small.minWidth = info.width / 3 + 1;
        small.minHeight = info.height / 3 + 1;
        checkFuzzImage(gfx::PngDecoder::decode(bytes, small, &error));
    }
    checkFuzzImage(gfx::PngDecoder::decode(bytes, {}, &error));
    return 0;
}
