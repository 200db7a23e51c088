// The page jump sheet: its layout, the page slider and its texts, the
// thumbnail strip behind the slider, closing the sheet, and the large page
// preview the seek bar shows while it is dragged.
#include "viewer/BookViewController.h"
#include "viewer/BookViewControllerInternal.h"

#include "engine/BookReaderEx.h"
#include "foundation/BookCommon.h"
#include "foundation/OptimizeFilename.h"
#include "foundation/QNTextEncoding.h"
#include "foundation/QNUrl.h"
#include "platform/core/FileManager.h"
#include "platform/graphics/AffineTransform.h"
#include "platform/graphics/ImageDecoder.h"
#include "platform/ui/NavigationController.h"
#include "viewer/StreamBlockMapOverlay.h"

#include <algorithm>
#include <cmath>
#include <numbers>

using namespace bookviewer;

namespace {

// Bytes as text: UTF-8 first, then the legacy encodings.
std::string decodeName(const std::string& bytes) {
    const std::string z(bytes.c_str());  // up to the first NUL
    if (auto utf8 = QNTextEncoding::stringWithCString(z.c_str(), "UTF-8")) return *utf8;
    if (auto other = QNTextEncoding::stringWithCString(z.c_str())) return *other;
    return {};
}

std::string replaceFirst(std::string text, const std::string& what, const std::string& with) {
    const size_t at = text.find(what);
    if (at != std::string::npos) text.replace(at, what.size(), with);
    return text;
}

// A page cache image larger than this is not shown.
constexpr uint64_t kMaxPreviewBytes = 16u << 20;

}  // namespace

// ---- Layout ----------------------------------------------------------------------------------------

void BookViewController::reconfigJumpSheet() {
    if (!isOpenBar_ || !viewSliderBG_) return;
    const ui::Rect screen = BookCommon::getScreenRectNew();
    const double W = screen.width();
    const ui::EdgeInsets safe = view()->safeAreaInsets();
    const double Hfull = screen.height();
    const double H = Hfull - safe.bottom;
    const double L = isLandscape_ ? safe.left : 0;
    const double S = isLandscape_ ? safe.left + safe.right : 0;
    const double bar = BookCommon::getStatusbarHeight();
    const double T = BookCommon::isDeviceType_Notch() ? 0 : bar;
    sizeBvToolbar();
    const double B = bvToolbar_ ? bvToolbar_->frame().height() : 44;
    const double I = isPad() ? (W - std::min(600.0, W - 60)) / 2 : 30;
    const bool pageButtons = isLandscape_ && settings_->isDoubleTruck_Local();

    viewSliderBG_->setFrame(ui::Rect(screen.x(), screen.y(), W, H + safe.bottom + bar));

    const double sliderY = T + std::trunc(H - 25 - H / 10 - B);
    ui::Rect sliderFrame(L + 25, sliderY, W - 50 - S, 50);
    if (pageButtons) sliderFrame = ui::Rect(L + 77, sliderY, W - 50 - S - 104, 50);
    sliderPage_->setTransform(gfx::AffineTransform());
    sliderPage_->setFrame(sliderFrame);
    // Read right to left, the slider runs from right to left too.
    if (settings_->pageDirection_Local() == 0)
        sliderPage_->setTransform(gfx::AffineTransform::makeRotation(std::numbers::pi));

    // The block map runs along the top of the tool bar, as wide as the
    // safe area (in landscape the side insets come off its width, never
    // off its height, whatever the page layout).
    if (blockMapView_) {
        ui::View& map = *blockMapView_->view();
        double barTop = T + H - B;
        if (bvToolbar_) barTop = bvToolbar_->convertRectTo(bvToolbar_->bounds(), viewSliderBG_.get()).y();
        map.setTransform(gfx::AffineTransform());
        map.setFrame(ui::Rect(L, barTop - 5, W - S, 5));
        if (settings_->pageDirection_Local() == 0) map.setTransform(gfx::AffineTransform::makeRotation(std::numbers::pi));
    }

    labelFilename_->setFrame(ui::Rect(25, sliderY - 16, W - 50, 32));
    rectOfLabelPageJump_ = ui::Rect(25, sliderY - 50, W - 150, 32);
    labelPageJump_->setFrame(rectOfLabelPageJump_);
    if (btnSetJacket_) btnSetJacket_->setCenter({W / 2 + 70, sliderY - 34});

    const ui::Rect closeFrame(I + L, T + std::trunc(H / 6 - 32), W - 2 * I - S, 65);
    closeButton_->setFrame(closeFrame);
    double x = I + L;
    for (auto* b : {btnSlideShow_.get(), btnMicInput_.get(), btnDontSleep_.get()}) {
        ui::Rect f = b->frame();
        f.origin = {x, closeFrame.y() + 80};
        b->setFrame(f);
        x += 40;
    }

    const double y2 = T + std::trunc(H - 26 - H / 10 - B);
    pageLeftBtn_->setFrame(ui::Rect(L + 25, y2, 52, 52));
    pageRightBtn_->setFrame(ui::Rect(W - 52 - 25 + L - S, y2, 52, 52));
    pageLeftBtn_->setAlpha(pageButtons ? 1 : 0);
    pageRightBtn_->setAlpha(pageButtons ? 1 : 0);

    if (pagePreView_) {
        double h;
        if (isPad())
            h = BookCommon::isDeviceLargeiPad() ? 425 : 300;
        else
            h = std::trunc(210 * BookCommon::getRatioOf_iPhone5WithExclusionSize({0, 0}));
        const double top = closeFrame.maxY() + 6;
        const double labelTop = labelFilename_->frame().y();
        double y = top + (labelTop - top - h) / 2;
        if (y + h > labelTop + 20) y = labelTop + 20 - h;
        pagePreView_->setFrame(ui::Rect(0, y, W, h));
        pagePreView_->setSize();
        pagePreView_->setOffset();
    }
    configPosDetailMenuBtn();
}

