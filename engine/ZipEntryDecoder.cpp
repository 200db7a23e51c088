#include "engine/ZipEntryDecoder.h"

#include "engine/MemoryArchiveSource.h"
#include "engine/MemoryItemSink.h"
#include "engine/SevenZipArchive.h"
#include "engine/SevenZipInterfaces.h"
#include "engine/SevenZipLibrary.h"

#include <bzlib.h>
#include <lzma.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

namespace {

using Result = ZipEntryDecoder::Result;

class StoredDecoder : public ZipEntryDecoder {
public:
    Result decode(const unsigned char*& in, size_t& inLength, bool inputEnded, char* out, size_t outLength,
                  size_t& produced) override {
        produced = std::min(inLength, outLength);
        std::memcpy(out, in, produced);
        in += produced;
        inLength -= produced;
        return inputEnded && inLength == 0 ? Result::End : Result::Ok;
    }
};

// Shapes shared by the three libraries: feed, drain, tell whether the
// stream ended, and call a stream that can take no more input while it
// still wants some cut short.
class DeflateDecoder : public ZipEntryDecoder {
public:
    DeflateDecoder() { ok_ = inflateInit2(&z_, -MAX_WBITS) == Z_OK; }
    ~DeflateDecoder() override {
        if (ok_) inflateEnd(&z_);
    }
    Result decode(const unsigned char*& in, size_t& inLength, bool inputEnded, char* out, size_t outLength,
                  size_t& produced) override {
        produced = 0;
        if (!ok_) return Result::Failed;
        z_.next_in = const_cast<Bytef*>(in);
        z_.avail_in = uInt(std::min<size_t>(inLength, UINT_MAX));
        z_.next_out = reinterpret_cast<Bytef*>(out);
        z_.avail_out = uInt(std::min<size_t>(outLength, UINT_MAX));
        const uInt before = z_.avail_in;
        const int r = inflate(&z_, Z_NO_FLUSH);
        const size_t used = before - z_.avail_in;
        in += used;
        inLength -= used;
        produced = outLength - z_.avail_out;
        if (r == Z_STREAM_END) return Result::End;
        if (r == Z_OK) return Result::Ok;
        if (r == Z_BUF_ERROR) return inputEnded && inLength == 0 && produced == 0 ? Result::BadData : Result::Ok;
        return r == Z_MEM_ERROR ? Result::Failed : Result::BadData;
    }

private:
    z_stream z_{};
    bool ok_ = false;
};

class Bzip2Decoder : public ZipEntryDecoder {
public:
    Bzip2Decoder() { ok_ = BZ2_bzDecompressInit(&s_, 0, 0) == BZ_OK; }
    ~Bzip2Decoder() override {
        if (ok_) BZ2_bzDecompressEnd(&s_);
    }
    Result decode(const unsigned char*& in, size_t& inLength, bool inputEnded, char* out, size_t outLength,
                  size_t& produced) override {
        produced = 0;
        if (!ok_) return Result::Failed;
        s_.next_in = reinterpret_cast<char*>(const_cast<unsigned char*>(in));
        s_.avail_in = unsigned(std::min<size_t>(inLength, UINT_MAX));
        s_.next_out = out;
        s_.avail_out = unsigned(std::min<size_t>(outLength, UINT_MAX));
        const unsigned before = s_.avail_in;
        const int r = BZ2_bzDecompress(&s_);
        const size_t used = before - s_.avail_in;
        in += used;
        inLength -= used;
        produced = outLength - s_.avail_out;
        if (r == BZ_STREAM_END) return Result::End;
        if (r == BZ_MEM_ERROR) return Result::Failed;
        if (r != BZ_OK) return Result::BadData;
        return inputEnded && inLength == 0 && used == 0 && produced == 0 ? Result::BadData : Result::Ok;
    }

private:
    bz_stream s_{};
    bool ok_ = false;
};

// LZMA in a zip: a 4-byte header of its own (the encoder's version, then
// the size of the properties), the properties, then the raw stream, ended
// by an end marker when the flag's bit 1 says so. liblzma's .lzma decoder
// takes the stream behind a header we write from those properties.
class LzmaDecoder : public ZipEntryDecoder {
public:
    LzmaDecoder(bool endMarker, uint64_t size) : endMarker_(endMarker), size_(size) {}
    ~LzmaDecoder() override {
        if (started_) lzma_end(&s_);
    }
    Result decode(const unsigned char*& in, size_t& inLength, bool inputEnded, char* out, size_t outLength,
                  size_t& produced) override {
        produced = 0;
        if (!started_) {
            while (inLength > 0 && header_.size() < headerLength()) {
                header_.push_back(char(*in++));
                --inLength;
            }
            if (header_.size() < headerLength()) return inputEnded ? Result::BadData : Result::Ok;
            if (Result r = start(); r != Result::Ok) return r;
        }
        if (aloneUsed_ < sizeof alone_) {
            // The decoder reads its header only when it has room to write.
            s_.next_in = alone_ + aloneUsed_;
            s_.avail_in = sizeof alone_ - aloneUsed_;
            s_.next_out = reinterpret_cast<uint8_t*>(out);
            s_.avail_out = outLength;
            const lzma_ret r = lzma_code(&s_, LZMA_RUN);
            aloneUsed_ = sizeof alone_ - s_.avail_in;
            if (r != LZMA_OK) return r == LZMA_MEM_ERROR ? Result::Failed : Result::BadData;
            if (aloneUsed_ < sizeof alone_ || s_.avail_out != outLength) return Result::BadData;
        }
        s_.next_in = in;
        s_.avail_in = inLength;
        s_.next_out = reinterpret_cast<uint8_t*>(out);
        s_.avail_out = outLength;
        const lzma_ret r = lzma_code(&s_, inputEnded ? LZMA_FINISH : LZMA_RUN);
        const size_t used = inLength - s_.avail_in;
        in += used;
        inLength -= used;
        produced = outLength - s_.avail_out;
        if (r == LZMA_STREAM_END) return Result::End;
        if (r == LZMA_MEM_ERROR) return Result::Failed;
        if (r == LZMA_OK) return Result::Ok;
        if (r == LZMA_BUF_ERROR) return inputEnded && inLength == 0 && produced == 0 ? Result::BadData : Result::Ok;
        return Result::BadData;  // corrupt data, or a dictionary beyond the limit
    }

private:
    size_t headerLength() const {
        if (header_.size() < 4) return 4;
        return 4 + (uint8_t(header_[2]) | size_t(uint8_t(header_[3])) << 8);
    }
    Result start() {
        // The properties are one byte of lc/lp/pb and a 4-byte dictionary size.
        if (headerLength() != 4 + 5) return Result::BadData;
        std::memcpy(alone_, header_.data() + 4, 5);
        // A stream with an end marker is read to the marker; one without
        // stops at the announced size.
        const uint64_t length = endMarker_ ? UINT64_MAX : size_;
        for (int i = 0; i < 8; ++i) alone_[5 + i] = uint8_t(length >> (8 * i));
        // The dictionary is allocated as the header asks; no honest entry
        // needs one much larger than itself.
        const uint64_t limit = std::min<uint64_t>(1ull << 30, (96ull << 20) + size_);
        if (lzma_alone_decoder(&s_, limit) != LZMA_OK) return Result::Failed;
        started_ = true;
        return Result::Ok;
    }

