#include "platform/core/FileManager.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

#include "platform/core/Path.h"
#include "platform/core/WholeWrite.h"

namespace sys {

namespace {

bool fail(std::error_code* error, int err) {
    if (error) *error = std::error_code(err, std::generic_category());
    return false;
}

bool succeed(std::error_code* error) {
    if (error) error->clear();
    return true;
}

// Closes a descriptor on every way out.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

Date dateFrom(const struct statx_timestamp& t) { return Date(double(t.tv_sec) + double(t.tv_nsec) / 1e9); }

FileManager::FileType typeFromMode(mode_t mode) {
    if (S_ISREG(mode)) return FileManager::FileType::Regular;
    if (S_ISDIR(mode)) return FileManager::FileType::Directory;
    if (S_ISLNK(mode)) return FileManager::FileType::SymbolicLink;
    return FileManager::FileType::Other;
}

// Copies the bytes of one open file to another: in the kernel when it can,
// by reads and writes when it cannot.
bool copyBytes(int in, int out) {
    bool kernel = true;
    for (;;) {
        if (kernel) {
            ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
            if (n > 0) continue;
            if (n == 0) return true;
            if (errno == EINTR) continue;
            if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP && errno != EPERM)
                return false;
            kernel = false;
        }
        char buf[1 << 16];
        ssize_t n = ::read(in, buf, sizeof buf);
        if (n == 0) return true;
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (!sys::WholeWrite::write(out, buf, std::size_t(n))) return false;
    }
}

void copyTimes(int fd, const struct stat& st) {
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::futimens(fd, times);
}

// Removes the tree at `name` in `dirfd` without following any link: each
// folder is opened relative to its parent with O_NOFOLLOW, so a link swapped
// in for a folder while we work cannot lead outside the tree.
bool removeTree(int dirfd, const char* name, int& err) {
    int fd = ::openat(dirfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOTDIR || errno == ELOOP) {
            if (::unlinkat(dirfd, name, 0) == 0) return true;
        }
        err = errno;
        return false;
    }
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        err = errno;
        ::close(fd);
        return false;
    }
    bool ok = true;
    while (struct dirent* e = ::readdir(dir)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        bool isDir = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN) {
            struct stat st{};
            if (::fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) isDir = S_ISDIR(st.st_mode);
        }
        if (isDir) {
            if (!removeTree(fd, e->d_name, err)) ok = false;
        } else if (::unlinkat(fd, e->d_name, 0) != 0 && errno != ENOENT) {
            err = errno;
            ok = false;
        }
    }
    ::closedir(dir);
    if (!ok) return false;
    if (::unlinkat(dirfd, name, AT_REMOVEDIR) != 0) {
        err = errno;
        return false;
    }
    return true;
}

bool removeItemAt(const std::string& path, int& err) {
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0) {
        err = errno;
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        if (::unlink(path.c_str()) == 0) return true;
        err = errno;
        return false;
    }
    return removeTree(AT_FDCWD, path.c_str(), err);
}

