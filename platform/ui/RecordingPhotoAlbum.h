#pragma once

#include "platform/ui/PhotoAlbum.h"

#include <string>
#include <vector>

namespace ui {

// An album for tests: it keeps the images it is given and answers as told.
class RecordingPhotoAlbum : public PhotoAlbum {
public:
    std::vector<gfx::ImageRef> saved;
    bool fail = false;
    std::string failure = "The album is not available.";
    void saveImage(const gfx::ImageRef& image, Completion completion) override;
};

}  // namespace ui
