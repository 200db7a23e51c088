#include "engine/ImageCommon.h"
#include "engine/ImageLoader.h"
#include "fuzz/support/FuzzEnvironment.h"
#include "fuzz/support/ImageCheck.h"

#include <cstdint>
#include <span>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzEnvironment::setUp();
    std::span<const uint8_t> bytes(data, size);
    // A small decoded page through what the viewer does to every page.
    ImageLoader::ScopedDecodeSize reduced(32, 32);
    gfx::ImageRef page = ImageLoader::imageWithAnyData(bytes);
    if (!page || int64_t(page->width()) * page->height() > 512 * 512) return 0;
    for (int code = ImageCommon::kFilterGamma; code <= ImageCommon::kFilterVirtualColor; ++code) {
        checkFuzzImage(ImageCommon::newFilterImage(page, code));
    }
    ImageCommon::getClipBlankSpaceImageRect(page, true);
    ImageCommon::getClipBlankSpaceImageRectOld(page, false);
    checkFuzzImage(ImageCommon::newScaledImage(page, gfx::Size{17, 23}));
    gfx::Point offset;
    checkFuzzImage(ImageCommon::newScaledImageKeepAspect(page, gfx::Size{40, 30}, &offset, true));
    checkFuzzImage(ImageCommon::newScaledImageWithLeftImage(page, page, gfx::Size{64, 48}, 0.1));
    return 0;
}
