#include "engine/RarStreamShim.h"

#include "engine/RemoteStreamRead.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kPrefix[] = "/stream/";
constexpr size_t kPrefixLength = sizeof kPrefix - 1;

struct OpenStream {
    std::shared_ptr<RemoteStreamRead> stream;
    int64_t position = 0;
};

struct Registry {
    std::mutex mutex;
    uint64_t nextId = 1;
    std::map<uint64_t, std::shared_ptr<RemoteStreamRead>> streams;
    std::map<int, OpenStream> descriptors;
};

Registry& registry() {
    static Registry* r = new Registry;  // outlives every static that may close an archive
    return *r;
}

// The registered stream a path names; nothing for any other path.
std::shared_ptr<RemoteStreamRead> streamForPath(const char* path) {
    if (!path || std::strncmp(path, kPrefix, kPrefixLength) != 0) return nullptr;
    const char* digits = path + kPrefixLength;
    if (*digits < '0' || *digits > '9') return nullptr;
    char* end = nullptr;
    errno = 0;
    const unsigned long long id = std::strtoull(digits, &end, 10);
    if (errno != 0 || !end || *end != '\0') return nullptr;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.streams.find(id);
    return it == r.streams.end() ? nullptr : it->second;
}

bool lookUp(int fd, OpenStream& out) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.descriptors.find(fd);
    if (it == r.descriptors.end()) return false;
    out = it->second;
    return true;
}

int openStream(std::shared_ptr<RemoteStreamRead> stream, int flags) {
    // Archives are only ever read through a stream.
    if ((flags & O_ACCMODE) != O_RDONLY || (flags & (O_CREAT | O_TRUNC))) {
        errno = EACCES;
        return -1;
    }
    const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.descriptors[fd] = OpenStream{std::move(stream), 0};
    return fd;
}

// A file of the book opened for reading: a pipe, socket or device in its
// place is refused, and the open never waits for a pipe's writer.
int openForReading(const char* path, int flags) {
    const int fd = ::open64(path, flags | O_NONBLOCK);
    if (fd < 0) return -1;
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    if (!(flags & O_NONBLOCK)) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

// The cancel flag of the decode this thread runs, if any.
thread_local const std::atomic<bool>* tReadCancel = nullptr;

}  // namespace

RarStreamShim::Registration::~Registration() {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.streams.erase(id_);
}

std::unique_ptr<RarStreamShim::Registration> RarStreamShim::registerStream(std::shared_ptr<RemoteStreamRead> stream) {
    if (!stream) return nullptr;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    const uint64_t id = r.nextId++;
    r.streams[id] = std::move(stream);
    return std::unique_ptr<Registration>(new Registration(id, kPrefix + std::to_string(id)));
}

bool RarStreamShim::isStreamPath(const char* path) { return streamForPath(path) != nullptr; }

RarStreamShim::ScopedReadCancel::ScopedReadCancel(const std::atomic<bool>* cancel) : previous_(tReadCancel) {
    tReadCancel = cancel;
}

RarStreamShim::ScopedReadCancel::~ScopedReadCancel() { tReadCancel = previous_; }

size_t RarStreamShim::openDescriptorCount() {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return r.descriptors.size();
}

// The calls UnRAR's objects make in place of the C library's.
extern "C" {

int lb_unrar_open64(const char* path, int flags, ...) {
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list ap;
        va_start(ap, flags);
        mode = mode_t(va_arg(ap, int));
        va_end(ap);
    }
    if (auto s = streamForPath(path)) return openStream(std::move(s), flags);
    if ((flags & O_ACCMODE) == O_RDONLY && !(flags & (O_CREAT | O_TMPFILE))) return openForReading(path, flags);
    return ::open64(path, flags, mode);
}

// The fortified form the compiler emits for an open without a mode.
int lb_unrar___open64_2(const char* path, int flags) {
    if (auto s = streamForPath(path)) return openStream(std::move(s), flags);
    if ((flags & O_ACCMODE) == O_RDONLY) return openForReading(path, flags);
    return ::open64(path, flags);
}

ssize_t lb_unrar_read(int fd, void* buffer, size_t size) {
    if (tReadCancel && tReadCancel->load()) {
        errno = ECANCELED;
        return -1;
    }
    OpenStream o;
    if (!lookUp(fd, o)) return ::read(fd, buffer, size);
    if (size == 0) return 0;
    const int64_t length = o.stream->contentLength();
    if (o.position >= length) return 0;
    const uint64_t got = o.stream->readByte(buffer, o.position, size);
    if (got == 0) {
        errno = EIO;
        return -1;
    }
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.descriptors.find(fd);
    if (it != r.descriptors.end()) it->second.position = o.position + int64_t(got);
    return ssize_t(got);
}

off64_t lb_unrar_lseek64(int fd, off64_t offset, int whence) {
    Registry& r = registry();
    std::unique_lock lock(r.mutex);
    auto it = r.descriptors.find(fd);
    if (it == r.descriptors.end()) {
        lock.unlock();
        return ::lseek64(fd, offset, whence);
    }
    int64_t base = 0;
    switch (whence) {
    case SEEK_SET: base = 0; break;
    case SEEK_CUR: base = it->second.position; break;
    case SEEK_END: base = it->second.stream->contentLength(); break;
    default: errno = EINVAL; return -1;
    }
    if ((offset > 0 && base > INT64_MAX - offset) || base + offset < 0) {
        errno = EINVAL;
        return -1;
    }
    it->second.position = base + offset;
    return it->second.position;
}

int lb_unrar_close(int fd) {
    {
        Registry& r = registry();
        std::lock_guard lock(r.mutex);
        r.descriptors.erase(fd);
    }
    return ::close(fd);
}

int lb_unrar_flock(int fd, int operation) {
    OpenStream o;
    if (lookUp(fd, o)) return 0;
    return ::flock(fd, operation);
}

int lb_unrar_fstat64(int fd, struct stat64* st) {
    OpenStream o;
    if (!lookUp(fd, o)) return ::fstat64(fd, st);
    std::memset(st, 0, sizeof *st);
    st->st_mode = S_IFREG | 0444;
    st->st_nlink = 1;
    st->st_size = o.stream->contentLength();
    st->st_blksize = blksize_t(RemoteStreamRead::kBlockSize);
    return 0;
}

}  // extern "C"
