#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/RemoteAccess.h"
#include "platform/core/Condition.h"
#include "platform/core/PlistDictionary.h"

class Settings;

// Receives the block cache's progress; the page reader passes it on to the
// viewer. Always called on the main thread.
class RemoteStreamReadDelegate {
public:
    virtual ~RemoteStreamReadDelegate() = default;
    // The whole map: `count` entries, non-zero ones present. With isPage the
    // entries are the pages of a page-by-page stream. `map` is valid only
    // during the call.
    virtual void updateCacheStatus(uint64_t count, const uint16_t* map, bool isPage) {
        (void)count, (void)map, (void)isPage;
    }
    // One unit arrived: for the block cache the number of blocks cached so
    // far, the block size, the block that arrived and the number of blocks.
    virtual void updateCacheBlock(int64_t cached, int64_t blockSize, int64_t block, int64_t numBlocks) {
        (void)cached, (void)blockSize, (void)block, (void)numBlocks;
    }
};

// Random-access reads of a remote file through a block cache: the archive
// readers read a book on a server as if it were a local file of known length,
// while a loader of a protocol subclass fetches 256 KiB blocks in the
// background. This class owns the cache files and the blocking read; a
// subclass connects, learns the length and a validator, calls
// prepareCacheFiles(), and feeds the bytes it receives through the transfer
// calls below, taking its next block from findNextBlock().
//
// The cache lives in the private temporary folder, one set of files for
// reading and one ("tb_" names) for thumbnail jobs:
//   streaming_cache.file      blocks in arrival order; slot s (1-based) at (s-1) x 256 KiB
//   streaming_cache.map       one little-endian 16-bit slot per block, 0 = missing
//   streaming_cache.plist     [URL, length, state 0/1, validator]
//   streaming_cache.dir       the page-by-page stream's folder
//   streaming_cache.rawindex  the RAR reader's saved entry index
// Reopening the same URL resumes when the length matches and, if the server
// names a validator (ETag or Last-Modified), the validator as well; block
// data is on disk before the map points at it. Slots are 16-bit, so a file of more than 65,535 blocks (16 GiB)
// cannot be streamed.
//
// A subclass stops and joins its loader in its own destructor (closeURL()
// first): the base's files and map must outlive every loader.
//
// Reads come from one reader thread at a time (the page reader's lock);
// they wait for missing blocks in 0.1 s steps that wake at once when a block
// arrives or the stream is cancelled or closed. On the main thread the wait
// runs the main loop, so the loaders' callbacks keep landing.
class RemoteStreamRead : public RemoteAccess, public std::enable_shared_from_this<RemoteStreamRead> {
public:
    static constexpr uint64_t kBlockSize = 262'144;
    static constexpr uint64_t kReadAheadSize = 524'288;
    static constexpr uint64_t kMaxBlocks = 65'535;
    static constexpr int64_t kMaxStreamLength = int64_t(kMaxBlocks * kBlockSize);
    static constexpr uint64_t kInvalidBackgroundTask = 0;

    // Protocol numbers of newStreamWithProtocol().
    enum Protocol { kHTTP = 0, kHTTPURL = 1, kFTP = 2, kSMB = 3 };

    RemoteStreamRead();
    virtual ~RemoteStreamRead();
    RemoteStreamRead(const RemoteStreamRead&) = delete;
    RemoteStreamRead& operator=(const RemoteStreamRead&) = delete;

    // 2 FTP, 3 SMB, 1 Google Drive or Dropbox, else 1 for https and 0 otherwise.
    static int getProtocolWithURL(const std::string& url);
    // The protocol classes live above the engine; they register a maker at
    // start-up. Nothing for an unknown or unregistered protocol.
    using StreamMaker = std::function<std::shared_ptr<RemoteStreamRead>()>;
    static void registerStreamClass(int protocol, StreamMaker maker);
    static std::shared_ptr<RemoteStreamRead> newStreamWithProtocol(int protocol);

    // The temporary folder plus `name`, or "tb_" + name for the thumbnail set.
    static std::string getRemoteCacheFilePath(const std::string& name, bool isThumbsCreate);
    // Deletes the five cache entries of one set.
    static void removeCache(bool isThumbsCreate = false);

    // Subclasses connect, set contentLength, targetURL and the validator,
    // call prepareCacheFiles(), start their loader and return true.
    virtual bool openURL(const std::string& url);
    // Stops the stream: every read returns 0 from now on.
    virtual void closeURL();
    virtual void cancelStreaming();
    bool isExitStream() const { return isError_ || isExit_ || isCancel_; }

    // Sets up the cache files for targetURL / contentLength, resuming an
    // earlier download of the same version of the file. False when the file
    // is too long to stream or the cache files cannot be made.
    bool prepareCacheFiles();

