// The reading session's pairs: which pages stand side by side, learnt from
// the pages' sizes (as composed, or as the reader tells them).
#include "engine/BookReaderEx.h"

#include "engine/ImageLoader.h"

#include "foundation/Settings.h"
#include "foundation/SettingsValues.h"

#include <cmath>

namespace {

// Pages higher than this many times their width are never paired.
constexpr double kMaxPairedPageAspect = 4.0;

// No more pages are measured at a time than this, nor by decoding past
// this page: in a book of many thousand pages, pages far from the start
// keep the pairs of the page numbers.
constexpr int kMostMeasured = 4096;

}  // namespace

BookReaderEx::Shape BookReaderEx::shapeOf(gfx::Size picture) {
    if (!(picture.width > 0 && picture.height > 0 && std::isfinite(picture.width) && std::isfinite(picture.height)))
        return Shape::Unknown;
    // A page far taller than wide (a scrolling strip) beside another would
    // be a sliver beside a speck: such a page stands alone too.
    return picture.width > picture.height || picture.height > kMaxPairedPageAspect * picture.width ? Shape::Alone
                                                                                                 : Shape::Pairable;
}

BookReaderEx::Shape BookReaderEx::measuredShape(PageReader& reader, int page, bool decode, bool* never) {
    if (never) *never = false;
    const Shape shape = shapeOf(decode ? reader.decodedPictureSize(page) : reader.pictureSize(page));
    if (shape != Shape::Unknown || reader.isMeasuredByDecoding(page) || !reader.isPageAtHand(page)) return shape;
    // Its first bytes said nothing: the whole of them are looked at (not
    // decoded). A page that holds no picture a loader can show is shown
    // alone, as its placeholder, whichever way it is reached: so it stands
    // alone in the pairs.
    ImageLoader::ScopedMeasureOnly measure;
    int result = PageReader::kResultFailed;
    reader.newLoadAndCreateImage(page, result);
    if (result == PageReader::kResultPending) return shapeOf(reader.getPendingImageSize());
    if (!measure.looked()) return Shape::Unknown;  // not read now (a password, a failed read)
    if (const Shape whole = shapeOf(measure.size()); whole != Shape::Unknown) return whole;
    // A picture whose header the loaders do not read (AVIF) says nothing
    // but by being decoded, which measuring does not do.
    if (measure.format() == gfx::ImageFormat::Avif) {
        if (never) *never = true;
        return Shape::Unknown;
    }
    return Shape::Alone;
}

void BookReaderEx::noteShape(int page, gfx::Size picture) {
    const Shape shape = shapeOf(picture);
    std::lock_guard lock(shapeMutex_);
    if (shape != Shape::Unknown && page >= 0 && size_t(page) < shapes_.size()) shapes_[size_t(page)] = shape;
}

void BookReaderEx::noteUnshowable(PageReader& reader, int page, int readerResult) {
    // A page at hand that the loaders cannot show stands alone, as its
    // placeholder does, from now on (one whose header looked sound too).
    if (readerResult != PageReader::kResultFailed || !reader.isPageAtHand(page)) return;
    std::lock_guard lock(shapeMutex_);
    if (page >= 0 && size_t(page) < shapes_.size()) shapes_[size_t(page)] = Shape::Alone;
}

std::optional<std::pair<int, int>> BookReaderEx::spreadAt(const std::vector<Shape>& shapes, int page,
                                                          bool firstAlone) {
    const int n = int(shapes.size());
    if (page < 0 || page >= n) return std::nullopt;
    int i = 0;
    if (firstAlone) {
        if (page == 0) return std::pair{0, 0};
        i = 1;
    }
    // Each step takes the view starting at i; `page` is never before it.
    while (true) {
        const Shape here = shapes[size_t(i)];
        if (here == Shape::Unknown) return std::nullopt;
        const Shape next = i + 1 < n ? shapes[size_t(i) + 1] : Shape::Alone;
        if (here == Shape::Pairable && next == Shape::Unknown) return std::nullopt;
        const int last = here == Shape::Pairable && next == Shape::Pairable ? i + 1 : i;
        if (page <= last) return std::pair{i, last};
        i = last + 1;
    }
}

