#pragma once

#include "remote/BookTransferDelegate.h"
#include "remote/TransferItem.h"
#include "platform/core/Clock.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class FtpDownload;
class HttpDownload;
class SMBDownload;
class Settings;

// The download queue: one file at a time, in the order queued, through
// HttpDownload (web, WebDAV, cloud), FtpDownload (ftp URLs) or SMBDownload
// (file shares), which share one temporary file. Ended items go to an in-memory recent list.
//
// The waiting items and the running one are kept in a state file, rewritten
// atomically on every change, so a queue cut short by a crash or a kill is
// taken up again at the next start: the running item first, continuing from
// the bytes its downloader already holds. Everything runs on the main thread.
//
// Nobody waits for a download: each item holds up advancing virtual time (a
// headless run's steps) for kClockHoldSeconds of real time at most, its
// continuations included, however busily its server talks.
class BookTransfer : public std::enable_shared_from_this<BookTransfer> {
public:
    using Items = BookTransferDelegate::Items;
    static constexpr size_t kMaxRecent = 1000;
    static constexpr double kClockHoldSeconds = sys::Clock::kNetworkStallSeconds;
    static constexpr const char* kStateFileName = "transferqueue.plist";

    BookTransfer();
    virtual ~BookTransfer();
    BookTransfer(const BookTransfer&) = delete;
    BookTransfer& operator=(const BookTransfer&) = delete;

    void setSettings_(std::shared_ptr<Settings> s) { settings_ = std::move(s); }
    const std::shared_ptr<Settings>& settings_ptr() const { return settings_; }
    void setDelegate(std::shared_ptr<BookTransferDelegate> d) { delegate_ = std::move(d); }
    const std::shared_ptr<BookTransferDelegate>& delegate() const { return delegate_; }
    // Where the waiting items are kept (the settings folder's file unless set;
    // "" keeps nothing).
    void setStateFilePath(std::string path) { statePath_ = std::move(path); }
    const std::string& stateFilePath() const { return statePath_; }
    // Who is told when an item ended (after the notice), e.g. to refresh lists.
    void setFinishedObserver(std::function<void(const TransferItem&)> f) { finishedObserver_ = std::move(f); }
    // Seconds without a byte after which an HTTP connection counts as failed.
    void setStallTimeout(double seconds) { stallTimeout_ = seconds; }
    // How long each item may hold up virtual time (kClockHoldSeconds unless
    // a test asks for less).
    void setClockHoldSeconds(double seconds) { clockHoldSeconds_ = seconds; }

    // Puts the items of the state file back in the queue and starts it.
    // Returns how many came back.
    size_t restoreState();

    void addNewItem(int type, const std::string& source, const std::string& savePath,
                    const std::optional<std::string>& createFolder, const std::optional<std::string>& saveName,
                    const std::optional<std::string>& username, const std::optional<std::string>& password,
                    const std::optional<std::string>& serviceName, const sys::PlistDictionary& serviceKey,
                    const sys::PlistDictionary& otherSettings, int64_t fileSize, const TransferItem::Site& site = {});
    void cancelCurrentTransfer();
    void cancelCurrentTransferAll();
    void removeItemAtIndex(size_t index);
    void retryItemInRecentCue(size_t index);
    void clearRecentCue();
    void removeRecentCueItem(size_t index);
    void onChangeCue();

    const Items& getCue() const { return cue_; }
    const Items& getRecentCue() const { return recentCue_; }
    const std::shared_ptr<TransferItem>& getTransferInProgress() const { return transferInProgress_; }
    size_t getTransferCount() const { return cue_.size() + (transferInProgress_ ? 1 : 0); }
    bool isActive() const { return getTransferCount() != 0; }

    // The file name an item without one is saved under: the URL's last path
    // component, percent-decoded, at most 1023 bytes, never a path.
    static std::string fileNameFromSource(const std::string& source);

    // Downloader callbacks (public for the forwarders; main thread).
    void onConnected(int64_t fileSize);
    void onChangeHttpDownloadStatus(int64_t sizeDownload);
    void setStartOffset(int64_t offset);
    void onFinishConnection(int result);

private:
    class Forwarder;
    void runItem();
    // `fromKeyChain` and `accepted` of an answer to askBeforeSending().
    void startDownloader(bool fromKeyChain = false, std::function<void()> accepted = nullptr);
    // The running item knows its user but no password: asks for it, then starts.
    void askBeforeSending();
    void releaseDownloaders();
    void onDownloadFinishedWith(const std::string& name, bool isError);
    void saveState();
    std::string settleSaveFolder(int type, const std::string& source, std::string folder,
                                 const std::optional<std::string>& createFolder) const;

    Items cue_;
    Items recentCue_;
    std::shared_ptr<TransferItem> transferInProgress_;
    std::shared_ptr<BookTransferDelegate> delegate_;
    std::shared_ptr<HttpDownload> httpDownload_;
    std::shared_ptr<SMBDownload> smbDownload_;
    std::shared_ptr<FtpDownload> ftpDownload_;
    std::shared_ptr<Forwarder> forwarder_;
    // Held while the running item's question is up; its answer counts only then.
    std::shared_ptr<bool> question_;
    bool isRecentCueChangeFlag_ = false;
    bool idleHeld_ = false;
    std::shared_ptr<Settings> settings_;
    std::string statePath_;
    std::function<void(const TransferItem&)> finishedObserver_;
    double stallTimeout_ = 60;
    uint64_t noticeCount_ = 0;
    int continuations_ = 0;
    // Until when the running item may hold up virtual time (a realNow() time).
    double clockHoldUntil_ = 0;
    double clockHoldSeconds_ = kClockHoldSeconds;

public:
    // Attempts after the first that continue a download the connection
    // broke off, before the item fails.
    static constexpr int kMaxContinuations = 5;
};
