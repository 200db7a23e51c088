#include "engine/ImageLoader.h"

#include "engine/ImageAVIF.h"
#include "engine/WebPImage.h"
#include "platform/graphics/ImageDecoder.h"

#include <vector>

namespace {

thread_local gfx::DecodeOptions tDecodeSize;

}  // namespace

ImageLoader::ScopedDecodeSize::ScopedDecodeSize(int minWidth, int minHeight)
    : previousWidth_(tDecodeSize.minWidth), previousHeight_(tDecodeSize.minHeight) {
    tDecodeSize.minWidth = minWidth > 0 ? minWidth : 0;
    tDecodeSize.minHeight = minHeight > 0 ? minHeight : 0;
}

ImageLoader::ScopedDecodeSize::~ScopedDecodeSize() {
    tDecodeSize.minWidth = previousWidth_;
    tDecodeSize.minHeight = previousHeight_;
}

gfx::ImageRef ImageLoader::imageWithAnyContentsOfFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (!gfx::ImageDecoder::readFile(path, bytes) || bytes.empty()) return nullptr;
    return imageWithAnyData(bytes);
}

gfx::ImageRef ImageLoader::imageWithAnyData(std::span<const uint8_t> data) {
    // Each decoder refuses foreign bytes at their signature, so trying them
    // in turn costs nothing for the ones that do not apply.
    if (gfx::ImageRef img = gfx::ImageDecoder::decode(data, tDecodeSize)) return img;
    if (gfx::ImageRef img = WebPImage::imageWithWebPDataError(data, nullptr)) return img;
    return ImageAVIF::imageWithData(data);
}
