#pragma once

#include "engine/SevenZipArchive.h"

#include <cstdint>
#include <string>

// Archive bytes held in memory, handed to 7-Zip's library as a source.
class MemoryArchiveSource : public SevenZipArchive::Source {
public:
    explicit MemoryArchiveSource(std::string bytes);
    bool read(void* data, uint32_t size, uint32_t& got) override;
    bool seek(int64_t offset, int whence, uint64_t& position) override;

private:
    std::string bytes_;
    uint64_t at_ = 0;
};
