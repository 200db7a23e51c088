#include "engine/WebPImage.h"

#include "platform/core/RunLoop.h"
#include "platform/core/Thread.h"
#include "platform/graphics/BitmapContext.h"
#include "platform/graphics/ImageDecoder.h"

#include <webp/decode.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <mutex>
#include <new>
#include <stdexcept>

namespace {

constexpr const char* kBundleIdentifier = "org.leafbright.Leafbright";
// Pictures above this many pixels are decoded into memory taken as it fills.
constexpr size_t kLargePixels = size_t(16) << 20;

WebPImage::Error makeError(const std::string& message) {
    return WebPImage::Error{WebPImage::errorDomain(), WebPImage::kErrorCode, message};
}

gfx::ImageRef fail(WebPImage::Error* error, const std::string& message) {
    if (error) *error = makeError(message);
    return nullptr;
}

void require(bool condition, const std::string& message) {
    if (!condition) throw std::invalid_argument(message);
}

std::string notSatisfying(const char* what) {
    return std::string("Invalid parameter not satisfying: ") + what;
}

// The workers of the asynchronous calls. Each call gets its own thread;
// finished ones are joined on the next call, and the rest when the process
// ends, so no thread outlives what it works on.
class Workers {
public:
    static Workers& shared() {
        sys::RunLoop::main();  // made first, so it outlives the workers
        static Workers w;
        return w;
    }
    void start(std::function<void()> work) {
        std::lock_guard<std::mutex> lock(mutex_);
        threads_.remove_if([](sys::Thread& t) {
            if (t.running()) return false;
            t.join();
            return true;
        });
        threads_.emplace_back([work = std::move(work)](const std::atomic<bool>&) { work(); }, "webp");
    }
    ~Workers() {
        std::lock_guard<std::mutex> lock(mutex_);
        threads_.clear();
    }

private:
    std::mutex mutex_;
    std::list<sys::Thread> threads_;
};

constexpr WEBP_CSP_MODE kNativePremultiplied =
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    MODE_bgrA;
#else
    MODE_Argb;
#endif

}  // namespace

std::string WebPImage::errorDomain() { return std::string(kBundleIdentifier) + ".errorDomain"; }

std::string WebPImage::statusForVP8Code(int code) {
    switch (code) {
    case VP8_STATUS_OUT_OF_MEMORY: return "OUT_OF_MEMORY";
    case VP8_STATUS_INVALID_PARAM: return "INVALID_PARAM";
    case VP8_STATUS_BITSTREAM_ERROR: return "BITSTREAM_ERROR";
    case VP8_STATUS_UNSUPPORTED_FEATURE: return "UNSUPPORTED_FEATURE";
    case VP8_STATUS_SUSPENDED: return "SUSPENDED";
    case VP8_STATUS_USER_ABORT: return "USER_ABORT";
    case VP8_STATUS_NOT_ENOUGH_DATA: return "NOT_ENOUGH_DATA";
    default: return "UNEXPECTED_ERROR";
    }
}

gfx::ImageRef WebPImage::imageWithWebPDataError(std::span<const uint8_t> data, Error* error,
                                               const gfx::DecodeOptions& reduce) {
    int w = 0, h = 0;
    if (!WebPGetInfo(data.data(), data.size(), &w, &h)) return fail(error, "Header formatting error.");
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) {
        return fail(error, "Failed to initialize structure. Version mismatch.");
    }
    if (!gfx::Image::sizeAllowed(w, h)) return fail(error, "Image too large.");
    config.options.bypass_filtering = 1;
    config.options.no_fancy_upsampling = 1;
    config.options.use_threads = 1;
    config.output.colorspace = kNativePremultiplied;
    // A smaller picture asked for: libwebp scales while it decodes, and the
    // whole-size picture is never made.
    const int fullW = w, fullH = h;
    gfx::ImageDecoder::reducedSize(fullW, fullH, reduce, w, h);
    if (w < fullW || h < fullH) {
        config.options.use_scaling = 1;
        config.options.scaled_width = w;
        config.options.scaled_height = h;
    }
    const size_t pixels = size_t(w) * size_t(h);
    if (pixels > kLargePixels) {
        // A large picture is decoded only from a whole file, and into memory
        // that libwebp takes untouched and fills row by row: a few bytes
        // claiming a huge picture fail before they cost what they claim.
        // Only a picture that really decodes is copied into its own pixels.
        if (data.size() < 12 || uint64_t(data[4] | data[5] << 8 | data[6] << 16 | uint32_t(data[7]) << 24) + 8 >
                                    data.size()) {
            return fail(error, statusForVP8Code(VP8_STATUS_NOT_ENOUGH_DATA));
        }
        VP8StatusCode status = WebPDecode(data.data(), data.size(), &config);
        if (status != VP8_STATUS_OK || config.output.width != w || config.output.height != h) {
            WebPFreeDecBuffer(&config.output);
            return fail(error, statusForVP8Code(status != VP8_STATUS_OK ? status : -1));
        }
        std::vector<uint32_t> px;
        try {
            px.resize(pixels);
        } catch (const std::bad_alloc&) {
            WebPFreeDecBuffer(&config.output);
            return fail(error, statusForVP8Code(VP8_STATUS_OUT_OF_MEMORY));
        }
        for (int y = 0; y < h; ++y) {
            std::memcpy(px.data() + size_t(y) * size_t(w),
                        config.output.u.RGBA.rgba + size_t(y) * size_t(config.output.u.RGBA.stride), size_t(w) * 4);
        }
        WebPFreeDecBuffer(&config.output);
        gfx::ImageRef image = gfx::Image::make(w, h, std::move(px));
        if (!image) return fail(error, "Image too large.");
        return image;
    }
    // Decoded once, straight into the page's own premultiplied pixels.
    std::vector<uint32_t> px;
    try {
        px.resize(pixels);
    } catch (const std::bad_alloc&) {
        return fail(error, statusForVP8Code(VP8_STATUS_OUT_OF_MEMORY));
    }
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = reinterpret_cast<uint8_t*>(px.data());
    config.output.u.RGBA.stride = w * 4;
    config.output.u.RGBA.size = px.size() * 4;
    VP8StatusCode status = WebPDecode(data.data(), data.size(), &config);
    WebPFreeDecBuffer(&config.output);
    if (status != VP8_STATUS_OK) return fail(error, statusForVP8Code(status));
    if (config.output.width != w || config.output.height != h) return fail(error, statusForVP8Code(-1));
    gfx::ImageRef image = gfx::Image::make(w, h, std::move(px));
    if (!image) return fail(error, "Image too large.");
    return image;
}

