#include "viewer/BookPagePreView.h"

#include "foundation/BookCommon.h"
#include "platform/core/FileManager.h"
#include "platform/core/RunLoop.h"
#include "platform/graphics/ImageDecoder.h"
#include "platform/ui/Image.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

bool isPad() { return BookCommon::getDeviceDisplayType() == 1; }

// A page cache file as an image; none when missing, too large or unreadable.
ui::ImageRef readThumbnail(const std::string& path) {
    auto size = sys::FileManager::fileSize(path);
    if (!size || *size > BookPagePreView::kMaxThumbnailBytes) return nullptr;
    gfx::ImageRef bitmap = gfx::ImageDecoder::decodeFile(path);
    return bitmap ? ui::Image::withBitmap(std::move(bitmap)) : nullptr;
}

}  // namespace

BookPagePreView::BookPagePreView(const ui::Rect& frame, std::string file)
    : ui::ScrollView(frame), file_(std::move(file)) {
    cacheDir_ = BookCommon::getBookCacheDir(file_, false);
    if (isPad()) {
        if (BookCommon::isDeviceLargeiPad()) {
            cw_ = 270;
            ch_ = 375;
        } else {
            cw_ = 180;
            ch_ = 250;
        }
        g_ = 10;
        k_ = 1;
    } else {
        const double r = BookCommon::getRatioOf_iPhone5WithExclusionSize({0, 0});
        cw_ = std::trunc(116 * r);
        ch_ = std::trunc(160 * r);
        g_ = std::trunc(10 * r);
        k_ = r;
    }
    if (isPad() || BookCommon::isDeviceType4inchOrBigger()) {
        numPageView_ = 7;
        centerPageOffset_ = 3;
    }
    placeholder_ = ui::Image::named(isPad() ? "page_loading_ipad" : "page_loading");
    cachePages_.fill(-1);
    for (int i = 0; i < kButtonSlots; ++i) {
        auto button = std::make_shared<BookPageCellButton>();
        button->setTag(-1);
        button->setHidden(true);
        button->addAction(ui::ControlEventTouchUpInside, [this, i](ui::Control&) { onPageBtn(i); });
        addSubview(button);
        buttons_[size_t(i)] = button;
        auto label = std::make_shared<ui::Label>(ui::Rect(0, 0, 100, 20));
        label->setBackgroundColor(ui::Color::clear());
        label->setTextAlignment(ui::TextAlignment::Center);
        label->setHidden(true);
        addSubview(label);
        labels_[size_t(i)] = label;
    }
    setShowsHorizontalScrollIndicator(false);
    setShowsVerticalScrollIndicator(false);
    setScrollEnabled(true);
    setUserInteractionEnabled(true);
    setDelegate(this);
}

BookPagePreView::~BookPagePreView() {
    setDelegate(nullptr);
    reader_.requestStop();
    if (reader_.joinable()) reader_.join();
}

void BookPagePreView::setPageDirectionRight(bool right) { pageToRight_ = right; }

int32_t BookPagePreView::clampPage(int64_t page) const {
    if (numPages_ <= 0) return 0;
    return int32_t(std::clamp<int64_t>(page, 0, numPages_ - 1));
}

int32_t BookPagePreView::firstPage() const {
    int32_t first = std::max(0, selectPage_ - centerPageOffset_);
    if (first + numPageView_ > numPages_) first = numPages_ - numPageView_;
    return first;
}

double BookPagePreView::cellCenterX(int32_t q) const {
    const double width = numPages_ * cw_ + (numPages_ + 1) * g_;
    const int32_t x = pageToRight_ ? numPages_ - 1 - q : q;
    return width - (cw_ + g_) * double(float(x) + 0.5f);
}

void BookPagePreView::setPage(int32_t page, int32_t numPages) {
    numPages_ = std::max(0, numPages);
    loadPage(clampPage(page), true);
    if (previewDelegate_) previewDelegate_->previewPage(selectPage_);
    setOffset();
}

void BookPagePreView::setOffset() {
    setPageContents();
    const double width = contentSize().width;
    const double viewWidth = bounds().width();
    double x = cellCenterX(selectPage_) - viewWidth * 0.5;
    x = std::max(0.0, std::min(x, width - viewWidth));
    // The first and last pages cannot stand in the middle: this move must
    // not choose the page that does instead.
    centring_ = true;
    setContentOffset({x, contentOffset().y}, false);
    centring_ = false;
}

void BookPagePreView::setSize() { setPageContents(); }

void BookPagePreView::scrollEnabled(bool on) {
    setScrollEnabled(on);
    if (!on && isDecelerating()) stopMotion();
}

bool BookPagePreView::checkReload() {
    const bool was = isReload_;
    isReload_ = false;
    return was;
}

