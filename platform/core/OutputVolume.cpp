#include "platform/core/OutputVolume.h"

#include <algorithm>
#include <vector>

namespace sys {

namespace {
std::mutex gSharedMutex;
std::shared_ptr<OutputVolume> gShared;
}  // namespace

std::shared_ptr<OutputVolume> OutputVolume::shared() {
    std::lock_guard<std::mutex> lock(gSharedMutex);
    if (!gShared) gShared = std::make_shared<OutputVolume>();
    return gShared;
}

void OutputVolume::setShared(std::shared_ptr<OutputVolume> volume) {
    std::lock_guard<std::mutex> lock(gSharedMutex);
    gShared = std::move(volume);
}

bool OutputVolume::activate() {
    std::lock_guard<std::mutex> lock(mutex_);
    return !unavailable_;
}

float OutputVolume::volume() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return volume_;
}

void OutputVolume::setVolume(float v) {
    v = std::clamp(v, 0.0f, 1.0f);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (v == volume_) return;
        volume_ = v;
    }
    notify(v);
}

void OutputVolume::pressVolumeButton(bool up) { setVolume(volume() + (up ? kStep : -kStep)); }

OutputVolume::Token OutputVolume::addObserver(Observer observer) {
    std::lock_guard<std::mutex> lock(mutex_);
    Token t = next_++;
    observers_[t] = std::move(observer);
    return t;
}

void OutputVolume::removeObserver(Token token) {
    std::lock_guard<std::mutex> lock(mutex_);
    observers_.erase(token);
}

void OutputVolume::setUnavailable(bool unavailable) {
    std::lock_guard<std::mutex> lock(mutex_);
    unavailable_ = unavailable;
}

void OutputVolume::notify(float v) {
    std::vector<Observer> copy;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& [t, o] : observers_) copy.push_back(o);
    }
    for (auto& o : copy) o(v);
}

}  // namespace sys
