#pragma once

#include "foundation/FileServerWriteState.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The per-slot owner of the SMB stack. Each of the 16 slots has one manager,
// made on first use and kept for the process. The built-in file server
// records here which files it has open for writing, so that the rest of the
// program can leave them alone.
class CIFSStackManager : public FileServerWriteState {
public:
    static constexpr int kSlotCount = 16;

    // The manager of slot 0-15; nullptr for any other slot.
    static std::shared_ptr<CIFSStackManager> sharedManager(int slot);

    int slot() const { return slot_; }

    // True when the path equals, as a string, a file open for writing.
    bool isOpenForWriteWithPath(const std::string& path) override;

    // The file server opened / closed a file for writing. A file opened
    // twice stays recorded until it is closed twice.
    void fileOpenedForWrite(const std::string& path);
    void fileClosedForWrite(const std::string& path);

private:
    explicit CIFSStackManager(int slot) : slot_(slot) {}

    int slot_;
    std::mutex mutex_;
    std::vector<std::string> openForWrite_;
};
