#include "remote/listing/ListingWatch.h"

#include "platform/core/Clock.h"
#include "platform/core/RunLoop.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>

namespace {

constexpr auto kLookEvery = std::chrono::milliseconds(100);

std::string seconds(double s) {
    const double r = std::round(s * 10) / 10;
    std::string t = std::to_string(r);
    t.erase(t.find_last_not_of('0') + 1);
    if (!t.empty() && t.back() == '.') t.pop_back();
    // A number and its unit stay on one line.
    return t + "\u00a0s";
}

}  // namespace

struct ListingWatch::Shared {
    std::mutex m;
    std::condition_variable cv;
    bool stop = false;  // guarded by m
    // Touched on the main thread only: the watch is gone, its call not
    // wanted any more.
    bool gone = false;
    Expired expired;
};

ListingWatch::ListingWatch(const Limits& limits, double startedAt, std::shared_ptr<net::ReceiveMeter> meter,
                           Expired expired)
    : shared_(std::make_shared<Shared>()) {
    shared_->expired = std::move(expired);
    thread_ = sys::Thread(
        [shared = shared_, limits, startedAt, meter = std::move(meter)](const std::atomic<bool>&) {
            // Waiting on the real clock: advancing virtual time need not wait for it.
            sys::Clock::IdleScope idle;
            // What had arrived when, over the last lowSpeedTime seconds.
            std::deque<std::pair<double, uint64_t>> samples{{startedAt, 0}};
            const bool pace = meter && limits.lowSpeedTime > 0 && limits.lowSpeedBytes > 0;
            std::unique_lock<std::mutex> lock(shared->m);
            while (!shared->stop) {
                const double now = sys::Clock::realNow();
                std::optional<Reason> reason;
                if (now - startedAt >= limits.deadline) {
                    reason = Reason::Deadline;
                } else if (pace) {
                    const uint64_t got = meter->total();
                    samples.emplace_back(now, got);
                    while (samples.size() > 1 && now - samples[1].first >= limits.lowSpeedTime) samples.pop_front();
                    const auto& [since, then] = samples.front();
                    if (now - since >= limits.lowSpeedTime &&
                        double(got - then) < double(limits.lowSpeedBytes) * limits.lowSpeedTime) {
                        reason = Reason::TooSlow;
                    }
                }
                if (reason) {
                    sys::RunLoop::main().post([shared, r = *reason] {
                        if (!shared->gone && shared->expired) shared->expired(r);
                    });
                    return;
                }
                shared->cv.wait_for(lock, kLookEvery);
            }
        },
        "listing-watch");
}

ListingWatch::~ListingWatch() {
    shared_->gone = true;
    {
        std::lock_guard<std::mutex> lock(shared_->m);
        shared_->stop = true;
    }
    shared_->cv.notify_all();
    thread_.join();
}

std::string ListingWatch::describe(Reason reason, const Limits& limits) {
    if (reason == Reason::Deadline) return "gave up after " + seconds(limits.deadline);
    return "under " + std::to_string(limits.lowSpeedBytes) + "\u00a0bytes a second for " + seconds(limits.lowSpeedTime);
}
