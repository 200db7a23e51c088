#include "platform/graphics/JpegEncoder.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cmath>

namespace gfx {

int JpegEncoder::libjpegQuality(double quality) {
    if (std::isnan(quality)) return 75;
    return int(std::clamp<long>(std::lround(quality * 100.0), 1, 100));
}

std::vector<uint8_t> JpegEncoder::encode(const Image& image, double quality, std::string* error) {
    std::vector<uint8_t> out;
    tjhandle tj = tjInitCompress();
    if (!tj) {
        if (error) *error = "JPEG: cannot start the encoder";
        return out;
    }
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    const int format = TJPF_BGRX;
#else
    const int format = TJPF_XRGB;
#endif
    unsigned char* buf = nullptr;
    unsigned long size = 0;
    // Premultiplied colour with the alpha dropped is the picture over black.
    int rc = tjCompress2(tj, reinterpret_cast<const unsigned char*>(image.pixels()), image.width(),
                         int(image.strideBytes()), image.height(), format, &buf, &size, TJSAMP_420,
                         libjpegQuality(quality), 0);
    if (rc != 0) {
        if (error) *error = std::string("JPEG: ") + tjGetErrorStr2(tj);
    } else {
        out.assign(buf, buf + size);
    }
    tjFree(buf);
    tjDestroy(tj);
    return out;
}

}  // namespace gfx
