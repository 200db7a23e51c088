#pragma once

#include "platform/graphics/Image.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace gfx {

// What the first bytes of a file say it is; the name is never consulted.
enum class ImageFormat { Unknown, Jpeg, Png, Gif, Tiff, Bmp, WebP, Avif };

struct DecodeOptions {
    // Decoders that can make a smaller picture while decoding (JPEG's DCT
    // scaling, PNG's row-by-row shrinking) make it no smaller than this in
    // either direction, in upright pixels, with the picture's proportions;
    // the caller scales the rest of the way. 0 means full size.
    int minWidth = 0;
    int minHeight = 0;
    // Reduced pictures come at exactly the reduced size (reducedSize()),
    // not at the nearest larger size a decoder makes cheaply (JPEG's
    // eighths): the decoder shrinks the rest of the way as it goes, for a
    // caller that would otherwise scale the picture again.
    bool exact = false;
};

// Header facts, read without decoding the pixels.
struct ImageInfo {
    ImageFormat format = ImageFormat::Unknown;
    int width = 0;   // upright, after the stored orientation is applied
    int height = 0;
    Orientation orientation = Orientation::Up;  // as stored in the file
};

// The platform's own image reader: JPEG, PNG, GIF (first frame), TIFF and BMP,
// recognised by their signatures. Every result is upright (EXIF and TIFF
// orientations are applied) premultiplied ARGB. Sizes are checked against
// Image::sizeAllowed before any pixel memory is taken, and damaged or cut-off
// data gives no image and a message.
class ImageDecoder {
public:
    static ImageFormat sniff(std::span<const uint8_t> data);
    static const char* formatName(ImageFormat format);
    // True for the formats decode() reads (not WebP or AVIF).
    static bool handles(ImageFormat format);

    static bool probe(std::span<const uint8_t> data, ImageInfo& info, std::string* error = nullptr);
    static ImageRef decode(std::span<const uint8_t> data, const DecodeOptions& options = {},
                           std::string* error = nullptr);
    static ImageRef decodeFile(const std::string& path, const DecodeOptions& options = {},
                               std::string* error = nullptr);

    // The size a decoder that can shrink to any size makes of a width x
    // height picture for `options`: the smallest with the picture's
    // proportions that holds the minimum (never larger than the picture),
    // or the minimum itself when that is within a pixel of it.
    static void reducedSize(int width, int height, const DecodeOptions& options, int& outWidth,
                            int& outHeight);

    // Reads a whole file, refusing one larger than kMaxFileBytes.
    static bool readFile(const std::string& path, std::vector<uint8_t>& out,
                         std::string* error = nullptr);
    static constexpr uint64_t kMaxFileBytes = uint64_t(1) << 30;
};

// Sets *error (when given) and returns null: the decoders' common way out.
inline ImageRef decodeFailure(std::string* error, const std::string& message) {
    if (error) *error = message;
    return nullptr;
}

}  // namespace gfx
