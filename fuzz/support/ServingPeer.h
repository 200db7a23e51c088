#pragma once

#include "tests/support/net/LoopbackListener.h"

#include <functional>
#include <thread>

// A peer on 127.0.0.1 that answers connection after connection on a thread
// of its own, one round per input: start() serves until stop(). Each
// connection gets `answer`; then what the client still sends is read away
// until it closes or goes quiet, and the connection is closed.
class ServingPeer {
public:
    using Answer = std::function<void(int fd)>;

    // `acceptMs` bounds the wait for the next connection, `quietMs` the wait
    // for a client that keeps its connection after the answer.
    ServingPeer(const char* name, int backlog, int acceptMs, int quietMs);
    ServingPeer(const ServingPeer&) = delete;
    ServingPeer& operator=(const ServingPeer&) = delete;

    int port() const { return listener_.port(); }
    // Readable once stop() was called: an answer that waits on the client
    // polls it too.
    int wakeFd() const { return listener_.wakeFd(); }

    void start(Answer answer);
    void stop();

private:
    void serve();

    test::LoopbackListener listener_;
    const int acceptMs_;
    const int quietMs_;
    Answer answer_;
    std::thread thread_;
};
