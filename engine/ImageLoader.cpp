#include "engine/ImageLoader.h"

#include "engine/ImageAVIF.h"
#include "engine/WebPImage.h"
#include "platform/graphics/ImageDecoder.h"
#include "platform/graphics/JpegCodec.h"

#include <webp/decode.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace {

thread_local gfx::DecodeOptions tDecodeSize;
thread_local const ImageLoader::DecodeNeed* tDecodeNeed = nullptr;
thread_local ImageLoader::ScopedMeasureOnly* tMeasureOnly = nullptr;

// The bytes that running decodes hold, shared by every thread.
struct DecodeMemory {
    std::mutex mutex;
    std::condition_variable freed;
    uint64_t held = 0;
};

DecodeMemory& decodeMemory() {
    static DecodeMemory memory;
    return memory;
}

// Holds `bytes` of the budget while a decode runs: waits while others hold
// too much to add them (alone, any decode may run).
class DecodeReservation {
public:
    explicit DecodeReservation(uint64_t bytes) : bytes_(std::min(bytes, ImageLoader::kMaxDecodedBytes)) {
        DecodeMemory& m = decodeMemory();
        std::unique_lock lock(m.mutex);
        m.freed.wait(lock, [&] { return m.held == 0 || m.held + bytes_ <= ImageLoader::kMaxDecodedBytes; });
        m.held += bytes_;
    }
    ~DecodeReservation() {
        DecodeMemory& m = decodeMemory();
        {
            std::lock_guard lock(m.mutex);
            m.held -= bytes_;
        }
        m.freed.notify_all();
    }
    DecodeReservation(const DecodeReservation&) = delete;
    DecodeReservation& operator=(const DecodeReservation&) = delete;

private:
    uint64_t bytes_;
};

// The whole upright size the header tells, for the formats that can be
// decoded reduced (JPEG, PNG, WebP) and those that cannot; false when the
// bytes say nothing.
bool wholeSize(std::span<const uint8_t> data, gfx::ImageFormat& format, int& w, int& h) {
    format = gfx::ImageDecoder::sniff(data);
    if (format == gfx::ImageFormat::WebP) {
        return WebPGetInfo(data.data(), data.size(), &w, &h) && w > 0 && h > 0;
    }
    gfx::ImageInfo info;
    if (!gfx::ImageDecoder::handles(format) || !gfx::ImageDecoder::probe(data, info)) return false;
    w = info.width;
    h = info.height;
    return w > 0 && h > 0;
}

bool reducible(gfx::ImageFormat f) {
    return f == gfx::ImageFormat::Jpeg || f == gfx::ImageFormat::Png || f == gfx::ImageFormat::WebP;
}

// The pixels a decode of a w x h picture with `options` makes.
uint64_t decodedPixels(gfx::ImageFormat f, int w, int h, const gfx::DecodeOptions& options) {
    int rw = w, rh = h;
    if (f == gfx::ImageFormat::Jpeg) {
        int num = 1, denom = 1;
        gfx::JpegCodec::scalingFor(w, h, options.minWidth, options.minHeight, num, denom);
        rw = int((int64_t(w) * num + denom - 1) / denom);
        rh = int((int64_t(h) * num + denom - 1) / denom);
    } else if (reducible(f)) {
        gfx::ImageDecoder::reducedSize(w, h, options, rw, rh);
    }
    return uint64_t(rw) * uint64_t(rh);
}

struct DecodeObserverSlot {
    std::mutex mutex;
    std::shared_ptr<const ImageLoader::DecodeObserver> observer;
};

DecodeObserverSlot& decodeObserverSlot() {
    static DecodeObserverSlot slot;
    return slot;
}

// Tells the observer, if any, of one decode from its start to its end.
class ObservedDecode {
public:
    ObservedDecode() {
        DecodeObserverSlot& slot = decodeObserverSlot();
        {
            std::lock_guard lock(slot.mutex);
            observer_ = slot.observer;
        }
        if (observer_) (*observer_)(false);
    }
    ~ObservedDecode() {
        if (observer_) (*observer_)(true);
    }
    ObservedDecode(const ObservedDecode&) = delete;
    ObservedDecode& operator=(const ObservedDecode&) = delete;

private:
    std::shared_ptr<const ImageLoader::DecodeObserver> observer_;
};

}  // namespace

