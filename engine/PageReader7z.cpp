#include "engine/PageReader7z.h"

#include "engine/RemoteStreamRead.h"
#include "engine/SevenZipInterfaces.h"
#include "engine/SevenZipLibrary.h"
#include "engine/SevenZipReader.h"
#include "foundation/BookCommon.h"
#include "platform/core/AppPaths.h"
#include "platform/core/FileManager.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

bool fileExists(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

uint64_t freeBytes(const std::string& folder) {
    struct statvfs fs{};
    if (::statvfs(folder.c_str(), &fs) != 0) return UINT64_MAX;  // let the writes tell
    return uint64_t(fs.f_bavail) * uint64_t(fs.f_frsize);
}

// The page's path as the reader names it: folder and name when both
// exist, else whichever does.
std::string entryPath(const SevenZipItem& item) {
    auto dir = item.directoryPath();
    auto name = item.fileName();
    if (dir && name) return *dir + "/" + *name;
    if (name) return *name;
    return dir.value_or(std::string());
}

// The 7z signature: a file that has it and does not open is damaged.
bool hasSevenZipSignature(const std::string& path) {
    static const unsigned char kSignature[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
    unsigned char head[6] = {};
    std::FILE* f = sys::FileManager::openRegularFileStream(path);
    if (!f) return false;
    const size_t n = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    return n == sizeof head && std::memcmp(head, kSignature, sizeof head) == 0;
}

PageReader::OpenFailure openFailureOf(const std::string& path, const SevenZipReader::Error& error) {
    if (!SevenZipLibrary::shared().available()) return PageReader::OpenFailure::NoReader;
    if (error.password) return PageReader::OpenFailure::Password;
    if (error.code == sz::kOutOfMemory) return PageReader::OpenFailure::NoMemory;
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || ::access(path.c_str(), R_OK) != 0)
        return PageReader::OpenFailure::Unreadable;
    return hasSevenZipSignature(path) ? PageReader::OpenFailure::Damaged : PageReader::OpenFailure::NotArchive;
}

// Folders "<pid>-..." whose process no longer exists. A process id taken
// again by another program keeps its folders until that one ends too.
void removeFoldersOfEndedProcesses(const std::string& base) {
    auto names = sys::FileManager::contentsOfDirectory(base);
    if (!names) return;
    for (const std::string& name : *names) {
        const size_t dash = name.find('-');
        if (dash == 0 || dash == std::string::npos || dash > 9) continue;
        if (name.find_first_not_of("0123456789") != dash) continue;
        const long pid = std::strtol(name.c_str(), nullptr, 10);
        if (pid <= 0 || pid == long(::getpid())) continue;
        if (::kill(pid_t(pid), 0) == 0 || errno != ESRCH) continue;
        sys::FileManager::removeItem(base + "/" + name);
    }
}

// The folders of extracted pages of the books being read (by readers that
// extract for a screen), by book path: an offline reader of the same book
// (the page cache builder) serves the pages it finds there. Files appear
// there under their names only once complete.
std::mutex gShownMutex;
std::map<std::string, std::string>& shownFolders() {
    static std::map<std::string, std::string> folders;
    return folders;
}

void showFolder(const std::string& book, const std::string& folder) {
    std::lock_guard lock(gShownMutex);
    shownFolders()[book] = folder;
}

void withdrawFolder(const std::string& folder) {
    std::lock_guard lock(gShownMutex);
    auto& folders = shownFolders();
    for (auto it = folders.begin(); it != folders.end();)
        it = it->second == folder ? folders.erase(it) : std::next(it);
}

std::string folderShowing(const std::string& book) {
    std::lock_guard lock(gShownMutex);
    auto it = shownFolders().find(book);
    return it == shownFolders().end() ? std::string() : it->second;
}

bool isPasswordFailure(int64_t code) {
    return code == sz::kAbort || code == sz::kOpDataError || code == sz::kOpCrcError ||
           code == sz::kOpWrongPassword;
}

}  // namespace

PageReader7z::PageReader7z() = default;

PageReader7z::~PageReader7z() {
    closeFile();
    removeTemporaryFolder();
}

void PageReader7z::setReason(std::string reason) {
    std::lock_guard lock(mutex_);
    reason_ = std::move(reason);
}

std::string PageReader7z::failureReason() const {
    std::lock_guard lock(mutex_);
    return reason_;
}

std::string PageReader7z::getTemporaryDirectory() const { return tempFolder_; }

