#include "engine/UnrarArchive.h"

#include "engine/RarStreamShim.h"
#include "engine/Rar5HeaderCheck.h"
#include "platform/core/Unicode.h"

#include <unrar/rar.hpp>
#include <unrar/dll.hpp>

#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <cstring>
#include <cwchar>

namespace {

// What an UnRAR handle points at, as the library declares it for itself.
// Only OpenMode (checked against what we passed) and Arc are read.
struct DataSet {
    CommandData Cmd;
    Archive Arc;
    CmdExtract Extract;
    int OpenMode;
    int HeaderSize;
};

std::atomic<bool> gLayoutUsable{true};

// Set while this thread is inside the library. A thread that waits for a
// remote block inside it runs the main loop, and what that loop runs must
// not enter the library again (the lock is not recursive, nor is UnRAR).
thread_local bool tInLibrary = false;

class LibraryLock {
public:
    LibraryLock() : reentered_(tInLibrary) {
        if (reentered_) return;
        lock_ = std::unique_lock(UnrarArchive::libraryMutex());
        tInLibrary = true;
    }
    ~LibraryLock() {
        if (!reentered_) tInLibrary = false;
    }
    LibraryLock(const LibraryLock&) = delete;
    LibraryLock& operator=(const LibraryLock&) = delete;
    bool reentered() const { return reentered_; }

private:
    bool reentered_;
    std::unique_lock<std::mutex> lock_;
};

// An archive whose headers end in a broken one reports the end: the
// handle knows better.
bool brokenHeader(HANDLE h) {
    return gLayoutUsable && static_cast<DataSet*>(h)->Arc.BrokenHeader;
}

// UnRAR hands names as wide text. Bytes that were no valid text in the
// archive (old archives store names in their maker's code page) come back
// mapped into a private range, with a marker in the name; they are turned
// back into the stored bytes, everything else into UTF-8.
constexpr wchar_t kMappedMark = 0xFFFE;
constexpr wchar_t kMapAreaStart = 0xE000;

// UnRAR turns every "\" of a name into "/"; in a Shift-JIS name that byte
// may be the second of a double-byte character, whose lead bytes these are.
bool isSjisLeadBeforeBackslash(unsigned char b) {
    return b == 0x81 || b == 0x83 || b == 0x84 || b == 0x87 || (b >= 0x89 && b <= 0x9F) || (b >= 0xE0 && b <= 0xEA) ||
           b == 0xED || b == 0xEE || b == 0xFA || b == 0xFB;
}

std::string nameBytes(const wchar_t* w, size_t capacity) {
    std::string out;
    bool mapped = false;
    for (size_t i = 0; i < capacity && w[i] != 0 && !mapped; ++i) mapped = w[i] == kMappedMark;
    for (size_t i = 0; i < capacity && w[i] != 0; ++i) {
        const uint32_t c = uint32_t(w[i]);
        if (c == uint32_t(kMappedMark)) continue;
        if (mapped && c >= uint32_t(kMapAreaStart) + 0x80 && c < uint32_t(kMapAreaStart) + 0x100)
            out += char(c - uint32_t(kMapAreaStart));
        else
            sys::Unicode::appendUtf8(out, c);
    }
    // Only names kept in their stored bytes can be Shift-JIS; a "/" after a
    // UTF-8 continuation byte is a real separator.
    if (mapped) {
        for (size_t k = 1; k < out.size(); ++k)
            if (out[k] == '/' && isSjisLeadBeforeBackslash(static_cast<unsigned char>(out[k - 1]))) out[k] = '\\';
    }
    return out;
}

// UTF-8 to wide text for the password; false on invalid input.
bool utf8ToWide(const std::string& s, std::wstring& out) {
    out.clear();
    for (size_t i = 0; i < s.size();) {
        const unsigned char b = static_cast<unsigned char>(s[i]);
        uint32_t c;
        size_t n;
        if (b < 0x80) { c = b; n = 1; }
        else if ((b & 0xE0) == 0xC0) { c = b & 0x1F; n = 2; }
        else if ((b & 0xF0) == 0xE0) { c = b & 0x0F; n = 3; }
        else if ((b & 0xF8) == 0xF0) { c = b & 0x07; n = 4; }
        else return false;
        if (i + n > s.size()) return false;
        for (size_t k = 1; k < n; ++k) {
            const unsigned char cb = static_cast<unsigned char>(s[i + k]);
            if ((cb & 0xC0) != 0x80) return false;
            c = c << 6 | (cb & 0x3F);
        }
        out += wchar_t(c);
        i += n;
    }
    return true;
}

}  // namespace

