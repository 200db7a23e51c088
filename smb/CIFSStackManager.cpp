#include "smb/CIFSStackManager.h"

#include "platform/core/RunLoop.h"

#include <algorithm>
#include <array>

std::shared_ptr<CIFSStackManager> CIFSStackManager::sharedManager(int slot) {
    if (slot < 0 || slot >= kSlotCount) return nullptr;
    static std::mutex mutex;
    static std::array<std::shared_ptr<CIFSStackManager>, kSlotCount> managers;
    std::lock_guard<std::mutex> lock(mutex);
    auto& m = managers[static_cast<size_t>(slot)];
    if (!m) m.reset(new CIFSStackManager(slot));
    return m;
}

bool CIFSStackManager::isOpenForWriteWithPath(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::find(openForWrite_.begin(), openForWrite_.end(), path) != openForWrite_.end();
}

void CIFSStackManager::fileOpenedForWrite(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    openForWrite_.push_back(path);
}

void CIFSStackManager::fileClosedForWrite(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = std::find(openForWrite_.begin(), openForWrite_.end(), path);
    if (it != openForWrite_.end()) openForWrite_.erase(it);
}

void CIFSStackManager::setDataSource(std::weak_ptr<CIFSStackManagerDataSource> dataSource) {
    std::lock_guard<std::mutex> lock(mutex_);
    dataSource_ = std::move(dataSource);
}

std::shared_ptr<CIFSStackManagerDataSource> CIFSStackManager::dataSource() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dataSource_.lock();
}

void CIFSStackManager::setDelegate(std::weak_ptr<CIFSStackManagerDelegate> delegate) {
    std::lock_guard<std::mutex> lock(mutex_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<CIFSStackManagerDelegate> CIFSStackManager::delegate() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return delegate_.lock();
}

void CIFSStackManager::setServer(std::shared_ptr<CIFSStackServer> server) {
    std::lock_guard<std::mutex> lock(mutex_);
    server_ = std::move(server);
}

int CIFSStackManager::serverStatus() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return status_;
}

bool CIFSStackManager::isSuspended() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return restartAfterSuspend_;
}

void CIFSStackManager::report(int status) {
    std::weak_ptr<CIFSStackManager> self = shared_from_this();
    auto deliver = [self, status] {
        auto me = self.lock();
        if (!me) return;
        std::shared_ptr<CIFSStackManagerDelegate> d;
        {
            std::lock_guard<std::mutex> lock(me->mutex_);
            me->status_ = status;
            d = me->delegate_.lock();
        }
        if (d) d->didChangeServerStatus(status);
    };
    // Servers report from their own threads; the delegate hears it on the main thread.
    if (sys::RunLoop::isMainThread()) deliver();
    else sys::RunLoop::main().post(deliver);
}

bool CIFSStackManager::startServer() {
    std::shared_ptr<CIFSStackServer> server;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (status_ == kStatusRunning || status_ == kStatusStarting) return true;
        server = server_;
    }
    if (!server) return false;
    std::weak_ptr<CIFSStackManager> self = shared_from_this();
    report(kStatusStarting);
    const bool ok = server->start([self](int status) {
        if (auto me = self.lock()) me->report(status);
    });
    if (!ok) report(kStatusStopped);
    return ok;
}

void CIFSStackManager::stopServer() {
    std::shared_ptr<CIFSStackServer> server;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (status_ != kStatusRunning && status_ != kStatusStarting) return;
        server = server_;
    }
    report(kStatusStopping);
    if (server) server->stop();
}

void CIFSStackManager::suspendState() {
    bool running;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        running = status_ == kStatusRunning || status_ == kStatusStarting;
        if (running) restartAfterSuspend_ = true;
    }
    if (running) stopServer();
}

void CIFSStackManager::restoreState() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!restartAfterSuspend_) return;
        restartAfterSuspend_ = false;
    }
    startServer();
}

void CIFSStackManager::resetClient() {
    std::shared_ptr<CIFSStackServer> server;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        server = server_;
    }
    if (server) server->resetClient();
}
