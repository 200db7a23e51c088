// The reading screen at either end of a book (the button that goes on to
// the next or previous book of the list) and the book's cover.
#include "viewer/BookViewController.h"
#include "viewer/BookViewControllerInternal.h"

#include "engine/BookReaderEx.h"
#include "engine/ImageCommon.h"
#include "foundation/BookCommon.h"
#include "platform/core/FileManager.h"
#include "platform/graphics/JpegEncoder.h"

#include <algorithm>
#include <cmath>

using namespace bookviewer;

namespace {

constexpr double kNextButtonTime = 2.0;

BookViewController::JacketTrimScreenFactory& jacketTrimScreenFactory() {
    static BookViewController::JacketTrimScreenFactory f;
    return f;
}

}  // namespace

// ---- Next and previous book ------------------------------------------------------------------------

void BookViewController::displayNextBookButton(bool next) {
    if (!delegate_ || goingCloseBook_) return;
    std::optional<std::string> folder = bookReader_ ? bookReader_->getTargetFolder() : std::nullopt;
    if (delegate_->getNextBookIndex(fileName_, folder, next) < 0) return;
    if (buttonNextBook_) buttonNextBook_->removeFromSuperview();
    auto button = std::make_shared<ui::Button>(ui::ButtonType::Custom);
    std::weak_ptr<const void> owner = weak_from_this();
    button->addAction(
        ui::ControlEventTouchUpInside, [this, next](ui::Control&) { next ? goNextBook() : goPrevBook(); }, owner);
    buttonNextBookIsPrevious_ = !next;
    // The button stands on the side the user turns pages towards.
    const bool leftSide =
        (!next) == ((settings_->pageDirection_Local() != 0) != settings_->isSwapTapLeftRight_Local());
    auto image = ui::Image::named(leftSide ? "nextbook" : "prevbook");
    button->setImage(image);
    button->setTitle("");
    button->setTitleColor(ui::Color::black());
    button->setAlpha(0);
    button->sizeToFit();
    // Inside the page area: beside a page bar standing at that side.
    const ui::EdgeInsets safe = view()->safeAreaInsets();
    const ui::Rect area = getScreenRect();
    const double half = image ? image->size().width / 2 : button->frame().width() / 2;
    const double x = leftSide ? std::max(safe.left, area.x()) + half
                              : std::min(view()->bounds().width() - safe.right, area.maxX()) - half;
    button->setCenter({x, view()->bounds().height() / 2});
    view()->addSubview(button);
    buttonNextBook_ = button;
    ui::View::animate(0.3, [button] { button->setAlpha(0.6); });
    ++buttonNextShowCount_;
    after(kNextButtonTime, [this] { hideNextButton(); });
}

void BookViewController::hideNextButton() {
    const int64_t pending = buttonNextShowCount_--;
    if (pending >= 2) return;  // a newer button keeps its own timer
    buttonNextShowCount_ = 0;
    auto button = std::move(buttonNextBook_);
    if (!button) return;
    ui::View::animate(
        0.3, [button] { button->setAlpha(0); }, [button](bool) { button->removeFromSuperview(); });
}

// ---- Covers ------------------------------------------------------------------------------------------

void BookViewController::createJacketIfNoJacket(const gfx::ImageRef& image, ui::Point offset) {
    if (jacketCreated_ || !image || isStreamingMode_) return;
    if (sys::FileManager::fileExists(BookCommon::getThumbsFilename(fileName_, false))) return;
    const double w = image->width() / image->scale() - 2 * offset.x;
    const double h = image->height() / image->scale() - 2 * offset.y;
    if (!(w > 0 && h > 0)) return;
    gfx::ImageRef cover = ImageCommon::newClipedImage(image, ui::Rect(offset.x, offset.y, w, h));
    if (updateJacket(cover)) jacketCreated_ = true;
}

