#include "engine/ZipEntryReader.h"

#include "engine/ZipAesDecryptor.h"
#include "engine/ZipEntryDecoder.h"

#include <unzip.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

constexpr uint32_t kFlagDataDescriptor = 0x0008;
constexpr uint32_t kFlagStrongEncryption = 0x0040;
constexpr uint32_t kMethodAES = 99;
constexpr size_t kHeaderBytes = 12;
constexpr size_t kInBytes = 65'536;

}  // namespace

// The traditional PKWARE stream cipher: three keys stirred by every plain
// byte, with zlib's CRC-32 table as the mixing function.
struct ZipEntryReader::Cipher {
    explicit Cipher(const std::string& password) : table(get_crc_table()) {
        for (unsigned char c : password) update(c);
    }
    void decrypt(unsigned char* data, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            const uint32_t t = (key2 | 2) & 0xFFFF;
            const unsigned char plain = data[i] ^ static_cast<unsigned char>((t * (t ^ 1)) >> 8);
            update(plain);
            data[i] = plain;
        }
    }

private:
    uint32_t crc(uint32_t value, unsigned char c) const { return uint32_t(table[(value ^ c) & 0xFF]) ^ (value >> 8); }
    void update(unsigned char c) {
        key0 = crc(key0, c);
        key1 = (key1 + (key0 & 0xFF)) * 134'775'813u + 1;
        key2 = crc(key2, static_cast<unsigned char>(key1 >> 24));
    }

    const z_crc_t* table;
    uint32_t key0 = 0x12345678, key1 = 0x23456789, key2 = 0x34567890;
};

ZipEntryReader::ZipEntryReader(ZipArchive& archive) : archive_(archive) {}

ZipEntryReader::~ZipEntryReader() { close(); }

void ZipEntryReader::close() {
    if (libraryOpen_) unzCloseCurrentFile(archive_.handle());
    libraryOpen_ = false;
    opened_ = false;
    cipher_.reset();
    aes_.reset();
    decoder_.reset();
    in_.reset();
    inPos_ = inLen_ = 0;
    rawEnded_ = false;
    decoderEnded_ = false;
    whole_.reset();
    wholePos_ = 0;
}

ZipEntryReader::Status ZipEntryReader::fail(Status s) {
    // Corrupt data under AES: the rest is read to tell a tampered entry
    // (its code fails) from one that was damaged before it was enciphered.
    if (s == Status::BadData && aes_ && in_) {
        while (!rawEnded_) {
            const Status f = fill();
            if (f == Status::AuthenticationFailed) s = f;
            if (f != Status::Ok) break;
        }
    }
    close();
    if (s != Status::Cancelled && archive_.isExitStream()) s = Status::Cancelled;
    // A password that passes the one-byte check by chance (1 in 256) shows
    // itself as garbage: treat that as the wrong password too. (AES checks
    // with two bytes and then the authentication code, which tells.)
    if (s == Status::BadData && isPkware_) s = Status::WrongPassword;
    return s;
}

ZipEntryReader::Status ZipEntryReader::open(const std::optional<std::string>& password, uint64_t maxBytes) {
    close();
    done_ = false;
    crc_ = 0;
    checkCrc_ = true;
    isPkware_ = false;
    entry_ = {};
    if (archive_.isExitStream()) return Status::Cancelled;
    if (!archive_.current(entry_)) return fail(Status::ReadError);
    if (entry_.flag & kFlagStrongEncryption) return Status::Unsupported;
    uint32_t method = entry_.method;
    if (method == kMethodAES) {
        if (!entry_.isEncrypted() || entry_.aesStrength == 0) return Status::Unsupported;
        method = entry_.aesMethod;
    }
    if (!ZipEntryDecoder::isKnownMethod(method)) return Status::UnknownMethod;
    if (entry_.uncompressedSize > maxBytes) return Status::TooLarge;
    if (ZipEntryDecoder::isWholeEntryMethod(method) &&
        (entry_.uncompressedSize > kMaxWholeEntryBytes || entry_.compressedSize > kMaxWholeEntryBytes + (1u << 20)))
        return Status::TooLarge;
    remaining_ = entry_.uncompressedSize;

    if (!entry_.isEncrypted() && (method == ZipEntryDecoder::kStored || method == ZipEntryDecoder::kDeflated)) {
        if (unzOpenCurrentFile(archive_.handle()) != UNZ_OK) return fail(Status::ReadError);
        opened_ = libraryOpen_ = true;
        return Status::Ok;
    }
    if (entry_.isEncrypted() && !password) return Status::NeedPassword;
    return openRaw(password, method);
}