gfx::ImageRef WebPImage::imageWithWebPError(const std::string& filePath, Error* error) {
    std::vector<uint8_t> bytes;
    std::string readError;
    if (!gfx::ImageDecoder::readFile(filePath, bytes, &readError)) {
        if (error) *error = Error{"file", -1, readError};
        return nullptr;
    }
    return imageWithWebPDataError(bytes, error);
}

gfx::ImageRef WebPImage::imageWithWebP(const std::string& filePath) {
    require(!filePath.empty(), notSatisfying("filePath != nil"));
    return imageWithWebPError(filePath, nullptr);
}

gfx::ImageRef WebPImage::imageWithWebPData(std::span<const uint8_t> data) {
    return imageWithWebPDataError(data, nullptr);
}

void WebPImage::imageWithWebPCompletionBlock(const std::string& filePath, CompletionBlock completionBlock,
                                             FailureBlock failureBlock) {
    require(!filePath.empty(), notSatisfying("filePath != nil"));
    require(bool(completionBlock), notSatisfying("completionBlock != nil"));
    require(bool(failureBlock), notSatisfying("failureBlock != nil"));
    Workers::shared().start([filePath, completionBlock = std::move(completionBlock),
                             failureBlock = std::move(failureBlock)] {
        Error error;
        gfx::ImageRef image = imageWithWebPError(filePath, &error);
        sys::RunLoop::main().post([image, error, completionBlock, failureBlock] {
            if (image) completionBlock(image);
            else failureBlock(error);
        });
    });
}

gfx::ImageRef WebPImage::webPImage(const gfx::ImageRef& image, double alpha) {
    if (!image || std::isnan(alpha)) return nullptr;
    alpha = std::clamp(alpha, 0.0, 1.0);
    std::vector<uint32_t> px(size_t(image->width()) * size_t(image->height()));
    const uint32_t* in = image->pixels();
    for (size_t i = 0; i < px.size(); ++i) {
        uint32_t p = in[i];
        uint32_t a = gfx::alphaOf(p);
        uint32_t na = uint32_t(std::trunc(a * alpha));
        if (a == 0 || na == 0) {
            px[i] = 0;
            continue;
        }
        // The colour shrinks with the alpha, so that the pixel stays valid
        // premultiplied data.
        auto scale = [a, na](uint32_t c) { return (c * na + a / 2) / a; };
        px[i] = gfx::argb(na, scale(gfx::redOf(p)), scale(gfx::greenOf(p)), scale(gfx::blueOf(p)));
    }
    return gfx::Image::make(image->width(), image->height(), std::move(px), image->scale(),
                            image->orientation());
}

gfx::ImageRef WebPImage::imageByApplyingAlpha(const gfx::ImageRef& image, double alpha) {
    require(alpha >= 0.0 && alpha <= 1.0, notSatisfying("alpha >= 0.0f && alpha <= 1.0f"));
    if (!image || alpha >= 1.0) return image;
    auto ctx = gfx::BitmapContext::create(image->width(), image->height(),
                                          gfx::BitmapContext::Origin::TopLeft);
    if (!ctx) return nullptr;
    ctx->setAlpha(alpha);
    ctx->drawImage(gfx::Rect(0, 0, image->width(), image->height()), *image);
    return ctx->takeImage(image->scale(), image->orientation());
}