// The descriptor calls UnRAR makes, so that a stream path is read as UnRAR reads it.
extern "C" {
int lb_unrar_open64(const char* path, int flags, ...);
ssize_t lb_unrar_read(int fd, void* buffer, size_t size);
int lb_unrar_close(int fd);
}

namespace {

// "Rar!" 1A 07 within the part of a file where UnRAR looks for an archive
// behind a self-extracting program.
bool hasRarSignature(const std::string& path) {
    constexpr size_t kSearch = 0x100000;
    const int fd = lb_unrar_open64(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return true;  // unreadable now: no verdict
    std::string head;
    char buffer[65536];
    bool readFailed = false;
    while (head.size() < kSearch) {
        const ssize_t n = lb_unrar_read(fd, buffer, std::min(sizeof buffer, kSearch - head.size()));
        readFailed = n < 0;
        if (n <= 0) break;
        head.append(buffer, size_t(n));
    }
    lb_unrar_close(fd);
    // A read that failed (a stream that stopped) gives no verdict either.
    return readFailed || head.find(std::string("Rar!\x1A\x07", 6)) != std::string::npos;
}

// Whether the first block of a RAR 5 archive is too broken to hand to UnRAR
// (see Rar5HeaderCheck), wherever UnRAR may find the archive (behind a
// self-extracting program too); nullopt when the file cannot be opened or
// read now (UnRAR then tells that itself, and the next open looks again).
std::optional<bool> hasMalformedRar5Header(const std::string& path) {
    const int fd = lb_unrar_open64(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string head;
    bool atEnd = false;
    // Reads until `head` holds `wanted` bytes or the file ends.
    auto fill = [&](size_t wanted) {
        while (!atEnd && head.size() < wanted) {
            char buffer[65536];
            const ssize_t n = lb_unrar_read(fd, buffer, std::min(sizeof buffer, wanted - head.size()));
            if (n < 0) return false;
            if (n == 0) atEnd = true;
            head.append(buffer, size_t(n));
        }
        return true;
    };
    // The signatures first: a file that starts with one needs only its first bytes.
    std::vector<size_t> starts;
    for (size_t wanted = 64;; wanted = std::min(wanted * 4, Rar5HeaderCheck::kSfxSearch)) {
        if (!fill(wanted)) {
            lb_unrar_close(fd);
            return std::nullopt;
        }
        starts = Rar5HeaderCheck::archiveStarts(head);
        const bool settled = !starts.empty() && (starts.back() == 0 || starts.back() >= Rar5HeaderCheck::kSfxSkip);
        if (settled || atEnd || head.size() >= Rar5HeaderCheck::kSfxSearch) break;
    }
    bool malformed = false;
    for (const size_t start : starts) {
        auto verdict = Rar5HeaderCheck::check(std::string_view(head).substr(start), atEnd);
        while (verdict == Rar5HeaderCheck::Verdict::NeedMore) {
            const size_t wanted = Rar5HeaderCheck::bytesWanted(std::string_view(head).substr(start));
            if (head.size() - start >= wanted) {
                verdict = Rar5HeaderCheck::Verdict::Malformed;  // asks for nothing more: never loop
                break;
            }
            if (!fill(start + wanted)) {
                lb_unrar_close(fd);
                return std::nullopt;
            }
            verdict = Rar5HeaderCheck::check(std::string_view(head).substr(start), atEnd);
        }
        malformed = malformed || verdict == Rar5HeaderCheck::Verdict::Malformed;
    }
    lb_unrar_close(fd);
    return malformed;
}

}  // namespace

// One open UnRAR handle with what its callback needs.
struct UnrarArchive::Handle {
    HANDLE h = nullptr;
    int mode = 0;
    RAROpenArchiveDataEx open{};
    RARHeaderDataEx header{};
    std::string arcName;
    const std::optional<std::string>* password = nullptr;
    const Sink* sink = nullptr;
    bool sinkStopped = false;
    bool passwordAsked = false;

    ~Handle() {
        if (h) RARCloseArchive(h);
    }

    DataSet* dataSet() const { return static_cast<DataSet*>(h); }

    static int CALLBACK callback(UINT msg, LPARAM userData, LPARAM p1, LPARAM p2) {
        auto* self = reinterpret_cast<Handle*>(userData);
        switch (msg) {
        case UCM_PROCESSDATA:
            if (!self->sink) return 1;
            if (p2 < 0 || !(*self->sink)(reinterpret_cast<const char*>(p1), size_t(p2))) {
                self->sinkStopped = true;
                return -1;
            }
            return 1;
        case UCM_NEEDPASSWORDW: {
            self->passwordAsked = true;
            std::wstring w;
            if (!self->password || !*self->password || !utf8ToWide(**self->password, w) || p2 <= 0 ||
                w.size() >= size_t(p2))
                return -1;
            std::wmemcpy(reinterpret_cast<wchar_t*>(p1), w.c_str(), w.size() + 1);
            return 1;
        }
        case UCM_NEEDPASSWORD:
            // Only asked after the wide form was refused: no password.
            self->passwordAsked = true;
            return -1;
        case UCM_CHANGEVOLUME:
        case UCM_CHANGEVOLUMEW:
            // The next volume is there (notify) or missing (ask): never wait for it.
            return p2 == RAR_VOL_NOTIFY ? 1 : -1;
        default: return 0;
        }
    }
};

UnrarArchive::UnrarArchive(std::string path, std::optional<std::string> password)
    : path_(std::move(path)), password_(std::move(password)) {}

UnrarArchive::~UnrarArchive() { unrarCloseFile(); }

std::mutex& UnrarArchive::libraryMutex() {
    static std::mutex m;
    return m;
}

bool UnrarArchive::handleLayoutUsable() { return gLayoutUsable.load(); }

UnrarArchive::Status UnrarArchive::statusOfCode(int code) {
    switch (code) {
    case ERAR_SUCCESS: return Status::Ok;
    case ERAR_END_ARCHIVE: return Status::NotFound;
    case ERAR_UNKNOWN_FORMAT: return Status::NotRar;
    case ERAR_EOPEN:
    case ERAR_EREAD: return Status::Unreadable;
    case ERAR_MISSING_PASSWORD:
    case ERAR_BAD_PASSWORD: return Status::Password;
    case ERAR_NO_MEMORY: return Status::NoMemory;
    default: return Status::Damaged;
    }
}

void UnrarArchive::unrarCloseFile() {
    // Closing is allowed from inside: it only lets go of a handle.
    LibraryLock lock;
    handle_.reset();
    nextIndex_ = 0;
}

UnrarArchive::Status UnrarArchive::openHandle(int mode, std::unique_ptr<Handle>& out) {
    out.reset();
    auto h = std::make_unique<Handle>();
    h->mode = mode;
    h->arcName = path_;
    h->password = &password_;
    h->open.ArcName = h->arcName.data();
    h->open.OpenMode = unsigned(mode);
    h->open.Callback = &Handle::callback;
    h->open.UserData = reinterpret_cast<LPARAM>(h.get());
    if (!headerChecked_) {
        const std::optional<bool> malformed = hasMalformedRar5Header(path_);
        if (malformed == true) return Status::Damaged;
        headerChecked_ = malformed.has_value();
    }
    h->h = RAROpenArchiveEx(&h->open);
    if (!h->h || h->open.OpenResult != ERAR_SUCCESS) {
        const int code = h->open.OpenResult ? int(h->open.OpenResult) : ERAR_EOPEN;
        Status s = statusOfCode(code);
        // Old archives with encrypted headers fail their header checksum
        // under a wrong password.
        if (s == Status::Damaged && h->passwordAsked) s = Status::Password;
        // UnRAR calls whatever it cannot take a bad archive; without a RAR
        // signature where an archive may start it is none at all.
        if (s == Status::Damaged && !hasRarSignature(path_)) s = Status::NotRar;
        return s;
    }
    solid_ = (h->open.Flags & ROADF_SOLID) != 0;
    volume_ = (h->open.Flags & ROADF_VOLUME) != 0;
    if (gLayoutUsable && h->dataSet()->OpenMode != mode) gLayoutUsable = false;
    out = std::move(h);
    return Status::Ok;
}

// Old archives tell a wrong password only by a checksum error (of the data,
// or of headers they encrypt): where a password was asked for, that is
// what such an error means.
UnrarArchive::Status UnrarArchive::failure(int code) const {
    Status s = statusOfCode(code);
    if (s == Status::Damaged && handle_ && handle_->passwordAsked) s = Status::Password;
    return s;
}

UnrarArchive::Status UnrarArchive::readHeader(Entry* entry, unsigned* flags) {
    RARHeaderDataEx& hd = handle_->header;
    std::memset(&hd, 0, sizeof hd);
    const int code = RARReadHeaderEx(handle_->h, &hd);
    if (code == ERAR_END_ARCHIVE && brokenHeader(handle_->h)) return Status::Damaged;
    if (code != ERAR_SUCCESS) return failure(code);
    if (flags) *flags = hd.Flags;
    if (entry) {
        entry->name = nameBytes(hd.FileNameW, sizeof hd.FileNameW / sizeof hd.FileNameW[0]);
        entry->isDirectory = (hd.Flags & RHDF_DIRECTORY) != 0;
        if (entry->isDirectory) entry->name += '/';
        entry->isEncrypted = (hd.Flags & RHDF_ENCRYPTED) != 0;
        entry->size = uint64_t(hd.UnpSize) | uint64_t(hd.UnpSizeHigh) << 32;
    }
    return Status::Ok;
}

namespace {

// The archive file's position, read from the handle; -1 when it cannot be.
int64_t tellOf(HANDLE h) {
    if (!UnrarArchive::handleLayoutUsable()) return -1;
    try {
        return static_cast<DataSet*>(h)->Arc.Tell();
    } catch (...) {
        return -1;
    }
}

bool seekTo(HANDLE h, int64_t position) {
    if (!UnrarArchive::handleLayoutUsable() || position < 0) return false;
    try {
        static_cast<DataSet*>(h)->Arc.Seek(position, SEEK_SET);
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace

UnrarArchive::Status UnrarArchive::probe() {
    LibraryLock lock;
    if (lock.reentered()) return Status::Unreadable;
    std::unique_ptr<Handle> h;
    return openHandle(RAR_OM_LIST_INCSPLIT, h);
}

UnrarArchive::Status UnrarArchive::unrarListFilesNoEncodingWithFileSizeArray(std::vector<Entry>& entries) {
    LibraryLock lock;
    entries.clear();
    if (lock.reentered()) return Status::Unreadable;
    // Listing moves the handle: the kept one is dropped.
    handle_.reset();
    nextIndex_ = 0;
    std::unique_ptr<Handle> h;
    Status s = openHandle(RAR_OM_LIST_INCSPLIT, h);
    if (s != Status::Ok) return s;
    handle_ = std::move(h);
    int64_t position = tellOf(handle_->h);
    for (;;) {
        Entry e;
        unsigned flags = 0;
        s = readHeader(&e, &flags);
        if (s == Status::NotFound) {
            s = Status::Ok;  // the end of the archive
            break;
        }
        if (s != Status::Ok) break;
        const int code = RARProcessFile(handle_->h, RAR_SKIP, nullptr, nullptr);
        const int64_t next = tellOf(handle_->h);
        if (!(flags & RHDF_SPLITBEFORE)) {
            if (entries.size() >= kMaxEntries) {
                s = Status::TooLarge;
                break;
            }
            e.position = volume_ ? -1 : position;
            entries.push_back(std::move(e));
        }
        position = next;
        // A volume set whose next volume is missing: what came before can
        // still be read.
        if (code == ERAR_EOPEN && volume_) break;
        if (code != ERAR_SUCCESS) {
            s = failure(code);
            break;
        }
    }
    handle_.reset();
    if (s != Status::Ok) entries.clear();
    return s;
}

// The next header that starts an entry: the parts of a file continued
// from the previous volume are passed over.
UnrarArchive::Status UnrarArchive::readEntryHeader(Entry* entry) {
    for (;;) {
        unsigned flags = 0;
        Status s = readHeader(entry, &flags);
        if (s != Status::Ok || !(flags & RHDF_SPLITBEFORE)) return s;
        const int code = RARProcessFile(handle_->h, RAR_SKIP, nullptr, nullptr);
        if (code != ERAR_SUCCESS) return failure(code);
    }
}

UnrarArchive::Status UnrarArchive::walkTo(size_t index) {
    while (nextIndex_ < index) {
        Status s = readEntryHeader(nullptr);
        if (s != Status::Ok) return s;
        const int code = RARProcessFile(handle_->h, RAR_SKIP, nullptr, nullptr);
        if (code != ERAR_SUCCESS) return failure(code);
        ++nextIndex_;
    }
    return Status::Ok;
}

// Leaves the kept handle in front of entry `index`'s header.
UnrarArchive::Status UnrarArchive::reachEntry(size_t index, const Entry& expected) {
    if (handle_ && handle_->mode == RAR_OM_EXTRACT && nextIndex_ == index) return Status::Ok;
    const bool canSeek = !solid_ && !volume_ && expected.position >= 0 && gLayoutUsable;
    if (!handle_ || handle_->mode != RAR_OM_EXTRACT || (!canSeek && nextIndex_ > index)) {
        handle_.reset();
        nextIndex_ = 0;
        std::unique_ptr<Handle> h;
        Status s = openHandle(RAR_OM_EXTRACT, h);
        if (s != Status::Ok) return s;
        handle_ = std::move(h);
        if (nextIndex_ == index) return Status::Ok;
    }
    if (canSeek && seekTo(handle_->h, expected.position)) {
        nextIndex_ = index;
        seeked_ = true;
        return Status::Ok;
    }
    return walkTo(index);
}

UnrarArchive::Status UnrarArchive::process(const Entry& expected, const Sink& sink) {
    handle_->sink = &sink;
    handle_->sinkStopped = false;
    const int code = RARProcessFile(handle_->h, RAR_TEST, nullptr, nullptr);
    handle_->sink = nullptr;
    const bool stopped = handle_->sinkStopped;
    ++nextIndex_;
    if (code == ERAR_SUCCESS && !stopped) return Status::Ok;
    // A failed entry leaves the handle in a state not worth trusting.
    Status s = stopped ? Status::Unreadable : failure(code);
    if (s == Status::Damaged && expected.isEncrypted && password_) s = Status::Password;
    handle_.reset();
    nextIndex_ = 0;
    return s;
}

UnrarArchive::Status UnrarArchive::extractStreamWithPointTarget(size_t index, const Entry& expected, const Sink& sink) {
    LibraryLock lock;
    if (lock.reentered()) return Status::Unreadable;
    RarStreamShim::ScopedReadCancel readCancel(cancel_);
    const Status s = extractLocked(index, expected, sink);
    // A decode given up fails as a read that stopped, whatever the library
    // made of the missing bytes; the handle it left is not kept.
    if (s != Status::Ok && cancel_ && cancel_->load()) {
        handle_.reset();
        nextIndex_ = 0;
        return Status::Unreadable;
    }
    return s;
}

UnrarArchive::Status UnrarArchive::extractLocked(size_t index, const Entry& expected, const Sink& sink) {
    // A seek lands where the listing found the entry; the header there must
    // be that entry, or the archive is walked from its start once.
    for (bool allowSeek : {true, false}) {
        Entry target = expected;
        if (!allowSeek) {
            target.position = -1;
            handle_.reset();
            nextIndex_ = 0;
        }
        seeked_ = false;
        Status s = reachEntry(index, target);
        Entry found;
        if (s == Status::Ok) s = readEntryHeader(&found);
        if (s == Status::Ok && found.name == expected.name && found.size == expected.size) {
            found.isEncrypted = found.isEncrypted || expected.isEncrypted;
            return process(found, sink);
        }
        handle_.reset();
        nextIndex_ = 0;
        if (!seeked_) return s == Status::Ok ? Status::NotFound : s;
    }
    return Status::NotFound;
}

UnrarArchive::Status UnrarArchive::extractStreamWithPoint(size_t index, const Entry& expected, uint64_t maxBytes, std::string& out) {
    out.clear();
    if (expected.size > maxBytes) return Status::TooLarge;
    bool overrun = false;
    std::string data;
    data.reserve(size_t(expected.size));
    const uint64_t announced = expected.size;
    Sink sink = [&](const char* p, size_t n) {
        // The library must not deliver more than the header announced.
        if (n > announced - data.size()) {
            overrun = true;
            return false;
        }
        data.append(p, n);
        return true;
    };
    Status s = extractStreamWithPointTarget(index, expected, sink);
    if (overrun) return Status::Damaged;
    if (s != Status::Ok) return s;
    if (data.size() != announced) return Status::Damaged;
    out = std::move(data);
    return Status::Ok;
}
