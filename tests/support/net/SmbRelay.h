#pragma once

#include "tests/support/net/LoopbackListener.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace test {

// A man in the middle for SMB tests: listens on 127.0.0.1 and passes each
// connection on to a server, message by message (NetBIOS session framing),
// so that a test can watch the client's requests and rewrite the server's
// replies on their way back. A hook may change a message in place, grow or
// shrink it, empty it to drop it, or add messages to send after it. Hooks
// run on the relay's threads, one connection at a time per hook; they must
// be set before the client connects.
class SmbRelay {
public:
    using Bytes = std::vector<uint8_t>;
    using Hook = std::function<void(Bytes& message, std::vector<Bytes>& after)>;

    // In front of host:port.
    SmbRelay(const std::string& host, int port);
    ~SmbRelay();
    SmbRelay(const SmbRelay&) = delete;
    SmbRelay& operator=(const SmbRelay&) = delete;

    void onRequest(Hook hook);
    void onReply(Hook hook);

    int port() const { return listener_.port(); }
    // "127.0.0.1:PORT"
    std::string server() const { return "127.0.0.1:" + std::to_string(port()); }
    // Connections taken so far.
    int connections() const { return connections_; }
    // Ends every connection and joins the threads (also done when the
    // object goes).
    void stop();

    // Fields of an SMB2 header (the message as the hooks see it, without
    // its frame); 0 when the message is too short or not SMB2.
    static bool isSmb2(const Bytes& m);
    static uint16_t command(const Bytes& m);
    static uint32_t status(const Bytes& m);
    static uint64_t messageId(const Bytes& m);
    static uint16_t creditCharge(const Bytes& m);
    static uint16_t credits(const Bytes& m);
    static void setCredits(Bytes& m, uint16_t credits);
    static void setMessageId(Bytes& m, uint64_t id);

private:
    void acceptLoop();
    void pump(int client, int server);

    std::string host_;
    int upstreamPort_ = 0;
    LoopbackListener listener_{8};
    std::mutex mutex_;
    Hook onRequest_, onReply_;
    std::vector<std::thread> threads_;  // guarded by mutex_
    std::thread acceptor_;
    std::atomic<int> connections_{0};
    std::atomic<bool> stopped_{false};
};

}  // namespace test
