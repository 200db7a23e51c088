#include "platform/ui/PhotoAlbum.h"

#include "platform/ui/FolderPhotoAlbum.h"

#include <mutex>

namespace ui {

namespace {

std::mutex& sharedMutex() {
    static std::mutex m;
    return m;
}
std::shared_ptr<PhotoAlbum>& sharedAlbum() {
    static std::shared_ptr<PhotoAlbum> a;
    return a;
}

}  // namespace

std::shared_ptr<PhotoAlbum> PhotoAlbum::shared() {
    std::lock_guard<std::mutex> lock(sharedMutex());
    if (!sharedAlbum()) sharedAlbum() = std::make_shared<FolderPhotoAlbum>();
    return sharedAlbum();
}

void PhotoAlbum::setShared(std::shared_ptr<PhotoAlbum> album) {
    std::lock_guard<std::mutex> lock(sharedMutex());
    sharedAlbum() = std::move(album);
}

}  // namespace ui
