#include "engine/RemoteStreamRead.h"

#include "foundation/BookCommonTypes.h"
#include "platform/core/AppPaths.h"
#include "platform/core/FileManager.h"
#include "platform/core/PropertyList.h"
#include "platform/core/RunLoop.h"
#include "platform/core/WholeWrite.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kCacheFile = "streaming_cache.file";
constexpr const char* kCacheMap = "streaming_cache.map";
constexpr const char* kCachePlist = "streaming_cache.plist";
constexpr const char* kCacheDir = "streaming_cache.dir";
constexpr const char* kCacheRawIndex = "streaming_cache.rawindex";

// How long one step of a waiting read lasts before it looks again.
constexpr double kWaitStep = 0.1;

// What a read in offline mode waits for, for whichever loader of this
// process fills the cache it reads; -1 when no such read has asked.
std::atomic<int64_t> gOfflineNeed{-1};
std::atomic<int64_t> gOfflineNeedEnd{-1};

std::mutex& makersMutex() {
    static std::mutex m;
    return m;
}

std::map<int, RemoteStreamRead::StreamMaker>& makers() {
    static std::map<int, RemoteStreamRead::StreamMaker> m;
    return m;
}

bool preadAll(int fd, char* out, uint64_t size, uint64_t at, uint64_t* got) {
    *got = 0;
    while (*got < size) {
        ssize_t r = ::pread(fd, out + *got, size - *got, off_t(at + *got));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return r == 0;
        *got += uint64_t(r);
    }
    return true;
}

}  // namespace

RemoteStreamRead::RemoteStreamRead() = default;

RemoteStreamRead::~RemoteStreamRead() {
    isExit_ = true;
    closeCacheFile();
}

// ---------------------------------------------------------------- class side

int RemoteStreamRead::getProtocolWithURL(const std::string& url) {
    if (BookCommonTypes::isFTP(url)) return kFTP;
    if (BookCommonTypes::isSMB(url)) return kSMB;
    if (BookCommonTypes::isGoogleDrive(url) || BookCommonTypes::isDropbox(url)) return kHTTPURL;
    return BookCommonTypes::isHTTPS(url) ? 1 : 0;
}

void RemoteStreamRead::registerStreamClass(int protocol, StreamMaker maker) {
    std::lock_guard<std::mutex> g(makersMutex());
    if (maker)
        makers()[protocol] = std::move(maker);
    else
        makers().erase(protocol);
}

std::shared_ptr<RemoteStreamRead> RemoteStreamRead::newStreamWithProtocol(int protocol) {
    StreamMaker maker;
    {
        std::lock_guard<std::mutex> g(makersMutex());
        auto it = makers().find(protocol);
        if (it == makers().end()) return nullptr;
        maker = it->second;
    }
    return maker();
}

std::string RemoteStreamRead::getRemoteCacheFilePath(const std::string& name, bool isThumbsCreate) {
    return sys::AppPaths::tmp() + "/" + (isThumbsCreate ? "tb_" + name : name);
}

void RemoteStreamRead::removeCache(bool isThumbsCreate) {
    for (const char* name : {kCacheFile, kCacheMap, kCachePlist, kCacheDir, kCacheRawIndex}) {
        sys::FileManager::removeItem(getRemoteCacheFilePath(name, isThumbsCreate));
    }
}

// ---------------------------------------------------------------- life cycle

bool RemoteStreamRead::openURL(const std::string& url) {
    (void)url;
    return false;
}

void RemoteStreamRead::closeURL() {
    isExit_ = true;
    wakeAll();
}

void RemoteStreamRead::cancelStreaming() {
    isCancel_ = true;
    isExit_ = true;
    wakeAll();
}

void RemoteStreamRead::setIsError() {
    isError_ = true;
    wakeAll();
}

void RemoteStreamRead::wakeAll() {
    { std::lock_guard<std::mutex> g(fileMutex_); }
    blockArrived_.notifyAll();
    readerWaits_.notifyAll();
}

void RemoteStreamRead::wakeLoader() { wakeAll(); }