// Copies `from` to `to`, which must not exist, with the modes it had or, not
// `keepModes`, the user's own (files 0600, folders 0700). Whatever it made is
// removed again when it fails.
bool copyTree(const std::string& from, const std::string& to, int& err, bool keepModes) {
    struct stat st{};
    if (::lstat(from.c_str(), &st) != 0) {
        err = errno;
        return false;
    }
    if (S_ISLNK(st.st_mode)) {
        std::string target(std::size_t(st.st_size > 0 ? st.st_size : PATH_MAX) + 1, '\0');
        ssize_t n = ::readlink(from.c_str(), target.data(), target.size());
        if (n < 0 || std::size_t(n) >= target.size()) {
            err = n < 0 ? errno : ENAMETOOLONG;
            return false;
        }
        target.resize(std::size_t(n));
        if (::symlink(target.c_str(), to.c_str()) != 0) {
            err = errno;
            return false;
        }
        return true;
    }
    if (S_ISREG(st.st_mode)) {
        Fd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
        if (!in) {
            err = errno;
            return false;
        }
        Fd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (!out) {
            err = errno;
            return false;
        }
        if (!copyBytes(in.get(), out.get()) || ::fchmod(out.get(), keepModes ? st.st_mode & 07777 : 0600) != 0) {
            err = errno;
            out.reset();
            ::unlink(to.c_str());
            return false;
        }
        copyTimes(out.get(), st);
        if (::close(out.release()) != 0) {
            err = errno;
            ::unlink(to.c_str());
            return false;
        }
        return true;
    }
    if (S_ISDIR(st.st_mode)) {
        if (::mkdir(to.c_str(), 0700) != 0) {
            err = errno;
            return false;
        }
        auto names = FileManager::contentsOfDirectory(from);
        bool ok = names.has_value();
        if (!ok) err = EACCES;
        if (ok) {
            for (const auto& name : *names) {
                if (!copyTree(from + "/" + name, to + "/" + name, err, keepModes)) {
                    ok = false;
                    break;
                }
            }
        }
        if (!ok) {
            int ignored = 0;
            removeItemAt(to, ignored);
            return false;
        }
        Fd dirFd(::open(to.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dirFd) {
            ::fchmod(dirFd.get(), keepModes ? st.st_mode & 07777 : 0700);
            copyTimes(dirFd.get(), st);
        }
        return true;
    }
    err = ENOTSUP;  // devices, pipes and sockets hold no data worth a copy
    return false;
}

// Whether `inner` names `outer` itself or something inside it, after links.
bool isSameOrInside(const std::string& outer, const std::string& inner) {
    char* realOuter = ::realpath(outer.c_str(), nullptr);
    if (!realOuter) return false;
    std::string parent = Path::stringByDeletingLastPathComponent(inner);
    if (parent.empty()) parent = ".";
    char* realParent = ::realpath(parent.c_str(), nullptr);
    bool inside = false;
    if (realParent) {
        std::string a(realOuter);
        std::string b = std::string(realParent) + "/" + Path::lastPathComponent(inner);
        inside = b == a || (b.size() > a.size() && b.compare(0, a.size(), a) == 0 && (a == "/" || b[a.size()] == '/'));
    }
    std::free(realOuter);
    std::free(realParent);
    return inside;
}

// copyItem with the modes kept or, not `keepModes`, made the user's own.
bool copyItemKeeping(const std::string& from, const std::string& to, bool keepModes, std::error_code* error) {
    if (from.empty() || to.empty()) return fail(error, EINVAL);
    struct stat st{};
    if (::lstat(to.c_str(), &st) == 0) return fail(error, EEXIST);
    if (::lstat(from.c_str(), &st) != 0) return fail(error, errno);
    if (S_ISDIR(st.st_mode) && isSameOrInside(from, to)) return fail(error, EINVAL);
    int err = 0;
    if (!copyTree(from, to, err, keepModes)) return fail(error, err);
    return succeed(error);
}

}  // namespace

bool FileManager::fileExists(const std::string& path, bool* isDirectory) {
    struct stat st{};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) {
        if (isDirectory) *isDirectory = false;
        return false;
    }
    if (isDirectory) *isDirectory = S_ISDIR(st.st_mode);
    return true;
}

