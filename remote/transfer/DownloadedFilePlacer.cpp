#include "remote/transfer/DownloadedFilePlacer.h"

#include "foundation/QNUrl.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <stdio.h>
#include <unistd.h>

namespace fs = std::filesystem;

bool DownloadedFilePlacer::skipsExisting(const std::string& folder, const std::string& name, int mode) {
    std::error_code ec;
    return mode == 0 && fs::exists(fs::path(folder) / name, ec);
}

int DownloadedFilePlacer::moveFile(const std::string& src, const std::string& dst, bool replace) {
    if (::renameat2(AT_FDCWD, src.c_str(), AT_FDCWD, dst.c_str(), replace ? 0 : RENAME_NOREPLACE) == 0) return 0;
    if (errno != EXDEV) return errno;
    std::string tmp = fs::path(dst).parent_path().string() + "/.lbdownload.XXXXXX";
    int fd = ::mkstemp(tmp.data());
    if (fd < 0) return errno;
    ::close(fd);
    std::error_code ec;
    fs::copy_file(src, tmp, fs::copy_options::overwrite_existing, ec);
    int err = ec ? EIO : 0;
    if (!err && ::renameat2(AT_FDCWD, tmp.c_str(), AT_FDCWD, dst.c_str(), replace ? 0 : RENAME_NOREPLACE) != 0) {
        err = errno;
    }
    if (err) {
        ::unlink(tmp.c_str());
        return err;
    }
    ::unlink(src.c_str());
    return 0;
}

DownloadedFilePlacer::Outcome DownloadedFilePlacer::place(const std::string& temp, const std::string& folderPath,
                                                          const std::string& name, int mode, std::string* savedPath) {
    const fs::path folder(folderPath);
    if (mode == 2) {
        // The old file goes only now that the new one is complete.
        const std::string target = (folder / name).string();
        if (moveFile(temp, target, true) != 0) return Outcome::Failed;
        *savedPath = target;
        return Outcome::Placed;
    }
    const std::string ext = QNUrl::pathExtensionOf(name);
    const std::string stem = ext.empty() ? name : name.substr(0, name.size() - ext.size() - 1);
    for (int n = 1; n < 10000; ++n) {
        const std::string candidate = n == 1 ? name : stem + " " + std::to_string(n) + (ext.empty() ? "" : "." + ext);
        const std::string target = (folder / candidate).string();
        const int err = moveFile(temp, target, false);
        if (err == 0) {
            *savedPath = target;
            return Outcome::Placed;
        }
        if (err != EEXIST) break;
        // A file that appeared meanwhile in "skip" mode is still skipped.
        if (mode == 0) return Outcome::ExistsSkipped;
    }
    return Outcome::Failed;
}
