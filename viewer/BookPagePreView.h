#pragma once

#include "platform/core/Thread.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/ScrollView.h"
#include "viewer/BookPageCellButton.h"
#include "viewer/BookPagePreViewDelegate.h"

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The strip of page thumbnails of the page jump sheet: a row with one cell
// per page of the book, of which only a handful of buttons exist, moved and
// refilled around the selected page. A thumbnail is the page cache's image
// of the page; until it exists the button shows a placeholder. Files are
// read on a worker thread; the images nearest the selected page are kept.
class BookPagePreView : public ui::ScrollView, public ui::ScrollViewDelegate {
public:
    static constexpr int kButtonSlots = 10;
    static constexpr int kMemoryCacheSize = 20;
    // A cached thumbnail larger than this is not read.
    static constexpr uint64_t kMaxThumbnailBytes = 16u << 20;

    // `file` is the book, which names its page-cache folder.
    BookPagePreView(const ui::Rect& frame, std::string file);
    ~BookPagePreView() override;

    void setPreviewDelegate(BookPagePreViewDelegate* d) { previewDelegate_ = d; }
    BookPagePreViewDelegate* previewDelegate() const { return previewDelegate_; }
    // Page 0 at the left end of the row when set, at the right end when clear.
    void setPageDirectionRight(bool right);
    // Selects `page` (limited to the book) of `numPages` and centres it.
    void setPage(int32_t page, int32_t numPages);
    void setOffset();
    // Lays the buttons out again after a change of frame.
    void setSize();
    // Switching scrolling off stops a strip still moving.
    void scrollEnabled(bool on);
    // The cache builder wrote this page's image.
    void cachedPage(int32_t page);
    int32_t getTargetPage() const { return selectPage_; }
    // Whether a page arrived from the cache builder since the last call.
    bool checkReload();

    // Each shown page's cell is opaque black: a picture narrower or flatter
    // than the cell stands letterboxed in it, and the page behind the strip
    // shows only between the cells.
    void draw(gfx::Canvas& canvas, const ui::Rect& rect) override;

    // ---- Geometry and state, for the sheet and for tests ---------------------------
    int numPageView() const { return numPageView_; }
    int centerPageOffset() const { return centerPageOffset_; }
    int32_t numPages() const { return numPages_; }
    // The page of the first button (negative for books shorter than the strip).
    int32_t firstPage() const;
    ui::Size cellSize() const { return {cw_, ch_}; }
    double gap() const { return g_; }
    // Horizontal centre of page q's cell in the row.
    double cellCenterX(int32_t q) const;
    ui::Button* pageButton(int i) const { return buttons_[size_t(i)].get(); }
    ui::Label* pageLabel(int i) const { return labels_[size_t(i)].get(); }
    // Pages whose image is held in memory (-1 for empty entries).
    std::vector<int32_t> memoryCachePages() const;
    // Cache files read so far.
    int64_t fileReads() const;
    // Whether the reader thread still has work.
    bool isLoading() const;

    void scrollViewDidScroll(ui::ScrollView& sv) override;
    // A drag that starts on a thumbnail scrolls the strip.
    bool touchesShouldCancelInContentView(ui::View*) override { return true; }

private:
    struct LoadItem {
        int32_t page = -1;
        std::string path;  // the page's cache file, empty for a page without a name
    };
    struct Loaded {
        int32_t page = -1;
        ui::ImageRef image;
    };

    void loadPage(int32_t page, bool fastLoadSelectPage);
    void setPageContents();
    void showOnButton(int index, int32_t page, const ui::ImageRef& image);
    void adjustButtonSize(ui::Button& button);
    void addChache(const ui::ImageRef& image, int32_t page);
    ui::ImageRef cachedImage(int32_t page) const;
    std::string cacheFileOf(int32_t page) const;
    void onPageBtn(int index);
    void startReader();
    void readerLoop(const std::atomic<bool>& stop);
    void imagesLoaded(const std::vector<Loaded>& loaded);
    int32_t clampPage(int64_t page) const;

    std::string file_;
    std::string cacheDir_;
    BookPagePreViewDelegate* previewDelegate_ = nullptr;
    bool pageToRight_ = false;
    int32_t numPages_ = 0;
    int32_t selectPage_ = 0;
    int numPageView_ = 5;
    int centerPageOffset_ = 2;
    double cw_ = 0, ch_ = 0, g_ = 0, k_ = 1;
    std::array<std::shared_ptr<BookPageCellButton>, kButtonSlots> buttons_;
    std::array<std::shared_ptr<ui::Label>, kButtonSlots> labels_;
    std::array<ui::ImageRef, kMemoryCacheSize> cacheImages_;
    std::array<int32_t, kMemoryCacheSize> cachePages_;
    ui::ImageRef placeholder_;
    bool isReload_ = false;
    bool centring_ = false;  // setOffset is moving the row

    // Shared with the reader thread.
    mutable std::mutex lock_;
    std::vector<LoadItem> loadList_;
    bool pending_ = false;       // the list changed since the reader took it
    bool readerActive_ = false;  // the reader thread has not decided to end
    int64_t fileReads_ = 0;
    sys::Thread reader_;
};
