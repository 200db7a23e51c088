#pragma once

#include "tests/support/net/LoopbackListener.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace test {

// A scripted SMB 2.1 server on 127.0.0.1 for what a real one will not do on
// cue: it takes one connection, logs a guest on without signing, connects
// any share and opens any file, and hands every other request (or any it is
// told to) to the test's handler, which answers as it likes: an interim
// "pending" reply, an answer much later, or silence. Handlers run on the
// server's thread, one request at a time.
class FakeSmb2Server {
public:
    using Bytes = std::vector<uint8_t>;
    struct Request {
        uint16_t command = 0;
        uint64_t messageId = 0;
        Bytes message;  // header and body
    };
    using Handler = std::function<void(const Request&, FakeSmb2Server&)>;

    enum Command : uint16_t { kNegotiate = 0, kSessionSetup = 1, kTreeConnect = 3, kCreate = 5, kClose = 6, kRead = 8,
                              kEcho = 0x0D };
    static constexpr uint32_t kStatusPending = 0x00000103;

    FakeSmb2Server();
    ~FakeSmb2Server();
    FakeSmb2Server(const FakeSmb2Server&) = delete;
    FakeSmb2Server& operator=(const FakeSmb2Server&) = delete;

    // Before the client connects. Reads, echoes and anything without a
    // handler of its own get no answer unless a handler gives one.
    void on(uint16_t command, Handler handler);

    // A reply to `to`: status, body, and for an asynchronous one its id.
    void reply(const Request& to, uint32_t status, const Bytes& body, uint64_t asyncId = 0);
    // The interim reply that says `to` is pending (asynchronous id 1).
    void replyPending(const Request& to) { reply(to, kStatusPending, errorBody(), 1); }
    // Answers `r` as the server does without a handler (a handler that
    // changes only some of the replies passes the others on).
    void answerAsUsual(const Request& r) { answerDefault(r); }
    // From now on: requests that come sealed are opened by `unseal` (one
    // that does not open is dropped), and every reply is sealed by `seal`.
    // The test holds the keys (it works them out from the log-on); called
    // from a handler.
    using Seal = std::function<Bytes(const Bytes&)>;
    using Unseal = std::function<std::optional<Bytes>(const Bytes&)>;
    void sealWith(Seal seal, Unseal unseal);
    // The tree id a TREE_CONNECT is answered with (7 unless set).
    void setTreeId(uint32_t id) { treeId_ = id; }
    // Bytes as they are, unframed (a server that does not speak SMB).
    void sendRaw(const Bytes& bytes);
    // A read's answer carrying `data`.
    static Bytes readBody(const Bytes& data);
    static Bytes errorBody() { return {9, 0, 0, 0, 0, 0, 0, 0, 0}; }
    static Bytes echoBody() { return {4, 0, 0, 0}; }

    int port() const { return listener_.port(); }
    // "127.0.0.1:PORT"
    std::string server() const { return "127.0.0.1:" + std::to_string(port()); }
    // Requests of each command received so far.
    int count(uint16_t command) const;
    // Hangs up and joins the thread (also done when the object goes).
    void stop();

private:
    void serve();
    void answerDefault(const Request& r);

    LoopbackListener listener_{4};
    std::thread thread_;
    int fd_ = -1;
    mutable std::mutex mutex_;
    std::map<uint16_t, Handler> handlers_;
    std::map<uint16_t, int> counts_;
    std::atomic<bool> stopped_{false};
    std::atomic<uint32_t> treeId_{7};
    Seal seal_;  // used on the server's thread only, once set
    Unseal unseal_;
};

}  // namespace test
