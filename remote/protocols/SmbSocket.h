#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

// The TCP side shared by our SMB clients: a connect that waits in slices so a
// cancel is seen while a peer stays silent (or a name look-up lasts), and whole-buffer sends and reads
// that give up at once after a cancel. The socket being tried is kept in the
// caller's slot under its lock, so the caller's cancel can shut it down.
class SmbSocket {
public:
    enum class Connect { Ok, Unresolved, Unreachable };
    enum class Wait { Ready, TimedOut, Failed };

    // On Ok the slot holds a blocking socket with TCP_NODELAY set.
    static Connect connect(const std::string& host, int port, int timeoutMs, const std::atomic<bool>& cancelled,
                           std::mutex& slotMutex, int& slot);
    static bool sendAll(int fd, const uint8_t* p, size_t n, const std::atomic<bool>& cancelled);
    static bool recvExact(int fd, uint8_t* p, size_t n, int timeoutMs, const std::atomic<bool>& cancelled);
    // Until bytes (or the end, or a cancel's shutdown) can be read, at most
    // `timeoutMs`.
    static Wait waitReadable(int fd, int timeoutMs, const std::atomic<bool>& cancelled);
};
