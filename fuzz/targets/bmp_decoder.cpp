#include "platform/graphics/BmpDecoder.h"
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
    gfx::BmpDecoder::looksLikeBmp(bytes);
    gfx::BmpDecoder::probe(bytes, info, &error);
    checkFuzzImage(gfx::BmpDecoder::decode(bytes, &error));
    return 0;
}
