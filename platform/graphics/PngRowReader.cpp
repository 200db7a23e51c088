#include "platform/graphics/PngRowReader.h"

#include "platform/graphics/Image.h"

#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace gfx {

namespace {

// Inflated rows travel between the threads in blocks of about this size.
constexpr size_t kBlockBytes = size_t(256) << 10;
constexpr int kSlots = 6;

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

int channelsOf(int colourType) {
    switch (colourType) {
        case 0: return 1;  // grey
        case 2: return 3;  // red, green, blue
        case 4: return 2;  // grey, alpha
        case 6: return 4;  // red, green, blue, alpha
        default: return 0;
    }
}

// The zlib stream the IDAT chunks carry, each chunk checked against its
// CRC before its bytes are inflated.
class IdatStream {
public:
    explicit IdatStream(std::span<const uint8_t> file) : file_(file) {
        started_ = inflateInit(&z_) == Z_OK;
    }
    ~IdatStream() {
        if (started_) inflateEnd(&z_);
    }
    IdatStream(const IdatStream&) = delete;
    IdatStream& operator=(const IdatStream&) = delete;

    // Exactly n inflated bytes into `out`; false, with a message, when the
    // data is damaged or ends first.
    bool fill(uint8_t* out, size_t n, std::string& error) {
        if (!started_) return fail(error, "PNG: cannot start inflating");
        z_.next_out = out;
        z_.avail_out = uInt(n);
        while (z_.avail_out > 0) {
            if (ended_) return fail(error, "PNG: the image data ends early");
            if (z_.avail_in == 0) {
                const Next next = nextChunk(error);
                if (next == Next::End) return fail(error, "PNG: the image data is cut short");
                if (next == Next::Fault) return false;
            }
            if (!inflateSome(error)) return false;
        }
        return true;
    }

    // After the last row: the rest of the stream is inflated so that zlib
    // checks the data against its Adler-32, and a picture whose bytes were
    // damaged in a way no row shows is refused. A stream that stops without
    // its end or runs on past the picture is taken as it stands, as libpng
    // and libspng take it; what runs on is checked up to kRunOnChecked bytes.
    bool finish(std::string& error) {
        uint8_t scratch[4096];
        size_t runOn = 0;
        while (!ended_ && runOn < kRunOnChecked) {
            if (z_.avail_in == 0) {
                const Next next = nextChunk(error);
                if (next == Next::End) return true;
                if (next == Next::Fault) return false;
            }
            z_.next_out = scratch;
            z_.avail_out = uInt(sizeof scratch);
            const bool ok = inflateSome(error);
            runOn += sizeof scratch - z_.avail_out;
            if (!ok) return false;
        }
        return true;
    }

private:
    static constexpr size_t kRunOnChecked = size_t(1) << 20;

    enum class Next { Data, End, Fault };

    // One step of inflating into next_out; false, with a message, when zlib
    // finds the data damaged. Marks the end of the stream when it comes.
    bool inflateSome(std::string& error) {
        const int rc = inflate(&z_, Z_NO_FLUSH);
        if (rc == Z_STREAM_END) {
            ended_ = true;
        } else if (rc == Z_BUF_ERROR) {
            if (z_.avail_in != 0) return fail(error, "PNG: damaged image data");
        } else if (rc != Z_OK) {
            return fail(error, std::string("PNG: damaged image data") + (z_.msg ? std::string(" (") + z_.msg + ")" : ""));
        }
        return true;
    }

    static bool fail(std::string& error, const char* message) {
        error = message;
        return false;
    }
    static bool fail(std::string& error, const std::string& message) {
        error = message;
        return false;
    }

