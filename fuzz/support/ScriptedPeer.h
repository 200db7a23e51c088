#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <thread>

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
// once and never waits out its own time-outs.
class ScriptedPeer {
public:
    enum class Ids { Smb1, Smb2 };
    static constexpr uint8_t kPatchId = 0x01;
    static constexpr uint8_t kUnsolicited = 0x02;
    static constexpr uint8_t kRaw = 0x04;

    // One listening socket per process.
    static ScriptedPeer& shared();
    int port() const { return port_; }

    // Answers the next connection with `script` on a thread of its own.
    void play(std::span<const uint8_t> script, Ids ids);
    // Waits until that conversation is over.
    void finish();

private:
    ScriptedPeer();
    void converse(std::span<const uint8_t> script, Ids ids);

    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
};