void BookReaderEx::measureShapes(PageReader& reader, int upTo, bool decode) {
    std::vector<Shape> shapes;
    {
        std::lock_guard lock(shapeMutex_);
        // A page whose header said nothing says nothing on the next turn
        // either: it is not read again until composing it tells its shape.
        if (unmeasurable_ >= 0 && unmeasurable_ <= upTo && size_t(unmeasurable_) < shapes_.size() &&
            shapes_[size_t(unmeasurable_)] == Shape::Unknown)
            return;
        shapes = shapes_;
    }
    upTo = std::min(upTo, int(shapes.size()) - 1);
    int failed = -1;
    int measured = 0;
    bool learnt = false;
    bool never = false;
    for (int i = 0; i <= upTo; ++i) {
        if (shapes[size_t(i)] != Shape::Unknown) continue;
        if (++measured > kMostMeasured) break;
        const Shape shape = measuredShape(reader, i, decode, &never);
        // A page the reader does not have at hand: the pages after it could
        // not be paired by their sizes anyway.
        if (shape == Shape::Unknown) {
            failed = i;
            break;
        }
        shapes[size_t(i)] = shape;
        learnt = true;
    }
    // A page that decoding will tell is asked again later; so is one that
    // came to hand meanwhile (a solid block's page written out since it was
    // asked), or that only a password opens.
    const bool later =
        failed >= 0 && (reader.isMeasuredByDecoding(failed) || (reader.isPageAtHand(failed) && !never));
    std::lock_guard lock(shapeMutex_);
    if (shapes.size() != shapes_.size()) return;  // another book opened meanwhile
    if (failed >= 0 && !later) unmeasurable_ = failed;
    if (!learnt) return;
    for (size_t i = 0; i < shapes.size() && i < shapes_.size(); ++i)
        if (shapes_[i] == Shape::Unknown) shapes_[i] = shapes[i];
}

std::optional<std::pair<int, int>> BookReaderEx::measuredSpreadAt(PageReader& reader, int page, bool firstAlone) {
    // Decoding the pages before it is the cost of placing the page right
    // (in a solid block they were decoded for the page itself).
    measureShapes(reader, page + 1, true);
    std::lock_guard lock(shapeMutex_);
    return spreadAt(shapes_, page, firstAlone);
}

void BookReaderEx::measureByDecoding() {
    auto rd = reader();
    if (!rd) return;
    for (int page = 0; !stopMeasuring_.load(); ++page) {
        {
            std::lock_guard lock(shapeMutex_);
            while (size_t(page) < shapes_.size() && shapes_[size_t(page)] != Shape::Unknown) ++page;
            // A page whose header said nothing is not read again here.
            if (size_t(page) >= shapes_.size() || page >= kMostMeasured || page == unmeasurable_) return;
        }
        Shape shape;
        {
            // One page at a time: a page load waits for one page at most.
            std::lock_guard lock(readerMutex_);
            if (stopMeasuring_.load()) return;
            // Its header first; decoding only where that alone tells.
            shape = measuredShape(*rd, page, true, nullptr);
        }
        // Not now (another block is being written for the screen), or
        // never: the next preload goes on.
        if (shape == Shape::Unknown) return;
        std::lock_guard lock(shapeMutex_);
        if (size_t(page) < shapes_.size()) shapes_[size_t(page)] = shape;
    }
}

std::optional<int32_t> BookReaderEx::spreadStart(int32_t page) const {
    auto s = settings();
    auto values = s ? s->snapshot() : nullptr;
    std::lock_guard lock(shapeMutex_);
    auto spread = spreadAt(shapes_, page, values && values->isSingleViewFirstPage_Local);
    if (!spread) return std::nullopt;
    return spread->first;
}
