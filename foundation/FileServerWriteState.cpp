#include "foundation/FileServerWriteState.h"

#include <mutex>

namespace {
std::mutex gMutex;
std::shared_ptr<FileServerWriteState> gInstalled;
}  // namespace

void FileServerWriteState::install(std::shared_ptr<FileServerWriteState> state) {
    std::lock_guard<std::mutex> lock(gMutex);
    gInstalled = std::move(state);
}

std::shared_ptr<FileServerWriteState> FileServerWriteState::installed() {
    std::lock_guard<std::mutex> lock(gMutex);
    return gInstalled;
}

bool FileServerWriteState::isOpenForWrite(const std::string& path) {
    auto s = installed();
    return s && s->isOpenForWriteWithPath(path);
}