    // Reads up to `size` bytes at `offset`, waiting for the blocks; small
    // reads go through a read-ahead window. Returns the bytes delivered, 0 once
    // the stream failed, was cancelled or is closing.
    uint64_t readByte(void* buffer, int64_t offset, uint64_t size);
    // The blocking read itself; fileOffset moves by min(bytes read, forward).
    uint64_t readByteDo(void* buffer, int64_t offset, uint64_t size, uint64_t forward);
    // Raw-read mode: straight from the server, no cache (subclasses).
    virtual uint64_t readByteRaw(void* buffer, int64_t offset, uint64_t size);

    // The next block a loader should fetch: the blocks a waiting read needs
    // first, then those after them, then the rest; -1 when none is missing.
    int64_t findNextBlock();

    // Asks the loader for the bytes [offset, offset + size) in one request,
    // ahead of the reads that will want them (a zip's end records and
    // directory): a block per piece would cost a round trip each and whole
    // blocks around a few kilobytes. Blocks that lie wholly inside the span
    // enter the cache; the rest stays in memory with this stream and is
    // served to reads from there. False when the loader cannot fetch spans
    // (reads then fetch whole blocks as ever), the bytes are cached already,
    // or the span is larger than kMaxSpanBytes or would pass the memory cap.
    bool requestSpan(int64_t offset, uint64_t size);
    static constexpr uint64_t kMaxSpanBytes = 4 * kBlockSize;
    static constexpr uint64_t kMaxSpanMemory = 8 * kBlockSize;
    // True when the plist of this set says that every block of targetURL is
    // present; contentLength and the validator are then taken from it.
    bool isCacheComplete();

    // The platform has no background-time grant here; the pair only keeps
    // the identifier a loader may test.
    void startBackgroundTask();
    void endBackgroundTask();
    uint64_t backgroundTask() const { return backgroundTask_; }

    // Properties.
    int64_t fileOffset() const { return fileOffset_; }
    void setFileOffset(int64_t offset) { fileOffset_ = offset; }
    int64_t contentLength() const { return contentLength_; }
    bool isError() const { return isError_; }
    bool isCancel() const { return isCancel_; }
    bool isExit() const { return isExit_; }
    bool isUnsupportedServer() const { return isUnsupportedServer_; }
    bool isUnsupportedFtp() const { return isUnsupportedFtp_; }
    // The server took no session when the stream opened (too many users):
    // worth another try later.
    bool isServerBusy() const { return isServerBusy_; }
    // The server refused the stream's user name or password when it opened.
    bool isAuthRefused() const { return isAuthRefused_; }
    // The server ("host:port") whose certificate was refused when the
    // stream opened, perhaps one a redirect led to; empty when none was.
    std::string untrustedServer() const;
    bool isOfflineMode() const { return isOfflineMode_; }
    void setIsOfflineMode(bool on) { isOfflineMode_ = on; }
    bool isRawReadMode() const { return isRawReadMode_; }
    void setIsRawReadMode(bool on) { isRawReadMode_ = on; }
    bool isThumbsCreateMode() const { return isThumbsCreateMode_; }
    void setIsThumbsCreateMode(bool on) { isThumbsCreateMode_ = on; }
    bool waitForReadByte() const { return waitForReadByte_; }
    uint64_t blockNeed() const { return blockNeed_; }
    uint64_t blockNeedEnd() const { return blockNeedEnd_; }
    uint64_t blockLength() const { return blockLength_; }
    uint64_t nextWriteBlockOffset() const;
    // A copy of the block map.
    std::vector<uint16_t> recvBlockMap() const;
    bool isBlockCached(uint64_t block) const;

    const std::string& targetURL() const { return targetURL_; }
    void setTargetURL(const std::string& url) { targetURL_ = url; }
    // ETag or Last-Modified of the remote file; empty when the server gave neither.
    const std::string& validator() const { return validator_; }
    std::shared_ptr<RemoteStreamReadDelegate> delegate() const { return delegate_.lock(); }
    // Not owned: the reader owns the stream.
    void setDelegate(const std::shared_ptr<RemoteStreamReadDelegate>& d) { delegate_ = d; }

protected:
    // For the subclasses, before prepareCacheFiles().
    void setContentLength(int64_t length) { contentLength_ = length; }
    void setValidator(const std::string& v) { validator_ = v; }
    void setIsError();
    void setIsUnsupportedServer(bool on) { isUnsupportedServer_ = on; }
    void setIsUnsupportedFtp(bool on) { isUnsupportedFtp_ = on; }
    void setIsServerBusy(bool on) { isServerBusy_ = on; }
    void setIsAuthRefused(bool on) { isAuthRefused_ = on; }
    void setUntrustedServer(const std::string& server);