void ImageLoader::setDecodeObserver(DecodeObserver observer) {
    auto next = observer ? std::make_shared<const DecodeObserver>(std::move(observer)) : nullptr;
    DecodeObserverSlot& slot = decodeObserverSlot();
    std::lock_guard lock(slot.mutex);
    slot.observer = std::move(next);
}

ImageLoader::ScopedDecodeSize::ScopedDecodeSize(int minWidth, int minHeight)
    : previousWidth_(tDecodeSize.minWidth), previousHeight_(tDecodeSize.minHeight) {
    tDecodeSize.minWidth = minWidth > 0 ? minWidth : 0;
    tDecodeSize.minHeight = minHeight > 0 ? minHeight : 0;
}

ImageLoader::ScopedDecodeSize::~ScopedDecodeSize() {
    tDecodeSize.minWidth = previousWidth_;
    tDecodeSize.minHeight = previousHeight_;
}

ImageLoader::ScopedDecodeNeed::ScopedDecodeNeed(DecodeNeed need) : need_(std::move(need)), previous_(tDecodeNeed) {
    tDecodeNeed = need_ ? &need_ : nullptr;
}

ImageLoader::ScopedDecodeNeed::~ScopedDecodeNeed() { tDecodeNeed = previous_; }

ImageLoader::ScopedMeasureOnly::ScopedMeasureOnly() : previous_(tMeasureOnly) { tMeasureOnly = this; }

ImageLoader::ScopedMeasureOnly::~ScopedMeasureOnly() { tMeasureOnly = previous_; }

uint64_t ImageLoader::decodingBytes() {
    DecodeMemory& m = decodeMemory();
    std::lock_guard lock(m.mutex);
    return m.held;
}

gfx::ImageRef ImageLoader::imageWithAnyContentsOfFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (!gfx::ImageDecoder::readFile(path, bytes) || bytes.empty()) return nullptr;
    return imageWithAnyData(bytes);
}

gfx::Size ImageLoader::pictureSize(std::span<const uint8_t> data) {
    gfx::ImageFormat format = gfx::ImageFormat::Unknown;
    int w = 0, h = 0;
    if (!wholeSize(data, format, w, h)) return {};
    return {double(w), double(h)};
}

gfx::ImageRef ImageLoader::imageWithAnyData(std::span<const uint8_t> data) {
    gfx::DecodeOptions options = tDecodeSize;
    gfx::ImageFormat format = gfx::ImageFormat::Unknown;
    int w = 0, h = 0;
    if (ScopedMeasureOnly* measure = tMeasureOnly) {
        measure->looked_ = true;
        if (wholeSize(data, format, w, h)) measure->size_ = {double(w), double(h)};
        measure->format_ = format;
        return nullptr;
    }
    uint64_t pixels = 0;
    if (wholeSize(data, format, w, h)) {
        if (tDecodeNeed && reducible(format)) {
            const gfx::Size need = (*tDecodeNeed)(gfx::Size{double(w), double(h)});
            // Whole pixels, as a view counts them (a fraction is dropped):
            // the picture comes at the view's own size and is not scaled a
            // second time for a fraction of a pixel.
            auto side = [](double v) {
                return std::isfinite(v) && v > 0 ? std::max(1, int(std::min(std::floor(v + 1e-6), 65535.0))) : 0;
            };
            options.minWidth = side(need.width);
            options.minHeight = side(need.height);
            options.exact = true;
        }
        pixels = decodedPixels(format, w, h, options);
        if (reducible(format) && pixels * 4 > kMaxDecodedBytes) {
            // Past the budget: the largest picture within it.
            const double f = std::sqrt(double(kMaxDecodedBytes / 4) / (double(w) * double(h)));
            options.minWidth = std::max(1, int(std::floor(w * f)));
            options.minHeight = std::max(1, int(std::floor(h * f)));
            pixels = decodedPixels(format, w, h, options);
        }
    }
    ObservedDecode observed;
    DecodeReservation reservation(pixels * 4);
    // Each decoder refuses foreign bytes at their signature, so trying them
    // in turn costs nothing for the ones that do not apply.
    if (gfx::ImageRef img = gfx::ImageDecoder::decode(data, options)) return img;
    if (gfx::ImageRef img = WebPImage::imageWithWebPDataError(data, nullptr, options)) return img;
    return ImageAVIF::imageWithData(data);
}
