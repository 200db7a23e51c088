#include "engine/ImageLoader.h"

#include "engine/ImageAVIF.h"
#include "engine/WebPImage.h"
#include "platform/graphics/ImageDecoder.h"

#include <vector>

gfx::ImageRef ImageLoader::imageWithAnyContentsOfFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (!gfx::ImageDecoder::readFile(path, bytes) || bytes.empty()) return nullptr;
    return imageWithAnyData(bytes);
}

gfx::ImageRef ImageLoader::imageWithAnyData(std::span<const uint8_t> data) {
    // Each decoder refuses foreign bytes at their signature, so trying them
    // in turn costs nothing for the ones that do not apply.
    if (gfx::ImageRef img = gfx::ImageDecoder::decode(data)) return img;
    if (gfx::ImageRef img = WebPImage::imageWithWebPDataError(data, nullptr)) return img;
    return ImageAVIF::imageWithData(data);
}