// ---- The slider and its texts ----------------------------------------------------------------------

int32_t BookViewController::sliderPageNumber() const {
    if (!sliderPage_) return page_;
    int64_t n = int64_t(sliderPage_->value() + 0.5);
    const bool twoUp = displayBookPage_ && (displayBookPage_->is2PageLoaded ||
                                            (isLandscape_ && settings_ && settings_->isDoubleTruck_Local() &&
                                             !settings_->isNoAspectFill_Local()));
    if (twoUp) {
        // The slider stops where a view starts: a page of the view on the
        // screen names its first page, any other the first page of the pair
        // paging from the start shows it in. Where the session does not know
        // the sizes of the pages before it yet, the pairs follow the page
        // numbers: with the first page alone (1, 2), (3, 4)..., otherwise
        // in the phase of the pair on screen.
        const int64_t last = page_ + (displayBookPage_->is2PageLoaded ? 1 : 0);
        std::optional<int32_t> start;
        if (n >= page_ && n <= last) {
            start = page_;
        } else if (bookReader_) {
            start = bookReader_->spreadStart(int32_t(std::min<int64_t>(n, pageCount() - 1)));
        }
        if (start) {
            n = *start;
        } else if (displayBookPage_->is2PageLoaded) {
            if (settings_ && settings_->isSingleViewFirstPage_Local())
                n = n == 0 ? 0 : n - 1 + (n % 2);
            else
                n = n - (n % 2) + (page_ % 2);
        }
    }
    return int32_t(std::max<int64_t>(0, n));
}

void BookViewController::pageJumpDrawStatus() {
    if (!labelPageJump_) return;
    const int32_t count = pageCount();
    const int32_t n = std::min(sliderPageNumber(), std::max(0, count - 1));
    std::string marker;
    if (displayBookPage_ && (displayBookPage_->isSpreadPage || displayBookPage_->isDividedPage))
        marker = displayBookPage_->isSecondPage ? "(B)" : "(A)";
    std::string part = std::to_string(n + 1) + marker;
    if (subReadingPage_ != 0) part = (isSelectedSubReadingPage_ ? "🄱" : "🄰") + part;
    labelPageJump_->setText(replaceFirst(replaceFirst(tr("Page %@/%d"), "%@", part), "%d", std::to_string(count)));
    drawPageName(n);
}

void BookViewController::drawPageName(int32_t page) {
    if (!labelFilename_) return;
    std::string book = bookReader_ ? bookReader_->getBookName() : std::string();
    if (book.empty()) book = "Noname";
    if (isStreamingMode_) {
        const std::string bytes = QNUrl::getCStringWithEncodedUrl(book);
        if (auto text = QNTextEncoding::stringWithCString(bytes.c_str(), "UTF-8")) book = *text;
    }
    if (settings_->isOptimizeFilename()) book = OptimizeFilename::getOptimizedString(book);
    std::string name;
    if (bookReader_) {
        if (auto raw = bookReader_->getPageFilename(page)) {
            if (isStreamingMode_) {
                const size_t slash = raw->rfind('/');
                const std::string last = slash == std::string::npos ? *raw : raw->substr(slash + 1);
                name = decodeName(QNUrl::getCStringWithEncodedUrl(decodeName(last)));
            } else {
                name = decodeName(*raw);
            }
        }
    }
    labelFilename_->setText(name.empty() ? book : book + " - " + name);
}

void BookViewController::onSliderTouch() { showPagePreview(true); }

void BookViewController::onSliderValueChange() {
    const int32_t n = sliderPageNumber();
    if (pagePreView_) pagePreView_->setPage(n, pageCount());
    drawPageName(std::min(n, std::max(0, pageCount() - 1)));
}

