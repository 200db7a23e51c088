#include "platform/graphics/ImageDecoder.h"

#include "platform/graphics/BmpDecoder.h"
#include "platform/graphics/GifDecoder.h"
#include "platform/graphics/JpegCodec.h"
#include "platform/graphics/PngDecoder.h"
#include "platform/graphics/TiffDecoder.h"
#include "platform/core/FileManager.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace gfx {

namespace {
bool startsWith(std::span<const uint8_t> d, size_t at, const char* sig, size_t n) {
    return d.size() >= at + n && std::memcmp(d.data() + at, sig, n) == 0;
}
}  // namespace

ImageFormat ImageDecoder::sniff(std::span<const uint8_t> d) {
    if (d.size() >= 3 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF) return ImageFormat::Jpeg;
    if (startsWith(d, 0, "\x89PNG\r\n\x1a\n", 8)) return ImageFormat::Png;
    if (startsWith(d, 0, "GIF87a", 6) || startsWith(d, 0, "GIF89a", 6)) return ImageFormat::Gif;
    if (startsWith(d, 0, "II*\0", 4) || startsWith(d, 0, "MM\0*", 4)) return ImageFormat::Tiff;
    if (startsWith(d, 0, "RIFF", 4) && startsWith(d, 8, "WEBP", 4)) return ImageFormat::WebP;
    if (startsWith(d, 4, "ftyp", 4) && d.size() >= 16) {
        // The major brand, or any compatible brand, names an AVIF image.
        uint32_t boxSize = uint32_t(d[0]) << 24 | uint32_t(d[1]) << 16 | uint32_t(d[2]) << 8 | d[3];
        size_t end = std::min<size_t>(d.size(), boxSize < 16 ? 16 : boxSize);
        if (startsWith(d, 8, "avif", 4) || startsWith(d, 8, "avis", 4)) return ImageFormat::Avif;
        for (size_t at = 16; at + 4 <= end; at += 4) {
            if (startsWith(d, at, "avif", 4) || startsWith(d, at, "avis", 4)) return ImageFormat::Avif;
        }
    }
    if (BmpDecoder::looksLikeBmp(d)) return ImageFormat::Bmp;
    return ImageFormat::Unknown;
}

const char* ImageDecoder::formatName(ImageFormat f) {
    switch (f) {
    case ImageFormat::Jpeg: return "JPEG";
    case ImageFormat::Png: return "PNG";
    case ImageFormat::Gif: return "GIF";
    case ImageFormat::Tiff: return "TIFF";
    case ImageFormat::Bmp: return "BMP";
    case ImageFormat::WebP: return "WebP";
    case ImageFormat::Avif: return "AVIF";
    case ImageFormat::Unknown: break;
    }
    return "unknown";
}

bool ImageDecoder::handles(ImageFormat f) {
    return f == ImageFormat::Jpeg || f == ImageFormat::Png || f == ImageFormat::Gif ||
           f == ImageFormat::Tiff || f == ImageFormat::Bmp;
}

bool ImageDecoder::probe(std::span<const uint8_t> data, ImageInfo& info, std::string* error) {
    ImageFormat f = sniff(data);
    bool ok = false;
    switch (f) {
    case ImageFormat::Jpeg: ok = JpegCodec::probe(data, info, error); break;
    case ImageFormat::Png: ok = PngDecoder::probe(data, info, error); break;
    case ImageFormat::Gif: ok = GifDecoder::probe(data, info, error); break;
    case ImageFormat::Tiff: ok = TiffDecoder::probe(data, info, error); break;
    case ImageFormat::Bmp: ok = BmpDecoder::probe(data, info, error); break;
    default:
        if (error) *error = std::string("not an image this decoder reads (") + formatName(f) + ")";
        return false;
    }
    if (ok) info.format = f;
    return ok;
}

ImageRef ImageDecoder::decode(std::span<const uint8_t> data, const DecodeOptions& options,
                              std::string* error) {
    try {
        switch (sniff(data)) {
        case ImageFormat::Jpeg: return JpegCodec::decode(data, options, error);
        case ImageFormat::Png: return PngDecoder::decode(data, options, error);
        case ImageFormat::Gif: return GifDecoder::decode(data, error);
        case ImageFormat::Tiff: return TiffDecoder::decode(data, error);
        case ImageFormat::Bmp: return BmpDecoder::decode(data, error);
        default: break;
        }
    } catch (const std::bad_alloc&) {
        return decodeFailure(error, "out of memory");
    }
    return decodeFailure(error, std::string("not an image this decoder reads (") +
                                    formatName(sniff(data)) + ")");
}

void ImageDecoder::reducedSize(int width, int height, const DecodeOptions& options, int& outWidth,
                               int& outHeight) {
    outWidth = width;
    outHeight = height;
    if (width <= 0 || height <= 0 || (options.minWidth <= 0 && options.minHeight <= 0)) return;
    const double f = std::max(double(options.minWidth) / width, double(options.minHeight) / height);
    if (!(f < 1)) return;
    int rw = std::clamp(int(std::ceil(width * f)), 1, width);
    int rh = std::clamp(int(std::ceil(height * f)), 1, height);
    // Within a pixel of the size asked for: that size, so that the caller
    // need not scale a second time for one pixel.
    if (options.minWidth > 0 && options.minHeight > 0 && std::abs(rw - options.minWidth) <= 1 &&
        std::abs(rh - options.minHeight) <= 1 && options.minWidth <= width && options.minHeight <= height) {
        rw = options.minWidth;
        rh = options.minHeight;
    }
    outWidth = rw;
    outHeight = rh;
}

ImageRef ImageDecoder::decodeFile(const std::string& path, const DecodeOptions& options,
                                  std::string* error) {
    std::vector<uint8_t> bytes;
    if (!readFile(path, bytes, error)) return nullptr;
    return decode(bytes, options, error);
}

bool ImageDecoder::readFile(const std::string& path, std::vector<uint8_t>& out, std::string* error) {
    auto fail = [&](const std::string& m) {
        if (error) *error = m;
        return false;
    };
    std::error_code why;
    struct stat st {};
    int fd = sys::FileManager::openRegularFileForReading(path, &why, &st);
    if (fd < 0) return fail(path + ": " + (why == std::errc::invalid_argument ? std::string("not a regular file") : why.message()));
    if (uint64_t(st.st_size) > kMaxFileBytes) {
        ::close(fd);
        return fail(path + ": file too large");
    }
    try {
        out.resize(size_t(st.st_size));
    } catch (const std::bad_alloc&) {
        ::close(fd);
        return fail(path + ": out of memory");
    }
    size_t got = 0;
    while (got < out.size()) {
        ssize_t n = ::read(fd, out.data() + got, out.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += size_t(n);
    }
    ::close(fd);
    out.resize(got);  // a file that shrank while read gives what was there
    return true;
}

}  // namespace gfx
