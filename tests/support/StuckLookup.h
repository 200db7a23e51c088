#pragma once

#include "platform/net/HostLookup.h"

#include <arpa/inet.h>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <string>

namespace test {

// A name look-up that hangs, as one does when the name servers stay silent:
// while this object lives, every name (numeric addresses aside) waits until
// release() or the object goes away, then resolves to 127.0.0.1 at `port`.
// A watchdog ends the wait after `watchdogSeconds` of real time, so that code
// that wrongly waits for the look-up makes its test fail instead of hang.
class StuckLookup {
public:
    explicit StuckLookup(double watchdogSeconds = 10) : state_(std::make_shared<State>()) {
        auto state = state_;
        net::HostLookup::setResolver([state, watchdogSeconds](const std::string&, int port,
                                                              std::vector<net::HostLookup::Address>* out) {
            std::unique_lock lock(state->m);
            ++state->entered;
            state->changed.notify_all();
            state->changed.wait_for(lock, std::chrono::duration<double>(watchdogSeconds),
                                    [&] { return state->released; });
            ++state->left;
            state->changed.notify_all();
            lock.unlock();
            net::HostLookup::Address a;
            auto* in = reinterpret_cast<sockaddr_in*>(&a.address);
            in->sin_family = AF_INET;
            in->sin_port = htons(uint16_t(port));
            in->sin_addr.s_addr = htonl(0x7F000001);
            a.family = AF_INET;
            a.socketType = SOCK_STREAM;
            a.length = sizeof(sockaddr_in);
            out->push_back(a);
            return true;
        });
    }
    ~StuckLookup() {
        release();
        net::HostLookup::setResolver({});
        // The look-ups still hanging end now; wait for them, so none outlives the test.
        std::unique_lock lock(state_->m);
        state_->changed.wait_for(lock, std::chrono::seconds(10), [&] { return state_->left == state_->entered; });
    }
    StuckLookup(const StuckLookup&) = delete;
    StuckLookup& operator=(const StuckLookup&) = delete;

    // Waits (up to 10 s) until a look-up has begun; true when one has.
    bool waitEntered(int count = 1) {
        std::unique_lock lock(state_->m);
        return state_->changed.wait_for(lock, std::chrono::seconds(10), [&] { return state_->entered >= count; });
    }
    // Look-ups begun so far.
    int entered() {
        std::lock_guard lock(state_->m);
        return state_->entered;
    }
    // Look-ups that have returned.
    int finished() {
        std::lock_guard lock(state_->m);
        return state_->left;
    }
    void release() {
        std::lock_guard lock(state_->m);
        state_->released = true;
        state_->changed.notify_all();
    }

private:
    struct State {
        std::mutex m;
        std::condition_variable changed;
        int entered = 0, left = 0;
        bool released = false;
    };
    std::shared_ptr<State> state_;
};

}  // namespace test