// A folder of this reader alone under the shared "solidtemp", so that two
// readers (the viewer and a thumbnail job) never wipe each other's pages.
// Named after the process, so that the folders of a program that ended
// without cleaning up (a crash) can be told apart and removed.
bool PageReader7z::makeTemporaryFolder() {
    removeTemporaryFolder();
    const std::string base = sys::AppPaths::tmp() + "/solidtemp";
    if (!sys::FileManager::createDirectory(base, true)) return false;
    removeFoldersOfEndedProcesses(base);
    std::string pattern = base + "/" + std::to_string(::getpid()) + "-XXXXXX";
    if (!::mkdtemp(pattern.data())) return false;
    tempFolder_ = pattern;
    return true;
}

void PageReader7z::removeTemporaryFolder() {
    if (tempFolder_.empty()) return;
    withdrawFolder(tempFolder_);
    sys::FileManager::removeItem(tempFolder_);
    tempFolder_.clear();
}

bool PageReader7z::openFile(const std::string& name, const std::optional<std::string>& password,
                            const std::optional<std::string>& /*targetFolder*/, bool isOfflineMode,
                            bool isThumbsCreateMode) {
    isOfflineMode_ = isOfflineMode;
    isUnsupportedServer_ = false;
    closeFile();
    setReason({});
    openFailure_ = OpenFailure::None;
    outOfMemory_ = false;
    if (name.empty()) return false;
    cancel_.store(false);
    isThumbsCreateMode_ = isThumbsCreateMode;
    targetPath_ = name;
    archivePassword_ = password;

    if (BookCommon::isURL(name)) {
        // 7z books are read only from local files: the stream is made so
        // that the book's settings travel as for other formats, never opened.
        httpStream_.set(newArchiveStream(name, isOfflineMode, isThumbsCreateMode));
        setReason("7z books can only be read from local files");
        openFailure_ = OpenFailure::NoReader;
        return false;
    }

    auto reader = std::make_unique<SevenZipReader>(name, SevenZipReader::k7z);
    reader->setCancelFlag(&cancel_);
    const std::optional<std::string> given = password;
    reader->setPasswordGetter([given] { return given; });
    SevenZipReader::Error error;
    if (!reader->open(&error)) {
        setReason(error.description);
        openFailure_ = openFailureOf(name, error);
        targetPath_.clear();
        archivePassword_.reset();
        return false;
    }
    if (!isOfflineMode && !makeTemporaryFolder()) {
        setReason("Can't create the temporary folder for extracted pages");
        openFailure_ = OpenFailure::Unreadable;
        targetPath_.clear();
        archivePassword_.reset();
        return false;
    }
    // The pages this reader writes are there for an offline reader of the
    // same book; a cover job's single pages are not.
    if (!isOfflineMode && !isThumbsCreateMode) showFolder(name, tempFolder_);

    int32_t counter = 0;
    std::set<std::string> taken;
    std::set<uint64_t> blocks;
    reader->iterateWithHandler([&](const std::optional<SevenZipItem>& item, const SevenZipReader::Error*) {
        if (!item) return true;
        const std::string path = entryPath(*item);
        if (item->isDirectory()) {
            folderList_.push_back(path);
            return true;
        }
        // A name without a Unicode form (or none at all) still makes a page.
        pageNameList_.push_back((path.empty() ? std::string("__unknown__") : path) + '\0');
        globalPageNoList_.push_back(counter++);
        itemList_.push_back(*item);
        // Its own file under the folder, even when names collide once
        // confined ("a/../b.jpg" and "b.jpg").
        std::string file = SevenZipReader::confinedRelativePath(item->path).value_or("item");
        while (!taken.insert(file).second) file += "~" + std::to_string(item->index);
        pageOfIndex_.emplace(item->index, pageFiles_.size());
        pageFiles_.push_back(std::move(file));
        startsBlock_.push_back(item->block != SevenZipItem::kNoBlock && blocks.insert(item->block).second);
        return true;
    });
    // A page whose file would stand where another page needs a folder ("a"
    // and "a/b.jpg") moves aside, or writing the block would stop there.
    std::set<std::string> folders;
    for (const std::string& file : pageFiles_)
        for (size_t slash = file.find('/'); slash != std::string::npos; slash = file.find('/', slash + 1))
            folders.insert(file.substr(0, slash));
    for (size_t i = 0; i < pageFiles_.size(); ++i) {
        if (!folders.count(pageFiles_[i])) continue;
        std::string file = pageFiles_[i];
        do file += "~" + std::to_string(itemList_[i].index);
        while (folders.count(file) || !taken.insert(file).second);
        pageFiles_[i] = std::move(file);
    }
    reader_ = std::move(reader);
    return true;
}

