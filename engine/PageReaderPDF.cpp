#include "engine/PageReaderPDF.h"

#include "engine/BookReaderEx.h"
#include "engine/UrlListStream.h"
#include "foundation/ActiveLog.h"
#include "foundation/BookCommon.h"
#include "foundation/QNTextEncoding.h"
#include "foundation/Settings.h"
#include "platform/core/Clock.h"
#include "platform/core/Condition.h"
#include "platform/core/FileManager.h"
#include "platform/core/Unicode.h"
#include "platform/graphics/AffineTransform.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <numbers>
#include <utility>

namespace {

// A lying page count must not make us allocate names without end.
constexpr int kMaxPages = 1'000'000;

bool positive(gfx::Size s) {
    return s.width > 0 && s.height > 0 && std::isfinite(s.width) && std::isfinite(s.height);
}

bool hasArea(const gfx::Rect& r) { return r.width() > 0 && r.height() > 0; }

std::string pageName(int i) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%08d", i);
    std::string name(digits);
    name.resize(std::max<size_t>(16, name.size() + 1), '\0');
    return name;
}

// Draws given up that are still at work (a band of rows under way), by the
// file they draw.
struct AbandonedDraws {
    std::mutex m;
    sys::Condition ended;
    std::map<std::string, int> running;
};

AbandonedDraws& abandonedDraws() {
    static auto* a = new AbandonedDraws;  // reached by workers the program ends without
    return *a;
}

}  // namespace

PageReaderPDF::PageReaderPDF() = default;

PageReaderPDF::~PageReaderPDF() { dropFetcher(); }

std::shared_ptr<UrlListStream> PageReaderPDF::fetcher() const {
    std::lock_guard lock(fetchMutex_);
    return urlListStream_;
}

void PageReaderPDF::dropFetcher() {
    std::shared_ptr<UrlListStream> s;
    {
        std::lock_guard lock(fetchMutex_);
        s = std::move(urlListStream_);
        urlListStream_.reset();
    }
    if (s) s->closeUrls();
}

bool PageReaderPDF::openFile(const std::string& name, const std::optional<std::string>& /*password*/,
                             const std::optional<std::string>& /*targetFolder*/, bool isOfflineMode,
                             bool isThumbsCreateMode) {
    isThumbsCreateMode_ = isThumbsCreateMode;
    closeFile();
    openError_ = gfx::PdfDocument::Error::None;
    openFailure_ = OpenFailure::None;
    untrustedServer_.clear();
    isAuthRefused_ = false;
    isNoPage_ = false;
    if (name.empty()) return false;

    std::string local = name;
    if (BookCommon::isURL(name)) {
        // A remote PDF is read from the fetcher's copy of the whole file.
        dropFetcher();
        auto s = UrlListStream::newUrlListStream();
        if (!s) return false;
        s->setDelegate(weak_from_this());
        copyAccessTo(*s);
        s->setIsOfflineMode(isOfflineMode);
        s->setIsThumbsCreateMode(isThumbsCreateMode);
        {
            // Published before the fetch, so that cancelStreaming ends it.
            std::lock_guard lock(fetchMutex_);
            urlListStream_ = s;
        }
        if (!s->openUrls({name}, std::vector<int32_t>{0}, 1, name, false)) {
            isAuthRefused_ = s->isAuthRefused();
            dropFetcher();
            return false;
        }
        auto cached = s->getLocalCachePath(0);
        if (!cached) {
            untrustedServer_ = s->untrustedServer();
            isAuthRefused_ = s->isAuthRefused();
            dropFetcher();
            return false;
        }
        local = *cached;
    }
    pdfOpenPath_ = local;

    gfx::PdfDocument::Error error = gfx::PdfDocument::Error::None;
    auto doc = gfx::PdfDocument::open(pdfOpenPath_, &error);
    if (doc && doc->pageCount() > kMaxPages) {
        doc.reset();
        error = gfx::PdfDocument::Error::Damaged;
    }
    if (!doc) {
        openError_ = error;
        isNoPage_ = error == gfx::PdfDocument::Error::NoPages;
        switch (error) {
        case gfx::PdfDocument::Error::Encrypted: openFailure_ = OpenFailure::Encrypted; break;
        case gfx::PdfDocument::Error::Unreadable: openFailure_ = OpenFailure::Unreadable; break;
        case gfx::PdfDocument::Error::Damaged: openFailure_ = OpenFailure::Damaged; break;
        default: break;  // no pages: told by isNoPage
        }
        ActiveLog::writeError(std::string("PDF open: ") + gfx::PdfDocument::describe(error));
        pdfOpenPath_.clear();
        return false;
    }
    pdfDocuments_ = std::move(doc);
    targetPath_ = name;

    const int pages = pdfDocuments_->pageCount();
    pageList_.reserve(size_t(pages));
    for (int i = 0; i < pages; ++i) pageList_.push_back(pageName(i));

    // Scanned books run to tens of kilobytes a page; text pages to a few.
    const uint64_t fileBytes = sys::FileManager::fileSize(name).value_or(0);
    isPDFOptimizeAutoselectImage_ = fileBytes / uint64_t(pages) >= kImageDocumentBytesPerPage;
    return true;
}

