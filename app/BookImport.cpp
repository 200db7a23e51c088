#include "app/BookImport.h"

#include "platform/core/FileManager.h"
#include "platform/core/Path.h"
#include "platform/core/RunLoop.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <stdlib.h>

using sys::FileManager;
using sys::Path;

namespace {

bool sameContentsOf(const std::string& a, const std::string& b, const std::atomic<bool>* stop) {
    std::error_code ec1, ec2;
    const auto sa = std::filesystem::file_size(a, ec1), sb = std::filesystem::file_size(b, ec2);
    if (ec1 || ec2 || sa != sb) return false;
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    if (!fa || !fb) return false;
    std::vector<char> ba(1 << 16), bb(1 << 16);
    while (fa && fb) {
        if (stop && stop->load()) return false;
        fa.read(ba.data(), std::streamsize(ba.size()));
        fb.read(bb.data(), std::streamsize(bb.size()));
        if (fa.gcount() != fb.gcount()) return false;
        if (!std::equal(ba.begin(), ba.begin() + fa.gcount(), bb.begin())) return false;
    }
    return fa.eof() && fb.eof();
}

}  // namespace

bool BookImport::sameContents(const std::string& a, const std::string& b, const std::atomic<bool>* stop) {
    return sameContentsOf(a, b, stop);
}

BookImport::BookImport(std::string source, bool isFolder, std::string libraryFolder, Done done, Check check)
    : source_(std::move(source)),
      isFolder_(isFolder),
      folder_(std::move(libraryFolder)),
      done_(std::move(done)),
      check_(std::move(check)) {
    worker_ = sys::Thread([this](const std::atomic<bool>& stop) { work(stop); }, "book-import");
}

BookImport::~BookImport() { cancel(); }

void BookImport::cancel() {
    *alive_ = false;
    worker_.requestStop();
    worker_.join();
    removeStaging();
}

void BookImport::requestStop() {
    *alive_ = false;
    worker_.requestStop();
}

void BookImport::removeStaging() {
    if (!staging_.empty()) FileManager::removeItem(staging_);
    staging_.clear();
    copied_ = false;
}

double BookImport::progress() const {
    const uint64_t total = total_.load();
    return total == 0 ? 0.0 : std::min(1.0, double(done_bytes_.load()) / double(total));
}

void BookImport::work(const std::atomic<bool>& stop) {
    auto finish = [this] {
        auto alive = alive_;
        auto done = done_;
        sys::RunLoop::main().post([alive, done] {
            if (*alive && done) done();
        });
    };
    if (check_) {
        problem_ = check_(source_, stop);
        if (problem_ || stop.load()) return finish();
    }
    std::vector<std::string> pictures;
    std::string name;
    if (isFolder_) {
        std::string from = source_;
        while (from.size() > 1 && from.back() == '/') from.pop_back();
        if (pictureLister_) pictures = pictureLister_(from);
        // The library lists no hidden folder, and hides "Inbox" at its top.
        name = Path::lastPathComponent(from);
        while (!name.empty() && name[0] == '.') name.erase(0, 1);
        if (pictures.empty() || name.empty()) return finish();
        uint64_t total = 0;
        for (const auto& picture : pictures)
            total += FileManager::fileSize(Path::stringByAppendingPathComponent(from, picture)).value_or(0);
        total_ = total;
        auto holdsTheSame = [&](const std::string& there) {
            for (const auto& picture : pictures)
                if (!sameContents(Path::stringByAppendingPathComponent(from, picture),
                                  Path::stringByAppendingPathComponent(there, picture), &stop))
                    return false;
            return true;
        };
        for (int n = 1; n <= 999 && target_.empty() && !stop.load(); ++n) {
            const std::string candidate =
                Path::stringByAppendingPathComponent(folder_, n == 1 ? name : name + "(" + std::to_string(n) + ")");
            bool isDirectory = false;
            if (!FileManager::fileExists(candidate, &isDirectory)) {
                target_ = candidate;
            } else if (isDirectory && !(n == 1 && name == "Inbox") && holdsTheSame(candidate)) {
                // The same pictures handed over again open the folder already there.
                existing_ = candidate;
                return finish();
            }
        }
    } else {
        name = Path::lastPathComponent(source_);
        if (name.empty() || name == "." || name == "..") return finish();
        total_ = FileManager::fileSize(source_).value_or(0);
        std::string target = Path::stringByAppendingPathComponent(folder_, name);
        if (FileManager::fileExists(target)) {
            // The same book handed over again opens the copy already there,
            // whichever of the numbered names that copy took.
            if (sameContents(source_, target, &stop)) {
                existing_ = target;
                return finish();
            }
            const std::string base = Path::stringByDeletingPathExtension(target);
            const std::string ext = Path::pathExtension(target);
            for (int n = 2; n <= 999 && !stop.load(); ++n) {
                std::string candidate = base + "(" + std::to_string(n) + ")" + (ext.empty() ? "" : "." + ext);
                target = candidate;
                if (!FileManager::fileExists(candidate)) break;
                if (sameContents(source_, candidate, &stop)) {
                    existing_ = candidate;
                    return finish();
                }
            }
        }
        target_ = target;
    }
    if (target_.empty() || stop.load()) return finish();
    // The copy is made in a hidden folder beside its place (the same file
    // system: it is renamed into place), which the library does not list.
    std::string pattern = Path::stringByAppendingPathComponent(folder_, ".import-XXXXXX");
    if (!FileManager::createDirectory(folder_, true) || !::mkdtemp(pattern.data())) return finish();
    staging_ = pattern;
    copy_ = Path::stringByAppendingPathComponent(staging_, name);
    copied_ = isFolder_ ? copyFolder(pictures, copy_, stop) : copyFile(copy_, stop);
    if (!copied_) removeStaging();
    finish();
}

bool BookImport::copyFile(const std::string& to, const std::atomic<bool>& stop) {
    // Copied, never moved; the copy is the user's own, like every file the
    // program writes, not of the mode of the file it came from.
    return FileManager::copyFileStoppable(source_, to, &stop, [this](uint64_t n) { done_bytes_ = n; });
}

bool BookImport::copyFolder(const std::vector<std::string>& pictures, const std::string& to,
                            const std::atomic<bool>& stop) {
    if (!FileManager::createDirectory(to, false)) return false;
    std::string from = source_;
    while (from.size() > 1 && from.back() == '/') from.pop_back();
    uint64_t before = 0;
    for (const auto& picture : pictures) {
        if (stop.load()) return false;
        if (!FileManager::copyFileStoppable(Path::stringByAppendingPathComponent(from, picture),
                                            Path::stringByAppendingPathComponent(to, picture), &stop,
                                            [this, before](uint64_t n) { done_bytes_ = before + n; }))
            return false;
        before = done_bytes_.load();
    }
    return true;
}

std::optional<std::string> BookImport::place() {
    worker_.join();
    if (existing_) return existing_;
    if (!copied_) {
        removeStaging();
        return std::nullopt;
    }
    // Something of that name came meanwhile: the next free number.
    std::string target = target_;
    std::optional<std::string> placed;
    const std::string base = isFolder_ ? target_ : Path::stringByDeletingPathExtension(target_);
    const std::string ext = isFolder_ ? std::string() : Path::pathExtension(target_);
    for (int n = 2; n <= 1000 && !placed; ++n) {
        if (FileManager::moveItem(copy_, target)) placed = target;
        else target = base + "(" + std::to_string(n) + ")" + (ext.empty() ? "" : "." + ext);
    }
    removeStaging();
    return placed;
}