bool FileManager::createDirectory(const std::string& path, bool withIntermediateDirectories, std::error_code* error) {
    if (path.empty()) return fail(error, EINVAL);
    if (!withIntermediateDirectories) {
        if (::mkdir(path.c_str(), 0700) != 0) return fail(error, errno);
        return succeed(error);
    }
    struct stat existing{};
    if (::stat(path.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode)) return succeed(error);
    std::string fixed = Path::standardizedSlashes(path);
    std::size_t pos = 0;
    while (pos != std::string::npos) {
        pos = fixed.find('/', pos + 1);
        std::string prefix = fixed.substr(0, pos);
        if (prefix.empty()) continue;
        if (::mkdir(prefix.c_str(), 0700) == 0) continue;
        int err = errno;
        struct stat st{};
        if (err == EEXIST && ::stat(prefix.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
        return fail(error, err == EEXIST ? ENOTDIR : err);
    }
    return succeed(error);
}

bool FileManager::removeItem(const std::string& path, std::error_code* error) {
    if (path.empty()) return fail(error, EINVAL);
    int err = 0;
    if (!removeItemAt(path, err)) return fail(error, err);
    return succeed(error);
}

bool FileManager::copyItem(const std::string& from, const std::string& to, std::error_code* error) {
    return copyItemKeeping(from, to, true, error);
}

bool FileManager::copyFileStoppable(const std::string& from, const std::string& to, const std::atomic<bool>* stop,
                                    const std::function<void(std::uint64_t)>& progress, std::error_code* error) {
    auto fail = [&](int err) {
        if (error) *error = std::error_code(err, std::generic_category());
        return false;
    };
    Fd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st{};
    if (!in) return fail(errno);
    if (::fstat(in.get(), &st) != 0) return fail(errno);
    if (!S_ISREG(st.st_mode)) return fail(EINVAL);
    Fd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!out) return fail(errno);
    auto giveUp = [&](int err) {
        out.reset();
        ::unlink(to.c_str());
        return fail(err);
    };
    auto stopped = [&] { return stop && stop->load(); };
    // A file system that shares blocks (btrfs, XFS) makes the copy at once.
    bool done = ::ioctl(out.get(), FICLONE, in.get()) == 0;
    uint64_t copied = done ? uint64_t(st.st_size) : 0;
    bool kernel = true;
    std::vector<char> buf;
    while (!done) {
        if (stopped()) return giveUp(ECANCELED);
        if (progress) progress(copied);
        if (kernel) {
            ssize_t n = ::copy_file_range(in.get(), nullptr, out.get(), nullptr, size_t(kCopyPiece), 0);
            if (n > 0) {
                copied += uint64_t(n);
                continue;
            }
            if (n == 0) break;
            if (errno == EINTR) continue;
            if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP && errno != EPERM)
                return giveUp(errno);
            kernel = false;
        }
        if (buf.empty()) buf.resize(1 << 20);
        uint64_t piece = 0;
        while (piece < kCopyPiece) {
            ssize_t n = ::read(in.get(), buf.data(), buf.size());
            if (n == 0) {
                done = true;
                break;
            }
            if (n < 0) {
                if (errno == EINTR) continue;
                return giveUp(errno);
            }
            if (!sys::WholeWrite::write(out.get(), buf.data(), std::size_t(n))) return giveUp(errno);
            piece += uint64_t(n);
        }
        copied += piece;
    }
    if (stopped()) return giveUp(ECANCELED);
    copyTimes(out.get(), st);
    if (::fchmod(out.get(), 0600) != 0) return giveUp(errno);
    if (progress) progress(copied);
    return true;
}

bool FileManager::copyItemPrivately(const std::string& from, const std::string& to, std::error_code* error) {
    return copyItemKeeping(from, to, false, error);
}

bool FileManager::moveItem(const std::string& from, const std::string& to, std::error_code* error) {
    if (from.empty() || to.empty()) return fail(error, EINVAL);
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return succeed(error);
    int err = errno;
    if (err == EINVAL || err == ENOSYS || err == ENOTSUP) {
        // The file system cannot refuse to replace by itself (or the move is
        // of a folder into itself, which the fallback refuses too). Claim the
        // name first with an exclusive create, then move over the claim.
        struct stat st{};
        if (::lstat(from.c_str(), &st) != 0) return fail(error, errno);
        if (S_ISDIR(st.st_mode)) {
            if (::mkdir(to.c_str(), 0700) != 0) return fail(error, errno);
            if (::rename(from.c_str(), to.c_str()) != 0) {
                int e = errno;
                ::rmdir(to.c_str());
                return fail(error, e);
            }
            return succeed(error);
        }
        if (::link(from.c_str(), to.c_str()) == 0) {
            if (::unlink(from.c_str()) != 0) {
                int e = errno;
                ::unlink(to.c_str());
                return fail(error, e);
            }
            return succeed(error);
        }
        err = errno;
        if (err == EPERM || err == ENOTSUP || err == EOPNOTSUPP || err == EMLINK) {
            int claim = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (claim < 0) return fail(error, errno);
            ::close(claim);
            if (::rename(from.c_str(), to.c_str()) != 0) {
                int e = errno;
                ::unlink(to.c_str());
                return fail(error, e);
            }
            return succeed(error);
        }
    }
    if (err == EXDEV) {
        std::error_code copyError;
        if (!copyItem(from, to, &copyError)) return fail(error, copyError.value());
        int removeErr = 0;
        // The copy is whole; a source that cannot be removed leaves two copies.
        if (!removeItemAt(from, removeErr)) return fail(error, removeErr);
        return succeed(error);
    }
    return fail(error, err);
}

