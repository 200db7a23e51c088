#include "engine/ZipCreate.h"

#include "foundation/QNTextEncoding.h"
#include "platform/core/WholeWrite.h"
#include "platform/core/FileManager.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace {

constexpr size_t kLocalFixed = 30;
constexpr size_t kCentralFixed = 46;
constexpr size_t kCopyChunk = 1 << 20;

void put16(std::string& out, uint16_t v) {
    out.push_back(char(v & 0xFF));
    out.push_back(char(v >> 8));
}

void put32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(char((v >> (8 * i)) & 0xFF));
}

// Relative, without "." or ".." steps: the archive must not name anything
// outside the base folder, for us when reading or for whoever unpacks it.
bool isSafeRelativeName(const std::string& name) {
    if (name.empty() || name.front() == '/' || name.find('\0') != std::string::npos) return false;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('/', start);
        if (end == std::string::npos) end = name.size();
        std::string part = name.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") return false;
        start = end + 1;
    }
    return true;
}

struct Entry {
    std::string source;
    std::string storedName;
    uint32_t crc = 0;
    uint32_t size = 0;
    uint32_t offset = 0;
};

void setError(std::error_code* error, int code) {
    if (error) *error = std::error_code(code, std::generic_category());
}

void putEntryFields(std::string& out, const ZipCreate::EntryFields& h) {
    put16(out, h.versionNeeded);
    put16(out, h.flags);
    put16(out, h.method);
    put16(out, h.modTime);
    put16(out, h.modDate);
    put32(out, h.crc32);
    put32(out, h.compressedSize);
    put32(out, h.uncompressedSize);
    put16(out, uint16_t(h.name.size()));
    put16(out, uint16_t(h.extra.size()));
}

}  // namespace

std::string ZipCreate::encodeName(const std::string& name) {
    if (auto sjis = QNTextEncoding::dataWithString(name, QNTextEncoding::kShiftJIS)) return *sjis;
    return name;
}

bool ZipCreate::WriteZipHeader(int fd, const ZipHeader& h) {
    std::string out;
    out.reserve(kLocalFixed + h.name.size() + h.extra.size());
    put32(out, h.signature);
    putEntryFields(out, h);
    out += h.name;
    out += h.extra;
    return sys::WholeWrite::write(fd, out.data(), out.size());
}

bool ZipCreate::WriteCentralDirHeader(int fd, const CentralDirHeader& h) {
    std::string out;
    out.reserve(kCentralFixed + h.name.size() + h.extra.size() + h.comment.size());
    put32(out, h.signature);
    put16(out, h.versionMadeBy);
    putEntryFields(out, h);
    put16(out, uint16_t(h.comment.size()));
    put16(out, h.diskNumberStart);
    put16(out, h.internalAttributes);
    put32(out, h.externalAttributes);
    put32(out, h.localHeaderOffset);
    out += h.name;
    out += h.extra;
    out += h.comment;
    return sys::WholeWrite::write(fd, out.data(), out.size());
}

bool ZipCreate::WriteEndCentDirHeader(int fd, const EndCentDirHeader& h) {
    std::string out;
    out.reserve(22 + h.comment.size());
    put32(out, h.signature);
    put16(out, h.thisDisk);
    put16(out, h.directoryDisk);
    put16(out, h.entriesOnDisk);
    put16(out, h.entriesTotal);
    put32(out, h.directorySize);
    put32(out, h.directoryOffset);
    put16(out, uint16_t(h.comment.size()));
    out += h.comment;
    return sys::WholeWrite::write(fd, out.data(), out.size());
}