void PageReaderPDF::closeFile() {
    PageReader::closeFile();
    pdfDocuments_.reset();
    pageList_.clear();
    targetPath_.clear();
    pdfLinkRect_.reset();
}

void PageReaderPDF::cancelStreaming() {
    PageReader::cancelStreaming();
    if (auto s = fetcher()) s->cancelStreaming();
    std::lock_guard lock(drawMutex_);
    drawsCancelled_ = true;
    countAbandonedDraw();
}

void PageReaderPDF::abandonDraws() {
    std::lock_guard lock(drawMutex_);
    drawsHeld_ = true;
    countAbandonedDraw();
}

void PageReaderPDF::countAbandonedDraw() {
    if (!drawAbort_) return;
    drawAbort_->abandon();
    if (std::exchange(drawCountedAbandoned_, true)) return;
    auto& a = abandonedDraws();
    std::lock_guard lock(a.m);
    ++a.running[drawPath_];
}

void PageReaderPDF::resumeDraws() {
    std::lock_guard lock(drawMutex_);
    drawsHeld_ = false;
}

bool PageReaderPDF::reOpenPdf() {
    if (!pdfDocuments_) return false;
    pdfDocuments_->dropParsedObjects();
    return true;
}

std::shared_ptr<gfx::PdfPage> PageReaderPDF::pageAt(int index) const {
    if (!pdfDocuments_ || index < 0 || size_t(index) >= pageList_.size()) return nullptr;
    return pdfDocuments_->page(index);
}

int PageReaderPDF::trimmingCode() const {
    if (isThumbsCreateMode_) return pdfTrimmingForThumbsCreeateMode_;
    auto s = settings();
    return s ? s->pdfTrimming_Local() : kTrimNone;
}

int PageReaderPDF::optimizeCode() const {
    auto s = settings();
    return s ? s->pdfOptimize_Local() : kOptimizeAuto;
}

gfx::Rect PageReaderPDF::getPdfTrimRect(const gfx::PdfPage& page) const {
    const gfx::Rect trim = page.trimBox(), crop = page.cropBox();
    if (!(trim.width() != 0 && trim.height() != 0)) return crop;
    if (!(crop.width() != 0 && crop.height() != 0)) return trim;
    switch (trimmingCode()) {
    case kTrimNone: return page.mediaBox();
    case kTrimCrop: return crop;
    case kTrimTrim: return trim;
    default:
        return (crop.width() < trim.width() && crop.height() < trim.height()) ? crop : trim;
    }
}

gfx::Rect PageReaderPDF::getPageRect(const gfx::PdfPage& page, int& rotation, gfx::Point& trimOffset) const {
    int r = page.rotation();
    if (r < 0) r += 360;
    rotation = r;
    gfx::Rect rect = getPdfTrimRect(page);
    gfx::Point o = rect.origin;
    if (!hasArea(rect)) {
        rect = page.mediaBox();
        o = {0, 0};
    }
    if (r == 90 || r == 270) rect = gfx::Rect(rect.y(), rect.x(), rect.height(), rect.width());
    switch (r) {
    case 90: trimOffset = {o.y, -o.x}; break;
    case 180: trimOffset = {-o.x, -o.y}; break;
    case 270: trimOffset = {-o.y, o.x}; break;
    default: trimOffset = o; break;
    }
    return rect;
}

void PageReaderPDF::getPdfAngleAndOffset(int rotation, gfx::Rect pdfRect, double& drawAngle, gfx::Point& offset) {
    const double w = pdfRect.width(), h = pdfRect.height();
    switch (rotation) {
    case 90:
        drawAngle = -std::numbers::pi / 2;
        offset = {0, h};
        break;
    case 180:
        drawAngle = std::numbers::pi;
        offset = {w, h};
        break;
    case 270:
        drawAngle = std::numbers::pi / 2;
        offset = {w, 0};
        break;
    default:
        drawAngle = 0;
        offset = {0, 0};
        break;
    }
}

