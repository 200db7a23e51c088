#pragma once

#include "tests/support/net/SilentServer.h"

#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace test {

// A hostile SMB peer on 127.0.0.1: accepts one connection, reads one request
// framed as a NetBIOS session message, sends `reply` as it is and hangs up.
// It gives up on a client that does not come within 10 s.
class OneReplyPeer {
public:
    explicit OneReplyPeer(std::vector<uint8_t> reply);
    // A peer that never answers: once the request is in, it runs
    // `afterRequest` (a cancel from another thread, say) and hangs up.
    explicit OneReplyPeer(std::function<void()> afterRequest);
    ~OneReplyPeer();
    OneReplyPeer(const OneReplyPeer&) = delete;
    OneReplyPeer& operator=(const OneReplyPeer&) = delete;

    // `message` framed as a NetBIOS session message whose length field says
    // `claimed` bytes when that is given (a lie), its true length otherwise.
    static std::vector<uint8_t> frame(const std::vector<uint8_t>& message, size_t claimed = 0);

    // Waits until the peer is done and closes it.
    void join();
    int port() const { return listener_.port(); }
    // "127.0.0.1:PORT"
    std::string server() const { return listener_.server(); }

private:
    void serve(std::vector<uint8_t> reply, std::function<void()> afterRequest);

    SilentServer listener_;
    std::thread thread_;
};

}  // namespace test
