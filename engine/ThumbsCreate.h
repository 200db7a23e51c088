#pragma once

#include "engine/ThumbsCreateImageObject.h"
#include "foundation/FilelistItem.h"
#include "platform/core/Clock.h"
#include "platform/core/Condition.h"
#include "platform/core/Thread.h"
#include "platform/graphics/Geometry.h"
#include "platform/graphics/Image.h"

#include <atomic>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_set>

class BookReaderEx;
class Settings;

// Who hears that a thumbnail was made: the list on screen. Called on the main
// thread while the worker waits.
class ThumbsCreateDelegate {
public:
    virtual ~ThumbsCreateDelegate() = default;
    virtual void updateItem(const std::shared_ptr<ThumbsCreateImageObject>& entry) = 0;
};

// The covers of the file lists. Lists queue their items; one worker thread
// per process opens each book with a reading session of its own, in
// thumbnail mode, has the session compose the first page at the cover size
// and keeps it as a small JPEG beside the book's settings. A folder gets the
// cover of one of its books at the shelf's folder size.
//
// An attempt marker is written before a book is read and removed once the
// attempt is over, whatever its outcome: a marker still there means the last
// attempt died with the program (a page that crashes the decoder), and that
// book is not tried again until the list is told to make its thumbnails
// afresh. Six failures in a row drop the queue. A remote book whose cover
// could not be made is not asked for again while its list keeps the item
// (until the list is told to make its thumbnails afresh): every try is
// another request to its server.
class ThumbsCreate : public std::enable_shared_from_this<ThumbsCreate> {
public:
    static constexpr int kMaxFailures = 6;
    static constexpr size_t kMaxQueue = 10000;
    // Real seconds a cover's network waits may hold up advancing virtual
    // time (a headless run); once one cover took longer, the covers after
    // it in the same run of the worker do not hold it at all.
    static constexpr double kClockHoldSeconds = sys::Clock::kNetworkStallSeconds;
    // Books of this web comic site begin with a title page: their cover is
    // the second page.
    static constexpr const char* kWebComicHost = "clip.leafbright.app";

    static std::shared_ptr<ThumbsCreate> thumbsCreate();
    // Drops the shared maker; the worker is told to stop and joined, or,
    // not `wait`, left to finish alone (it may be decoding a large page,
    // which nobody waits for: the program ends, or comes back to the front)
    // and the cover it was making tried again another time. Made again on
    // the next call of thumbsCreate().
    static void releaseThumbsCreate(bool wait = true);
    // A book being opened for reading goes first: while one is held (its
    // first page decoding), the covers wait, so that no picture is decoded
    // by both at once. Calls nest; from any thread.
    static void holdForOpen(bool hold);

    ThumbsCreate();
    ~ThumbsCreate();
    ThumbsCreate(const ThumbsCreate&) = delete;
    ThumbsCreate& operator=(const ThumbsCreate&) = delete;

    void setDelegate(std::weak_ptr<ThumbsCreateDelegate> delegate);

    // The item's stored cover (and the title of its page); without one, the
    // queue entry when `createThumbs` (null when refused), else null.
    std::shared_ptr<ThumbsCreateImageObject> getImage(const std::shared_ptr<FilelistItem>& item, bool createThumbs);
    // Null when the item's cover already exists, else addQueDo().
    std::shared_ptr<ThumbsCreateImageObject> addQue(const std::shared_ptr<FilelistItem>& item);
    // The queue entry of the item (the one already queued for the same item
    // object, if any); null when remote covers may not be loaded now, or the
    // maker is going away.
    std::shared_ptr<ThumbsCreateImageObject> addQueDo(const std::shared_ptr<FilelistItem>& item);
    // The queue is full and the item is neither in it nor being made.
    bool queueIsFullFor(const FilelistItem& item);
    // A remote item's cover may be fetched now (the auto-load setting, the
    // network); always for local items and covers asked for by hand.
    static bool remoteCoverAllowed(const FilelistItem& item);
    // Empties the queue and forgets the failures; the worker ends once its
    // current book is done.
    void cancelAllTask();
    // 1 slows the worker down (a download is running), 0 restores it.
    void suspendTask(int mode);
    // A remote book whose row knows a user but no password is not fetched
    // with an empty one: its cover waits, asked for again or not, until this
    // is called (once the server has taken the password its row was given)
    // and queues it.
    void makeCoversThatWaitedForPassword();