gfx::Size PageReaderPDF::getOptimizedSize(gfx::Size size) const {
    double f;
    switch (optimizeCode()) {
    case kOptimizeSmooth: {
        const double longer = std::max(size.width, size.height);
        f = std::max(longer > 0 ? 1400.0 / longer : 0.0, BookCommon::getScreenScale());
        break;
    }
    case kOptimizeImage: f = double(1.4f); break;
    case kOptimizeAuto:
        if (isPDFOptimizeAutoselectImage_) {
            f = double(1.4f);
            break;
        }
        return size;
    default: return size;
    }
    return {size.width * f, size.height * f};
}

std::shared_ptr<PdfRect> PageReaderPDF::getLinkInPDF(const gfx::PdfPage& page) const {
    auto links = std::make_shared<PdfRect>();
    gfx::Rect pageRect = getPdfTrimRect(page);
    if (!hasArea(pageRect)) pageRect = page.mediaBox();
    const double x0 = std::floor(pageRect.minX()), y0 = std::floor(pageRect.minY());
    const double width = std::ceil(pageRect.maxX()) - x0, height = std::ceil(pageRect.maxY()) - y0;
    const bool quarter = page.rotation() == 90 || page.rotation() == 270;
    const double flip = quarter ? width : height;

    for (const auto& link : page.links()) {
        double v[4] = {0, 0, 0, 0};
        for (size_t i = 0; i < link.rect.size() && i < 4; ++i) v[i] = link.rect[i];
        std::optional<std::string> uri;
        if (sys::Unicode::isValidUtf8(link.uri)) {
            uri = link.uri;
        } else {
            uri = QNTextEncoding::stringWithCString(link.uri.c_str());
        }
        if (!uri) continue;
        // Page coordinates from the page rectangle's corner, y downward.
        const double x = v[0] - x0, y = v[1] - y0, w = v[2] - v[0], h = v[3] - v[1];
        links->addRect(gfx::Rect(x, flip - y - h, w, h), uri);
    }
    links->setMediaSize(quarter ? gfx::Size{height, width} : gfx::Size{width, height});
    return links;
}

gfx::ImageRef PageReaderPDF::newLoadAndCreateImage(int page, int& result) {
    result = kResultFailed;
    auto p = pageAt(page);
    if (!p) return nullptr;
    int rotation = 0;
    gfx::Point trimOffset;
    const gfx::Rect rect = getPageRect(*p, rotation, trimOffset);
    const gfx::Size size = getOptimizedSize(rect.size);
    p.reset();
    if (!positive(size)) return nullptr;
    lastPendingSize_ = size;
    if (++requestsSinceDrop_ >= kRequestsPerDrop) {
        requestsSinceDrop_ = 0;
        reOpenPdf();
    }
    result = kResultPending;
    return nullptr;
}

gfx::Size PageReaderPDF::pictureSize(int page) {
    auto p = pageAt(page);
    if (!p) return {};
    int rotation = 0;
    gfx::Point trimOffset;
    const gfx::Size size = getOptimizedSize(getPageRect(*p, rotation, trimOffset).size);
    return positive(size) ? size : gfx::Size{};
}

