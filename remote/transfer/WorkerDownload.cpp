#include "remote/transfer/WorkerDownload.h"

#include "cloud/HttpEasy.h"
#include "platform/core/Clock.h"
#include "platform/core/RunLoop.h"

WorkerDownload::WorkerDownload(const char* threadName, int busyResult)
    : threadName_(threadName), busyResult_(busyResult) {}

WorkerDownload::~WorkerDownload() = default;

void WorkerDownload::post(std::function<void(HttpDownloadDelegate&)> call) {
    auto cancelled = cancelled_;
    if (*cancelled) return;
    sys::RunLoop::main().post([cancelled, delegate = delegate_, call = std::move(call)] {
        if (!*cancelled && delegate) call(*delegate);
    });
}

void WorkerDownload::downloadFile(const std::string& url, const std::string& savePath, const std::string& saveName,
                                  const std::string& username, const std::string& password) {
    if (worker_.joinable()) {
        // One file per object: a second start while one runs is refused.
        if (worker_.running()) {
            const int busy = busyResult_;
            post([busy](HttpDownloadDelegate& d) { d.onFinishConnection(busy); });
            return;
        }
        worker_.join();
    }
    cancelled_ = std::make_shared<std::atomic<bool>>(false);
    Job job{url, savePath, saveName, username, password};
    // The subclass's destructor cancels and joins, so the worker may use `this`.
    const double holdUntil = sys::Clock::NetworkHoldLimit::current();
    worker_ = sys::Thread(
        [this, job, holdUntil](const std::atomic<bool>&) {
            sys::Clock::NetworkHoldLimit::adopt(holdUntil);
            run(job);
        },
        threadName_);
}

void WorkerDownload::cancelDownload() {
    *cancelled_ = true;
    {
        std::lock_guard lock(mutex_);
        cancelClients();
    }
    if (worker_.joinable() && !worker_.isCurrent()) worker_.join();
}

void WorkerDownload::run(const Job& job) {
    loggedOn_ = false;
    const int result = transfer(job);
    {
        std::lock_guard lock(mutex_);
        releaseClients();
    }
    auto cancelled = cancelled_;
    if (result == kAskCredentials) {
        // This worker ends quietly; the answer starts the download again.
        // The object outlives the question unless cancelled (its destructor
        // cancels on the main thread).
        sys::RunLoop::main().post([this, cancelled, job] {
            if (!*cancelled) askCredentials(job);
        });
        return;
    }
    if (result < 0) return;  // cancelled: nothing more is said
    if (loggedOn_) {
        sys::RunLoop::main().post([this, cancelled] {
            if (*cancelled || !accepted_) return;
            auto accepted = std::move(accepted_);
            accepted_ = nullptr;
            accepted();
        });
    }
    post([result](HttpDownloadDelegate& d) { d.onFinishConnection(result); });
}

void WorkerDownload::askCredentials(const Job& job) {
    auto cancelled = cancelled_;
    accepted_ = nullptr;
    asker_(HttpEasy::withoutCredentials(job.url), job.user, job.password, usedStored_,
           [this, cancelled, job](std::optional<std::string> user, std::optional<std::string> password, bool stored,
                                  std::function<void()> accepted) {
               if (*cancelled) return;
               if (!user) {
                   const int refused = refusedResult();
                   post([refused](HttpDownloadDelegate& d) { d.onFinishConnection(refused); });
                   return;
               }
               // The worker that asked has ended or is ending: wait for it,
               // then start over with the answer.
               cancelDownload();
               usedStored_ = stored;
               accepted_ = std::move(accepted);
               downloadFile(job.url, job.savePath, job.saveName, *user, password.value_or(""));
           });
}
