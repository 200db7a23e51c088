#pragma once

#include "platform/graphics/Image.h"
#include "platform/graphics/ImageDecoder.h"

#include <webp/encode.h>

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

// WebP pages: decoding (synchronous, or on a worker with the answer posted
// to the main loop) and encoding, over libwebp. Decoded images are
// premultiplied ARGB like every other page image.
class WebPImage {
public:
    struct Error {
        std::string domain;
        int code = 0;
        std::string message;
    };
    using CompletionBlock = std::function<void(gfx::ImageRef)>;
    using FailureBlock = std::function<void(const Error&)>;
    using DataCompletionBlock = std::function<void(std::vector<uint8_t>)>;
    using ConfigBlock = std::function<void(WebPConfig&)>;

    // "<bundle identifier>.errorDomain"; every error carries code -101.
    static std::string errorDomain();
    static constexpr int kErrorCode = -101;
    // libwebp's status codes 1..7 by name, "UNEXPECTED_ERROR" otherwise.
    static std::string statusForVP8Code(int code);

    // Decoding. A file that cannot be read gives its read error unchanged.
    // With `reduce`, the picture is scaled while it is decoded to the size
    // ImageDecoder::reducedSize gives.
    static gfx::ImageRef imageWithWebPError(const std::string& filePath, Error* error);
    static gfx::ImageRef imageWithWebPDataError(std::span<const uint8_t> data, Error* error,
                                                const gfx::DecodeOptions& reduce = {});
    // The same without the error; filePath must not be empty (a programming
    // error: std::invalid_argument).
    static gfx::ImageRef imageWithWebP(const std::string& filePath);
    static gfx::ImageRef imageWithWebPData(std::span<const uint8_t> data);
    // Decodes on a worker thread, then runs exactly one of the two blocks on
    // the main loop.
    static void imageWithWebPCompletionBlock(const std::string& filePath, CompletionBlock completionBlock,
                                             FailureBlock failureBlock);

    // Encoding: quality 0..100, alpha 0..1 (scales the image's alpha first),
    // a libwebp preset, and an optional block that may change the
    // configuration. Empty data on failure.
    static std::vector<uint8_t> convertToWebP(const gfx::ImageRef& image, double quality, double alpha,
                                              WebPPreset preset, const ConfigBlock& configBlock,
                                              Error* error);
    static std::vector<uint8_t> imageToWebP(const gfx::ImageRef& image, double quality);
    // Encode on a worker thread; one of the blocks runs on the main loop.
    static void imageToWebP(const gfx::ImageRef& image, double quality, double alpha, WebPPreset preset,
                            DataCompletionBlock completionBlock, FailureBlock failureBlock);
    static void imageToWebP(const gfx::ImageRef& image, double quality, double alpha, WebPPreset preset,
                            ConfigBlock configBlock, DataCompletionBlock completionBlock,
                            FailureBlock failureBlock);

    // A copy whose opacity is multiplied by alpha (0..1).
    static gfx::ImageRef webPImage(const gfx::ImageRef& image, double alpha);
    // The image drawn again with the given alpha; the image itself for 1.
    static gfx::ImageRef imageByApplyingAlpha(const gfx::ImageRef& image, double alpha);

    // 0x010203 -> "1.2.3": six hexadecimal digits read pairwise as decimals.
    static std::string version(long value);
};