gfx::ImageRef PageReaderPDF::newCreatePendingImage(int pageNo, gfx::Size T, gfx::Rect S, gfx::Rect Q,
                                                   bool optimizeTargetSize) {
    const double timeLimit = std::exchange(nextDrawLimit_, 0.0);
    auto page = pageAt(pageNo);
    if (!page || !positive(T)) return nullptr;
    auto links = getLinkInPDF(*page);

    gfx::Size R = optimizeTargetSize ? getOptimizedSize(T) : T;
    if (!positive(R)) return nullptr;
    if (S.isNull()) S = gfx::Rect(0, 0, 0, 0);
    const gfx::Rect Sp(S.x() * T.width / R.width, S.y() * T.height / R.height, S.width() * T.width / R.width,
                       S.height() * T.height / R.height);

    int rotation = 0;
    gfx::Point trimOffset;
    const gfx::Rect P = getPageRect(*page, rotation, trimOffset);
    const bool whole = Sp.width() == 0 && Sp.height() == 0 && Sp.x() == 0 && Sp.y() == 0;
    const gfx::Size A = whole ? P.size : Sp.size;
    if (!positive(A)) return nullptr;
    gfx::Point z{R.width / A.width, R.height / A.height};

    // The drawing never holds more than twice the session's pixel budget
    // (room for the resolution factor); a larger request is drawn smaller.
    const double budget = 2 * BookReaderEx::calcInitValues();
    if (R.width * R.height > budget) {
        const double k = std::sqrt(budget / (R.width * R.height));
        R = {R.width * k, R.height * k};
        z = {z.x * k, z.y * k};
    }
    if (!std::isfinite(z.x) || !std::isfinite(z.y) || !(R.width < 65536) || !(R.height < 65536)) return nullptr;
    const int bw = int(R.width), bh = int(R.height);
    if (!gfx::Image::sizeAllowed(bw, bh)) return nullptr;

    double fx = 1, fy = 1;
    gfx::Point shift;
    if (!Q.isNull()) {
        if (!(Q.width() > 0) || !(Q.height() > 0)) return nullptr;
        fx = 1 / Q.width();
        fy = 1 / Q.height();
        shift = {-Q.x() * R.width / z.x, (Q.y() + Q.height() - 1) * R.height / z.y};
    }

    double angle = 0;
    gfx::Point offset;
    getPdfAngleAndOffset(rotation, P, angle, offset);
    // The source rectangle is measured from the page's top, as on the
    // pictures it is found on; the drawing space counts from the bottom.
    const double sourceBottom = whole ? 0 : P.height() - Sp.y() - Sp.height();
    // The page's space has y upward; the bitmap's rows run downward.
    const gfx::AffineTransform m = gfx::AffineTransform::makeTranslation(0, bh)
                                       .scaled(1, -1)
                                       .scaled(z.x * fx, z.y * fy)
                                       .translated(shift.x + offset.x - Sp.x() - trimOffset.x,
                                                   shift.y + offset.y - sourceBottom - trimOffset.y)
                                       .rotated(angle);

    {
        // A draw of this file given up may still be at work: it ends first.
        auto& a = abandonedDraws();
        std::unique_lock lock(a.m);
        a.ended.wait(lock, [&] {
            auto it = a.running.find(pdfOpenPath_);
            return it == a.running.end() || drawsCancelled_ || drawsHeld_;
        });
    }
    auto abort = std::make_shared<gfx::PdfDrawAbort>();
    if (timeLimit > 0) abort->setTimeLimit(timeLimit);
    {
        std::lock_guard lock(drawMutex_);
        if (drawsCancelled_ || drawsHeld_) return nullptr;
        drawAbort_ = abort;
        drawPath_ = pdfOpenPath_;
        drawCountedAbandoned_ = false;
    }
    std::vector<uint32_t> pixels(size_t(bw) * size_t(bh), gfx::argb(255, 255, 255, 255));
    bool drawn;
    {
        // A page that draws for long holds virtual time (a headless run's
        // steps, a test's clock) for kClockHoldSeconds of real time at
        // most, as a silent peer holds it: its loading indicator shows
        // meanwhile, and the page lands when it is drawn.
        sys::Clock::NetworkWait hold(sys::Clock::realNow() - sys::Clock::kNetworkStallSeconds + kClockHoldSeconds);
        drawn = page->render(m, pixels.data(), bw, bh, size_t(bw) * 4, abort.get());
    }
    {
        std::lock_guard lock(drawMutex_);
        if (drawAbort_ == abort) {
            drawAbort_.reset();
            if (std::exchange(drawCountedAbandoned_, false)) {
                auto& a = abandonedDraws();
                {
                    std::lock_guard lockDraws(a.m);
                    auto it = a.running.find(drawPath_);
                    if (it != a.running.end() && --it->second <= 0) a.running.erase(it);
                }
                a.ended.notifyAll();
            }
        }
    }
    // An abandoned page is no page: nothing of it is shown or kept.
    if (!drawn) return nullptr;
    auto image = gfx::Image::make(bw, bh, std::move(pixels));

    // Turned and scaled into the drawing first, then moved by the source
    // rectangle, which is measured on the turned page.
    links->editRectWithOffset({-Sp.x() * z.x, -Sp.y() * z.y}, z.x, z.y, rotation);
    pdfLinkRect_ = std::move(links);
    return image;
}

void PageReaderPDF::updateCacheStatus(uint64_t, const uint16_t*, bool) {}

void PageReaderPDF::updateCacheBlock(int64_t cached, int64_t blockSize, int64_t, int64_t) {
    auto t = target();
    if (!t || blockSize <= 0) return;
    const float percent = float(cached) / float(blockSize) * 100.0f;
    const int p = std::isfinite(percent) && percent > 0 ? int(std::min(percent, 1000.0f)) : 0;
    const int n = std::min(p, 99);
    uint16_t map[100] = {};
    if (p >= 1) std::fill(map, map + n, uint16_t(1));
    t->updateCacheStatus(100, map, false);
}