// A page load waiting for its file returns at once: the running
// extraction stops at its next read.
void PageReader7z::cancelStreaming() {
    PageReader::cancelStreaming();
    std::lock_guard lock(mutex_);
    if (running_) cancel_.store(true);
}

void PageReader7z::closeFile() {
    {
        std::unique_lock lock(mutex_);
        stopExtraction(lock);
    }
    itemList_.clear();
    pageFiles_.clear();
    startsBlock_.clear();
    pageOfIndex_.clear();
    {
        std::lock_guard lock(mutex_);
        failedBlocks_.clear();
    }
    folderList_.clear();
    reader_.reset();
    closeArchive();
}

// Stops the running extraction at its next read and waits until its thread
// has ended. The lock is held on return.
void PageReader7z::stopExtraction(std::unique_lock<std::mutex>& lock) {
    if (running_) cancel_.store(true);
    changed_.wait(lock, [&] { return !running_; });
    if (worker_.joinable()) {
        std::thread t = std::move(worker_);
        lock.unlock();
        t.join();
        lock.lock();
    }
    cancel_.store(false);
}

std::string PageReader7z::pageFile(size_t page) const { return tempFolder_ + "/" + pageFiles_[page]; }

void PageReader7z::runExtraction(const std::vector<SevenZipItem>& items) {
    uint64_t bytes = 0;
    for (const SevenZipItem& item : items) bytes += item.orgSize;
    SevenZipReader::FileTargets targets;
    targets.relativePath = [this](const SevenZipItem& item) {
        auto page = pageOfIndex_.find(item.index);
        return page == pageOfIndex_.end() ? std::string() : pageFiles_[page->second];
    };
    targets.maxBytes = bytes;  // the archive's own sizes; more is a lie
    targets.onFileClosed = [this](const SevenZipItem&, const std::string&) {
        // Taking the lock orders the notification after the waiter's check.
        std::lock_guard lock(mutex_);
        changed_.notify_all();
    };
    const bool ok = reader_->extract(items, tempFolder_, targets);
    const bool stopped = cancel_.load();
    std::optional<SevenZipReader::Error> error = ok ? std::nullopt : reader_->lastError();
    std::lock_guard lock(mutex_);
    // A block that fails is not decoded again only to measure its pages.
    for (const SevenZipItem& item : items) {
        if (ok) failedBlocks_.erase(item.block);
        else if (!stopped) failedBlocks_.insert(item.block);
    }
    running_ = false;
    runningItems_.clear();
    lastFailedOnPassword_ = error && isPasswordFailure(error->code);
    if (error) reason_ = error->description;
    // The block's dictionary could not be allocated: every page of it fails so.
    if (error && error->code == sz::kOutOfMemory) outOfMemory_ = true;
    changed_.notify_all();
}

PageReader7z::Wait PageReader7z::failureOf(size_t page) const {
    std::lock_guard lock(mutex_);
    return itemList_[page].isEncrypted() && lastFailedOnPassword_ ? Wait::Password : Wait::Failed;
}

PageReader7z::Wait PageReader7z::extractInline(const std::vector<SevenZipItem>& items, size_t page) {
    runExtraction(items);
    return fileExists(pageFile(page)) ? Wait::Ready : failureOf(page);
}

