#include "platform/ui/RecordingPhotoAlbum.h"

#include "platform/core/RunLoop.h"

namespace ui {

void RecordingPhotoAlbum::saveImage(const gfx::ImageRef& image, Completion completion) {
    bool ok = !fail && image;
    if (ok) saved.push_back(image);
    std::string error = ok ? "" : (image ? failure : "no image");
    if (completion) sys::RunLoop::main().post([completion, ok, error] { completion(ok, error); });
}

}  // namespace ui
