#pragma once

#include "platform/ui/PhotoAlbum.h"

#include <string>

namespace ui {

// The album as a folder: IMG_0001.jpg, IMG_0002.jpg… never overwriting a
// file, each written whole or not at all.
class FolderPhotoAlbum : public PhotoAlbum {
public:
    // An empty folder means <home>/Pictures.
    explicit FolderPhotoAlbum(std::string folder = "");
    const std::string& folder() const { return folder_; }
    void saveImage(const gfx::ImageRef& image, Completion completion) override;
    // The path of the last picture written ("" before any).
    const std::string& lastSaved() const { return last_; }

    static constexpr double kQuality = 0.92;

private:
    std::string folder_;
    std::string last_;
};

}  // namespace ui
