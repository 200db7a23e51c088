#pragma once

#include "platform/core/RunLoop.h"
#include "platform/graphics/pdf/PdfPage.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace test {

// Watches every PDF page draw while it lives: how many started (and how
// many of those on the main thread), ended, and were abandoned on the way.
// While held, a draw that starts on a worker waits (a minute at most) until
// released, as a page would whose one path takes long to draw.
class PdfDrawWatch {
public:
    PdfDrawWatch() {
        gfx::PdfPage::setDrawObserver([this](bool ended, bool abandoned) {
            std::unique_lock lock(m_);
            if (!ended) {
                ++started_;
                if (sys::RunLoop::isMainThread()) {
                    ++onMainThread_;
                } else {
                    cv_.notify_all();
                    cv_.wait_for(lock, std::chrono::minutes(1), [&] { return !held_; });
                }
            } else {
                ++ended_;
                if (abandoned) ++abandoned_;
            }
            cv_.notify_all();
        });
    }
    ~PdfDrawWatch() {
        release();
        gfx::PdfPage::setDrawObserver({});
    }

    void hold() {
        std::lock_guard lock(m_);
        held_ = true;
    }
    void release() {
        std::lock_guard lock(m_);
        held_ = false;
        cv_.notify_all();
    }
    PdfDrawWatch(const PdfDrawWatch&) = delete;
    PdfDrawWatch& operator=(const PdfDrawWatch&) = delete;

    // Waits (in real time, a minute at most unless told) until `n` draws
    // have started, or ended; false when they did not.
    bool waitForStarts(int n, double seconds = 60) {
        return waitFor([&] { return started_ >= n; }, seconds);
    }
    bool waitForEnds(int n) { return waitFor([&] { return ended_ >= n; }); }

    int started() const { return get(started_); }
    int onMainThread() const { return get(onMainThread_); }
    int ended() const { return get(ended_); }
    int abandoned() const { return get(abandoned_); }

private:
    template <class Pred>
    bool waitFor(Pred done, double seconds = 60) {
        std::unique_lock lock(m_);
        return cv_.wait_for(lock, std::chrono::duration<double>(seconds), done);
    }
    int get(const int& v) const {
        std::lock_guard lock(m_);
        return v;
    }

    mutable std::mutex m_;
    std::condition_variable cv_;
    int started_ = 0, onMainThread_ = 0, ended_ = 0, abandoned_ = 0;
    bool held_ = false;
};

}  // namespace test
