#pragma once

#include "platform/ui/Camera.h"

#include <deque>

namespace ui {

// A camera for tests: it hands out the pictures it was given, in order.
class FakeCamera : public Camera {
public:
    bool available = true;
    std::deque<gfx::ImageRef> pictures;
    int shots = 0;
    bool isAvailable() const override { return available; }
    void takePicture(Completion completion) override;
};

}  // namespace ui
