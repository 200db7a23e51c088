#include "engine/ZipArchive.h"

#include "engine/RemoteStreamRead.h"
#include "foundation/QNTextEncoding.h"
#include "platform/core/Unicode.h"
#include "platform/core/FileManager.h"

#include <unzip.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// The file behind the library's file functions: a local file read through a
// buffer of our own, or a stream.
struct ZipArchive::Source {
    static constexpr size_t kBufferBytes = 65'536;

    // Local file.
    int fd = -1;
    uint64_t size = 0;
    uint64_t pos = 0;
    std::vector<char> buffer;
    uint64_t bufferStart = 0;
    uint64_t bufferLength = 0;
    bool failed = false;
    // Stream.
    RemoteStreamRead* stream = nullptr;

    ~Source() {
        if (fd >= 0) ::close(fd);
    }

    bool exiting() const { return stream && stream->isExitStream(); }

    ssize_t preadFully(char* out, uint64_t n, uint64_t at) {
        for (;;) {
            ssize_t r = ::pread(fd, out, n, off_t(at));
            if (r >= 0 || errno != EINTR) return r;
        }
    }

    uint64_t readLocal(char* out, uint64_t n) {
        uint64_t done = 0;
        while (done < n && pos < size) {
            if (pos >= bufferStart && pos < bufferStart + bufferLength) {
                uint64_t take = std::min(n - done, bufferStart + bufferLength - pos);
                std::memcpy(out + done, buffer.data() + (pos - bufferStart), take);
                done += take;
                pos += take;
                continue;
            }
            const uint64_t want = std::min(n - done, size - pos);
            if (want >= kBufferBytes) {
                // Entry data: straight into the caller's buffer.
                ssize_t r = preadFully(out + done, want, pos);
                if (r < 0) failed = true;
                if (r <= 0) break;
                done += uint64_t(r);
                pos += uint64_t(r);
                continue;
            }
            if (buffer.empty()) buffer.resize(kBufferBytes);
            bufferLength = 0;
            ssize_t r = preadFully(buffer.data(), kBufferBytes, pos);
            if (r < 0) failed = true;
            if (r <= 0) break;
            bufferStart = pos;
            bufferLength = uint64_t(r);
        }
        return done;
    }

    uint64_t read(void* out, uint64_t n) {
        if (stream) {
            if (stream->isExitStream()) return 0;
            return stream->readByte(out, stream->fileOffset(), n);
        }
        return readLocal(static_cast<char*>(out), n);
    }

    uint64_t tell() const { return stream ? uint64_t(stream->fileOffset()) : pos; }
    uint64_t length() const { return stream ? uint64_t(stream->contentLength()) : size; }

    bool seek(uint64_t offset, int origin) {
        int64_t base;
        switch (origin) {
        case ZLIB_FILEFUNC_SEEK_SET: base = 0; break;
        case ZLIB_FILEFUNC_SEEK_CUR: base = int64_t(tell()); break;
        case ZLIB_FILEFUNC_SEEK_END: base = int64_t(length()); break;
        default: return false;
        }
        const int64_t to = base + int64_t(offset);
        if (to < 0) return false;
        if (stream) stream->setFileOffset(to);
        else pos = uint64_t(to);
        return true;
    }

    bool error() const { return stream ? stream->isExitStream() : failed; }
};

namespace {

// The library's file functions over a Source, which it hands back as its
// stream pointer. The archive is only ever read.
struct ZipFileFunctions {
    using S = ZipArchive::Source;
    static S* of(voidpf stream) { return static_cast<S*>(stream); }
    static voidpf open(voidpf opaque, const void*, int mode) {
        if (mode & ZLIB_FILEFUNC_MODE_WRITE) return nullptr;
        of(opaque)->seek(0, ZLIB_FILEFUNC_SEEK_SET);
        return opaque;
    }
    static uLong read(voidpf, voidpf stream, void* buf, uLong size) { return uLong(of(stream)->read(buf, size)); }
    static uLong write(voidpf, voidpf, const void*, uLong) { return 0; }
    static ZPOS64_T tell(voidpf, voidpf stream) { return ZPOS64_T(of(stream)->tell()); }
    static long seek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
        return of(stream)->seek(uint64_t(offset), origin) ? 0 : -1;
    }
    // The archive owns the file; the library's close leaves it open.
    static int close(voidpf, voidpf) { return 0; }
    static int error(voidpf, voidpf stream) { return of(stream)->error() ? 1 : 0; }