PageReader7z::Wait PageReader7z::extractForPage(size_t page, Extraction how) {
    const SevenZipItem& wanted = itemList_[page];
    const std::string file = pageFile(page);
    std::unique_lock lock(mutex_);
    const bool inRunning =
        running_ && std::find(runningItems_.begin(), runningItems_.end(), wanted.index) != runningItems_.end();
    if (!inRunning) {
        // Measuring never stops the block a page on the screen waits for.
        if (how == Extraction::WholeBlock && running_) return Wait::Failed;
        // Another block is being written: the reader has moved on, so that
        // extraction gives way (its finished pages stay).
        stopExtraction(lock);
        if (fileExists(file)) return Wait::Ready;
        // A page larger than any page may be is never written out: it could
        // not be read back, and it would take the disk for nothing.
        if (wanted.orgSize > kMaxPageBytes) {
            reason_ = "The page is too large";
            return Wait::Failed;
        }

        std::vector<SevenZipItem> items;
        uint64_t bytes = 0;
        if (!isThumbsCreateMode_ && wanted.block != SevenZipItem::kNoBlock) {
            for (size_t i = 0; i < itemList_.size(); ++i) {
                if (itemList_[i].block != wanted.block || fileExists(pageFile(i))) continue;
                if (itemList_[i].orgSize > kMaxPageBytes) continue;  // decoded through, not written
                items.push_back(itemList_[i]);
                bytes += itemList_[i].orgSize;
            }
        }
        const uint64_t free = freeBytes(tempFolder_);
        const uint64_t room = std::min(kMaxBlockDiskBytes, free > kDiskReserveBytes ? free - kDiskReserveBytes : 0);
        if (items.empty() || bytes > room) {
            // Decoding a block again for each page only to measure it would
            // cost its pages over and over.
            if (how == Extraction::WholeBlock) return Wait::Failed;
            // Too big for the disk as a whole block: the page alone.
            items.assign(1, wanted);
            if (wanted.orgSize > room) {
                reason_ = "Not enough disk space to extract the page";
                return Wait::Failed;
            }
        }
        running_ = true;
        runningItems_.clear();
        for (const SevenZipItem& item : items) runningItems_.push_back(item.index);
        extractionCount_.fetch_add(1);
        if (items.size() <= kInlineItems) {
            lock.unlock();
            return extractInline(items, page);
        }
        worker_ = std::thread([this, items] { runExtraction(items); });
    }
    changed_.wait(lock, [&] { return !running_ || fileExists(file); });
    if (fileExists(file)) return Wait::Ready;
    lock.unlock();
    return failureOf(page);
}

gfx::ImageRef PageReader7z::newLoadAndCreateImage(int page, int& result) {
    result = kResultFailed;
    if (!reader_) {
        result = 2;
        return nullptr;
    }
    if (page < 0 || size_t(page) >= pageNameList_.size() || size_t(page) >= itemList_.size()) return nullptr;
    const size_t index = size_t(page);
    // Offline, the pages come only from what the book's reader on screen
    // has extracted already.
    const std::string folder = isOfflineMode_ ? folderShowing(targetPath_) : tempFolder_;
    if (folder.empty()) return nullptr;
    const std::string file = folder + "/" + pageFiles_[index];
    if (!fileExists(file)) {
        if (isOfflineMode_) return nullptr;
        const Wait w = extractForPage(index);
        if (w == Wait::Password) {
            result = kResultPassword;
            return nullptr;
        }
        if (w != Wait::Ready) return nullptr;
    }
    auto data = sys::FileManager::contentsOfFile(file, kMaxPageBytes);
    if (!data) return nullptr;
    return imageFromPageBytes(*data, result);
}

bool PageReader7z::startsBlock(size_t page) const {
    return page < startsBlock_.size() && startsBlock_[page] && itemList_[page].orgSize <= kMaxPageBytes;
}

gfx::Size PageReader7z::headerPictureSize(size_t page) {
    SevenZipArchive* archive = reader_->archive();
    if (!archive) return {};
    {
        std::lock_guard lock(mutex_);
        // A worker holds the archive until its block is written.
        if (running_) return {};
        // A cancel that came for an extraction that has ended since.
        cancel_.store(false);
    }
    const uint32_t index = itemList_[page].index;
    return pictureSizeFromBytes([&](std::string& bytes, size_t upTo) {
        // Each step decodes the page's start again, only as far as it goes.
        const size_t had = bytes.size();
        std::string head;
        if (archive->extractHead(index, upTo, head, nullptr) != SevenZipArchive::BufferResult::Ok) return false;
        bytes = std::move(head);
        return bytes.size() > had;
    });
}

gfx::Size PageReader7z::pictureSize(int page) {
    if (!reader_ || page < 0 || size_t(page) >= itemList_.size()) return {};
    const std::string folder = isOfflineMode_ ? folderShowing(targetPath_) : tempFolder_;
    if (folder.empty()) return {};
    const std::string file = folder + "/" + pageFiles_[size_t(page)];
    if (fileExists(file)) return pictureSizeOfFile(file);
    // Offline, only what the screen's reader has written out.
    if (isOfflineMode_ || !startsBlock(size_t(page))) return {};
    return headerPictureSize(size_t(page));
}

bool PageReader7z::isMeasuredByDecoding(int page) {
    if (!reader_ || isOfflineMode_ || isThumbsCreateMode_ || page < 0 || size_t(page) >= itemList_.size())
        return false;
    const SevenZipItem& item = itemList_[size_t(page)];
    // A page never written, or written already: nothing more to learn.
    if (item.block == SevenZipItem::kNoBlock || item.orgSize > kMaxPageBytes || fileExists(pageFile(size_t(page))))
        return false;
    std::lock_guard lock(mutex_);
    // The first page of a block tells by its header what decoding it would,
    // once no block is being written.
    if (startsBlock(size_t(page))) return running_;
    return !failedBlocks_.count(item.block);
}

