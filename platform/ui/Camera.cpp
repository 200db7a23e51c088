#include "platform/ui/Camera.h"

#include "platform/core/RunLoop.h"

#include <mutex>

namespace ui {

namespace {
std::mutex& sharedMutex() {
    static std::mutex m;
    return m;
}
std::shared_ptr<Camera>& sharedCamera() {
    static std::shared_ptr<Camera> c;
    return c;
}
}  // namespace

std::shared_ptr<Camera> Camera::shared() {
    std::lock_guard<std::mutex> lock(sharedMutex());
    if (!sharedCamera()) sharedCamera() = std::make_shared<Camera>();
    return sharedCamera();
}

void Camera::setShared(std::shared_ptr<Camera> c) {
    std::lock_guard<std::mutex> lock(sharedMutex());
    sharedCamera() = std::move(c);
}

void Camera::takePicture(Completion completion) {
    if (completion) sys::RunLoop::main().post([completion] { completion(nullptr); });
}

}  // namespace ui
