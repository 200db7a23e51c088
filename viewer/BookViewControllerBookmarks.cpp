// Bookmarks: adding one for the page on screen (with a small picture of it),
// the list screen and the jump to a chosen bookmark.
#include "engine/BookReaderEx.h"
#include "engine/ImageCommon.h"
#include "platform/core/DeviceProfile.h"
#include "platform/core/FileManager.h"
#include "platform/graphics/JpegEncoder.h"
#include "platform/ui/NavigationController.h"
#include "viewer/BookMarkIndex.h"
#include "viewer/BookViewControllerInternal.h"

#include <algorithm>

using namespace bookviewer;

void BookViewController::onAddBookmarkBtn() {
    if (!bookReader_) return;
    const auto name = bookReader_->getPageFilename(page_);
    if (!name || name->empty()) return;
    BookCommon::getBookSettingDir(fileName_, true);
    const std::string indexFile = BookCommon::getBookMarkIndexFile(fileName_, true);
    const auto id = BookMarkIndex::add(indexFile, *name);
    if (!id) {
        // Not silently: a bookmark that was not kept says so.
        displayMessage(tr("Could not add the bookmark."), false);
        return;
    }
    ui::ImageRef shown;
    if (imageViewDisplay_ && imageViewDisplay_->image()) shown = imageViewDisplay_->image();
    else if (imageView_) shown = imageView_->image();
    if (shown) {
        if (auto bitmap = shown->bitmap(1.0); bitmap && bitmap->width() > 0 && bitmap->height() > 0) {
            const double f = std::min(72.0 / bitmap->width(), 72.0 / bitmap->height());
            const gfx::Size size{std::max(1.0, std::floor(bitmap->width() * f)),
                                 std::max(1.0, std::floor(bitmap->height() * f))};
            if (auto thumb = ImageCommon::newScaledImage(bitmap, size)) {
                const auto jpeg = gfx::JpegEncoder::encode(*thumb, 0.9);
                if (!jpeg.empty())
                    sys::FileManager::writeFile(BookCommon::getBookSettingDir(fileName_, true) + "/" +
                                                    BookMarkIndex::thumbnailName(*id),
                                                std::string_view(reinterpret_cast<const char*>(jpeg.data()), jpeg.size()));
            }
        }
    }
    canAddBookmark_ = false;
    if (bvToolbar_) bvToolbar_->setItems(arrayBookViewToolbarButtonItems(false, bool(pagePreView_)), true);
}

bool BookViewController::canAddBookmark(int32_t page) const {
    const std::string indexFile = BookCommon::getBookMarkIndexFile(fileName_, false);
    if (indexFile.empty()) return false;
    if (!bookReader_) return true;
    for (const auto& item : BookMarkIndex::read(indexFile))
        if (bookReader_->getPageNoFromFilename(item.pageName) == page) return false;
    return true;
}

void BookViewController::onOpenBookmarkBtn() {
    auto list = std::make_shared<BookMarkViewController>();
    list->setFileName_(fileName_);
    list->setBookReader_(bookReader_);
    list->setDelegate(this);
    list->setIsCurlCiew_(false);
    bookMarkViewController_ = list;
    openBookmarkView_ = true;
    BookCommon::setShortcutMenu(2, fileName_);
    // A desktop has no finger to pull a sheet away, and its other screens
    // come with a title bar: the list comes under one, with "Done" in it.
    if (sys::DeviceProfile::current().name == "desktop") {
        list->setShowsTitleBar(true);
        BookCommon::lbCommonPresentViewController(*this, std::make_shared<ui::NavigationController>(list), true);
        return;
    }
    BookCommon::lbCommonPresentViewController(*this, list, true);
}

void BookViewController::selectBookmark(int32_t page) {
    bookMarkViewController_.reset();
    removePageJump(0);
    bookmarkToMovePage_ = page;
    bookmarkTimer_ = after(0.1, [this] { movePage(4, bookmarkToMovePage_, page_); });
}

void BookViewController::cancelBookmarkOpen() {
    bookMarkViewController_.reset();
    removePageJump(0);
}
