#pragma once

namespace test {

// A listening TCP socket on 127.0.0.1 with a pipe that wakes whoever waits
// on it: the part the test servers and the fuzz targets' peers share. wake()
// ends every wait until rearm(); close() then gives back the descriptors.
class LoopbackListener {
public:
    explicit LoopbackListener(int backlog);
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    // The port it listens on, 0 when it could not listen.
    int port() const { return port_; }
    // The listening socket, for a loop that polls it along with sockets of
    // its own (-1 when it could not be made).
    int fd() const { return listener_; }
    // Readable once wake() was called: a loop polling its own sockets adds it.
    int wakeFd() const { return wake_[0]; }
    // The next connection's descriptor (the caller closes it); -1 once woken,
    // or when none came within `timeoutMs` (-1: no limit).
    int accept(int timeoutMs = -1);
    void wake();
    // Takes back what wake() did, so that the next waits wait again (for a
    // listener that serves one round after another); no one may wait now.
    void rearm();
    // Closes the socket and the pipe; wake() and join the waiters first.
    void close();

private:
    int listener_ = -1;
    int wake_[2] = {-1, -1};
    int port_ = 0;
};

}  // namespace test
