#pragma once

namespace test {

// A port held for a server that is yet to start, on 127.0.0.1 or on every
// address: a socket bound to it on every address with SO_REUSEADDR and never
// listening. It is chosen free on every address (a port free on loopback
// alone may be the local end of another program's connection on an outside
// address, which keeps a server for every address off it). While it is held
// no other socket is given the port (neither a bind to port 0 nor the local
// end of an outgoing connection) and a plain bind to it fails, yet a server
// that sets SO_REUSEADDR itself (smbd, nginx, ...) binds and listens on it.
// Unlike a port from ServerProcess::freePort, which is free only until it is
// released, it cannot be taken between its choice and the server's start.
class ReservedPort {
public:
    ReservedPort();
    ~ReservedPort();
    ReservedPort(const ReservedPort&) = delete;
    ReservedPort& operator=(const ReservedPort&) = delete;

    // 0 when no port could be had.
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

}  // namespace test
