#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "foundation/QNNetworkInfo.h"
#include "platform/core/Thread.h"
#include "remote/protocols/QNNbnsDelegate.h"

// NetBIOS name service (RFC 1002, broadcast node): turns a computer name into
// an IPv4 address by broadcasting a name query on every IPv4 interface, with
// a process-wide cache of answers, and can answer other machines' queries for
// this device's own name.
//
// One object serves one resolution at a time and, independently, one
// responder. Blocking waits wake on cancel() and on the object going away.
class QNNbns {
public:
    static constexpr size_t kEncodedNameLength = 34;
    using EncodedName = std::array<uint8_t, kEncodedNameLength>;

    QNNbns();
    ~QNNbns();
    QNNbns(const QNNbns&) = delete;
    QNNbns& operator=(const QNNbns&) = delete;

    // True for a host that can only be a NetBIOS name: at most 15 characters,
    // no ".", and neither "localhost" nor an address literal.
    static bool isNetBiosName(const std::string& host);

    // Creates an empty shared cache (replacing any) whose entries live
    // `seconds`; without one nothing is cached.
    static void initCacheWithTime(int64_t seconds);
    static void releaseCacheWithTime();

    // The address as stored in memory in network byte order (first number in
    // the lowest byte); 0 unless the text has exactly four numbers.
    static uint32_t getIPv4Value(const std::string& dotted);

    // First-level encoding: length byte 32, up to 15 name bytes padded with
    // spaces, the suffix, each byte as two letters 'A' + nibble, and the final
    // zero. The name's case is kept. Returns the encoded length.
    static size_t encodeName(const std::string& name, uint8_t suffix, uint8_t out[kEncodedNameLength]);

    void setTimeout(int64_t seconds) { timeout_ = seconds; }
    int64_t timeout() const { return timeout_; }
    void setDelegate(QNNbnsDelegate* delegate);
    QNNbnsDelegate* delegate() const;

    // Dotted IPv4 text, or nothing; blocks for up to the time-out (0: until
    // cancelled). A dotted address comes back unchanged.
    std::optional<std::string> getIPAddressWithNETBIOSName(const std::string& name);
    // Resolves on a worker and tells the delegate on the main thread, unless
    // cancelled first.
    void getIPAddressWithNETBIOSNameAsync(const std::string& name);
    // Stops a resolution under way and waits until it has ended; a result not
    // yet delivered is dropped. Safe on the main thread.
    void cancel();

    // Answers queries for `ownName` (callers pass it upper-cased) on the
    // name service port. False when the port cannot be bound.
    bool startNameResolveServer(const std::string& ownName);
    void stopnameResolveServer();

    // The interfaces to use, in place of the system's (made on first use).
    void setNetworkInfo(std::shared_ptr<const QNNetworkInfo> info);
    // The name service port queries go to and the responder listens on (137).
    void setServicePort(uint16_t port) { servicePort_ = port; }

    // The 50-byte query for an upper-cased name.
    static std::vector<uint8_t> queryPacket(const std::string& upperName);
    // The addresses of a positive answer to the query for `encoded`, in
    // answer order; empty for anything else.
    static std::vector<std::string> answerAddresses(const uint8_t* packet, size_t length, const EncodedName& encoded);
    // The first answer in the subnet of a usable interface, else the first.
    static std::optional<std::string> chooseAddress(const std::vector<std::string>& answers,
                                                    const QNNetworkInfo& info);

private:
    struct Delivery;

    std::optional<std::string> resolve(const std::string& name);
    std::optional<std::vector<std::string>> sendPacket(const std::string& upperName, double deadline);
    std::shared_ptr<const QNNetworkInfo> networkInfo();
    void serve(int fd, int wakeFd);

    std::atomic<int64_t> timeout_{5};
    std::atomic<uint16_t> servicePort_{137};

    mutable std::mutex mutex_;  // guards the fields below and closes sockets
    std::shared_ptr<const QNNetworkInfo> networkInfo_;
    std::shared_ptr<Delivery> delivery_;  // the delegate and the cancel mark of async results
    int socket_ = -1;
    int serverSocket_ = -1;
    int wakeFd_ = -1;        // eventfd: cancel() wakes the resolution's waits
    int serverWakeFd_ = -1;  // eventfd: stopping wakes the responder
    std::atomic<bool> isCancel_{false};
    int running_ = 0;  // synchronous resolutions under way
    std::condition_variable idle_;
    EncodedName myName_{};

    sys::Thread resolveThread_;
    sys::Thread serverThread_;
};