ZipEntryReader::Status ZipEntryReader::openRaw(const std::optional<std::string>& password, uint32_t method) {
    const auto offset = archive_.currentDataOffset();
    if (!offset) return fail(Status::ReadError);
    rawOffset_ = *offset;
    opened_ = true;
    in_ = std::make_unique<unsigned char[]>(kInBytes);

    uint64_t overhead = 0;
    if (entry_.method == kMethodAES) {
        const size_t saltLength = ZipAesDecryptor::saltBytes(entry_.aesStrength);
        overhead = saltLength + ZipAesDecryptor::kVerifierBytes + ZipAesDecryptor::kAuthCodeBytes;
        if (entry_.compressedSize < overhead) return fail(Status::BadData);
        unsigned char head[16 + ZipAesDecryptor::kVerifierBytes];
        if (Status s = readRawBytes(head, saltLength + ZipAesDecryptor::kVerifierBytes); s != Status::Ok)
            return fail(s);
        aes_ = std::make_unique<ZipAesDecryptor>();
        switch (aes_->start(entry_.aesStrength, *password, head, head + saltLength)) {
        case ZipAesDecryptor::Start::Ok: break;
        case ZipAesDecryptor::Start::WrongPassword: close(); return Status::WrongPassword;
        case ZipAesDecryptor::Start::Failed: return fail(Status::ReadError);
        }
        // The second version leaves the CRC out (a CRC of the plain bytes
        // would tell about them); the authentication code stands in for it.
        checkCrc_ = entry_.aesVersion != 2;
    } else if (entry_.isEncrypted()) {
        isPkware_ = true;
        overhead = kHeaderBytes;
        if (entry_.compressedSize < kHeaderBytes) return fail(Status::BadData);
        unsigned char header[kHeaderBytes];
        if (Status s = readRawBytes(header, kHeaderBytes); s != Status::Ok) return fail(s);
        cipher_ = std::make_unique<Cipher>(*password);
        cipher_->decrypt(header, kHeaderBytes);
        // Writers that stream (and so know no CRC yet) check with the time instead.
        const unsigned char check = (entry_.flag & kFlagDataDescriptor) ? static_cast<unsigned char>(entry_.dosDate >> 8)
                                                                          : static_cast<unsigned char>(entry_.crc >> 24);
        if (header[kHeaderBytes - 1] != check) {
            close();
            return Status::WrongPassword;
        }
    }
    rawLeft_ = entry_.compressedSize - overhead;

    if (ZipEntryDecoder::isWholeEntryMethod(method)) {
        // Everything is read, and authenticated, before anything is decoded.
        std::string compressed;
        compressed.reserve(size_t(rawLeft_));
        while (!rawEnded_) {
            if (Status s = fill(); s != Status::Ok) return fail(s);
            compressed.append(reinterpret_cast<const char*>(in_.get()), inLen_);
        }
        std::string data;
        switch (ZipEntryDecoder::decodeWhole(method, compressed, entry_.uncompressedSize, entry_.crc, checkCrc_,
                                             data)) {
        case ZipEntryDecoder::WholeResult::Ok: break;
        // Without 7-Zip's library this build knows no Deflate64 or PPMd.
        case ZipEntryDecoder::WholeResult::NoLibrary: return fail(Status::UnknownMethod);
        default: return fail(Status::BadData);
        }
        whole_ = std::move(data);
        return Status::Ok;
    }
    decoder_ = ZipEntryDecoder::make(method, entry_.flag, entry_.uncompressedSize);
    if (!decoder_) return fail(Status::UnknownMethod);
    return Status::Ok;
}

ZipEntryReader::Status ZipEntryReader::read(void* buffer, size_t size, size_t& got) {
    got = 0;
    if (done_) return Status::End;
    if (!opened_) return Status::ReadError;
    if (archive_.isExitStream()) return fail(Status::Cancelled);
    char* out = static_cast<char*>(buffer);
    size = std::min<uint64_t>({size, remaining_, uint64_t(INT_MAX)});
    if (size == 0) return finish();
    Status s = libraryOpen_ ? readPlain(out, size, got) : readDecoded(out, size, got);
    if (s != Status::Ok) return fail(s);
    if (got == 0) return finish();
    // Our own CRC: the library checks only entries whose sizes it read right.
    crc_ = uint32_t(crc32(crc_, reinterpret_cast<const Bytef*>(out), uInt(got)));
    remaining_ -= got;
    return Status::Ok;
}

ZipEntryReader::Status ZipEntryReader::readPlain(char* out, size_t size, size_t& got) {
    int r = unzReadCurrentFile(archive_.handle(), out, unsigned(size));
    if (r == UNZ_ERRNO) return Status::ReadError;
    if (r < 0) return Status::BadData;
    got = size_t(r);
    return Status::Ok;
}

ZipEntryReader::Status ZipEntryReader::readRawBytes(unsigned char* out, size_t size) {
    const size_t got = archive_.readAt(rawOffset_, out, size);
    rawOffset_ += got;
    if (got == size) return Status::Ok;
    return archive_.isExitStream() ? Status::Cancelled : Status::BadData;
}