    static zlib_filefunc64_def table(S* source) {
        zlib_filefunc64_def t{};
        t.zopen64_file = open;
        t.zread_file = read;
        t.zwrite_file = write;
        t.ztell64_file = tell;
        t.zseek64_file = seek;
        t.zclose_file = close;
        t.zerror_file = error;
        t.opaque = source;
        return t;
    }
};

}  // namespace

ZipArchive::ZipArchive(std::unique_ptr<Source> source, std::shared_ptr<RemoteStreamRead> stream)
    : source_(std::move(source)), stream_(std::move(stream)) {}

ZipArchive::~ZipArchive() {
    if (unz_) {
        unzCloseCurrentFile(unz_);
        unzClose(unz_);
    }
}

int ZipArchive::releaseFile() {
    if (unz_) {
        unzCloseCurrentFile(unz_);
        unzClose(unz_);
        unz_ = nullptr;
    }
    if (!source_) return -1;
    const int fd = source_->fd;
    source_->fd = -1;
    return fd;
}

bool ZipArchive::open() {
    zlib_filefunc64_def table = ZipFileFunctions::table(source_.get());
    unz_ = unzOpen2_64("zip", &table);
    if (!unz_) return false;
    unz_global_info64 info{};
    if (unzGetGlobalInfo64(unz_, &info) != UNZ_OK) return false;
    entryCount_ = info.number_entry;
    return !source_->error();
}

std::unique_ptr<ZipArchive> ZipArchive::openFile(const std::string& path) {
    auto source = std::make_unique<Source>();
    struct stat st{};
    source->fd = sys::FileManager::openRegularFileForReading(path, nullptr, &st);
    if (source->fd < 0) return nullptr;
    source->size = uint64_t(st.st_size);
    std::unique_ptr<ZipArchive> archive(new ZipArchive(std::move(source), nullptr));
    if (!archive->open()) return nullptr;
    return archive;
}

std::unique_ptr<ZipArchive> ZipArchive::openStream(std::shared_ptr<RemoteStreamRead> stream) {
    if (!stream || stream->isExitStream()) return nullptr;
    auto source = std::make_unique<Source>();
    source->stream = stream.get();
    std::unique_ptr<ZipArchive> archive(new ZipArchive(std::move(source), std::move(stream)));
    archive->requestStreamTail();
    if (!archive->open()) return nullptr;
    return archive;
}

void ZipArchive::requestStreamTail() {
    // The library looks for the end records in the last 64 KiB (the zip64
    // locator, which most archives lack, makes it read all of them), and a
    // book's directory usually lies there too: one request for the lot,
    // where the blocks they touch would cost a round trip each.
    const uint64_t length = source_->length();
    const uint64_t tail = std::min<uint64_t>(length, kEndSearchBytes);
    if (tail == 0 || !stream_->requestSpan(int64_t(length - tail), tail)) return;
    // A directory in front of that: a second request, when not too large
    // (a huge one comes block by block as it is read).
    leadingBytes();
    if (directoryStart_ && *directoryStart_ < length - tail)
        stream_->requestSpan(int64_t(*directoryStart_), length - tail - *directoryStart_);
}

bool ZipArchive::isExitStream() const { return source_->exiting(); }

ZipArchive::Step ZipArchive::goToFirst() {
    if (entryCount_ == 0) return Step::End;
    if (unzGoToFirstFile(unz_) != UNZ_OK) return Step::Error;
    return isExitStream() ? Step::Error : Step::Ok;
}

ZipArchive::Step ZipArchive::goToNext() {
    int r = unzGoToNextFile(unz_);
    if (r == UNZ_OK) return isExitStream() ? Step::Error : Step::Ok;
    if (r == UNZ_END_OF_LIST_OF_FILE) return Step::End;
    return Step::Error;
}