    // Moves the input to the next IDAT chunk that holds bytes, skipping the
    // chunks before the first. End when the image data has ended (another
    // chunk, or the end of the file, comes first); Fault, with a message,
    // for a chunk whose CRC is wrong.
    Next nextChunk(std::string& error) {
        for (;;) {
            if (at_ > file_.size() || file_.size() - at_ < 12) return Next::End;
            const uint8_t* head = file_.data() + at_;
            const uint32_t length = be32(head);
            if (length > 0x7FFFFFFFu || file_.size() - at_ - 12 < length) return Next::End;
            const uint8_t* data = head + 8;
            const bool idat = std::memcmp(head + 4, "IDAT", 4) == 0;
            if (!idat) {
                // The image data runs on in consecutive IDAT chunks: once it
                // has begun, any other chunk ends it.
                if (inData_) return Next::End;
                at_ += 12 + size_t(length);
                continue;
            }
            at_ += 12 + size_t(length);
            inData_ = true;
            uLong crc = crc32(0L, head + 4, 4);
            crc = crc32(crc, data, uInt(length));
            if (uint32_t(crc) != be32(data + length)) {
                error = "PNG: damaged image data (CRC)";
                return Next::Fault;
            }
            if (length == 0) continue;
            z_.next_in = const_cast<Bytef*>(data);
            z_.avail_in = uInt(length);
            return Next::Data;
        }
    }

