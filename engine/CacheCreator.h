#pragma once

#include "engine/CacheCreateOperation.h"
#include "engine/CacheCreatorDelegate.h"
#include "platform/core/Condition.h"
#include "platform/core/OperationQueue.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// The reading screen's handle on the page-cache builder: one start per open
// book puts one CacheCreateOperation on a queue of its own; stopping cancels
// it (the page in progress is finished or abandoned) and tells the old
// operation to forget the screen, and never waits for it: its queue is left
// to finish on a thread of its own (a page being drawn ends with the band of
// rows under way, which on a heavy page may take seconds). Going away stops.
// An operation on a book whose previous one (of any creator) has not ended
// yet waits for it first, so a book reopened and closed again never has more
// than one of them at work, and no two make the same page at once.
class CacheCreator {
public:
    CacheCreator();
    ~CacheCreator();
    CacheCreator(const CacheCreator&) = delete;
    CacheCreator& operator=(const CacheCreator&) = delete;

    // Nothing when already started. `currentPage` is not used: the screen
    // is asked for its page as the work goes on.
    void startCacheCreator(int32_t currentPage, const std::string& fileName,
                           const std::optional<std::string>& targetFolder, const std::vector<std::string>& otherFiles,
                           const std::optional<std::string>& lbexpand, const std::optional<std::string>& password);
    void changeCurrentpage(int32_t page) { (void)page; }
    void stopCacheCreator();
    // Blocks until the work of the last start has ended (for tests: the
    // screen never waits for it). The work never waits for the main thread.
    void waitForFinishThread();
    bool isStarted() const { return started_; }

    // Not owned; stopCacheCreator() before it goes away.
    void setDelegate(CacheCreatorDelegate* delegate) { delegate_ = delegate; }
    CacheCreatorDelegate* delegate() const { return delegate_; }
    void setUserName(const std::string& v) { userName_ = v; }
    const std::string& userName() const { return userName_; }
    void setPassword(const std::optional<std::string>& v) { password_ = v; }
    const std::optional<std::string>& password() const { return password_; }

private:
    CacheCreatorDelegate* delegate_ = nullptr;
    std::shared_ptr<sys::OperationQueue> queue_;
    // Set once the operation has ended (or its queue has been let go of
    // without running it).
    struct Finished {
        std::mutex m;
        sys::Condition c;
        bool done = false;
        void set();
    };
    // The last operation of each book, by file name.
    static std::shared_ptr<Finished> exchangeLastOfBook(const std::string& fileName,
                                                        const std::shared_ptr<Finished>& next);
    std::shared_ptr<Finished> finished_;
    std::vector<std::shared_ptr<CacheCreateOperation>> operations_;
    bool started_ = false;
    std::string fileName_;
    std::optional<std::string> archivePassword_;
    std::string userName_;
    std::optional<std::string> password_;
};