bool BookViewController::updateJacket(const gfx::ImageRef& image) {
    if (!image) return false;
    const double scale = BookCommon::getScreenScale();
    const ui::Size box = isPad() ? ui::Size{104 * scale, 134 * scale} : ui::Size{74 * scale, 96 * scale};
    gfx::ImageRef scaled = ImageCommon::newScaledImageKeepAspect(image, box, nullptr, true);
    if (!scaled) return false;
    const std::vector<uint8_t> jpeg = gfx::JpegEncoder::encode(*scaled, scale == 1.0 ? 0.8 : 0.5);
    if (jpeg.empty()) return false;
    const std::string path = BookCommon::getThumbsFilename(fileName_, true);
    if (path.empty()) return false;
    if (!sys::FileManager::writeFile(
            path, std::string_view(reinterpret_cast<const char*>(jpeg.data()), jpeg.size()), true))
        return false;
    recreateThumbs();
    return true;
}

void BookViewController::setJacketTrimScreenFactory(JacketTrimScreenFactory factory) {
    jacketTrimScreenFactory() = std::move(factory);
}

void BookViewController::onSetJacketBtn() {
    if (disableAllBtn_) return;
    closeSubMenu();
    // The page as it is shown, without the margin a small page was centred in.
    gfx::ImageRef shown;
    if (imageViewDisplay_ && imageViewDisplay_->image()) shown = imageViewDisplay_->image()->bitmap();
    if (!shown && imageView_ && imageView_->image()) shown = imageView_->image()->bitmap();
    const ui::Point offset = displayBookPage_ ? displayBookPage_->offset : ui::Point{};
    if (shown && (offset.x != 0 || offset.y != 0)) {
        const double s = BookCommon::getScreenScale();
        const double w = shown->width() / shown->scale() - 2 * offset.x * s;
        const double h = shown->height() / shown->scale() - 2 * offset.y * s;
        shown = w > 0 && h > 0 ? ImageCommon::newClipedImage(shown, ui::Rect(offset.x * s, offset.y * s, w, h))
                               : nullptr;
    }
    auto& factory = jacketTrimScreenFactory();
    if (factory && shown) {
        auto screen = factory(ui::Image::withBitmap(shown),
                              std::dynamic_pointer_cast<JacketTrimControllerDelegate>(shared_from_this()));
        if (screen) {
            removePageJump(1);
            isNowPresentJacketTrimViewController_ = true;
            BookCommon::setShortcutMenu(2, fileName_);
            BookCommon::lbCommonPresentViewController(*this, screen, true);
            BookCommon::setRotationTempLock(true);
            return;
        }
    }
    // No crop screen: the page as shown becomes the cover.
    const bool ok = updateJacket(shown);
    if (ok) jacketCreated_ = true;
    removePageJump(1);
    displayMessage(tr(ok ? "Set Page as Cover Image." : "Error Creating Cover Image."), true);
}

void BookViewController::cancelTrimJacket() { BookCommon::setRotationTempLock(false); }

void BookViewController::endTrimJacket(const ui::Rect& rect, const std::shared_ptr<const ui::Image>& image) {
    BookCommon::setRotationTempLock(false);
    BookCommon::getThumbsFilename(fileName_, true);
    gfx::ImageRef cover = image ? image->bitmap() : nullptr;
    if (cover) {
        const double w = cover->width() / cover->scale();
        const double h = cover->height() / cover->scale();
        const bool whole = rect.x() == 0 && rect.y() == 0 && rect.width() == w && rect.height() == h;
        // A rectangle outside the image or empty gives no cover rather than a wrong one.
        const bool inside = rect.x() >= 0 && rect.y() >= 0 && rect.width() > 0 && rect.height() > 0 &&
                            rect.x() + rect.width() <= w + 0.5 && rect.y() + rect.height() <= h + 0.5;
        if (!whole) cover = inside ? ImageCommon::newClipedImage(cover, rect) : nullptr;
    }
    const bool ok = updateJacket(cover);
    if (ok) jacketCreated_ = true;
    displayMessage(tr(ok ? "Set Page as Cover Image." : "Error Creating Cover Image."), true);
}