    std::span<const uint8_t> file_;
    size_t at_ = 8;  // after the signature
    bool inData_ = false;
    bool ended_ = false;
    bool started_ = false;
    z_stream z_{};
};

// Undoes one row's filter in place, a byte at a time: for pixels of one or
// two bytes. `up` is the row above, already unfiltered (zeros above the
// first row).
template <int bpp>
bool unfilterBytes(int filter, uint8_t* __restrict x, const uint8_t* __restrict up, size_t n) {
    switch (filter) {
        case 0:
            return true;
        case 1:
            for (size_t i = bpp; i < n; ++i) x[i] = uint8_t(x[i] + x[i - bpp]);
            return true;
        case 2:
            for (size_t i = 0; i < n; ++i) x[i] = uint8_t(x[i] + up[i]);
            return true;
        case 3:
            for (size_t i = 0; i < bpp && i < n; ++i) x[i] = uint8_t(x[i] + (up[i] >> 1));
            for (size_t i = bpp; i < n; ++i) x[i] = uint8_t(x[i] + ((unsigned(x[i - bpp]) + up[i]) >> 1));
            return true;
        case 4:
            // Left of the first pixel is zero, and so above-left: the
            // prediction there is the byte above.
            for (size_t i = 0; i < bpp && i < n; ++i) x[i] = uint8_t(x[i] + up[i]);
            for (size_t i = bpp; i < n; ++i) {
                const int a = x[i - bpp], b = up[i], c = up[i - bpp];
                const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
                const int p = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
                x[i] = uint8_t(x[i] + p);
            }
            return true;
        default:
            return false;
    }
}

// The same for pixels of three to eight bytes, a whole pixel at a time: its
// bytes are lanes of one vector, so that each step of the left-to-right
// dependency is a handful of vector operations instead of a branch per byte.
using Lanes = int16_t __attribute__((vector_size(16)));
using Bytes = uint8_t __attribute__((vector_size(8)));

// The pixel at p; `room` bytes from p on are in the row. Eight bytes are
// read at once where the row has them (the lanes past the pixel are never
// stored): a narrower read would wait for the bytes just written.
template <int bpp>
inline Lanes loadPixel(const uint8_t* p, size_t room) {
    Bytes b{};
    if (room >= sizeof(Bytes))
        std::memcpy(&b, p, sizeof(Bytes));
    else
        std::memcpy(&b, p, bpp);
    return __builtin_convertvector(b, Lanes);
}

template <int bpp>
inline void storePixel(uint8_t* p, Lanes v) {
    const Bytes b = __builtin_convertvector(v, Bytes);
    std::memcpy(p, &b, bpp);
}

inline Lanes absLanes(Lanes v) {
    const Lanes sign = v >> 15;
    return (v ^ sign) - sign;
}

template <int bpp>
bool unfilterPixels(int filter, uint8_t* __restrict x, const uint8_t* __restrict up, size_t n) {
    const Lanes low = {255, 255, 255, 255, 255, 255, 255, 255};
    switch (filter) {
        case 0:
            return true;
        case 1: {
            Lanes a = loadPixel<bpp>(x, n);
            for (size_t i = bpp; i < n; i += bpp) {
                a = (loadPixel<bpp>(x + i, n - i) + a) & low;
                storePixel<bpp>(x + i, a);
            }
            return true;
        }
        case 2:
            for (size_t i = 0; i < n; ++i) x[i] = uint8_t(x[i] + up[i]);
            return true;
        case 3: {
            Lanes a{};
            for (size_t i = 0; i < n; i += bpp) {
                a = (loadPixel<bpp>(x + i, n - i) + ((a + loadPixel<bpp>(up + i, n - i)) >> 1)) & low;
                storePixel<bpp>(x + i, a);
            }
            return true;
        }
        case 4: {
            Lanes a{}, c{};
            for (size_t i = 0; i < n; i += bpp) {
                const Lanes b = loadPixel<bpp>(up + i, n - i);
                const Lanes pa = absLanes(b - c), pb = absLanes(a - c), pc = absLanes(a + b - c - c);
                const Lanes takeA = (pa <= pb) & (pa <= pc);
                const Lanes takeB = pb <= pc;
                const Lanes p = (takeA & a) | (~takeA & ((takeB & b) | (~takeB & c)));
                a = (loadPixel<bpp>(x + i, n - i) + p) & low;
                storePixel<bpp>(x + i, a);
                c = b;
            }
            return true;
        }
        default:
            return false;
    }
}

bool unfilter(int bpp, int filter, uint8_t* x, const uint8_t* up, size_t n) {
    switch (bpp) {
        case 1: return unfilterBytes<1>(filter, x, up, n);
        case 2: return unfilterBytes<2>(filter, x, up, n);
        case 3: return unfilterPixels<3>(filter, x, up, n);
        case 4: return unfilterPixels<4>(filter, x, up, n);
        case 6: return unfilterPixels<6>(filter, x, up, n);
        case 8: return unfilterPixels<8>(filter, x, up, n);
        default: return false;
    }
}

// One unfiltered row to premultiplied ARGB words. `step` is 1 for 8-bit
// samples and 2 for 16-bit ones, whose first (high) byte is kept.
template <int channels, int step>
void convertRow(const uint8_t* __restrict s, uint32_t* __restrict out, int width) {
    constexpr int px = channels * step;
    for (int x = 0; x < width; ++x, s += px) {
        if constexpr (channels == 1) {
            out[x] = argb(255, s[0], s[0], s[0]);
        } else if constexpr (channels == 2) {
            out[x] = premultiply(s[step], s[0], s[0], s[0]);
        } else if constexpr (channels == 3) {
            out[x] = argb(255, s[0], s[step], s[2 * step]);
        } else {
            out[x] = premultiply(s[3 * step], s[0], s[step], s[2 * step]);
        }
    }
}

using Converter = void (*)(const uint8_t*, uint32_t*, int);

Converter converterFor(int channels, int bitDepth) {
    const bool deep = bitDepth == 16;
    switch (channels) {
        case 1: return deep ? convertRow<1, 2> : convertRow<1, 1>;
        case 2: return deep ? convertRow<2, 2> : convertRow<2, 1>;
        case 3: return deep ? convertRow<3, 2> : convertRow<3, 1>;
        case 4: return deep ? convertRow<4, 2> : convertRow<4, 1>;
        default: return nullptr;
    }
}

// Blocks of inflated rows from the stream, made on a second thread while
// the reader takes the ones before, or on the reader's own thread.
class BlockSource {
public:
    BlockSource(std::span<const uint8_t> file, size_t rowBytes, int height, bool threaded)
        : stream_(file), rowBytes_(rowBytes), height_(height),
          rowsPerBlock_(int(std::clamp<size_t>(kBlockBytes / rowBytes, 1, size_t(height)))),
          slots_(threaded ? kSlots : 1) {
        if (threaded) worker_ = std::thread([this] { produce(); });
    }
    ~BlockSource() {
        if (worker_.joinable()) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                stop_ = true;
            }
            changed_.notify_all();
            worker_.join();
        }
    }
    BlockSource(const BlockSource&) = delete;
    BlockSource& operator=(const BlockSource&) = delete;

    // The next block's rows and their number; null, with a message, when
    // the data is damaged or ends before the picture does.
    uint8_t* next(int& rows, std::string& error) {
        if (!worker_.joinable()) {
            if (made_ >= height_) {
                error = "PNG: no more rows";
                return nullptr;
            }
            Slot& s = slots_[0];
            rows = std::min(rowsPerBlock_, height_ - made_);
            s.bytes.resize(size_t(rows) * rowBytes_);
            if (!stream_.fill(s.bytes.data(), s.bytes.size(), error)) return nullptr;
            made_ += rows;
            return s.bytes.data();
        }
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return produced_ > taken_ || done_; });
        if (produced_ == taken_) {
            error = failure_.empty() ? "PNG: the image data is cut short" : failure_;
            return nullptr;
        }
        Slot& s = slots_[taken_ % slots_.size()];
        rows = s.rows;
        return s.bytes.data();
    }

    // After the last block: whether the rest of the image data checks out
    // (IdatStream::finish), with a message when it does not.
    bool finish(std::string& error) {
        if (!worker_.joinable()) return stream_.finish(error);
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return done_; });
        if (failure_.empty()) return true;
        error = failure_;
        return false;
    }

    // The block next() gave is no longer needed.
    void release() {
        if (!worker_.joinable()) return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++taken_;
        }
        changed_.notify_all();
    }

