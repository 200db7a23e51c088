#pragma once

#include "platform/graphics/Image.h"

#include <functional>
#include <memory>

namespace ui {

// Taking a picture for a scanned book. The desktop has no camera: the
// process's camera (shared()) is absent and gives no picture; tests install
// a FakeCamera.
class Camera {
public:
    using Completion = std::function<void(gfx::ImageRef picture)>;

    virtual ~Camera() = default;
    static std::shared_ptr<Camera> shared();
    static void setShared(std::shared_ptr<Camera> c);

    virtual bool isAvailable() const { return false; }
    // Null when there is no camera or the user cancelled; on a later turn
    // of the main loop.
    virtual void takePicture(Completion completion);
};

}  // namespace ui