std::string BookPagePreView::cacheFileOf(int32_t page) const {
    if (!previewDelegate_ || cacheDir_.empty()) return {};
    const std::optional<std::string> name = previewDelegate_->getNameFromPage(page);
    if (!name) return {};
    return cacheDir_ + "/" + BookCommon::getFolderPathStringFromCString(name->c_str(), true) + ".jpg";
}

ui::ImageRef BookPagePreView::cachedImage(int32_t page) const {
    for (int i = 0; i < kMemoryCacheSize; ++i)
        if (cachePages_[size_t(i)] == page) return cacheImages_[size_t(i)];
    return nullptr;
}

std::vector<int32_t> BookPagePreView::memoryCachePages() const {
    return std::vector<int32_t>(cachePages_.begin(), cachePages_.end());
}

void BookPagePreView::addChache(const ui::ImageRef& image, int32_t page) {
    if (!image || page < 0) return;
    int slot = -1;
    for (int i = 0; i < kMemoryCacheSize; ++i) {
        if (cachePages_[size_t(i)] == page) return;
        if (slot < 0 && cachePages_[size_t(i)] < 0) slot = i;
    }
    if (slot < 0) {
        // Full: the image farthest from the selected page goes (the first on ties).
        int32_t farthest = -1;
        for (int i = 0; i < kMemoryCacheSize; ++i) {
            const int32_t d = std::abs(cachePages_[size_t(i)] - selectPage_);
            if (d > farthest) {
                farthest = d;
                slot = i;
            }
        }
    }
    cachePages_[size_t(slot)] = page;
    cacheImages_[size_t(slot)] = image;
}

void BookPagePreView::showOnButton(int index, int32_t page, const ui::ImageRef& image) {
    ui::Button& button = *buttons_[size_t(index)];
    button.setBackgroundImage(image);
    button.setHidden(false);
    button.setTag(page);
    adjustButtonSize(button);
    ui::Label& label = *labels_[size_t(index)];
    label.setText(std::to_string(page + 1));
    label.setTextColor(page == selectPage_ ? ui::Color::whiteColor() : ui::Color::lightGray());
    label.setHidden(false);
}

void BookPagePreView::adjustButtonSize(ui::Button& button) {
    ui::Size size{cw_, ch_};
    const ui::ImageRef image = button.backgroundImage(ui::ControlStateNormal);
    if (image && image->size().width > 0 && image->size().height > 0) {
        const double f = std::min(cw_ / image->size().width, ch_ / image->size().height);
        size = {image->size().width * f, image->size().height * f};
    }
    const double cx = button.tag() >= 0 ? cellCenterX(button.tag()) : button.center().x;
    const double cellY = bounds().height() * 0.5 - 20 * k_;
    double cy = cellY;
    if (image && (int64_t(image->size().height) % 2) != 0) cy += 1;
    button.setFrame(ui::Rect(cx - size.width / 2, cy - size.height / 2, size.width, size.height));
    // The whole cell (drawn in draw) answers a tap.
    static_cast<BookPageCellButton&>(button).setCell(
        ui::Rect((size.width - cw_) / 2, (size.height - ch_) / 2 + cellY - cy, cw_, ch_));
}

void BookPagePreView::draw(gfx::Canvas& canvas, const ui::Rect& rect) {
    ui::ScrollView::draw(canvas, rect);
    const double cy = bounds().height() * 0.5 - 20 * k_;
    for (int i = 0; i < numPageView_; ++i) {
        const ui::Button& button = *buttons_[size_t(i)];
        if (button.isHidden() || button.tag() < 0) continue;
        const double cx = button.center().x;
        canvas.fillRect(ui::Rect(cx - cw_ / 2, cy - ch_ / 2, cw_, ch_), gfx::Rgba{0, 0, 0, 1});
    }
}

void BookPagePreView::loadPage(int32_t page, bool fastLoadSelectPage) {
    setContentSize({numPages_ * cw_ + (numPages_ + 1) * g_, bounds().height()});
    selectPage_ = page;
    const int32_t first = firstPage();

    int fastIndex = -1;
    if (fastLoadSelectPage && page - first >= 0 && page - first < numPageView_) {
        ui::ImageRef image = cachedImage(page);
        if (!image) {
            const std::string path = cacheFileOf(page);
            if (!path.empty() && sys::FileManager::fileExists(path)) {
                image = readThumbnail(path);
                std::lock_guard<std::mutex> g(lock_);
                ++fileReads_;
            }
        }
        if (image) {
            fastIndex = page - first;
            showOnButton(fastIndex, page, image);
            addChache(image, page);
        }
    }

    std::vector<LoadItem> list;
    for (int i = 0; i < numPageView_; ++i) {
        if (i == fastIndex) continue;
        const int32_t q = first + i;
        ui::Button& button = *buttons_[size_t(i)];
        ui::Label& label = *labels_[size_t(i)];
        if (q < 0 || q >= numPages_) {
            button.setBackgroundImage(nullptr);
            button.setHidden(true);
            button.setTag(-1);
            label.setHidden(true);
            continue;
        }
        ui::ImageRef image = cachedImage(q);
        if (!image) {
            image = placeholder_;
            list.push_back({q, cacheFileOf(q)});
        }
        showOnButton(i, q, image);
    }
    {
        std::lock_guard<std::mutex> g(lock_);
        loadList_ = std::move(list);
        pending_ = true;
    }
    startReader();
}

