#pragma once

#include "foundation/FileServerWriteState.h"
#include "smb/CIFSStackManagerDataSource.h"
#include "smb/CIFSStackManagerDelegate.h"
#include "smb/CIFSStackServer.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The per-slot owner of the SMB stack. Each of the 16 slots has one manager,
// made on first use and kept for the process. The built-in file server
// records here which files it has open for writing, so that the rest of the
// program can leave them alone.
//
// A slot may run an SMB server. Its state goes to the delegate on the main
// thread; going to the background suspends a running server and coming back
// restores it. Without a server installed nothing runs and the state stays
// stopped.
class CIFSStackManager : public FileServerWriteState, public std::enable_shared_from_this<CIFSStackManager> {
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

    enum ServerStatus { kStatusIdle = 0, kStatusStopped = 1, kStatusStarting = 2, kStatusRunning = 3, kStatusStopping = 4 };

    // Not owned: the application sets itself.
    void setDataSource(std::weak_ptr<CIFSStackManagerDataSource> dataSource);
    std::shared_ptr<CIFSStackManagerDataSource> dataSource() const;
    void setDelegate(std::weak_ptr<CIFSStackManagerDelegate> delegate);
    std::shared_ptr<CIFSStackManagerDelegate> delegate() const;
    // The server this slot runs (the servers install theirs).
    void setServer(std::shared_ptr<CIFSStackServer> server);
    int serverStatus() const;

    bool startServer();
    void stopServer();
    // Stops a running server and remembers to start it again.
    void suspendState();
    // Starts the server again when suspendState stopped it.
    void restoreState();
    bool isSuspended() const;
    // Resets the client side of the stack (after a listing failed on a bad parameter).
    void resetClient();

private:
    explicit CIFSStackManager(int slot) : slot_(slot) {}
    void report(int status);

    int slot_;
    mutable std::mutex mutex_;
    std::vector<std::string> openForWrite_;
    std::weak_ptr<CIFSStackManagerDataSource> dataSource_;
    std::weak_ptr<CIFSStackManagerDelegate> delegate_;
    std::shared_ptr<CIFSStackServer> server_;
    int status_ = kStatusIdle;
    bool restartAfterSuspend_ = false;
};
