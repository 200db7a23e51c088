#include "platform/ui/FolderPhotoAlbum.h"

#include "platform/core/AppPaths.h"
#include "platform/core/RunLoop.h"
#include "platform/graphics/JpegEncoder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ui {

namespace {

void finish(const PhotoAlbum::Completion& c, bool ok, const std::string& error) {
    if (c) sys::RunLoop::main().post([c, ok, error] { c(ok, error); });
}

enum class Write { Done, Exists, Failed };

// Writes all of `data` to a new file; nothing is left behind on failure.
Write writeNew(const std::string& path, const std::vector<uint8_t>& data, std::string& error) {
    std::string tmp = path + ".part";
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) {
        // Left over from an interrupted save.
        ::unlink(tmp.c_str());
        fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    }
    if (fd < 0) {
        error = std::strerror(errno);
        return Write::Failed;
    }
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = std::strerror(errno);
            ::close(fd);
            ::unlink(tmp.c_str());
            return Write::Failed;
        }
        done += size_t(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        error = std::strerror(errno);
        ::unlink(tmp.c_str());
        return Write::Failed;
    }
    // link() refuses to replace a file that appeared meanwhile.
    if (::link(tmp.c_str(), path.c_str()) != 0) {
        bool exists = errno == EEXIST;
        error = std::strerror(errno);
        ::unlink(tmp.c_str());
        return exists ? Write::Exists : Write::Failed;
    }
    ::unlink(tmp.c_str());
    return Write::Done;
}

}  // namespace

FolderPhotoAlbum::FolderPhotoAlbum(std::string folder) : folder_(std::move(folder)) {}

void FolderPhotoAlbum::saveImage(const gfx::ImageRef& image, Completion completion) {
    if (!image) return finish(completion, false, "no image");
    std::string dir = folder_.empty() ? sys::AppPaths::home() + "/Pictures" : folder_;
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return finish(completion, false, std::strerror(errno));
    std::string error;
    std::vector<uint8_t> jpeg = gfx::JpegEncoder::encode(*image, kQuality, &error);
    if (jpeg.empty()) return finish(completion, false, error.empty() ? "could not encode the image" : error);
    for (int n = 1; n < 100000; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "IMG_%04d.jpg", n);
        std::string path = dir + "/" + name;
        struct stat st;
        if (::lstat(path.c_str(), &st) == 0) continue;
        Write w = writeNew(path, jpeg, error);
        if (w == Write::Done) {
            last_ = path;
            return finish(completion, true, "");
        }
        if (w == Write::Failed) return finish(completion, false, error);
    }
    finish(completion, false, "the album is full");
}

}  // namespace ui
