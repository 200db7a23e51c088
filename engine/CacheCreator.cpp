#include "engine/CacheCreator.h"

#include "platform/core/Clock.h"

#include <map>

CacheCreator::CacheCreator() = default;

CacheCreator::~CacheCreator() { stopCacheCreator(); }

void CacheCreator::Finished::set() {
    {
        std::lock_guard<std::mutex> lock(m);
        done = true;
    }
    c.notifyAll();
}

std::shared_ptr<CacheCreator::Finished> CacheCreator::exchangeLastOfBook(const std::string& fileName,
                                                                        const std::shared_ptr<Finished>& next) {
    static std::mutex mutex;
    static std::map<std::string, std::weak_ptr<Finished>> last;
    std::lock_guard<std::mutex> lock(mutex);
    for (auto it = last.begin(); it != last.end();) it = it->second.expired() ? last.erase(it) : std::next(it);
    auto previous = last[fileName].lock();
    last[fileName] = next;
    return previous;
}

void CacheCreator::startCacheCreator(int32_t currentPage, const std::string& fileName,
                                     const std::optional<std::string>& targetFolder,
                                     const std::vector<std::string>& otherFiles,
                                     const std::optional<std::string>& lbexpand,
                                     const std::optional<std::string>& password) {
    (void)currentPage;
    if (started_) return;
    started_ = true;
    fileName_ = fileName;
    if (password) archivePassword_ = password;
    // The previous queue was let go of by the stop.
    queue_ = std::make_shared<sys::OperationQueue>("cache-creator");
    operations_.clear();
    auto op = CacheCreateOperation::create();
    op->setDelegate(delegate_);
    op->setFile_(fileName_);
    op->setArchivePassword_(archivePassword_);
    op->setOtherFiles_(otherFiles);
    op->setTargetFolder_(targetFolder);
    op->setLbexpand_(lbexpand);
    op->setUserName_(userName_);
    op->setPassword_(password_);
    operations_.push_back(op);
    auto finished = std::make_shared<Finished>();
    finished_ = finished;
    auto previous = exchangeLastOfBook(fileName_, finished);
    queue_->addOperation([op, finished, previous](const sys::Operation&) {
        if (previous) {
            // The book's last operation, given up, may still be drawing a
            // page: waited for as a page being drawn is (virtual time held
            // for a second of real time at most).
            sys::Clock::NetworkWait hold(sys::Clock::realNow() - sys::Clock::kNetworkStallSeconds + 1.0);
            std::unique_lock<std::mutex> lock(previous->m);
            previous->c.wait(lock, [&] { return previous->done || op->isCancelled(); });
        }
        if (!op->isCancelled()) op->main();
        finished->set();
    });
}

void CacheCreator::stopCacheCreator() {
    for (const auto& op : operations_) {
        op->cancel();
        op->setDelegate(nullptr);
    }
    started_ = false;
    if (!queue_) return;
    queue_->cancelAllOperations();
    // The queue's worker may be drawing a page for a while yet: it is joined
    // away from here, and the operation counts as ended once it is.
    sys::Thread::leaveToFinish(sys::Thread(
        [queue = std::move(queue_), finished = finished_](const std::atomic<bool>&) mutable {
            queue.reset();
            if (finished) finished->set();
        },
        "cache-stop"));
    queue_.reset();
}

void CacheCreator::waitForFinishThread() {
    if (!finished_) return;
    std::unique_lock<std::mutex> lock(finished_->m);
    finished_->c.wait(lock, [&] { return finished_->done; });
}
