#pragma once

#include "tests/support/net/LoopbackListener.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <thread>
#include <vector>

// A fake server on 127.0.0.1 for the protocol clients' fuzz targets: it
// answers one connection with the replies a fuzz input holds, so that the
// clients' own reply parsing runs unchanged behind their sockets.
//
// The input is a sequence of replies, each [flags][length, 16-bit LE][bytes].
// Before a reply the peer reads the client's next request (a 4-byte framed
// message), unless kUnsolicited is set or the client sends nothing for a
// moment (it may be waiting for more than one reply). Replies go out framed
// with the 4-byte session header unless kRaw is set. With kPatchId the
// request's message id (and for SMB1 its command) is copied into the reply,
// so that a reply stays an answer whatever the client numbered its request.
// After the last reply the connection is closed: the client sees the end at
// once and never waits out its own time-outs. An HTTP client that comes back
// on a new connection after that finds it closed at once, and one that says
// nothing for a moment while a reply is left is taken to be still reading
// the last one, which the next reply then continues.
//
// Text protocols read requests by their own ends instead of a 4-byte frame,
// and their replies always go out raw: an FTP command is a line; an HTTP
// request ends with an empty line, and a client that opens a new connection
// (after a "Connection: close", or one it gave up on) is answered there.
class ScriptedPeer {
public:
    enum class Ids { Smb1, Smb2, Ftp, Http };
    static constexpr uint8_t kPatchId = 0x01;
    static constexpr uint8_t kUnsolicited = 0x02;
    static constexpr uint8_t kRaw = 0x04;
    // For the reply filter: sign the reply, or seal it (SMB2/3).
    static constexpr uint8_t kSign = 0x08;
    static constexpr uint8_t kSeal = 0x10;

    // A target may see each request before the peer reads its ids (to
    // decrypt it), and each reply after its ids are patched in and before
    // it is framed (to sign or seal it as its flags say).
    using RequestFilter = std::function<std::vector<uint8_t>(std::vector<uint8_t> request)>;
    using ReplyFilter = std::function<std::vector<uint8_t>(std::vector<uint8_t> reply, uint8_t flags)>;
    void setFilters(RequestFilter request, ReplyFilter reply) {
        requestFilter_ = std::move(request);
        replyFilter_ = std::move(reply);
    }

    // One listening socket per process.
    static ScriptedPeer& shared();
    int port() const { return listener_.port(); }

    // Answers the next connection with `script` on a thread of its own.
    void play(std::span<const uint8_t> script, Ids ids);
    // Waits until that conversation is over. With `hangUp` the peer stops
    // waiting for requests first: the client is done.
    void finish(bool hangUp = false);

private:
    ScriptedPeer();
    void converse(std::span<const uint8_t> script, Ids ids);

    // Reads the client's next request on a text protocol; false at its end.
    bool readTextRequest(int fd, Ids ids);
    // The connection the next request comes on (Http: maybe a new one);
    // -1 when none comes, and kQuiet when the client has said nothing on
    // `fd` for quietMs (shorter than the wait for a connection).
    int nextConnection(int fd, Ids ids, int quietMs);
    // After an HTTP script: closes each new connection at once until the
    // conversation is finished.
    void refuseLateComers();

    RequestFilter requestFilter_;
    ReplyFilter replyFilter_;
    // Woken by finish(true): that ends the peer's waits.
    test::LoopbackListener listener_{4};
    std::thread thread_;
};