namespace {

// Copies one source after its local header (at `headerOffset`), then puts
// the CRC and sizes into that header. A source that cannot be read becomes
// one blank byte. Returns the bytes stored, or -1 with errno when the
// archive could not be written or the source grew past `budget`.
int64_t copySource(int out, const std::string& path, off_t headerOffset, off_t dataOffset, uint64_t budget,
                   std::vector<char>& buf, uint32_t* crcOut) {
    uLong crc = crc32(0L, Z_NULL, 0);
    uint64_t total = 0;
    int in = sys::FileManager::openRegularFileForReading(path);
    bool readable = in >= 0;
    if (readable) {
        for (;;) {
            ssize_t r = ::read(in, buf.data(), buf.size());
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) {
                readable = false;
                break;
            }
            if (r == 0) break;
            total += uint64_t(r);
            if (total > budget) {
                ::close(in);
                errno = EFBIG;
                return -1;
            }
            crc = crc32(crc, reinterpret_cast<const Bytef*>(buf.data()), uInt(r));
            if (!sys::WholeWrite::write(out, buf.data(), size_t(r))) {
                int e = errno;
                ::close(in);
                errno = e;
                return -1;
            }
        }
        ::close(in);
    }
    if (!readable) {
        // Whatever part was copied goes; the entry holds one blank byte.
        if (::ftruncate(out, dataOffset) != 0 || ::lseek(out, dataOffset, SEEK_SET) < 0) return -1;
        const char blank = ' ';
        if (!sys::WholeWrite::write(out, &blank, 1)) return -1;
        crc = crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(&blank), 1);
        total = 1;
    }
    if (total == 0) crc = 0;
    std::string fields;
    put32(fields, uint32_t(crc));
    put32(fields, uint32_t(total));
    put32(fields, uint32_t(total));
    if (!sys::WholeWrite::writeAt(out, fields.data(), fields.size(), headerOffset + 14)) return -1;
    *crcOut = uint32_t(crc);
    return int64_t(total);
}

}  // namespace

bool ZipCreate::createZip(const std::string& zipPath, const std::string& basePath,
                          const std::vector<std::string>& fileList, std::error_code* error) {
    if (error) error->clear();
    if (fileList.size() > kMaxEntries) {
        setError(error, E2BIG);
        return false;
    }

    // Check everything the format limits before the archive exists.
    std::vector<Entry> entries;
    entries.reserve(fileList.size());
    uint64_t planned = 0;
    for (const std::string& name : fileList) {
        if (!isSafeRelativeName(name)) {
            setError(error, EINVAL);
            return false;
        }
        Entry e;
        e.source = basePath + "/" + name;
        e.storedName = encodeName(name);
        if (e.storedName.size() > kMaxNameBytes) {
            setError(error, ENAMETOOLONG);
            return false;
        }
        struct stat st {};
        uint64_t size = (::stat(e.source.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ? uint64_t(st.st_size) : 1;
        planned += kLocalFixed + kCentralFixed + 2 * e.storedName.size() + size;
        if (planned > kMaxArchiveBytes) {
            setError(error, EFBIG);
            return false;
        }
        entries.push_back(std::move(e));
    }

    int fd = ::open(zipPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        setError(error, errno);
        return false;
    }
    auto fail = [&](int code) {
        ::close(fd);
        ::unlink(zipPath.c_str());
        setError(error, code ? code : EIO);
        return false;
    };

    // The central directory still has to fit after the entries.
    uint64_t directoryBytes = 0;
    for (const Entry& e : entries) directoryBytes += kCentralFixed + e.storedName.size();

    std::vector<char> buf(kCopyChunk);
    uint64_t position = 0;
    for (Entry& e : entries) {
        ZipHeader h;
        h.name = e.storedName;
        e.offset = uint32_t(position);
        if (!WriteZipHeader(fd, h)) return fail(errno);
        const uint64_t dataStart = position + kLocalFixed + e.storedName.size();
        const uint64_t budget = kMaxArchiveBytes - dataStart - directoryBytes;
        int64_t stored = copySource(fd, e.source, off_t(position), off_t(dataStart), budget, buf, &e.crc);
        if (stored < 0) return fail(errno);
        e.size = uint32_t(stored);
        position = dataStart + uint64_t(stored);
    }

    const uint64_t directoryOffset = position;
    for (const Entry& e : entries) {
        CentralDirHeader c;
        c.crc32 = e.crc;
        c.compressedSize = e.size;
        c.uncompressedSize = e.size;
        c.localHeaderOffset = e.offset;
        c.name = e.storedName;
        if (!WriteCentralDirHeader(fd, c)) return fail(errno);
        position += kCentralFixed + e.storedName.size();
    }

    EndCentDirHeader end;
    end.entriesOnDisk = uint16_t(entries.size());
    end.entriesTotal = uint16_t(entries.size());
    end.directorySize = uint32_t(position - directoryOffset);
    end.directoryOffset = uint32_t(directoryOffset);
    if (!WriteEndCentDirHeader(fd, end)) return fail(errno);

    // Late errors of the file system (space, quota) surface here.
    if (::fsync(fd) != 0) return fail(errno);
    if (::close(fd) != 0) {
        int e = errno;
        ::unlink(zipPath.c_str());
        setError(error, e);
        return false;
    }
    return true;
}
