#include "engine/MemoryArchiveSource.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

MemoryArchiveSource::MemoryArchiveSource(std::string bytes) : bytes_(std::move(bytes)) {}

bool MemoryArchiveSource::read(void* data, uint32_t size, uint32_t& got) {
    got = uint32_t(std::min<uint64_t>(size, at_ < bytes_.size() ? bytes_.size() - at_ : 0));
    std::memcpy(data, bytes_.data() + at_, got);
    at_ += got;
    return true;
}

bool MemoryArchiveSource::seek(int64_t offset, int whence, uint64_t& position) {
    const int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? int64_t(at_) : int64_t(bytes_.size());
    if (base + offset < 0) return false;
    position = at_ = uint64_t(base + offset);
    return true;
}