void BookPagePreView::setPageContents() {
    const int32_t first = firstPage();
    for (int i = 0; i < numPageView_; ++i) {
        ui::Button& button = *buttons_[size_t(i)];
        const int32_t q = first + i;
        if (q < 0 || q >= numPages_) continue;
        button.setTag(q);
        adjustButtonSize(button);
        labels_[size_t(i)]->setCenter({button.center().x, bounds().height() - 25 * k_});
    }
}

void BookPagePreView::scrollViewDidScroll(ui::ScrollView&) {
    if (numPages_ <= 0 || centring_) return;
    const double d = contentSize().width - contentOffset().x;
    const int64_t i = int64_t(d - bounds().width() * 0.5 - g_ * 0.5);
    const int64_t c = int64_t(cw_ + g_);
    const int64_t x = c == 0 ? 0 : i / c;
    // Pulled past either end the row still names a page of the book.
    const int32_t page = clampPage(pageToRight_ ? numPages_ - 1 - x : x);
    if (page == selectPage_) return;
    loadPage(page, false);
    setPageContents();
    if (previewDelegate_) previewDelegate_->previewPage(page);
}

void BookPagePreView::onPageBtn(int index) {
    const int32_t page = buttons_[size_t(index)]->tag();
    if (page < 0 || !previewDelegate_) return;
    previewDelegate_->selectPage(page);
}

void BookPagePreView::cachedPage(int32_t page) {
    isReload_ = true;
    {
        std::lock_guard<std::mutex> g(lock_);
        loadList_.clear();
    }
    for (int i = 0; i < numPageView_; ++i) {
        ui::Button& button = *buttons_[size_t(i)];
        if (button.tag() != page) continue;
        const std::string path = cacheFileOf(page);
        if (path.empty()) return;
        ui::ImageRef image = readThumbnail(path);
        {
            std::lock_guard<std::mutex> g(lock_);
            ++fileReads_;
        }
        if (!image) return;
        addChache(image, page);
        button.setBackgroundImage(image);
        adjustButtonSize(button);
        return;
    }
}

int64_t BookPagePreView::fileReads() const {
    std::lock_guard<std::mutex> g(lock_);
    return fileReads_;
}

bool BookPagePreView::isLoading() const {
    std::lock_guard<std::mutex> g(lock_);
    return readerActive_;
}

// ---- The reader thread --------------------------------------------------------------------------

void BookPagePreView::startReader() {
    {
        std::lock_guard<std::mutex> g(lock_);
        if (readerActive_ || loadList_.empty()) return;
        readerActive_ = true;
    }
    // The one before has decided to end: it only has to be joined.
    if (reader_.joinable()) reader_.join();
    reader_ = sys::Thread([this](const std::atomic<bool>& stop) { readerLoop(stop); }, "page-preview");
}

void BookPagePreView::readerLoop(const std::atomic<bool>& stop) {
    std::weak_ptr<ui::View> weak = weak_from_this();
    for (;;) {
        std::vector<LoadItem> list;
        {
            std::lock_guard<std::mutex> g(lock_);
            if (stop || !pending_) {
                readerActive_ = false;
                return;
            }
            pending_ = false;
            list = loadList_;
        }
        std::vector<Loaded> loaded;
        for (const LoadItem& item : list) {
            if (stop) break;
            Loaded one;
            one.page = item.path.empty() ? -1 : item.page;
            if (!item.path.empty() && sys::FileManager::fileExists(item.path)) {
                one.image = readThumbnail(item.path);
                std::lock_guard<std::mutex> g(lock_);
                ++fileReads_;
            }
            loaded.push_back(std::move(one));
        }
        if (stop) continue;
        // Posted without locking the strip here: letting go of the last
        // reference must never end it off the main thread.
        sys::LoopOwner owner;
        owner.ref = weak;
        owner.present = true;
        sys::RunLoop::main().post(
            [weak, loaded = std::move(loaded)] {
                if (auto strip = weak.lock()) static_cast<BookPagePreView*>(strip.get())->imagesLoaded(loaded);
            },
            owner);
    }
}

void BookPagePreView::imagesLoaded(const std::vector<Loaded>& loaded) {
    for (const Loaded& one : loaded) {
        if (!one.image || one.page < 0) continue;
        addChache(one.image, one.page);
        // Only a button still showing that page takes the image.
        for (int i = 0; i < numPageView_; ++i) {
            ui::Button& button = *buttons_[size_t(i)];
            if (button.tag() != one.page) continue;
            button.setBackgroundImage(one.image);
            button.setHidden(false);
            adjustButtonSize(button);
        }
    }
}