void BookViewController::onPageSeekEnd() {
    if (pagePreView_) pagePreView_->scrollEnabled(true);
}

void BookViewController::pageJumpDo() {
    if (!isOpenBar_) return;
    const int32_t n = std::min(sliderPageNumber(), std::max(0, pageCount() - 1));
    removePageJump(1);
    if (n != page_) movePage(4, n, page_);
}

// ---- The thumbnail strip ---------------------------------------------------------------------------

void BookViewController::showPagePreview(bool show) {
    if (!viewSliderBG_) return;
    if (show) {
        if (pagePreView_) return;
        pagePreView_ = std::make_shared<BookPagePreView>(ui::Rect(0, 100, 100, 100), fileName_);
        pagePreView_->setPreviewDelegate(this);
        pagePreView_->setBackgroundColor(ui::Color::white(0, 0.5));
        pagePreView_->setPageDirectionRight(settings_->pageDirection_Local() != 0);
        pagePreView_->setAlpha(0);
        viewSliderBG_->addSubview(pagePreView_);
        auto strip = pagePreView_;
        auto jacket = btnSetJacket_;
        auto label = labelPageJump_;
        ui::View::animate(0.3, [strip, jacket, label] {
            strip->setAlpha(1);
            if (jacket) jacket->setAlpha(0);
            if (label) label->setAlpha(0);
        });
        reconfigJumpSheet();
        pagePreView_->setPage(sliderPageNumber(), pageCount());
    } else {
        if (!pagePreView_) return;
        auto strip = std::move(pagePreView_);
        strip->setPreviewDelegate(nullptr);
        auto jacket = btnSetJacket_;
        auto label = labelPageJump_;
        const double jacketAlpha = isStreamingMode_ ? 0 : 1;
        ui::View::animate(
            0.3,
            [strip, jacket, label, jacketAlpha] {
                strip->setAlpha(0);
                if (jacket) jacket->setAlpha(jacketAlpha);
                if (label) label->setAlpha(1);
            },
            [strip](bool) { strip->removeFromSuperview(); });
    }
    if (bvToolbar_) bvToolbar_->setItems(arrayBookViewToolbarButtonItems(canAddBookmark_, show), false);
}

void BookViewController::selectPage(int32_t page) {
    if (!isOpenBar_) return;
    const int32_t n = clampPage(page);
    removePageJump(1);
    if (n != page_) movePage(4, n, page_);
}

void BookViewController::previewPage(int32_t page) {
    if (bookReader_) previewPage_ = bookReader_->getGlobalPageNo(page);
    if (sliderPage_) sliderPage_->setValue(page, false);
    drawPageName(page);
}

std::optional<std::string> BookViewController::getNameFromPage(int32_t page) {
    if (!bookReader_) return std::nullopt;
    return bookReader_->getPageFilename(page);
}

// ---- Closing the sheet -----------------------------------------------------------------------------

void BookViewController::removePageJump(int mode) {
    if (isOpenBar_) {
        isOpenBar_ = false;
        invalidTap_ = true;
        std::vector<std::shared_ptr<ui::View>> fade = {viewSliderBG_};
        if (mode == 2) {
            for (std::shared_ptr<ui::View> v :
                 std::initializer_list<std::shared_ptr<ui::View>>{sliderPage_, labelPageJump_, labelFilename_,
                                                                  closeButton_, btnSlideShow_, btnMicInput_,
                                                                  btnDontSleep_, pageLeftBtn_, pageRightBtn_,
                                                                  btnSetJacket_, pagePreView_, viewMenuBtns_})
                if (v) fade.push_back(v);
            if (blockMapView_) fade.push_back(blockMapView_->view());
        }
        auto background = viewSliderBG_;
        auto toolbar = bvToolbar_;
        if (pagePreView_) pagePreView_->setPreviewDelegate(nullptr);
        ui::View::animate(0.25, [this, fade] {
            hideBvToolbar();
            for (auto& v : fade)
                if (v) v->setAlpha(0);
        });
        if (mode != 3) setNeedsStatusBarAppearanceUpdate();
        if (mode == 0) {
            invalidTap_ = false;
            if (background) background->removeFromSuperview();
            if (toolbar) toolbar->removeFromSuperview();
        } else {
            // Every other way out (a jump, a panel, the close button, the
            // settings screen) takes them away when the fade ends: a tool bar
            // left below the screen comes back into sight when the window
            // grows, still taking taps.
            if (background) closingSheetViews_.push_back(background);
            if (toolbar) closingSheetViews_.push_back(toolbar);
        }
        // Only the fade ends here: a page move that is still loading keeps
        // its own state and clears it when it lands.
        // The timer holds no view: a timer dropped with the run loop's lock
        // held must not be the one to end a view.
        after(0.25, [this, mode] {
            invalidTap_ = false;
            removeClosingSheetViews();
            if (mode == 2) closeBookWithByuser(true);
        });
        labelPageJump_.reset();
        pagePreView_.reset();
        previewPage_ = page_;
        rectOfLabelPageJump_ = ui::Rect();
        viewSliderBG_.reset();
        bvToolbar_.reset();
        sliderPage_.reset();
        labelFilename_.reset();
        closeButton_.reset();
        btnSlideShow_.reset();
        btnMicInput_.reset();
        btnDontSleep_.reset();
        btnSetJacket_.reset();
        pageLeftBtn_.reset();
        pageRightBtn_.reset();
    }
    linkDrawViews_.removeAll();
    viewMenuBtns_.reset();
    blockMapView_.reset();
}

