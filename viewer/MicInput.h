#pragma once

#include "viewer/MicInputDelegate.h"

#include <functional>
#include <memory>

// A microphone level monitor that turns sounds into page-turn events. The
// reading screen owns one while sound page turning is on and may lend it to
// the microphone settings screen. The working monitor is installed with
// setMaker(); without one, make() gives nothing.
class MicInput {
public:
    using Maker = std::function<std::shared_ptr<MicInput>()>;

    virtual ~MicInput() = default;

    // Extended: levels computed from the samples themselves.
    virtual void startInput(bool extended) = 0;
    virtual void stopInput() = 0;
    virtual bool isActive() const = 0;
    virtual bool extendMode() const = 0;
    // 0 levels only, 1 single, 2 double, 3 long sounds.
    virtual void setMode(int mode) = 0;
    virtual int mode() const = 0;
    // Decibels of full scale.
    virtual void setThreshold(double threshold) = 0;
    virtual double threshold() const = 0;

    std::shared_ptr<MicInputDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<MicInputDelegate> d) { delegate_ = std::move(d); }

    static void setMaker(Maker maker);
    static std::shared_ptr<MicInput> make();

protected:
    std::weak_ptr<MicInputDelegate> delegate_;
};
