#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "foundation/QNNetworkInfo.h"
#include "platform/core/Thread.h"
#include "remote/protocols/QNSsdpDelegate.h"

// SSDP discovery: one M-SEARCH multicast on the Wi-Fi interface, the unicast
// answers collected for 10.1 s, and each answering device's description
// fetched from its LOCATION and reported by its "friendlyName".
//
// A LOCATION is only followed when it is plain http on the answering
// device's own address, and a description is read up to 256 KiB without
// loading anything it refers to: an answer cannot send us elsewhere.
class QNSsdp {
public:
    using Answer = std::map<std::string, std::string>;

    static constexpr const char* kSearchRequest =
        "M-SEARCH * HTTP/1.1\r\nHost: 239.255.255.250:1900\r\nMan: \"ssdp:discover\"\r\n"
        "Content-Length: 0\r\nMX: 2\r\nST: ssdp:all\r\n\r\n";
    static constexpr uint16_t kLocalPort = 4099;
    static constexpr double kSearchSeconds = 10.1;
    static constexpr size_t kMaxDescriptionBytes = 256 * 1024;

    QNSsdp();
    ~QNSsdp();
    QNSsdp(const QNSsdp&) = delete;
    QNSsdp& operator=(const QNSsdp&) = delete;

    // False when a search is already running (stopSearch() first).
    bool startSearch();
    // Ends the search and waits for its threads; reports not yet delivered
    // are dropped. Safe on the main thread.
    void stopSearch();
    bool isRunning() const { return running_; }

    void setDelegate(QNSsdpDelegate* delegate);
    // The interfaces to use, in place of the system's (made on the first search).
    void setNetworkInfo(std::shared_ptr<const QNNetworkInfo> info);

    // One answer datagram as a dictionary: each "Name: value" line under the
    // upper-cased name, and "address" = the sender.
    static Answer parseAnswer(const char* data, size_t length, const std::string& senderAddress);
    // Whether a LOCATION may be fetched for an answer from `senderAddress`.
    static bool locationAllowed(const std::string& location, const std::string& senderAddress);
    // The first non-empty "friendlyName" of a description; nothing when
    // there is none or the document does not parse.
    static std::optional<std::string> friendlyName(const std::string& xml);

private:
    struct Delivery;

    void receive(uint32_t interfaceAddress);
    void describe(std::shared_ptr<Delivery> delivery);
    std::optional<std::string> fetch(const std::string& location);

    std::atomic<bool> running_{false};
    std::atomic<bool> exit_{false};
    std::atomic<bool> timedOut_{false};

    std::mutex mutex_;  // guards the fields below
    std::condition_variable changed_;
    std::deque<Answer> locationList_;
    std::shared_ptr<const QNNetworkInfo> networkInfo_;
    std::shared_ptr<Delivery> delivery_;
    int wakeFd_ = -1;  // eventfd: stopping wakes the receive loop

    sys::Thread receiveThread_;
    sys::Thread describeThread_;
};
