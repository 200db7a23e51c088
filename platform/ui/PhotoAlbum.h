#pragma once

#include "platform/graphics/Image.h"

#include <functional>
#include <memory>
#include <string>

namespace ui {

// Where "Save to Camera Roll" puts a page: the process's album (shared())
// writes JPEG files into the Pictures folder of the application's home.
// The completion runs on a later turn of the main loop with the outcome.
class PhotoAlbum {
public:
    using Completion = std::function<void(bool ok, const std::string& error)>;

    virtual ~PhotoAlbum() = default;
    static std::shared_ptr<PhotoAlbum> shared();
    static void setShared(std::shared_ptr<PhotoAlbum> album);

    virtual void saveImage(const gfx::ImageRef& image, Completion completion) = 0;
};

}  // namespace ui