bool ZipArchive::current(Entry& out) {
    char name[kNameBufferBytes];
    if (extra_.empty()) extra_.resize(65'535);
    unz_file_info64 info{};
    // The library leaves a name that fills the buffer unterminated.
    if (unzGetCurrentFileInfo64(unz_, &info, name, kNameBufferBytes - 1, extra_.data(), uLong(extra_.size()), nullptr,
                                0) != UNZ_OK)
        return false;
    const size_t stored = std::min<size_t>(info.size_filename, kNameBufferBytes - 1);
    name[stored] = '\0';
    out.name.assign(name, ::strnlen(name, stored));
    out.isNameTruncated = info.size_filename > kNameBufferBytes - 1;
    out.flag = uint32_t(info.flag);
    out.method = uint32_t(info.compression_method);
    out.crc = uint32_t(info.crc);
    out.dosDate = uint32_t(info.dosDate);
    out.compressedSize = info.compressed_size;
    out.uncompressedSize = info.uncompressed_size;

    // The extra fields: the sizes that a zip64 record holds (the library
    // leaves them at 0xFFFFFFFF; they come first in that record, in this
    // order, when present) and a Unicode Path.
    constexpr uint64_t kInZip64 = 0xFFFFFFFFu;
    const size_t extraSize = std::min<size_t>(info.size_file_extra, extra_.size());
    const auto* x = reinterpret_cast<const unsigned char*>(extra_.data());
    auto le = [&](size_t at, int bytes) {
        uint64_t v = 0;
        for (int i = bytes - 1; i >= 0; --i) v = v << 8 | x[at + size_t(i)];
        return v;
    };
    out.aesVersion = 0;
    out.aesStrength = 0;
    out.aesMethod = 0;
    bool zip64Done = out.uncompressedSize != kInZip64 && out.compressedSize != kInZip64;
    std::optional<std::string> unicodePath;
    for (size_t at = 0; at + 4 <= extraSize;) {
        const size_t id = le(at, 2), size = le(at + 2, 2);
        const size_t end = std::min(extraSize, at + 4 + size);
        if (id == 0x0001 && !zip64Done) {
            size_t p = at + 4;
            if (out.uncompressedSize == kInZip64 && p + 8 <= end) {
                out.uncompressedSize = le(p, 8);
                p += 8;
            }
            if (out.compressedSize == kInZip64 && p + 8 <= end) out.compressedSize = le(p, 8);
            zip64Done = true;
        } else if (id == kAesField && end - at >= 11 && x[at + 6] == 'A' && x[at + 7] == 'E') {
            const uint16_t version = uint16_t(le(at + 4, 2));
            const uint8_t strength = x[at + 8];
            if ((version == 1 || version == 2) && strength >= 1 && strength <= 3) {
                out.aesVersion = version;
                out.aesStrength = strength;
                out.aesMethod = uint16_t(le(at + 9, 2));
            }
        } else if (id == kUnicodePathField && !unicodePath && !out.isNameTruncated && end - at >= 9 &&
                   x[at + 4] == 1) {
            // Version 1, then the CRC-32 of the stored name it was written
            // for: a tool that renamed the entry without knowing the field
            // leaves a CRC that no longer matches, and the field is stale.
            const uint32_t nameCrc = uint32_t(le(at + 5, 4));
            const uint32_t actual = uint32_t(::crc32(0L, reinterpret_cast<const Bytef*>(name), uInt(stored)));
            std::string path(reinterpret_cast<const char*>(x + at + 9), end - (at + 9));
            if (nameCrc == actual && !path.empty() && path.size() < kNameBufferBytes &&
                path.find('\0') == std::string::npos && sys::Unicode::isValidUtf8(path))
                unicodePath = std::move(path);
        }
        at += 4 + size;
    }
    out.declaredUtf8Name.reset();
    if ((out.flag & kUtf8NameFlag) && !out.isNameTruncated && out.name.size() == stored &&
        sys::Unicode::isValidUtf8(out.name))
        out.declaredUtf8Name = out.name;
    else if (unicodePath)
        out.declaredUtf8Name = std::move(unicodePath);
    return true;
}

std::optional<ZipArchive::Position> ZipArchive::currentPosition() {
    unz64_file_pos p{};
    if (unzGetFilePos64(unz_, &p) != UNZ_OK) return std::nullopt;
    return Position{p.pos_in_zip_directory, p.num_of_file};
}

bool ZipArchive::goTo(const Position& position) {
    unz64_file_pos p{position.directoryOffset, position.fileNumber};
    return unzGoToFilePos64(unz_, &p) == UNZ_OK && !isExitStream();
}

bool ZipArchive::locate(const std::string& name) {
    Entry e;
    for (Step s = goToFirst(); s == Step::Ok; s = goToNext()) {
        if (!current(e)) return false;
        if (!e.isNameTruncated && e.name == name) return true;
    }
    return false;
}

size_t ZipArchive::readAt(uint64_t offset, void* out, size_t size) {
    if (isExitStream() || !source_->seek(offset, ZLIB_FILEFUNC_SEEK_SET)) return 0;
    size_t done = 0;
    while (done < size) {
        const uint64_t got = source_->read(static_cast<char*>(out) + done, size - done);
        if (got == 0 || source_->error()) break;
        done += size_t(got);
    }
    return done;
}

std::optional<uint64_t> ZipArchive::currentDataOffset() {
    auto position = currentPosition();
    if (!position) return std::nullopt;
    auto le = [](const unsigned char* p, int bytes) {
        uint64_t v = 0;
        for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
        return v;
    };
    // The directory record: the local header's place, in a zip64 record
    // when the 32-bit field is full. Offsets in the records count from the
    // start of the zip, which may lie behind other bytes (a program it was
    // appended to).
    const uint64_t shift = leadingBytes();
    unsigned char record[46];
    const uint64_t at = position->directoryOffset + shift;
    if (readAt(at, record, sizeof record) != sizeof record || std::memcmp(record, "PK\x01\x02", 4) != 0)
        return std::nullopt;
    const uint64_t nameLength = le(record + 28, 2), extraLength = le(record + 30, 2);
    uint64_t local = le(record + 42, 4);
    if (local == 0xFFFFFFFFu) {
        std::vector<unsigned char> extra(extraLength);
        if (readAt(at + 46 + nameLength, extra.data(), extra.size()) != extra.size()) return std::nullopt;
        bool found = false;
        for (size_t p = 0; p + 4 <= extra.size();) {
            const size_t id = le(&extra[p], 2), size = le(&extra[p + 2], 2);
            const size_t end = std::min(extra.size(), p + 4 + size);
            if (id == 0x0001) {
                // Only the fields that are full in the record are there, in this order.
                size_t q = p + 4;
                if (le(record + 24, 4) == 0xFFFFFFFFu) q += 8;
                if (le(record + 20, 4) == 0xFFFFFFFFu) q += 8;
                if (q + 8 > end) return std::nullopt;
                local = le(&extra[q], 8);
                found = true;
                break;
            }
            p += 4 + size;
        }
        if (!found) return std::nullopt;
    }
    local += shift;
    unsigned char header[30];
    if (readAt(local, header, sizeof header) != sizeof header || std::memcmp(header, "PK\x03\x04", 4) != 0)
        return std::nullopt;
    return local + 30 + le(header + 26, 2) + le(header + 28, 2);
}

// Found as the library finds it: the end record lies right behind the
// directory that it places, so any gap is the bytes in front of the zip.
uint64_t ZipArchive::leadingBytes() {
    if (leadingBytes_) return *leadingBytes_;
    leadingBytes_ = 0;
    const uint64_t length = source_->length();
    const uint64_t tail = std::min<uint64_t>(length, kEndSearchBytes);
    std::string end(size_t(tail), '\0');
    if (tail < 22 || readAt(length - tail, end.data(), end.size()) != end.size()) return 0;
    for (size_t at = end.size() - 22;; --at) {
        if (end.compare(at, 4, "PK\x05\x06") == 0) {
            auto le32 = [&](size_t p) {
                return uint64_t(uint8_t(end[p])) | uint64_t(uint8_t(end[p + 1])) << 8 |
                       uint64_t(uint8_t(end[p + 2])) << 16 | uint64_t(uint8_t(end[p + 3])) << 24;
            };
            const uint64_t size = le32(at + 12), offset = le32(at + 16);
            const uint64_t endAt = length - tail + at;
            // Zip64 archives give their offsets in records that the library
            // reads only where they say, so nothing lies in front of those.
            const bool zip64 = at >= 20 && end.compare(at - 20, 4, "PK\x06\x07") == 0;
            if (!zip64 && size != 0xFFFFFFFFu && offset != 0xFFFFFFFFu && endAt >= offset + size) {
                leadingBytes_ = endAt - (offset + size);
                directoryStart_ = *leadingBytes_ + offset;
            }
            break;
        }
        if (at == 0) break;
    }
    return *leadingBytes_;
}

std::optional<std::string> ZipArchive::utf8NameText(const std::string& storedName) {
    // Bytes of a legacy code page are seldom valid UTF-8 once a byte above
    // 0x7F is among them; pure ASCII decodes alike in every character set
    // and is left to the chain.
    const bool multiByte = std::any_of(storedName.begin(), storedName.end(),
                                       [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    if (multiByte && sys::Unicode::isValidUtf8(storedName)) return storedName;
    return std::nullopt;
}

std::optional<std::string> ZipArchive::utf8NameText(const Entry& entry) {
    if (entry.declaredUtf8Name) return entry.declaredUtf8Name;
    return utf8NameText(entry.name);
}

std::optional<std::string> ZipArchive::nameText(const std::string& storedName) {
    if (auto text = utf8NameText(storedName)) return text;
    return QNTextEncoding::stringWithCString(storedName.c_str());
}

std::optional<std::string> ZipArchive::nameText(const Entry& entry) {
    if (auto text = utf8NameText(entry)) return text;
    return QNTextEncoding::stringWithCString(entry.name.c_str());
}
