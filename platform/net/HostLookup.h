#pragma once

#include <atomic>
#include <string>
#include <sys/socket.h>
#include <vector>

namespace net {

// Addresses of a host name for a TCP connection, found without holding up a
// cancel. The system's look-up cannot be interrupted and may take as long as
// the name servers make it, so a name runs on a thread of its own that is
// allowed to finish in its own time: the caller waits for it, or for its
// cancel flag, and on a cancel returns at once while the answer, when it
// comes, is dropped. Numeric addresses are answered on the caller's thread.
class HostLookup {
public:
    struct Address {
        int family = 0, socketType = 0, protocol = 0;
        sockaddr_storage address{};
        socklen_t length = 0;
    };
    enum class Status { Found, NotFound, Cancelled };

    // The addresses of `host` at `port`, in the order the system gives them.
    static Status resolve(const std::string& host, int port, const std::atomic<bool>& cancelled,
                          std::vector<Address>* out);
};

}  // namespace net
