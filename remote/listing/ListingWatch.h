#pragma once

#include "platform/core/Thread.h"
#include "platform/net/ReceiveMeter.h"

#include <functional>
#include <memory>
#include <string>

// Gives up a listing in real time, as a listing promises to: once it has
// taken `deadline` seconds in all (from `startedAt`, a Clock::realNow()
// time: the log-on, the name look-up and the data connection count), or
// once its server has sent fewer than `lowSpeedBytes` a second for
// `lowSpeedTime` seconds on end (watched where a meter counts what the
// listing's worker receives). A thread of its own looks a few times a
// second; it holds no virtual time up.
class ListingWatch {
public:
    enum class Reason { Deadline, TooSlow };
    struct Limits {
        double deadline = 90;
        double lowSpeedTime = 20;
        long lowSpeedBytes = 100;
    };
    using Expired = std::function<void(Reason)>;

    // `expired` runs once, on the main thread, unless the watch is gone by
    // then. `meter` may be null: the deadline alone is watched.
    ListingWatch(const Limits& limits, double startedAt, std::shared_ptr<net::ReceiveMeter> meter, Expired expired);
    ~ListingWatch();
    ListingWatch(const ListingWatch&) = delete;
    ListingWatch& operator=(const ListingWatch&) = delete;

    // How the listing's message says why it was given up: "gave up after
    // 90 s", "under 100 bytes a second for 20 s" (a no-break space between
    // each number and its unit).
    static std::string describe(Reason reason, const Limits& limits);

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
    sys::Thread thread_;
};