    lzma_stream s_ = LZMA_STREAM_INIT;
    bool started_ = false;
    uint8_t alone_[13] = {};
    size_t aloneUsed_ = 0;
    bool endMarker_;
    uint64_t size_;
    std::string header_;
};

void put(std::string& s, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) s.push_back(char(value >> (8 * i)));
}

// A zip64 archive of one entry named "p", so that any size fits.
std::string oneEntryZip(uint32_t method, const std::string& data, uint64_t size, uint32_t crc) {
    std::string zip;
    std::string zip64;
    put(zip64, 0x0001, 2);
    put(zip64, 16, 2);
    put(zip64, size, 8);
    put(zip64, data.size(), 8);
    const uint16_t version = 63;
    put(zip, 0x04034B50, 4);
    put(zip, version, 2);
    put(zip, 0, 2);
    put(zip, method, 2);
    put(zip, 0, 4);  // time and date
    put(zip, crc, 4);
    put(zip, 0xFFFFFFFF, 4);
    put(zip, 0xFFFFFFFF, 4);
    put(zip, 1, 2);
    put(zip, zip64.size(), 2);
    zip += 'p';
    zip += zip64;
    zip += data;

    const uint64_t directory = zip.size();
    std::string zip64Central;
    put(zip64Central, 0x0001, 2);
    put(zip64Central, 24, 2);
    put(zip64Central, size, 8);
    put(zip64Central, data.size(), 8);
    put(zip64Central, 0, 8);
    put(zip, 0x02014B50, 4);
    put(zip, version, 2);
    put(zip, version, 2);
    put(zip, 0, 2);
    put(zip, method, 2);
    put(zip, 0, 4);
    put(zip, crc, 4);
    put(zip, 0xFFFFFFFF, 4);
    put(zip, 0xFFFFFFFF, 4);
    put(zip, 1, 2);
    put(zip, zip64Central.size(), 2);
    put(zip, 0, 2);  // comment
    put(zip, 0, 2);  // disk
    put(zip, 0, 2);  // internal attributes
    put(zip, 0, 4);  // external attributes
    put(zip, 0xFFFFFFFF, 4);
    zip += 'p';
    zip += zip64Central;
    const uint64_t directoryLength = zip.size() - directory;

    const uint64_t end64 = zip.size();
    put(zip, 0x06064B50, 4);
    put(zip, 44, 8);
    put(zip, version, 2);
    put(zip, version, 2);
    put(zip, 0, 4);
    put(zip, 0, 4);
    put(zip, 1, 8);
    put(zip, 1, 8);
    put(zip, directoryLength, 8);
    put(zip, directory, 8);
    put(zip, 0x07064B50, 4);
    put(zip, 0, 4);
    put(zip, end64, 8);
    put(zip, 1, 4);
    put(zip, 0x06054B50, 4);
    put(zip, 0, 2);
    put(zip, 0, 2);
    put(zip, 1, 2);
    put(zip, 1, 2);
    put(zip, 0xFFFFFFFF, 4);
    put(zip, 0xFFFFFFFF, 4);
    put(zip, 0, 2);
    return zip;
}

}  // namespace