// The next piece of the entry's data, deciphered, into in_. Once its last
// byte is in, an AES entry's code is read and checked.
ZipEntryReader::Status ZipEntryReader::fill() {
    inPos_ = inLen_ = 0;
    if (rawEnded_) return Status::Ok;
    const size_t n = size_t(std::min<uint64_t>(kInBytes, rawLeft_));
    if (n > 0) {
        if (Status s = readRawBytes(in_.get(), n); s != Status::Ok) return s;
        inLen_ = n;
        rawLeft_ -= n;
        if (aes_) {
            if (!aes_->decrypt(in_.get(), n)) return Status::ReadError;
        } else if (cipher_) {
            cipher_->decrypt(in_.get(), n);
        }
    }
    if (rawLeft_ == 0) {
        rawEnded_ = true;
        if (aes_) {
            unsigned char code[ZipAesDecryptor::kAuthCodeBytes];
            if (Status s = readRawBytes(code, sizeof code); s != Status::Ok) return s;
            if (!aes_->authenticate(code)) return Status::AuthenticationFailed;
        }
    }
    return Status::Ok;
}

ZipEntryReader::Status ZipEntryReader::readDecoded(char* out, size_t size, size_t& got) {
    if (whole_) {
        got = std::min(size, whole_->size() - wholePos_);
        std::memcpy(out, whole_->data() + wholePos_, got);
        wholePos_ += got;
        return Status::Ok;
    }
    while (got < size && !decoderEnded_) {
        if (inPos_ == inLen_ && !rawEnded_) {
            if (Status s = fill(); s != Status::Ok) return s;
            continue;
        }
        const unsigned char* p = in_.get() + inPos_;
        size_t avail = inLen_ - inPos_;
        size_t produced = 0;
        const ZipEntryDecoder::Result r = decoder_->decode(p, avail, rawEnded_, out + got, size - got, produced);
        const bool progress = produced > 0 || avail != inLen_ - inPos_;
        inPos_ = inLen_ - avail;
        got += produced;
        if (r == ZipEntryDecoder::Result::End) decoderEnded_ = true;
        else if (r == ZipEntryDecoder::Result::BadData) return Status::BadData;
        else if (r == ZipEntryDecoder::Result::Failed) return Status::ReadError;
        else if (!progress && (rawEnded_ || inPos_ < inLen_)) return Status::BadData;  // cut short, or stuck
    }
    return Status::Ok;
}

ZipEntryReader::Status ZipEntryReader::finish() {
    if (remaining_ != 0) return fail(Status::BadData);
    if (libraryOpen_) {
        if (crc_ != entry_.crc) return fail(Status::BadData);
        libraryOpen_ = opened_ = false;
        if (unzCloseCurrentFile(archive_.handle()) != UNZ_OK) return fail(Status::BadData);
        done_ = true;
        return Status::End;
    }
    if (decoder_) {
        // Everything announced is here; the compressed stream must end now,
        // without a byte more.
        while (!decoderEnded_) {
            if (inPos_ == inLen_ && !rawEnded_) {
                if (Status s = fill(); s != Status::Ok) return fail(s);
                continue;
            }
            char extra;
            const unsigned char* p = in_.get() + inPos_;
            size_t avail = inLen_ - inPos_;
            size_t produced = 0;
            const ZipEntryDecoder::Result r = decoder_->decode(p, avail, rawEnded_, &extra, 1, produced);
            const bool progress = avail != inLen_ - inPos_;
            inPos_ = inLen_ - avail;
            if (produced > 0 || r == ZipEntryDecoder::Result::BadData || r == ZipEntryDecoder::Result::Failed)
                return fail(Status::BadData);
            if (r == ZipEntryDecoder::Result::End) decoderEnded_ = true;
            else if (!progress && (rawEnded_ || inPos_ < inLen_)) return fail(Status::BadData);
        }
    }
    // Bytes behind the end of the stream are read too: an AES entry's
    // code covers them.
    while (!rawEnded_) {
        if (Status s = fill(); s != Status::Ok) return fail(s);
    }
    if (checkCrc_ && crc_ != entry_.crc) return fail(Status::BadData);
    close();
    done_ = true;
    return Status::End;
}

ZipEntryReader::Status ZipEntryReader::readAll(std::string& out) {
    out.clear();
    // The announced size is only a claim: the buffer grows with the bytes
    // that really come (never past the claim), so an entry claiming
    // hundreds of megabytes and holding a hundred bytes costs a piece.
    const size_t announced = size_t(entry_.uncompressedSize);
    size_t have = 0;
    for (;;) {
        if (have == out.size() && have < announced) {
            const size_t size = std::min(announced, std::max(have + kPieceBytes, have * 2));
            std::string bigger;
            bigger.reserve(size);
            bigger.assign(out, 0, have);
            bigger.resize(size);
            out.swap(bigger);
        }
        size_t got = 0;
        Status s = read(out.data() + have, std::min(kPieceBytes, out.size() - have), got);
        have += got;
        if (s == Status::End) {
            out.resize(have);
            return s;
        }
        if (s != Status::Ok) {
            out.clear();
            return s;
        }
    }
}