std::optional<FileManager::Attributes> FileManager::attributesOfItem(const std::string& path, bool followSymlinks,
                                                                     std::error_code* error) {
    struct statx stx{};
    int flags = followSymlinks ? 0 : AT_SYMLINK_NOFOLLOW;
    if (path.empty()) {
        fail(error, ENOENT);
        return std::nullopt;
    }
    if (::statx(AT_FDCWD, path.c_str(), flags, STATX_BASIC_STATS | STATX_BTIME, &stx) != 0) {
        fail(error, errno);
        return std::nullopt;
    }
    Attributes a;
    a.type = typeFromMode(stx.stx_mode);
    a.size = stx.stx_size;
    a.modificationDate = dateFrom(stx.stx_mtime);
    a.creationDate = (stx.stx_mask & STATX_BTIME) ? dateFrom(stx.stx_btime) : a.modificationDate;
    a.permissions = stx.stx_mode & 07777;
    succeed(error);
    return a;
}

std::optional<std::uint64_t> FileManager::fileSize(const std::string& path) {
    auto a = attributesOfItem(path, true);
    if (!a) return std::nullopt;
    return a->size;
}

std::optional<Date> FileManager::modificationDate(const std::string& path) {
    auto a = attributesOfItem(path, true);
    if (!a) return std::nullopt;
    return a->modificationDate;
}

std::optional<Date> FileManager::creationDate(const std::string& path) {
    auto a = attributesOfItem(path, true);
    if (!a) return std::nullopt;
    return a->creationDate;
}

bool FileManager::setModificationDate(const std::string& path, Date date, std::error_code* error) {
    double t = date.timeIntervalSince1970();
    if (!std::isfinite(t)) return fail(error, EINVAL);
    double whole = std::floor(t);
    long nsec = std::lround((t - whole) * 1e9);
    if (nsec >= 1000000000L) {
        whole += 1;
        nsec -= 1000000000L;
    }
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = time_t(whole);
    times[1].tv_nsec = nsec;
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) return fail(error, errno);
    return succeed(error);
}

