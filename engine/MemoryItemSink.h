#pragma once

#include "engine/SevenZipArchive.h"

#include <cstdint>
#include <string>

// Collects one extracted item in memory, refusing more than the limit.
class MemoryItemSink : public SevenZipArchive::Sink {
public:
    MemoryItemSink(std::string& out, uint64_t limit);
    bool begin(uint32_t index) override;
    bool write(const void* data, size_t size) override;
    bool end(uint32_t index, int32_t result) override;

    // The library's verdict on the item (sz::kOpOk...); -1 until it ends.
    int32_t result = -1;
    bool tooLarge = false;

private:
    std::string& out_;
    uint64_t limit_;
};
