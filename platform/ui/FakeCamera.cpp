#include "platform/ui/FakeCamera.h"

#include "platform/core/RunLoop.h"

namespace ui {

void FakeCamera::takePicture(Completion completion) {
    ++shots;
    gfx::ImageRef p;
    if (available && !pictures.empty()) {
        p = pictures.front();
        pictures.pop_front();
    }
    if (completion) sys::RunLoop::main().post([completion, p] { completion(p); });
}

}  // namespace ui
