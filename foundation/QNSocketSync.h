#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

// A blocking TCP client for protocol code that runs on its own worker thread
// (the FTP client). Every wait is bounded: connecting gives up after
// connectTimeout seconds and a receive that sees no byte for idleTimeout
// seconds fails, so a silent server never hangs its caller. cancel() may be
// called from any other thread: it shuts the socket down, which wakes a
// blocked connect, send or receive at once; the owning thread then closes it.
// A cancel is for good: a cancelled socket connects no more (a new
// connection takes a new object), and a name look-up under way is left to
// finish on its own.
class QNSocketSync {
public:
    QNSocketSync();
    ~QNSocketSync();
    QNSocketSync(const QNSocketSync&) = delete;
    QNSocketSync& operator=(const QNSocketSync&) = delete;

    void setConnectTimeout(double seconds) { connectTimeout_ = seconds; }
    void setIdleTimeout(double seconds) { idleTimeout_ = seconds; }

    // A host name or numeric address; true when connected.
    bool connect(const std::string& host, int port);
    bool sendString(const std::string& text);
    bool sendByte(const void* data, size_t length);
    // Reads up to LF and drops a CR before it; a line longer than maxLength
    // bytes is cut there (the rest of it is read and dropped). Returns the
    // length of the line, or -1 when the connection ended or failed before a
    // LF arrived.
    int recvLine(std::string* line, size_t maxLength);
    // One receive of at most `length` bytes: the count, 0 when the peer
    // closed, -1 on an error, a time-out or a cancel.
    long recvDataOnce(void* buffer, size_t length);
    // Receives until `length` bytes arrived or the connection ended; the count.
    long recvData(void* buffer, size_t length);
    // Closes the socket (owning thread).
    void disconnect();
    // Shuts the socket down from any thread; the owner's calls then fail.
    void cancel();
    bool active() const { return fd_.load() >= 0 && !cancelled_.load(); }
    // Caps the connected socket's receive buffer, and with it how much the
    // peer can have on its way at once (a transfer broken off early wastes
    // no more than that); the system sizes it otherwise.
    void setReceiveBufferSize(int bytes);

    // The numeric address of the connected peer ("" when not connected).
    const std::string& peerAddress() const { return peerAddress_; }

private:
    // Waits until the socket is readable; false on time-out or cancel.
    bool waitReadable();

    std::atomic<int> fd_{-1};
    std::atomic<bool> cancelled_{false};
    std::mutex fdMutex_;
    std::string peerAddress_;
    double connectTimeout_ = 30;
    double idleTimeout_ = 60;
    // When the peer last sent something or took what was sent (realNow()
    // seconds): the start of its silence, for the virtual clock.
    double heardAt_ = 0;
    // Bytes received but not yet handed out.
    std::string pending_;
    size_t pendingPos_ = 0;
};