std::optional<std::vector<FileManager::DirectoryEntry>> FileManager::entriesOfDirectory(const std::string& path,
                                                                                       std::error_code* error) {
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        fail(error, errno);
        return std::nullopt;
    }
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        fail(error, errno);
        ::close(fd);
        return std::nullopt;
    }
    std::vector<DirectoryEntry> entries;
    errno = 0;
    while (struct dirent* e = ::readdir(dir)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        DirectoryEntry entry;
        entry.name = e->d_name;
        switch (e->d_type) {
        case DT_REG: entry.type = FileType::Regular; break;
        case DT_DIR: entry.type = FileType::Directory; break;
        case DT_LNK: entry.type = FileType::SymbolicLink; break;
        case DT_UNKNOWN: {
            // Some file systems do not fill in the type.
            struct stat st{};
            entry.type = ::fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 ? typeFromMode(st.st_mode)
                                                                                 : FileType::Other;
            break;
        }
        default: entry.type = FileType::Other; break;
        }
        entries.push_back(std::move(entry));
    }
    ::closedir(dir);
    std::sort(entries.begin(), entries.end(),
              [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
    succeed(error);
    return entries;
}

std::optional<std::vector<std::string>> FileManager::contentsOfDirectory(const std::string& path,
                                                                        std::error_code* error) {
    auto entries = entriesOfDirectory(path, error);
    if (!entries) return std::nullopt;
    std::vector<std::string> names;
    names.reserve(entries->size());
    for (auto& e : *entries) names.push_back(std::move(e.name));
    return names;
}

int FileManager::openRegularFileForReading(const std::string& path, std::error_code* error, struct stat* status) {
    // Non-blocking, so that a pipe or device in place of a file cannot hang us.
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) {
        fail(error, errno);
        return -1;
    }
    struct stat st{};
    if (::fstat(fd.get(), &st) != 0) {
        fail(error, errno);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        fail(error, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
        return -1;
    }
    // Blocking again for the reads. O_NONBLOCK is the only status flag the
    // open set, so clearing them all needs no F_GETFL first.
    if (::fcntl(fd.get(), F_SETFL, 0) != 0) {
        fail(error, errno);
        return -1;
    }
    if (status) *status = st;
    succeed(error);
    return fd.release();
}

std::FILE* FileManager::openRegularFileStream(const std::string& path, std::error_code* error) {
    Fd fd(openRegularFileForReading(path, error));
    if (!fd) return nullptr;
    std::FILE* f = ::fdopen(fd.get(), "rb");
    if (!f) {
        fail(error, errno);
        return nullptr;
    }
    fd.release();
    return f;
}

std::optional<std::string> FileManager::contentsOfFile(const std::string& path, std::uint64_t limit,
                                                       std::error_code* error) {
    struct stat st{};
    Fd fd(openRegularFileForReading(path, error, &st));
    if (!fd) return std::nullopt;
    if (std::uint64_t(st.st_size) > limit) {
        fail(error, EFBIG);
        return std::nullopt;
    }
    std::string data;
    data.reserve(std::size_t(st.st_size));
    char buf[1 << 16];
    for (;;) {
        ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            fail(error, errno);
            return std::nullopt;
        }
        if (data.size() + std::size_t(n) > limit) {  // grew while we read
            fail(error, EFBIG);
            return std::nullopt;
        }
        data.append(buf, std::size_t(n));
    }
    succeed(error);
    return data;
}

bool FileManager::writeFile(const std::string& path, std::string_view bytes, bool atomically, std::error_code* error) {
    if (path.empty()) return fail(error, EINVAL);
    if (!atomically) {
        Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
        if (!fd || !sys::WholeWrite::write(fd.get(), bytes.data(), bytes.size())) return fail(error, errno);
        if (::close(fd.release()) != 0) return fail(error, errno);
        return succeed(error);
    }
    std::string folder = Path::stringByDeletingLastPathComponent(path);
    if (folder.empty()) folder = ".";
    std::string name = Path::lastPathComponent(path);
    std::string temp = Path::stringByAppendingPathComponent(folder, "." + name + ".tmp-XXXXXX");
    Fd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd) return fail(error, errno);
    // The new file keeps the mode of the one it replaces; a new one is private.
    struct stat old{};
    mode_t mode = ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0600;
    if (!sys::WholeWrite::write(fd.get(), bytes.data(), bytes.size()) || ::fchmod(fd.get(), mode) != 0 || ::fsync(fd.get()) != 0) {
        int err = errno;
        fd.reset();
        ::unlink(temp.c_str());
        return fail(error, err);
    }
    if (::close(fd.release()) != 0 || ::rename(temp.c_str(), path.c_str()) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        return fail(error, err);
    }
    // Make the rename itself survive a crash.
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir) ::fsync(dir.get());
    return succeed(error);
}

bool FileManager::setExcludedFromBackup(const std::string& path, bool excluded, std::error_code* error) {
    if (excluded) {
        if (::setxattr(path.c_str(), kExcludeFromBackupAttribute, "1", 1, 0) != 0) return fail(error, errno);
        return succeed(error);
    }
    if (::removexattr(path.c_str(), kExcludeFromBackupAttribute) != 0 && errno != ENODATA) return fail(error, errno);
    return succeed(error);
}

bool FileManager::isExcludedFromBackup(const std::string& path) {
    char value[8] = {};
    ssize_t n = ::getxattr(path.c_str(), kExcludeFromBackupAttribute, value, sizeof value);
    return n > 0 && value[0] != '0';
}

}  // namespace sys
