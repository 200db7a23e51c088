#pragma once

#include "platform/core/Thread.h"
#include "platform/ui/AudioInput.h"

#include <atomic>
#include <memory>
#include <string>

namespace ui {

// Capture from the default ALSA device on an owned thread that reads one
// buffer at a time and posts it to the main loop. Without a device start()
// answers false.
class AlsaAudioInput : public AudioInput {
public:
    explicit AlsaAudioInput(std::string device = "default");
    ~AlsaAudioInput() override;

    bool start(const Format& format, BufferHandler onBuffer) override;
    void stop() override;
    bool isRunning() const override { return running_; }
    const std::string& lastError() const { return error_; }

private:
    std::string device_;
    std::string error_;
    bool running_ = false;
    sys::Thread thread_;
    // Buffers posted by a capture that has since stopped are dropped.
    std::shared_ptr<std::atomic<uint64_t>> generation_ = std::make_shared<std::atomic<uint64_t>>(0);
};

}  // namespace ui
