#pragma once

#include <functional>

// The SMB server a stack slot runs. It reports its state through the
// callback (the values of CIFSStackManagerDelegate); start and stop return
// at once and report as the server gets there.
class CIFSStackServer {
public:
    using StatusCallback = std::function<void(int status)>;
    virtual ~CIFSStackServer() = default;
    virtual bool start(StatusCallback report) = 0;
    virtual void stop() = 0;
    virtual void resetClient() {}
};
