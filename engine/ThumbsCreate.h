#pragma once

#include "foundation/FilelistItem.h"
#include "platform/core/Thread.h"
#include "platform/graphics/Image.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

// Who hears that a thumbnail was made (on the main thread).
class ThumbsCreateDelegate {
public:
    virtual ~ThumbsCreateDelegate() = default;
    virtual void updateItem(const std::shared_ptr<FilelistItem>& item) = 0;
};

// A stored thumbnail, and the page it was made from.
struct ThumbsCreateImageObject {
    gfx::ImageRef image;
    std::optional<std::string> filenameInArchive;
};

// The shared thumbnail maker of the file lists: lists queue their items,
// one worker thread opens each book in thumbnail mode, scales its first
// page (or the image itself) to the cover size and keeps it as a JPEG
// beside the book's settings. The list on screen is told of each new
// thumbnail. A book that cannot be read is not tried again in this run of
// the program.
class ThumbsCreate : public std::enable_shared_from_this<ThumbsCreate> {
public:
    // Cover size in pixels (56 x 80 points at twice the density).
    static constexpr int kThumbWidth = 112;
    static constexpr int kThumbHeight = 160;
    static constexpr size_t kMaxQueue = 10000;

    static std::shared_ptr<ThumbsCreate> thumbsCreate();
    // Drops the shared maker (its worker is joined); made again on demand.
    static void releaseThumbsCreate();

    ThumbsCreate();
    ~ThumbsCreate();
    ThumbsCreate(const ThumbsCreate&) = delete;
    ThumbsCreate& operator=(const ThumbsCreate&) = delete;

    void setDelegate(std::weak_ptr<ThumbsCreateDelegate> delegate);
    // True pauses taking new jobs; false resumes.
    void suspendTask(bool suspend);
    void cancelAllTask();
    // Queues a local book, image or PDF unless its thumbnail exists.
    void addQue(const std::shared_ptr<FilelistItem>& item);
    size_t queueLength() const;
    // Blocks until the queue is empty and no job runs (tests, bounded).
    bool waitUntilIdle(double realSeconds);

    ThumbsCreateImageObject getImage(const std::shared_ptr<FilelistItem>& item, bool createThumbs);

    // The thumbnail file of a local item; "" for items that have none.
    static std::string thumbnailPathForItem(const FilelistItem& item, bool createDirectory);
    // Makes the cover of a book or image file; null when it cannot be read.
    static gfx::ImageRef makeThumbnail(const std::string& path);
    // Scales an image to fit the cover size (never enlarging).
    static gfx::ImageRef scaleToCover(const gfx::ImageRef& image);

private:
    void workerLoop(const std::atomic<bool>& stop);
    void ensureWorker();

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::shared_ptr<FilelistItem>> queue_;
    std::set<std::string> failed_;
    std::weak_ptr<ThumbsCreateDelegate> delegate_;
    bool suspended_ = false;
    bool busy_ = false;
    bool stopping_ = false;
    sys::Thread worker_;
};
