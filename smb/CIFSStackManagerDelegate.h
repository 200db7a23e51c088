#pragma once

// Hears the SMB server's state: 0 or 1 stopped, 2 starting, 3 running,
// 4 stopping. Told on the main thread.
class CIFSStackManagerDelegate {
public:
    virtual ~CIFSStackManagerDelegate() = default;
    virtual void didChangeServerStatus(int status) = 0;
};