bool ZipEntryDecoder::isKnownMethod(uint32_t method) {
    switch (method) {
    case kStored:
    case kDeflated:
    case kDeflate64:
    case kBzip2:
    case kLzma:
    case kPpmd: return true;
    default: return false;
    }
}

std::unique_ptr<ZipEntryDecoder> ZipEntryDecoder::make(uint32_t method, uint32_t flag, uint64_t size) {
    switch (method) {
    case kStored: return std::make_unique<StoredDecoder>();
    case kDeflated: return std::make_unique<DeflateDecoder>();
    case kBzip2: return std::make_unique<Bzip2Decoder>();
    case kLzma: return std::make_unique<LzmaDecoder>((flag & 0x0002) != 0, size);
    default: return nullptr;
    }
}

ZipEntryDecoder::WholeResult ZipEntryDecoder::decodeWhole(uint32_t method, const std::string& compressed,
                                                           uint64_t size, uint32_t crc, bool crcKnown,
                                                           std::string& out) {
    out.clear();
    if (!SevenZipLibrary::shared().available()) return WholeResult::NoLibrary;
    SevenZipArchive::Error error;
    auto archive = SevenZipArchive::open(std::make_unique<MemoryArchiveSource>(oneEntryZip(method, compressed, size, crc)),
                                         "zip", {}, &error);
    if (!archive) return WholeResult::BadData;
    if (archive->itemCount() != 1) return WholeResult::BadData;
    MemoryItemSink sink(out, size);
    archive->extract({0}, &sink, &error);
    if (sink.tooLarge) return WholeResult::TooLarge;
    // Without a CRC to check (AES version 2 entries), the library's CRC
    // verdict is about the zero we gave it; the authentication code
    // already vouched for the bytes.
    const bool ok = sink.result == sz::kOpOk || (!crcKnown && sink.result == sz::kOpCrcError);
    if (!ok || out.size() != size) {
        out.clear();
        if (sink.result == sz::kOpUnsupportedMethod) return WholeResult::NoLibrary;
        return WholeResult::BadData;
    }
    return WholeResult::Ok;
}
