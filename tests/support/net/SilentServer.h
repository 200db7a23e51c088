#pragma once

#include "tests/support/net/LoopbackListener.h"

#include <string>

namespace test {

// A listening TCP socket on 127.0.0.1 that says nothing: connections wait
// in its backlog until a test accepts them. Closed with the object.
class SilentServer {
public:
    SilentServer();
    ~SilentServer();
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;

    int port() const { return listener_.port(); }
    // "127.0.0.1:PORT"
    std::string server() const { return "127.0.0.1:" + std::to_string(port()); }
    // The next connection's descriptor (the caller closes it), or -1 when
    // none came within `seconds`.
    int accept(int seconds);
    // Stops listening; later connections are refused.
    void close();

private:
    LoopbackListener listener_{4};
};

}  // namespace test