    // Writing, by the loader thread. A transfer delivers the file's bytes
    // from the start of `block` onward; each block that fills is flushed,
    // entered in the map (map file rewritten) and reported to the delegate
    // and to a waiting read. Bytes of blocks already present are skipped.
    void beginTransfer(uint64_t block);
    // False when the stream is closing, the bytes run past the end of the
    // file, or the cache cannot be written (the stream then fails).
    bool appendTransferBytes(const void* data, size_t size);
    // The connection ended: a partly received block is dropped and will be
    // fetched again.
    void endTransfer();
    // Every block is present: the plist says so.
    void markCacheComplete();
    // Blocks the loader until a read waits for a missing block, the stream
    // stops, or `seconds` pass; true when a read waits for one.
    bool waitForReader(double seconds);

    // Spans: a loader that can fetch them says so (while it runs); it takes
    // the first wanted one before any block, and feeds its bytes through
    // beginSpanTransfer, appendTransferBytes and endTransfer. A span whose
    // transfer ends short is wanted again.
    virtual bool supportsSpans() const { return false; }
    // The first span still wanted; false when none.
    bool nextWantedSpan(int64_t* offset, uint64_t* size);
    // False when that span is no longer wanted (the cache was set up anew).
    bool beginSpanTransfer(int64_t offset, uint64_t size);
    // True when a cache of targetURL exists in this set (complete or not):
    // some of its blocks may serve again.
    bool hasCacheOfTargetURL() const;
    // Wakes waitForReader (a subclass's stop).
    void wakeLoader();

private:
    uint64_t blockBytes(uint64_t block) const;
    // Every byte of [offset, offset + size) is in a cached block or a
    // received span; with wanted, spans still on their way count too.
    bool availableLocked(uint64_t offset, uint64_t size, bool wanted) const;
    // How many bytes from `offset` on (at most `size`) are so.
    uint64_t availableExtentLocked(uint64_t offset, uint64_t size, bool wanted) const;
    // Copies what availableLocked found; the bytes copied.
    uint64_t copyAvailableLocked(char* out, uint64_t offset, uint64_t size) const;
    bool readerNeedsBlockLocked() const;
    bool completeTransferBlockLocked();
    bool writeMapFile();
    bool writePlist(int state);
    bool loadMapFileLocked();
    void postBlockArrived(uint64_t block);
    std::string cachePath(const char* name) const;
    void wakeAll();
    void closeCacheFile();

    std::atomic<int64_t> fileOffset_{0};
    std::atomic<int64_t> contentLength_{0};
    std::atomic<bool> isError_{false};
    std::weak_ptr<RemoteStreamReadDelegate> delegate_;
    std::atomic<bool> isOfflineMode_{false};
    std::atomic<bool> isUnsupportedServer_{false};
    std::atomic<bool> isUnsupportedFtp_{false};
    std::atomic<bool> isServerBusy_{false};
    std::atomic<bool> isAuthRefused_{false};
    mutable std::mutex untrustedMutex_;
    std::string untrustedServer_;
    std::string targetURL_;
    std::string validator_;

    // Guards the map, the cache file, the slot counter and the transfer.
    mutable std::mutex fileMutex_;
    sys::Condition blockArrived_;
    sys::Condition readerWaits_;
    std::mutex mapWriteMutex_;
    std::vector<uint16_t> recvBlockMap_;
    uint64_t blockLength_ = 0;
    int fd_ = -1;
    uint64_t nextWriteBlockOffset_ = 0;
    uint64_t transferBlock_ = 0;
    uint64_t transferFill_ = 0;
    bool transferOpen_ = false;
    // The set the files were prepared in (the mode may change later).
    bool cacheThumbs_ = false;

    // Byte spans asked for by requestSpan, in the order asked.
    struct Span {
        uint64_t offset = 0;
        uint64_t size = 0;
        std::string bytes;
        bool done = false;
    };
    std::vector<Span> spans_;
    // The span under transfer, and where its first whole block begins.
    bool spanOpen_ = false;
    size_t spanIndex_ = 0;
    uint64_t spanBlockStart_ = 0;

    std::atomic<bool> isCancel_{false};
    // The read-ahead window. Its lock is never held across a wait: on the
    // main thread the wait runs the loop, and work there may read again.
    std::mutex readMutex_;
    std::vector<char> blockCache_;
    int64_t blockCacheOffset_ = 0;
    uint64_t blockCacheLength_ = 0;
    std::atomic<bool> waitForReadByte_{false};
    // A read waits for the blocks blockNeed_..blockNeedEnd_ (set with them
    // under fileMutex_; cleared as the read ends).
    std::atomic<bool> readerNeedAsked_{false};
    std::atomic<bool> isExit_{false};
    std::atomic<uint64_t> blockNeed_{0};
    std::atomic<uint64_t> blockNeedEnd_{0};
    uint64_t backgroundTask_ = kInvalidBackgroundTask;
    std::atomic<bool> isRawReadMode_{false};
    std::atomic<bool> isThumbsCreateMode_{false};
};
