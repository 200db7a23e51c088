#include "engine/ZipEntryReader.h"

#include <unzip.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

constexpr uint32_t kFlagEncrypted = 0x0001;
constexpr uint32_t kFlagDataDescriptor = 0x0008;
constexpr uint32_t kFlagStrongEncryption = 0x0040;
constexpr uint32_t kMethodStored = 0;
constexpr uint32_t kMethodDeflated = 8;
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

struct ZipEntryReader::Inflater {
    z_stream z{};
    bool ended = false;
    bool init() { return inflateInit2(&z, -MAX_WBITS) == Z_OK; }
    ~Inflater() { inflateEnd(&z); }
};

ZipEntryReader::ZipEntryReader(ZipArchive& archive) : archive_(archive) {}

ZipEntryReader::~ZipEntryReader() { close(); }

void ZipEntryReader::close() {
    if (opened_) unzCloseCurrentFile(archive_.handle());
    opened_ = false;
    cipher_.reset();
    inflater_.reset();
    in_.reset();
    inPos_ = inLen_ = 0;
    rawEnded_ = false;
}

ZipEntryReader::Status ZipEntryReader::fail(Status s) {
    close();
    if (s != Status::Cancelled && archive_.isExitStream()) s = Status::Cancelled;
    // A password that passes the one-byte check by chance (1 in 256) shows
    // itself as garbage: treat that as the wrong password too.
    if (s == Status::BadData && entry_.isEncrypted()) s = Status::WrongPassword;
    return s;
}

ZipEntryReader::Status ZipEntryReader::open(const std::optional<std::string>& password, uint64_t maxBytes) {
    close();
    done_ = false;
    crc_ = 0;
    entry_ = {};
    if (archive_.isExitStream()) return Status::Cancelled;
    if (!archive_.current(entry_)) return fail(Status::ReadError);
    if (entry_.method == kMethodAES || (entry_.flag & kFlagStrongEncryption)) return Status::Unsupported;
    if (entry_.method != kMethodStored && entry_.method != kMethodDeflated) return Status::Unsupported;
    if (entry_.uncompressedSize > maxBytes) return Status::TooLarge;
    remaining_ = entry_.uncompressedSize;

    if (!entry_.isEncrypted()) {
        if (unzOpenCurrentFile(archive_.handle()) != UNZ_OK) return fail(Status::ReadError);
        opened_ = true;
        return Status::Ok;
    }

    if (!password) return Status::NeedPassword;
    if (entry_.compressedSize < kHeaderBytes) return fail(Status::BadData);
    int method = 0, level = 0;
    if (unzOpenCurrentFile2(archive_.handle(), &method, &level, 1) != UNZ_OK) return fail(Status::ReadError);
    opened_ = true;
    cipher_ = std::make_unique<Cipher>(*password);
    in_ = std::make_unique<unsigned char[]>(kInBytes);

    unsigned char header[kHeaderBytes];
    size_t have = 0;
    while (have < kHeaderBytes) {
        int r = unzReadCurrentFile(archive_.handle(), header + have, unsigned(kHeaderBytes - have));
        if (r < 0) return fail(Status::ReadError);
        if (r == 0) return fail(Status::BadData);
        have += size_t(r);
    }
    cipher_->decrypt(header, kHeaderBytes);
    // Writers that stream (and so know no CRC yet) check with the time instead.
    const unsigned char check = (entry_.flag & kFlagDataDescriptor) ? static_cast<unsigned char>(entry_.dosDate >> 8)
                                                                      : static_cast<unsigned char>(entry_.crc >> 24);
    if (header[kHeaderBytes - 1] != check) {
        close();
        return Status::WrongPassword;
    }
    if (entry_.method == kMethodDeflated) {
        inflater_ = std::make_unique<Inflater>();
        if (!inflater_->init()) return fail(Status::ReadError);
    }
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
    Status s = cipher_ ? readDeciphered(out, size, got) : readPlain(out, size, got);
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

ZipEntryReader::Status ZipEntryReader::fill() {
    int r = unzReadCurrentFile(archive_.handle(), in_.get(), unsigned(kInBytes));
    if (r < 0) return r == UNZ_ERRNO ? Status::ReadError : Status::BadData;
    inPos_ = 0;
    inLen_ = size_t(r);
    if (r == 0) rawEnded_ = true;
    cipher_->decrypt(in_.get(), inLen_);
    if (inflater_) {
        inflater_->z.next_in = in_.get();
        inflater_->z.avail_in = uInt(inLen_);
    }
    return Status::Ok;
}

ZipEntryReader::Status ZipEntryReader::readDeciphered(char* out, size_t size, size_t& got) {
    if (!inflater_) {
        while (got < size) {
            if (inPos_ == inLen_) {
                if (rawEnded_) break;
                if (Status s = fill(); s != Status::Ok) return s;
                continue;
            }
            const size_t take = std::min(size - got, inLen_ - inPos_);
            std::memcpy(out + got, in_.get() + inPos_, take);
            inPos_ += take;
            got += take;
        }
    } else {
        z_stream& z = inflater_->z;
        z.next_out = reinterpret_cast<Bytef*>(out);
        z.avail_out = uInt(size);
        while (z.avail_out > 0 && !inflater_->ended) {
            if (z.avail_in == 0 && !rawEnded_) {
                if (Status s = fill(); s != Status::Ok) return s;
            }
            int r = inflate(&z, Z_NO_FLUSH);
            if (r == Z_STREAM_END) inflater_->ended = true;
            else if (r == Z_BUF_ERROR && rawEnded_) return Status::BadData;  // cut short
            else if (r != Z_OK && r != Z_BUF_ERROR) return Status::BadData;
        }
        got = size - z.avail_out;
    }
    return Status::Ok;
}

ZipEntryReader::Status ZipEntryReader::finish() {
    if (remaining_ != 0) return fail(Status::BadData);
    if (cipher_) {
        if (inflater_ && !inflater_->ended) {
            // Everything announced is here; the deflate stream must end now,
            // without a byte more.
            z_stream& z = inflater_->z;
            unsigned char extra;
            while (!inflater_->ended) {
                if (z.avail_in == 0 && !rawEnded_) {
                    if (Status s = fill(); s != Status::Ok) return fail(s);
                }
                z.next_out = &extra;
                z.avail_out = 1;
                int r = inflate(&z, Z_NO_FLUSH);
                if (z.avail_out == 0) return fail(Status::BadData);
                if (r == Z_STREAM_END) inflater_->ended = true;
                else if (r != Z_OK && !(r == Z_BUF_ERROR && !rawEnded_)) return fail(Status::BadData);
            }
        }
        if (crc_ != entry_.crc) return fail(Status::BadData);
        close();
    } else {
        if (crc_ != entry_.crc) return fail(Status::BadData);
        opened_ = false;
        if (unzCloseCurrentFile(archive_.handle()) != UNZ_OK) return fail(Status::BadData);
    }
    done_ = true;
    return Status::End;
}

ZipEntryReader::Status ZipEntryReader::readAll(std::string& out) {
    out.clear();
    out.resize(size_t(entry_.uncompressedSize));
    size_t have = 0;
    for (;;) {
        size_t got = 0;
        Status s = read(out.data() + have, std::min(kPieceBytes, out.size() - have), got);
        have += got;
        if (s == Status::End) return s;
        if (s != Status::Ok) {
            out.clear();
            return s;
        }
    }
}