std::vector<uint8_t> WebPImage::convertToWebP(const gfx::ImageRef& image, double quality, double alpha,
                                              WebPPreset preset, const ConfigBlock& configBlock,
                                              Error* error) {
    std::vector<uint8_t> out;
    auto failWith = [&](const std::string& m) {
        if (error) *error = makeError(m);
        return std::vector<uint8_t>();
    };
    if (!image) return failWith("No image.");
    gfx::ImageRef src = image;
    if (alpha < 1) src = webPImage(image, alpha);
    if (!src) return failWith("No image.");

    // libwebp takes straight RGBA bytes.
    const int w = src->width(), h = src->height();
    std::vector<uint8_t> rgba(size_t(w) * size_t(h) * 4);
    const uint32_t* in = src->pixels();
    for (size_t i = 0; i < size_t(w) * size_t(h); ++i) {
        uint32_t p = in[i], a = gfx::alphaOf(p);
        uint32_t r = gfx::redOf(p), g = gfx::greenOf(p), b = gfx::blueOf(p);
        if (a != 255 && a != 0) {
            r = std::min<uint32_t>(255, (r * 255 + a / 2) / a);
            g = std::min<uint32_t>(255, (g * 255 + a / 2) / a);
            b = std::min<uint32_t>(255, (b * 255 + a / 2) / a);
        }
        uint8_t* o = &rgba[i * 4];
        o[0] = uint8_t(r);
        o[1] = uint8_t(g);
        o[2] = uint8_t(b);
        o[3] = uint8_t(a);
    }

    WebPConfig config;
    if (!WebPConfigPreset(&config, preset, float(quality))) {
        return failWith("Configuration preset failed to initialize.");
    }
    if (configBlock) configBlock(config);
    if (!WebPValidateConfig(&config)) {
        return failWith("One or more configuration parameters are beyond their valid ranges.");
    }
    WebPPicture pic;
    if (!WebPPictureInit(&pic)) return failWith("Failed to initialize structure. Version mismatch.");
    pic.width = w;
    pic.height = h;
    pic.colorspace = WEBP_YUV420;
    pic.use_argb = 1;
    if (!WebPPictureImportRGBA(&pic, rgba.data(), w * 4)) {
        WebPPictureFree(&pic);
        return failWith(statusForVP8Code(VP8_STATUS_OUT_OF_MEMORY));
    }
    if (!config.lossless) WebPPictureARGBToYUVA(&pic, WEBP_YUV420);
    WebPCleanupTransparentArea(&pic);

    WebPMemoryWriter writer;
    WebPMemoryWriterInit(&writer);
    pic.writer = WebPMemoryWrite;
    pic.custom_ptr = &writer;
    bool ok = WebPEncode(&config, &pic) != 0;
    if (ok) out.assign(writer.mem, writer.mem + writer.size);
    int code = pic.error_code;
    WebPMemoryWriterClear(&writer);
    WebPPictureFree(&pic);
    if (!ok) return failWith("Encoding failed (" + std::to_string(code) + ").");
    return out;
}

std::vector<uint8_t> WebPImage::imageToWebP(const gfx::ImageRef& image, double quality) {
    require(image != nullptr, notSatisfying("image != nil"));
    require(quality >= 0.0 && quality <= 100.0, notSatisfying("quality >= 0.0f && quality <= 100.0f"));
    return convertToWebP(image, quality, 1.0, WEBP_PRESET_DEFAULT, nullptr, nullptr);
}

void WebPImage::imageToWebP(const gfx::ImageRef& image, double quality, double alpha, WebPPreset preset,
                            DataCompletionBlock completionBlock, FailureBlock failureBlock) {
    imageToWebP(image, quality, alpha, preset, ConfigBlock(), std::move(completionBlock),
                std::move(failureBlock));
}

void WebPImage::imageToWebP(const gfx::ImageRef& image, double quality, double alpha, WebPPreset preset,
                            ConfigBlock configBlock, DataCompletionBlock completionBlock,
                            FailureBlock failureBlock) {
    const std::string who = "imageToWebP:quality:alpha:completionBlock:failureBlock ";
    require(image != nullptr, who + "image cannot be nil");
    require(quality >= 0.0 && quality <= 100.0, who + "quality has to be [0, 100]");
    require(alpha >= 0.0 && alpha <= 1.0, who + "alpha has to be [0, 1]");
    require(bool(completionBlock), who + "completionBlock cannot be nil");
    require(bool(failureBlock), who + "failureBlock block cannot be nil");
    Workers::shared().start([=] {
        Error error;
        std::vector<uint8_t> data = convertToWebP(image, quality, alpha, preset, configBlock, &error);
        sys::RunLoop::main().post([data = std::move(data), error, completionBlock, failureBlock]() mutable {
            if (!data.empty()) completionBlock(std::move(data));
            else failureBlock(error);
        });
    });
}

std::string WebPImage::version(long value) {
    char hex[32];
    std::snprintf(hex, sizeof hex, "%06lx", value);
    std::string s(hex), out;
    for (size_t i = 0; i + 2 <= s.size(); i += 2) {
        if (!out.empty()) out += ".";
        out += std::to_string(std::strtol(s.substr(i, 2).c_str(), nullptr, 10));
    }
    return out;
}