private:
    struct Slot {
        std::vector<uint8_t> bytes;
        int rows = 0;
    };

    void produce() {
        std::string error;
        bool ok = true;
        for (int y = 0; y < height_ && ok;) {
            size_t index;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] { return produced_ - taken_ < slots_.size() || stop_; });
                if (stop_) return;
                index = produced_ % slots_.size();
            }
            // The slot is this thread's until it is counted as produced.
            Slot& s = slots_[index];
            const int rows = std::min(rowsPerBlock_, height_ - y);
            s.bytes.resize(size_t(rows) * rowBytes_);
            ok = stream_.fill(s.bytes.data(), s.bytes.size(), error);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (ok) {
                    s.rows = rows;
                    ++produced_;
                } else {
                    failure_ = error;
                }
            }
            changed_.notify_all();
            y += rows;
        }
        if (ok) ok = stream_.finish(error);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!ok) failure_ = error;
            done_ = true;
        }
        changed_.notify_all();
    }

    IdatStream stream_;
    const size_t rowBytes_;
    const int height_;
    const int rowsPerBlock_;
    std::vector<Slot> slots_;
    int made_ = 0;  // rows made so far, on the reader's thread alone

    std::mutex mutex_;
    std::condition_variable changed_;
    size_t produced_ = 0, taken_ = 0;
    bool done_ = false, stop_ = false;
    std::string failure_;
    std::thread worker_;  // last: started once everything above is in place
};

}  // namespace

bool PngRowReader::handles(int colourType, int bitDepth, int interlaceMethod) {
    return interlaceMethod == 0 && channelsOf(colourType) > 0 && (bitDepth == 8 || bitDepth == 16);
}

PngRowReader::PngRowReader(std::span<const uint8_t> file, int width, int height, int colourType, int bitDepth)
    : file_(file), width_(width), height_(height), colourType_(colourType), bitDepth_(bitDepth) {}

bool PngRowReader::read(const std::function<void(const uint32_t* row)>& row, std::string& error) {
    const int channels = channelsOf(colourType_);
    const Converter convert = converterFor(channels, bitDepth_);
    if (!convert || width_ <= 0 || height_ <= 0 || file_.size() < 8) {
        error = "PNG: unsupported kind of image";
        return false;
    }
    const int bpp = channels * (bitDepth_ / 8);
    const size_t lineBytes = size_t(width_) * size_t(bpp);
    const size_t rowBytes = 1 + lineBytes;  // the filter type first
    const bool threaded = rowBytes * size_t(height_) >= kThreadedBytes && std::thread::hardware_concurrency() > 1;
    BlockSource source(file_, rowBytes, height_, threaded);
    std::vector<uint8_t> above(lineBytes, 0);  // the last row of the block before
    std::vector<uint32_t> words(static_cast<size_t>(width_));
    for (int y = 0; y < height_;) {
        int rows = 0;
        uint8_t* block = source.next(rows, error);
        if (!block) return false;
        const uint8_t* up = above.data();
        for (int r = 0; r < rows; ++r) {
            uint8_t* line = block + size_t(r) * rowBytes;
            if (!unfilter(bpp, line[0], line + 1, up, lineBytes)) {
                error = "PNG: unknown row filter";
                return false;
            }
            convert(line + 1, words.data(), width_);
            row(words.data());
            up = line + 1;
        }
        std::memcpy(above.data(), up, lineBytes);
        source.release();
        y += rows;
    }
    return source.finish(error);
}

}  // namespace gfx