void BookViewController::removeClosingSheetViews() {
    auto views = std::move(closingSheetViews_);
    closingSheetViews_.clear();
    for (auto& weak : views)
        if (auto v = weak.lock()) v->removeFromSuperview();
}

// ---- The seek bar's page preview -------------------------------------------------------------------

void BookViewController::bookToolViewPagePreview(int64_t page) {
    if (page == page_ || !viewDidAppear_ || noPreviewInRotationProcess_ || isAfterViewWillAppearBeforeDidAppear_)
        return;
    const int32_t count = pageCount();
    if (page < 0 || page >= count) return;
    if (!bookToolViewPreview_) {
        ui::Rect frame, imageFrame, labelFrame;
        double radius;
        if (isPad()) {
            frame = ui::Rect(0, 0, 500, 500);
            imageFrame = ui::Rect(10, 10, 470, 470);
            labelFrame = ui::Rect(200, 400, 100, 30);
            radius = 18;
        } else {
            const double r = BookCommon::getRatioOf_iPhone5WithExclusionSize({0, 0});
            frame = ui::Rect(0, 0, 300 * r, 300 * r);
            imageFrame = ui::Rect(10 * r, 10 * r, 280 * r, 280 * r);
            labelFrame = ui::Rect(100 * r, 240 * r, 100 * r, 30);
            radius = 10;
        }
        bookToolViewPreview_ = std::make_shared<ui::View>(frame);
        bookToolViewPreview_->setCornerRadius(4);
        bookToolViewPreview_->setShadowOpacity(0.8);
        bookToolViewPreview_->setShadowOffset({2, 2});
        bookToolViewPreview_->setBackgroundColor(ui::Color::white(0, 0.3));
        bookToolViewPreview_->setUserInteractionEnabled(false);
        bookToolViewPreviewImage_ = std::make_shared<ui::ImageView>(imageFrame);
        bookToolViewPreviewImage_->setContentMode(ui::ContentMode::ScaleAspectFit);
        bookToolViewPreview_->addSubview(bookToolViewPreviewImage_);
        labelPage_ = std::make_shared<ui::Label>(labelFrame);
        labelPage_->setCornerRadius(radius);
        labelPage_->setTextAlignment(ui::TextAlignment::Center);
        labelPage_->setTextColor(ui::Color::whiteColor());
        labelPage_->setBackgroundColor(ui::Color::white(0, 0.5));
        labelPage_->setFont(gfx::Font::system(BookCommon::isDeviceType5_5inch() ? 18 : 16));
        bookToolViewPreview_->addSubview(labelPage_);
        const ui::Rect area = getScreenRect();
        bookToolViewPreview_->setCenter({area.x() + area.width() / 2, area.y() + area.height() / 2});
        view()->addSubview(bookToolViewPreview_);
    }
    labelPage_->setText(std::to_string(page + 1) + "/" + std::to_string(count));
    ui::ImageRef image;
    if (bookReader_) {
        if (auto name = bookReader_->getPageFilename(int(page))) {
            const std::string path = BookCommon::getBookCacheDir(fileName_, false) + "/" +
                                     BookCommon::getFolderPathStringFromCString(name->c_str(), true) + ".jpg";
            auto size = sys::FileManager::fileSize(path);
            if (size && *size <= kMaxPreviewBytes)
                if (gfx::ImageRef bitmap = gfx::ImageDecoder::decodeFile(path))
                    image = ui::Image::withBitmap(std::move(bitmap));
        }
    }
    bookToolViewPreviewImage_->setImage(image);
}

void BookViewController::bookToolViewPagePreviewEnd() {
    if (!bookToolViewPreview_) return;
    auto preview = std::move(bookToolViewPreview_);
    bookToolViewPreviewImage_.reset();
    labelPage_.reset();
    ui::View::animate(
        0.3, [preview] { preview->setAlpha(0); }, [preview](bool) { preview->removeFromSuperview(); });
}
