#pragma once

#include "engine/ImageLoader.h"
#include "platform/core/RunLoop.h"

#include <memory>
#include <mutex>

namespace test {

// Counts the decodes of pictures while it lives: how many started, and how
// many of those on the main thread. A decode still running when the watch
// goes counts into a tally nobody reads.
class PictureDecodeWatch {
public:
    PictureDecodeWatch() {
        ImageLoader::setDecodeObserver([counts = counts_](bool ended) {
            if (ended) return;
            std::lock_guard lock(counts->m);
            ++counts->started;
            if (sys::RunLoop::isMainThread()) ++counts->onMainThread;
        });
    }
    ~PictureDecodeWatch() { ImageLoader::setDecodeObserver({}); }
    PictureDecodeWatch(const PictureDecodeWatch&) = delete;
    PictureDecodeWatch& operator=(const PictureDecodeWatch&) = delete;

    int started() const {
        std::lock_guard lock(counts_->m);
        return counts_->started;
    }
    int onMainThread() const {
        std::lock_guard lock(counts_->m);
        return counts_->onMainThread;
    }

private:
    struct Counts {
        std::mutex m;
        int started = 0, onMainThread = 0;
    };
    std::shared_ptr<Counts> counts_ = std::make_shared<Counts>();
};

}  // namespace test
