#include "smb/CIFSStackManager.h"

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