    // Makes the folder's cover from `fileFullPath` (or `image`, when given) at
    // `targetSize` points, unless one made for that size is there and
    // `createNew` is false. True when a cover was written.
    bool folderThumbsCreate(const std::string& folder, const std::optional<std::string>& fileFullPath,
                            const gfx::ImageRef& image, bool createNew, gfx::Size targetSize);
    // The folder's cover as made above, decoded; null when there is none
    // (or the folder is locked). `folder` is a path or an address.
    static gfx::ImageRef folderThumbnail(const std::string& folder);
    // Makes the cover of a book or single image with `session`; true when it
    // exists afterwards.
    bool loadBookImage(FilelistItem& item, BookReaderEx& session);
    // A local single image, decoded; null for remote items.
    static gfx::ImageRef loadImage(const FilelistItem& item);
    // The title shown under a cover, from the raw name of the page it was
    // made from: its first component that is not plain ASCII (else the first
    // one), without extension.
    static std::optional<std::string> convertArchiveFilenameToAuxTitle(const std::string& nameBytes);

    // The book's path or address; nothing for an item without one.
    static std::optional<std::string> sourceOfItem(const FilelistItem& item);
    // The cover file of a book, PDF or image item; "" for other items.
    static std::string thumbnailPathForItem(const FilelistItem& item, bool createDirectory);
    // The attempt marker of the item's book.
    static std::string markerPathForItem(const FilelistItem& item, bool createDirectory);

    // Covers, titles and cached pages are written beside their place, then
    // renamed over it, so no reader sees part of one; they are not forced to
    // disk, as a lost one is only made again (an empty file counts as none).
    static bool writeCacheFile(const std::string& path, std::string_view bytes);
    static bool cacheFileExists(const std::string& path);

    // Sizes in points and the JPEG quality, for this device.
    static gfx::Size bookThumbnailSize();
    static gfx::Size singleImageThumbnailSize();
    static gfx::Size folderThumbnailDefaultSize();
    static double jpegQuality();

    size_t queueLength() const;
    int failureCount() const;
    bool isRunning() const;
    // Blocks until the queue is empty and the worker has ended, at most
    // `realSeconds` (on the main thread the main loop keeps running).
    bool waitUntilIdle(double realSeconds);

private:
    // addQueDo() once its item has passed queueIsFullFor() and
    // remoteCoverAllowed().
    std::shared_ptr<ThumbsCreateImageObject> enqueue(const std::shared_ptr<FilelistItem>& item);
    void createThread(const std::atomic<bool>& stop);
    // A queued request: its entry, and the item as it was when queued.
    struct Queued {
        std::shared_ptr<ThumbsCreateImageObject> entry;
        FilelistItem item;
    };
    void createThumbsDo(const Queued& job, BookReaderEx& session, const std::atomic<bool>& stop);
    bool makeBookThumbnail(FilelistItem& item, const std::string& source, const std::string& thumb,
                           BookReaderEx& session);
    void tellDelegate(const std::shared_ptr<ThumbsCreateImageObject>& entry, const std::atomic<bool>& stop);
    // Runs fn on the main thread and waits for it; false when the maker was
    // told to stop first (fn may then still run, or never).
    static bool runOnMain(std::function<void()> fn, const std::atomic<bool>& stop);
    void startWorker();
    // The maker is let go: its queue emptied, its cover read cancelled, its
    // worker joined or left to finish.
    void stopWorker(bool wait);
    static std::shared_ptr<Settings> currentSettings();

    // Guards the queue, the running flag, the session slot and the failures.
    mutable std::mutex mutex_;
    sys::Condition changed_;
    // The lists go on changing their items on the main thread: the worker
    // reads only the copies taken as they were queued.
    std::deque<Queued> queue_;
    std::unordered_set<const FilelistItem*> queued_;
    bool running_ = false;
    bool stopping_ = false;
    std::shared_ptr<BookReaderEx> session_;
    int failureCount_ = 0;
    // The list items of remote books whose cover could not be made, looked
    // up at every request of a remote cover.
    std::set<std::weak_ptr<FilelistItem>, std::owner_less<>> failedRemote_;
    // The list items of remote books whose cover waits for a password.
    std::set<std::weak_ptr<FilelistItem>, std::owner_less<>> awaitingPassword_;
    // The entry being made now.
    std::shared_ptr<ThumbsCreateImageObject> working_;
    // The attempt marker of the cover being made, while there is one.
    std::string workingMarker_;
    std::weak_ptr<ThumbsCreateDelegate> delegate_;
    std::atomic<bool> suspended_{false};

    // The maker itself, held by a worker left to finish until it is done.
    std::shared_ptr<ThumbsCreate> keepAlive_;
    std::mutex threadMutex_;  // the thread object
    sys::Thread worker_;
};