gfx::Size PageReader7z::decodedPictureSize(int page) {
    const gfx::Size size = pictureSize(page);
    if ((size.width > 0 && size.height > 0) || !isMeasuredByDecoding(page)) return size;
    if (extractForPage(size_t(page), Extraction::WholeBlock) != Wait::Ready) return {};
    return pictureSizeOfFile(pageFile(size_t(page)));
}

bool PageReader7z::isPageAtHand(int page) {
    if (!reader_ || page < 0 || size_t(page) >= itemList_.size()) return false;
    const std::string folder = isOfflineMode_ ? folderShowing(targetPath_) : tempFolder_;
    if (!folder.empty() && fileExists(folder + "/" + pageFiles_[size_t(page)])) return true;
    if (isOfflineMode_) return false;
    // A block of this page alone decodes nothing else.
    const SevenZipItem& item = itemList_[size_t(page)];
    if (item.block == SevenZipItem::kNoBlock) return false;
    for (size_t i = 0; i < itemList_.size(); ++i)
        if (i != size_t(page) && itemList_[i].block == item.block) return false;
    return true;
}

bool PageReader7z::isSolid() const {
    for (size_t i = 1; i < itemList_.size(); ++i)
        if (itemList_[i].block != SevenZipItem::kNoBlock && itemList_[i].block == itemList_[i - 1].block)
            return true;
    return false;
}

std::optional<std::vector<std::string>> PageReader7z::getArchiveList(bool isCheckEntityOnly) {
    if (!reader_) return std::nullopt;
    std::vector<std::string> result;
    for (const std::string& name : pageNameList_) {
        const std::string path = name.substr(0, name.find('\0'));
        if (!BookCommon::is7zFile(path.c_str())) continue;
        result.push_back(path);
        if (isCheckEntityOnly) break;
    }
    return result;
}

std::optional<std::vector<std::string>> PageReader7z::getFolderList(bool /*isCheckEntityOnly*/) {
    if (!reader_) return std::nullopt;
    return folderList_;
}

std::shared_ptr<PageReader7z> PageReader7z::openForList(const std::string& name, const std::string& remoteUser,
                                                       const std::string& remotePassword) {
    auto reader = std::make_shared<PageReader7z>();
    reader->setUserName(remoteUser);
    reader->setPassword(remotePassword);
    // Only the list is wanted: no folder of extracted pages.
    if (!reader->openFile(name, std::nullopt, std::nullopt, true, false)) return nullptr;
    return reader;
}

std::optional<std::vector<std::string>> PageReader7z::checkBookWithName(
    const std::string& name, const sys::PlistDictionary& /*fileInfo*/, bool* includeFolder, bool* includeArchive,
    bool isCheckEntityOnly, const std::string& remoteUser, const std::string& remotePassword,
    const std::shared_ptr<Settings>& /*settings*/, const sys::PlistDictionary& /*otherSetting*/) {
    auto reader = openForList(name, remoteUser, remotePassword);
    if (!reader) return std::nullopt;
    auto list = includeFolder ? reader->getFolderList(isCheckEntityOnly) : reader->getArchiveList(false);
    reader->closeFile();
    const bool found = list && !list->empty();
    if (includeFolder) *includeFolder = found;
    else if (includeArchive) *includeArchive = found;
    return list;
}

int PageReader7z::extractFile(const std::string&, const sys::PlistDictionary&, const std::optional<std::string>&,
                              const std::string&, const std::string&, const std::string&, std::string*) {
    return 2;
}

bool PageReader7z::isSolidFile(const std::string& path) {
    if (path.empty() || BookCommon::isURL(path)) return false;
    SevenZipReader reader(path, SevenZipReader::k7z);
    if (!reader.open(nullptr)) return false;
    bool solid = false;
    uint64_t previous = SevenZipItem::kNoBlock;
    reader.iterateWithHandler([&](const std::optional<SevenZipItem>& item, const SevenZipReader::Error*) {
        if (!item || item->isDirectory()) return true;
        if (item->block != SevenZipItem::kNoBlock && item->block == previous) {
            solid = true;
            return false;
        }
        previous = item->block;
        return true;
    });
    return solid;
}