void RemoteStreamRead::closeCacheFile() {
    std::lock_guard<std::mutex> g(fileMutex_);
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void RemoteStreamRead::startBackgroundTask() {
    static std::atomic<uint64_t> counter{0};
    if (backgroundTask_ == kInvalidBackgroundTask) backgroundTask_ = ++counter;
}

void RemoteStreamRead::endBackgroundTask() { backgroundTask_ = kInvalidBackgroundTask; }

// ---------------------------------------------------------------- cache files

bool RemoteStreamRead::prepareCacheFiles() {
    const int64_t length = contentLength_;
    // Slots are 16-bit: more blocks than that cannot be addressed.
    if (length < 0 || length > kMaxStreamLength) return false;
    const bool thumbs = isThumbsCreateMode_;
    auto path = [thumbs](const char* name) { return getRemoteCacheFilePath(name, thumbs); };

    sys::FileManager::removeItem(path(kCacheDir));

    // The same bytes when the same file of the same length, and, when the
    // server names its version (ETag or Last-Modified), the same version. A
    // server that names none can only be taken at its URL and length.
    bool resume = false;
    // Blocks added now cannot be vouched for by the version the plist names.
    bool forgetVersion = false;
    int64_t state = 0;
    if (auto plist = sys::PropertyList::readArray(path(kCachePlist))) {
        const auto& a = *plist;
        resume = a.size() >= 2 && a[0].isString() && a[0].asString() == targetURL_ && a[1].isInteger() &&
                 a[1].integerValue() == length;
        const bool named = a.size() >= 4 && a[3].isString() && !a[3].asString().empty();
        if (resume && !validator_.empty()) resume = named && a[3].asString() == validator_;
        forgetVersion = resume && validator_.empty() && named;
        if (a.size() >= 3 && a[2].isInteger()) state = a[2].integerValue() == 1 ? 1 : 0;
    }

    {
        std::lock_guard<std::mutex> r(readMutex_);
        blockCacheOffset_ = 0;
        blockCacheLength_ = 0;
    }

    std::unique_lock<std::mutex> lk(fileMutex_);
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    transferOpen_ = false;
    blockLength_ = (uint64_t(length) + kBlockSize - 1) / kBlockSize;
    recvBlockMap_.assign(blockLength_, 0);
    cacheThumbs_ = thumbs;
    // Spans belong to the version of the file they were fetched from.
    spans_.clear();
    spanOpen_ = false;

    if (resume) {
        fd_ = ::open(path(kCacheFile).c_str(), O_RDWR | O_CLOEXEC);
        if (fd_ >= 0) {
            struct stat st {};
            uint64_t size = ::fstat(fd_, &st) == 0 ? uint64_t(st.st_size) : 0;
            nextWriteBlockOffset_ = (size + kBlockSize - 1) / kBlockSize;
            loadMapFileLocked();
            lk.unlock();
            return !forgetVersion || writePlist(int(state));
        }
    }

    // Afresh. The old map goes before the plist names the new file, so that
    // no moment exists in which the new name points at the old blocks.
    sys::FileManager::removeItem(path(kCacheMap));
    sys::FileManager::removeItem(path(kCacheRawIndex));
    nextWriteBlockOffset_ = 0;
    fd_ = ::open(path(kCacheFile).c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd_ < 0) return false;
    lk.unlock();
    return writePlist(0);
}

std::string RemoteStreamRead::cachePath(const char* name) const {
    return getRemoteCacheFilePath(name, cacheThumbs_);
}

bool RemoteStreamRead::writePlist(int state) {
    sys::PlistArray a{sys::PlistValue(targetURL_), sys::PlistValue(int64_t(contentLength_)),
                      sys::PlistValue(int64_t(state)), sys::PlistValue(validator_)};
    return sys::PropertyList::writeFile(sys::PlistValue(std::move(a)), cachePath(kCachePlist));
}

bool RemoteStreamRead::loadMapFileLocked() {
    auto bytes = sys::FileManager::contentsOfFile(cachePath(kCacheMap), 2 * kMaxBlocks + 2);
    if (!bytes) return false;
    // A slot beyond the data in the cache file cannot be trusted (a foreign or
    // damaged map): that block is fetched again.
    uint64_t slots = nextWriteBlockOffset_;
    if (isOfflineMode_ && fd_ >= 0) {
        struct stat st {};
        if (::fstat(fd_, &st) == 0) slots = (uint64_t(st.st_size) + kBlockSize - 1) / kBlockSize;
    }
    const uint64_t n = std::min<uint64_t>(blockLength_, bytes->size() / 2);
    for (uint64_t b = 0; b < n; ++b) {
        uint16_t slot = uint16_t(uint8_t((*bytes)[2 * b]) | (uint16_t(uint8_t((*bytes)[2 * b + 1])) << 8));
        recvBlockMap_[b] = slot <= slots ? slot : 0;
    }
    return true;
}

bool RemoteStreamRead::writeMapFile() {
    std::lock_guard<std::mutex> w(mapWriteMutex_);
    std::string bytes;
    {
        std::lock_guard<std::mutex> g(fileMutex_);
        bytes.resize(recvBlockMap_.size() * 2);
        for (size_t b = 0; b < recvBlockMap_.size(); ++b) {
            bytes[2 * b] = char(recvBlockMap_[b] & 0xFF);
            bytes[2 * b + 1] = char(recvBlockMap_[b] >> 8);
        }
    }
    return sys::FileManager::writeFile(cachePath(kCacheMap), bytes, true);
}

bool RemoteStreamRead::hasCacheOfTargetURL() const {
    auto plist = sys::PropertyList::readArray(getRemoteCacheFilePath(kCachePlist, isThumbsCreateMode_));
    return plist && !plist->empty() && (*plist)[0].isString() && (*plist)[0].asString() == targetURL_;
}

bool RemoteStreamRead::isCacheComplete() {
    auto plist = sys::PropertyList::readArray(getRemoteCacheFilePath(kCachePlist, isThumbsCreateMode_));
    if (!plist || plist->size() < 3) return false;
    const auto& a = *plist;
    if (a[2].integerValue() != 1 || !a[0].isString() || a[0].asString() != targetURL_) return false;
    contentLength_ = a[1].integerValue();
    if (a.size() >= 4 && a[3].isString()) validator_ = a[3].asString();
    return true;
}

void RemoteStreamRead::markCacheComplete() {
    {
        std::lock_guard<std::mutex> g(fileMutex_);
        if (fd_ < 0) return;
        for (uint16_t slot : recvBlockMap_) {
            if (slot == 0) return;
        }
    }
    writePlist(1);
}

// ---------------------------------------------------------------- map queries

uint64_t RemoteStreamRead::blockBytes(uint64_t block) const {
    const uint64_t start = block * kBlockSize;
    const uint64_t length = uint64_t(contentLength_.load());
    if (start >= length) return 0;
    return std::min(kBlockSize, length - start);
}

uint64_t RemoteStreamRead::availableExtentLocked(uint64_t offset, uint64_t size, bool wanted) const {
    const uint64_t end = offset + size;
    uint64_t pos = offset;
    while (pos < end) {
        const uint64_t b = pos / kBlockSize;
        if (b < recvBlockMap_.size() && recvBlockMap_[b] != 0) {
            pos = (b + 1) * kBlockSize;
            continue;
        }
        uint64_t reach = pos;
        for (const Span& s : spans_) {
            if ((s.done || wanted) && s.offset <= pos && pos < s.offset + s.size) reach = std::max(reach, s.offset + s.size);
        }
        if (reach == pos) break;
        pos = reach;
    }
    return std::min(pos, end) - offset;
}

bool RemoteStreamRead::availableLocked(uint64_t offset, uint64_t size, bool wanted) const {
    return availableExtentLocked(offset, size, wanted) == size;
}

uint64_t RemoteStreamRead::copyAvailableLocked(char* out, uint64_t offset, uint64_t size) const {
    uint64_t done = 0;
    while (done < size) {
        const uint64_t pos = offset + done;
        const uint64_t b = pos / kBlockSize;
        if (b < recvBlockMap_.size() && recvBlockMap_[b] != 0) {
            if (fd_ < 0) break;
            const uint64_t within = pos % kBlockSize;
            const uint64_t chunk = std::min(size - done, kBlockSize - within);
            uint64_t got = 0;
            preadAll(fd_, out + done, chunk, (uint64_t(recvBlockMap_[b]) - 1) * kBlockSize + within, &got);
            done += got;
            if (got < chunk) break;
            continue;
        }
        const Span* from = nullptr;
        for (const Span& s : spans_) {
            if (s.done && s.offset <= pos && pos < s.offset + s.bytes.size()) {
                from = &s;
                break;
            }
        }
        if (!from) break;
        const uint64_t chunk = std::min(size - done, from->offset + from->bytes.size() - pos);
        std::memcpy(out + done, from->bytes.data() + (pos - from->offset), chunk);
        done += chunk;
    }
    return done;
}

bool RemoteStreamRead::requestSpan(int64_t offset, uint64_t size) {
    if (!supportsSpans() || isOfflineMode_ || isRawReadMode_ || isExitStream()) return false;
    const int64_t length = contentLength_;
    if (offset < 0 || offset >= length || size == 0 || size > kMaxSpanBytes) return false;
    size = std::min<uint64_t>(size, uint64_t(length - offset));
    {
        std::lock_guard<std::mutex> g(fileMutex_);
        if (recvBlockMap_.empty()) return false;
        // Whole cached blocks at either end need not come again.
        uint64_t first = uint64_t(offset), end = first + size;
        while (first < end && recvBlockMap_[first / kBlockSize] != 0) first = (first / kBlockSize + 1) * kBlockSize;
        while (end > first && recvBlockMap_[(end - 1) / kBlockSize] != 0) end = (end - 1) / kBlockSize * kBlockSize;
        if (first >= end || availableLocked(first, end - first, true)) return false;
        uint64_t memory = end - first;
        for (const Span& s : spans_) memory += s.size;
        if (memory > kMaxSpanMemory) return false;
        spans_.push_back(Span{first, end - first, {}, false});
    }
    readerWaits_.notifyAll();
    return true;
}

bool RemoteStreamRead::nextWantedSpan(int64_t* offset, uint64_t* size) {
    std::lock_guard<std::mutex> g(fileMutex_);
    for (const Span& s : spans_) {
        if (!s.done) {
            *offset = int64_t(s.offset);
            *size = s.size;
            return true;
        }
    }
    return false;
}

bool RemoteStreamRead::beginSpanTransfer(int64_t offset, uint64_t size) {
    std::lock_guard<std::mutex> g(fileMutex_);
    for (size_t i = 0; i < spans_.size(); ++i) {
        Span& s = spans_[i];
        if (s.done || s.offset != uint64_t(offset) || s.size != size) continue;
        s.bytes.clear();
        s.bytes.reserve(size_t(size));
        spanOpen_ = true;
        spanIndex_ = i;
        // The blocks from the first boundary in the span on fill the cache
        // as any transfer does; a block cut off by the span's end is dropped.
        spanBlockStart_ = (s.offset + kBlockSize - 1) / kBlockSize * kBlockSize;
        transferOpen_ = spanBlockStart_ < s.offset + s.size;
        transferBlock_ = spanBlockStart_ / kBlockSize;
        transferFill_ = 0;
        return true;
    }
    return false;
}

bool RemoteStreamRead::isBlockCached(uint64_t block) const {
    std::lock_guard<std::mutex> g(fileMutex_);
    return block < recvBlockMap_.size() && recvBlockMap_[block] != 0;
}

std::vector<uint16_t> RemoteStreamRead::recvBlockMap() const {
    std::lock_guard<std::mutex> g(fileMutex_);
    return recvBlockMap_;
}

uint64_t RemoteStreamRead::nextWriteBlockOffset() const {
    std::lock_guard<std::mutex> g(fileMutex_);
    return nextWriteBlockOffset_;
}

int64_t RemoteStreamRead::findNextBlock() {
    std::lock_guard<std::mutex> g(fileMutex_);
    const int64_t n = int64_t(recvBlockMap_.size());
    if (n == 0) return -1;
    auto firstMissing = [&](int64_t from, int64_t to) -> int64_t {
        from = std::max<int64_t>(from, 0);
        to = std::min(to, n - 1);
        for (int64_t b = from; b <= to; ++b) {
            if (recvBlockMap_[b] == 0) return b;
        }
        return -1;
    };
    const int64_t s = int64_t(blockNeed_.load());
    const int64_t e = int64_t(blockNeedEnd_.load());
    int64_t b;
    if ((b = firstMissing(s, std::min(e, s + 4))) >= 0) return b;
    if ((b = firstMissing(s, std::min(n - 1, s + 4))) >= 0) return b;
    const int64_t os = gOfflineNeed.load(), oe = gOfflineNeedEnd.load();
    if (os >= 0 && oe >= 0 && (b = firstMissing(std::min(os, n - 1), std::min(oe, n - 1))) >= 0) return b;
    if ((b = firstMissing(s, e)) >= 0) return b;
    if ((b = firstMissing(s, n - 1)) >= 0) return b;
    return firstMissing(0, n - 1);
}

bool RemoteStreamRead::readerNeedsBlockLocked() const {
    // Only a need a read has published (under the lock, with its blocks):
    // the blocks of an earlier read are not what a read starting now needs.
    if (!readerNeedAsked_ || isOfflineMode_ || recvBlockMap_.empty()) return false;
    const uint64_t e = std::min<uint64_t>(blockNeedEnd_, recvBlockMap_.size() - 1);
    for (uint64_t b = blockNeed_; b <= e; ++b) {
        if (recvBlockMap_[b] == 0) return true;
    }
    return false;
}

bool RemoteStreamRead::waitForReader(double seconds) {
    std::unique_lock<std::mutex> lk(fileMutex_);
    auto spanWanted = [&] {
        return std::any_of(spans_.begin(), spans_.end(), [](const Span& s) { return !s.done; });
    };
    readerWaits_.waitFor(lk, seconds, [&] { return isExitStream() || readerNeedsBlockLocked() || spanWanted(); });
    return !isExitStream() && readerNeedsBlockLocked();
}

// ---------------------------------------------------------------- reading

uint64_t RemoteStreamRead::readByteRaw(void* buffer, int64_t offset, uint64_t size) {
    (void)buffer, (void)offset, (void)size;
    return 0;
}

uint64_t RemoteStreamRead::readByteDo(void* buffer, int64_t offset, uint64_t size, uint64_t forward) {
    waitForReadByte_ = true;
    struct Clear {
        std::atomic<bool>& flag;
        std::atomic<bool>& asked;
        ~Clear() { flag = asked = false; }
    } clear{waitForReadByte_, readerNeedAsked_};

    const int64_t length = contentLength_;
    if (offset < 0 || offset >= length || size == 0) return 0;
    const uint64_t n = std::min<uint64_t>(size, uint64_t(length - offset));
    const uint64_t b0 = uint64_t(offset) / kBlockSize;
    const uint64_t b1 = (uint64_t(offset) + n - 1) / kBlockSize;

    std::unique_lock<std::mutex> lk(fileMutex_, std::defer_lock);
    for (;;) {
        if (isExit_ || isCancel_ || isError_) return 0;
        // A read made by work the main loop ran meanwhile clears the flag as it returns.
        waitForReadByte_ = true;
        const bool offline = isOfflineMode_;
        lk.lock();
        // Offline, another stream of this process fills the files: look at
        // what it has written so far.
        bool haveMap = !offline || loadMapFileLocked();
        if (haveMap && availableLocked(uint64_t(offset), n, false)) {
            readerNeedAsked_ = false;
            if (offline) {
                // Met: it no longer steers the loaders (unless another read asked since).
                int64_t expected = int64_t(b0);
                if (gOfflineNeedEnd.load() == int64_t(b1) && gOfflineNeed.compare_exchange_strong(expected, -1)) {
                    gOfflineNeedEnd = -1;
                }
            }
            break;
        }
        if (haveMap) {
            if (offline) {
                gOfflineNeed = int64_t(b0);
                gOfflineNeedEnd = int64_t(b1);
            } else if (!availableLocked(uint64_t(offset), n, true)) {
                // (Bytes a span on its way brings are not asked for again as blocks.)
                blockNeed_ = b0;
                blockNeedEnd_ = b1;
                readerNeedAsked_ = true;
                readerWaits_.notifyAll();
            }
        }
        auto ready = [&] { return isExitStream() || (!offline && availableLocked(uint64_t(offset), n, false)); };
        if (sys::RunLoop::isMainThread()) {
            // The loaders' callbacks to the main thread keep running meanwhile.
            lk.unlock();
            sys::RunLoop::main().runUntil(
                [&] {
                    std::lock_guard<std::mutex> g(fileMutex_);
                    return ready();
                },
                kWaitStep);
        } else {
            blockArrived_.waitFor(lk, kWaitStep, ready);
            lk.unlock();
        }
    }

    // The lock is held: copy from the slots and spans.
    const uint64_t done = copyAvailableLocked(static_cast<char*>(buffer), uint64_t(offset), n);
    lk.unlock();
    fileOffset_ += int64_t(std::min(done, forward));
    return done;
}

uint64_t RemoteStreamRead::readByte(void* buffer, int64_t offset, uint64_t size) {
    if (size == 0 || isError_ || isCancel_) return 0;
    if (isRawReadMode_) return readByteRaw(buffer, offset, size);
    if (size >= kBlockSize) return readByteDo(buffer, offset, size, size);

    {
        std::lock_guard<std::mutex> r(readMutex_);
        if (blockCacheLength_ > 0 && offset >= blockCacheOffset_ &&
            uint64_t(offset - blockCacheOffset_) + size <= blockCacheLength_) {
            std::memcpy(buffer, blockCache_.data() + (offset - blockCacheOffset_), size);
            fileOffset_ += int64_t(size);
            return size;
        }
    }

    const int64_t length = contentLength_;
    if (offset < 0 || offset >= length) return 0;
    const uint64_t n = std::min<uint64_t>(size, uint64_t(length - offset));
    // Refill up to the end of the block that holds the read's last byte: the
    // next small reads usually follow on, and no further block is fetched.
    const uint64_t end = uint64_t(offset) + n;
    uint64_t fill = n + (kBlockSize - end % kBlockSize) % kBlockSize;
    fill = std::min<uint64_t>(fill, uint64_t(length - offset));
    {
        // Bytes a span brings need not wait for the whole block around them:
        // the window then ends where the span does.
        std::lock_guard<std::mutex> g(fileMutex_);
        if (!spans_.empty()) {
            const uint64_t extent = availableExtentLocked(uint64_t(offset), fill, true);
            if (extent >= n) fill = extent;
        }
    }
    // The wait below may run the main loop, and work in it may read this
    // stream again: the window's lock is not held meanwhile, and the bytes
    // land in a buffer of this read's own.
    std::vector<char> fresh(fill);
    const uint64_t got = readByteDo(fresh.data(), offset, fill, n);
    if (isExitStream()) return 0;
    const uint64_t copy = std::min(got, n);
    std::memcpy(buffer, fresh.data(), copy);
    std::lock_guard<std::mutex> r(readMutex_);
    blockCache_ = std::move(fresh);
    blockCacheOffset_ = offset;
    blockCacheLength_ = got;
    return copy;
}

// ---------------------------------------------------------------- writing

void RemoteStreamRead::beginTransfer(uint64_t block) {
    std::lock_guard<std::mutex> g(fileMutex_);
    spanOpen_ = false;
    transferBlock_ = block;
    transferFill_ = 0;
    transferOpen_ = true;
}

void RemoteStreamRead::endTransfer() {
    bool spanDone = false;
    {
        std::lock_guard<std::mutex> g(fileMutex_);
        transferOpen_ = false;
        transferFill_ = 0;
        if (spanOpen_ && spanIndex_ < spans_.size()) {
            Span& s = spans_[spanIndex_];
            spanDone = s.done = s.bytes.size() == s.size;
            if (!spanDone) std::string().swap(s.bytes);
        }
        spanOpen_ = false;
    }
    if (spanDone) {
        blockArrived_.notifyAll();
        sys::RunLoop::main().wakeUp();
    }
}

bool RemoteStreamRead::appendTransferBytes(const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    {
        std::lock_guard<std::mutex> g(fileMutex_);
        if (spanOpen_) {
            if (spanIndex_ >= spans_.size()) return false;
            Span& s = spans_[spanIndex_];
            const uint64_t at = s.offset + s.bytes.size();
            const size_t take = size_t(std::min<uint64_t>(size, s.size - s.bytes.size()));
            s.bytes.append(p, take);
            // Bytes before the span's first whole block are kept in it alone.
            const size_t skip = at < spanBlockStart_ ? size_t(std::min<uint64_t>(take, spanBlockStart_ - at)) : 0;
            p += skip;
            size = take - skip;
            if (size == 0 || !transferOpen_) return !isExitStream();
        }
    }
    while (size > 0) {
        if (isExitStream()) return false;
        bool completed = false;
        uint64_t block = 0;
        {
            std::lock_guard<std::mutex> g(fileMutex_);
            if (!transferOpen_ || fd_ < 0 || transferBlock_ >= blockLength_) return false;
            block = transferBlock_;
            const uint64_t blen = blockBytes(block);
            const uint64_t take = std::min<uint64_t>(size, blen - transferFill_);
            if (recvBlockMap_[block] == 0) {
                if (nextWriteBlockOffset_ >= kMaxBlocks ||
                    !sys::WholeWrite::writeAt(fd_, p, take, nextWriteBlockOffset_ * kBlockSize + transferFill_)) {
                    isError_ = true;
                } else {
                    transferFill_ += take;
                }
            } else {
                transferFill_ += take;
            }
            if (!isError_) {
                p += take;
                size -= take;
                if (transferFill_ == blen) {
                    completed = completeTransferBlockLocked();
                    ++transferBlock_;
                    transferFill_ = 0;
                }
            }
        }
        if (isError_) {
            wakeAll();
            return false;
        }
        if (completed) {
            if (!writeMapFile()) {
                setIsError();
                return false;
            }
            postBlockArrived(block);
            blockArrived_.notifyAll();
            // A read waiting on the main thread looks again at once.
            sys::RunLoop::main().wakeUp();
        }
    }
    return true;
}

bool RemoteStreamRead::completeTransferBlockLocked() {
    if (recvBlockMap_[transferBlock_] != 0) return false;
    // The bytes reach the disk before any map can point at them.
    if (::fdatasync(fd_) != 0) {
        isError_ = true;
        return false;
    }
    recvBlockMap_[transferBlock_] = uint16_t(nextWriteBlockOffset_ + 1);
    ++nextWriteBlockOffset_;
    return true;
}

void RemoteStreamRead::postBlockArrived(uint64_t block) {
    auto d = delegate_.lock();
    if (!d) return;
    auto map = std::make_shared<std::vector<uint16_t>>(recvBlockMap());
    int64_t cached = 0;
    for (uint16_t slot : *map) cached += slot != 0;
    std::weak_ptr<RemoteStreamReadDelegate> weak = d;
    sys::RunLoop::main().post(
        [weak, map, cached, block] {
            auto target = weak.lock();
            if (!target) return;
            target->updateCacheBlock(cached, int64_t(kBlockSize), int64_t(block), int64_t(map->size()));
            target->updateCacheStatus(map->size(), map->data(), false);
        },
        sys::LoopOwner(weak));
}

std::string RemoteStreamRead::untrustedServer() const {
    std::lock_guard<std::mutex> lock(untrustedMutex_);
    return untrustedServer_;
}

void RemoteStreamRead::setUntrustedServer(const std::string& server) {
    std::lock_guard<std::mutex> lock(untrustedMutex_);
    untrustedServer_ = server;
}
