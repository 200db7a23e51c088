#include "engine/MemoryItemSink.h"

MemoryItemSink::MemoryItemSink(std::string& out, uint64_t limit) : out_(out), limit_(limit) {}

bool MemoryItemSink::begin(uint32_t) {
    out_.clear();
    return true;
}

bool MemoryItemSink::write(const void* data, size_t size) {
    if (out_.size() + size > limit_) {
        tooLarge = true;
        return false;
    }
    out_.append(static_cast<const char*>(data), size);
    return true;
}

// A failed item stops the extraction whatever the answer, so the answer
// need not repeat the verdict.
bool MemoryItemSink::end(uint32_t, int32_t r) {
    result = r;
    return true;
}
