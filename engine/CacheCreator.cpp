#include "engine/CacheCreator.h"

CacheCreator::CacheCreator() = default;

CacheCreator::~CacheCreator() {
    stopCacheCreator();
    waitForFinishThread();
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
    // The previous queue's operation was cancelled by the stop; its thread is joined here.
    queue_ = std::make_unique<sys::OperationQueue>("cache-creator");
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
    queue_->addOperation([op, finished](const sys::Operation&) {
        op->main();
        {
            std::lock_guard<std::mutex> lock(finished->m);
            finished->done = true;
        }
        finished->c.notifyAll();
    });
}

void CacheCreator::stopCacheCreator() {
    for (const auto& op : operations_) {
        op->cancel();
        op->setDelegate(nullptr);
    }
    if (queue_) queue_->cancelAllOperations();
    started_ = false;
}

void CacheCreator::waitForFinishThread() {
    if (!queue_ || !finished_) return;
    // A cancelled operation that never started has nothing to finish.
    std::unique_lock<std::mutex> lock(finished_->m);
    finished_->c.wait(lock, [&] { return finished_->done || queue_->operationCount() == 0; });
}
