#pragma once

#include "engine/PageReaderArchive.h"
#include "engine/SevenZipItem.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

class RemoteStreamRead;
class SevenZipReader;
class Settings;

// The reader of local 7z (cb7) books. 7z archives are usually solid: a page
// cannot be decoded alone, only with everything before it in its block. So
// the first request for a page of a block extracts the whole block into
// this reader's own temporary folder; the request returns as soon as its
// own file is complete while a worker thread writes the rest, and later
// pages of the block are read from the files already there.
//
// Every file entry is a page, in archive order. Each reader has its own
// folder, wait state and cancel flag, so a thumbnail job never disturbs the
// viewer's book. A block that would take more disk than allowed (or than
// is free) is not written whole: only the asked page is. A page larger than
// kMaxPageBytes is never written (its block is decoded through it). A 7z
// book given by an address is not read.
//
// A page's size comes from its picture's header. A page that starts its
// block (every page of a plain book, the first of each block of a solid
// one) is measured from its first bytes, decoded alone and kept nowhere.
// A page further into a solid block can be decoded only after all before
// it: it is measured from its file once written, so measuring it is
// extracting its block, whose files then serve the showing too.
class PageReader7z : public PageReaderArchive<PageReader7z> {
public:
    using PageReaderArchive::getArchiveList;
    using PageReaderArchive::getFolderList;
    // The most a block may write to the temporary folder, and the room
    // always left free on its disk.
    static constexpr uint64_t kMaxBlockDiskBytes = 2ull << 30;
    static constexpr uint64_t kDiskReserveBytes = 64ull << 20;
    // Blocks of at most this many missing pages are extracted on the
    // requesting thread.
    static constexpr size_t kInlineItems = 3;

    PageReader7z();
    ~PageReader7z() override;

    // Stops a running extraction, so that a page load waiting for it
    // returns (any thread).
    void cancelStreaming() override;

    bool openFile(const std::string& name, const std::optional<std::string>& password,
                  const std::optional<std::string>& targetFolder, bool isOfflineMode,
                  bool isThumbsCreateMode) override;
    void closeFile() override;
    // 0 image; 2 nothing open; 3 no image (out of range, not an image,
    // damaged, too large, no room); 4 the page is encrypted and the password
    // is missing or wrong.
    gfx::ImageRef newLoadAndCreateImage(int page, int& result) override;
    // Pages that are 7z archives themselves; with isCheckEntityOnly the first.
    std::optional<std::vector<std::string>> getArchiveList(bool isCheckEntityOnly) override;
    // The directory entries' paths.
    std::optional<std::vector<std::string>> getFolderList(bool isCheckEntityOnly) override;
    bool isSolidArhive() override { return isSolid(); }
    gfx::Size pictureSize(int page) override;
    bool isMeasuredByDecoding(int page) override;
    gfx::Size decodedPictureSize(int page) override;
    bool isPageAtHand(int page) override;

    // Two consecutive entries share a block.
    bool isSolid() const;
    // This reader's folder for extracted pages (empty when none was made).
    std::string getTemporaryDirectory() const;
    // Why the last open or page failed, in words (empty after success);
    // openFailure() gives the kind: Password for an encrypted directory,
    // Damaged for a broken 7z, NotArchive, Unreadable, and NoReader for a
    // book given by address or a missing 7-Zip library.
    std::string failureReason() const;
    // Extractions started since the open (each decodes a block once).
    int extractionCount() const { return extractionCount_.load(); }

    // ---- Class operations ---------------------------------------------------------
    // The folders (includeFolder given) or else the inner 7z pages of the
    // local book `name`, as an open reader lists them; the inner archives
    // are always listed whole.
    static std::optional<std::vector<std::string>> checkBookWithName(
        const std::string& name, const sys::PlistDictionary& fileInfo, bool* includeFolder, bool* includeArchive,
        bool isCheckEntityOnly, const std::string& remoteUser, const std::string& remotePassword,
        const std::shared_ptr<Settings>& settings, const sys::PlistDictionary& otherSetting);
    // Inner archives are not taken out of a 7z book: always 2 (failed).
    static int extractFile(const std::string& path, const sys::PlistDictionary& fileInfo,
                           const std::optional<std::string>& password, const std::string& entryName,
                           const std::string& remoteUser, const std::string& remotePassword,
                           std::string* written = nullptr);
    // The local 7z book at `path` has two consecutive entries in one block.
    static bool isSolidFile(const std::string& path);

private:
    // A reader of the book at `name` opened only for its lists; nothing
    // when it does not open.
    static std::shared_ptr<PageReader7z> openForList(const std::string& name, const std::string& remoteUser,
                                                     const std::string& remotePassword);
    enum class Wait { Ready, Failed, Password };
    // How a page missing from the folder comes: with its block (or alone
    // when the block would not fit), or only with its whole block, and
    // then only where no other block is being written.
    enum class Extraction { PageOrAlone, WholeBlock };
    Wait extractForPage(size_t page, Extraction how = Extraction::PageOrAlone);
    Wait extractInline(const std::vector<SevenZipItem>& items, size_t page);
    void runExtraction(const std::vector<SevenZipItem>& items);
    void stopExtraction(std::unique_lock<std::mutex>& lock);
    bool makeTemporaryFolder();
    void removeTemporaryFolder();
    std::string pageFile(size_t page) const;
    // The page is the first of its block, so its first bytes decode alone.
    bool startsBlock(size_t page) const;
    // The size its first bytes tell; nothing while a block is being written
    // (the archive is busy with it).
    gfx::Size headerPictureSize(size_t page);
    Wait failureOf(size_t page) const;
    void setReason(std::string reason);

    bool isOfflineMode_ = false;
    bool isThumbsCreateMode_ = false;
    std::vector<SevenZipItem> itemList_;
    std::vector<std::string> pageFiles_;  // confined path of each page under the folder
    std::vector<bool> startsBlock_;       // each page: the first of its block
    std::unordered_map<uint32_t, size_t> pageOfIndex_;  // archive index -> page
    std::vector<std::string> folderList_;
    std::unique_ptr<SevenZipReader> reader_;
    std::string tempFolder_;
    std::atomic<int> extractionCount_{0};

    // Shared with the extraction worker.
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::atomic<bool> cancel_{false};
    bool running_ = false;
    std::vector<uint32_t> runningItems_;  // archive indexes of the running extraction
    bool lastFailedOnPassword_ = false;
    std::set<uint64_t> failedBlocks_;  // blocks whose extraction failed (not stopped)
    std::string reason_;
    std::thread worker_;
};
