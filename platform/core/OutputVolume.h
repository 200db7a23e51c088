#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace sys {

// The audio output volume (0 to 1) that hardware volume buttons change. The
// desktop has no such buttons: the shell maps keys to presses, and tests
// inject presses the same way. A press moves the volume by one step of 1/16.
// Observers hear every change, the program's own included, on the thread
// that made it (the main thread in practice).
class OutputVolume {
public:
    using Observer = std::function<void(float newVolume)>;
    using Token = uint64_t;
    static constexpr float kStep = 1.0f / 16.0f;

    virtual ~OutputVolume() = default;

    // The process's output volume; a plain in-process one unless the shell
    // installed another.
    static std::shared_ptr<OutputVolume> shared();
    static void setShared(std::shared_ptr<OutputVolume> volume);

    // Makes the volume usable (the audio session); false when it cannot be.
    virtual bool activate();
    virtual float volume() const;
    // Sets the volume (clamped to 0..1) and tells the observers when it changed.
    virtual void setVolume(float volume);
    // A button press: up raises by one step, down lowers by one.
    virtual void pressVolumeButton(bool up);

    Token addObserver(Observer observer);
    void removeObserver(Token token);

    // Test switch: activate() fails while set.
    void setUnavailable(bool unavailable);

protected:
    void notify(float volume);

private:
    mutable std::mutex mutex_;
    float volume_ = 0.5f;
    bool unavailable_ = false;
    std::map<Token, Observer> observers_;
    Token next_ = 1;
};

}  // namespace sys
