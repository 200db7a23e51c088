#include "platform/graphics/JpegCodec.h"
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
    gfx::JpegCodec::exifOrientation(bytes);
    if (gfx::JpegCodec::probe(bytes, info, &error)) {
        // The reduced decode that small pictures of a page ask for.
        gfx::DecodeOptions small;
        small.minWidth = info.width / 5 + 1;
        small.minHeight = info.height / 5 + 1;
        checkFuzzImage(gfx::JpegCodec::decode(bytes, small, &error));
    }
    checkFuzzImage(gfx::JpegCodec::decode(bytes, {}, &error));
    return 0;
}
