#pragma once

#include "engine/PageReader.h"
#include "engine/PdfRect.h"
#include "platform/graphics/pdf/PdfDocument.h"
#include "platform/graphics/pdf/PdfDrawAbort.h"
#include "platform/graphics/pdf/PdfPage.h"

#include <atomic>
#include <memory>
#include <mutex>

class UrlListStream;

// Reads a PDF book. Its pages are pending pages: a page request only
// measures the page and reports the size it should be drawn at; the session
// then asks for the drawing at the size it needs. Pages are trimmed to the
// box the book's settings choose, turned by their rotation, and drawn at a
// resolution that suits their content; the URI links of the last page drawn
// are kept in pdfLinkRect(), moved into the drawing. A remote PDF is fetched
// whole first and then read as a local file.
class PageReaderPDF : public PageReader {
public:
    // Codes of the trimming and drawing-size settings.
    enum Trimming { kTrimNone = 0, kTrimCrop = 1, kTrimTrim = 2, kTrimBoth = 3 };
    enum Optimize { kOptimizeAuto = 0, kOptimizeText = 1, kOptimizeImage = 2, kOptimizeSmooth = 3 };
    // From this many bytes per page on, a document is taken to be made of page images.
    static constexpr uint64_t kImageDocumentBytesPerPage = 65536;
    // How long, in real time, a page being drawn holds up virtual time.
    static constexpr double kClockHoldSeconds = 1.0;

    PageReaderPDF();
    ~PageReaderPDF() override;

    bool openFile(const std::string& name, const std::optional<std::string>& password,
                  const std::optional<std::string>& targetFolder, bool isOfflineMode,
                  bool isThumbsCreateMode) override;
    void closeFile() override;

    gfx::ImageRef newLoadAndCreateImage(int page, int& result) override;
    // The page's size as it would be rendered, read from the document.
    gfx::Size pictureSize(int page) override;
    gfx::Size getPendingImageSize() override { return lastPendingSize_; }
    gfx::ImageRef newCreatePendingImage(int page, gfx::Size targetSize, gfx::Rect sourceRect, gfx::Rect clipRect,
                                        bool optimizeTargetSize) override;

    std::vector<std::string> getPageNameList() const override { return pageList_; }
    std::optional<std::vector<int32_t>> getGlobalPageNoList() const override { return std::nullopt; }
    bool isStreamPage() const override { return false; }
    // Also abandons the page being drawn, and every later draw of this
    // reader: a page nobody waits for any more stops at once.
    void cancelStreaming() override;
    // Abandons the page being drawn, if any, and every draw after it until
    // resumeDraws (from any thread). A draw given up ends with the band of
    // rows under way; until it has, no other draw of the same file starts
    // (of any reader): a book closed and opened again, or a page turned to
    // and away again, never has more than one abandoned draw at work.
    void abandonDraws();
    void resumeDraws();
    // The next draw is given up once it has taken `seconds` of real time.
    void limitNextDraw(double seconds) { nextDrawLimit_ = seconds; }
    void updateCacheStatus(uint64_t count, const uint16_t* map, bool isPage) override;
    void updateCacheBlock(int64_t cached, int64_t blockSize, int64_t block, int64_t numBlocks) override;

    // Why the last open failed (None after a success or a failed fetch).
    gfx::PdfDocument::Error openError() const { return openError_; }

    // The rectangle (page points, y up) used as the page.
    gfx::Rect getPdfTrimRect(const gfx::PdfPage& page) const;
    // The page rectangle after rotation, with the rotation (0, 90, 180, 270)
    // and the trim origin turned the same way.
    gfx::Rect getPageRect(const gfx::PdfPage& page, int& rotation, gfx::Point& trimOffset) const;
    // The drawing turn (radians) and the shift that brings the turned page
    // back into view.
    static void getPdfAngleAndOffset(int rotation, gfx::Rect pdfRect, double& drawAngle, gfx::Point& offset);
    // The size a page of `size` is drawn at under the drawing-size setting.
    gfx::Size getOptimizedSize(gfx::Size size) const;
    // The page's URI links in top-left page coordinates relative to the page
    // rectangle, before rotation; the media size is the turned page size.
    std::shared_ptr<PdfRect> getLinkInPDF(const gfx::PdfPage& page) const;
    // Drops what MuPDF parsed of the document and keeps (it keeps every
    // object it read); the document stays open, and the map of its pages
    // stays made. Done after every kRequestsPerDrop page requests: parsing
    // again what pages share (a long book's page list) costs in proportion
    // to the book, not to the page.
    bool reOpenPdf();
    static constexpr int kRequestsPerDrop = 64;

    std::shared_ptr<const PdfRect> pdfLinkRect() const { return pdfLinkRect_; }
    void setPdfLinkRect(std::shared_ptr<const PdfRect> r) { pdfLinkRect_ = std::move(r); }
    int32_t pdfTrimmingForThumbsCreeateMode() const { return pdfTrimmingForThumbsCreeateMode_; }
    void setPdfTrimmingForThumbsCreeateMode(int32_t code) { pdfTrimmingForThumbsCreeateMode_ = code; }
    bool isPDFOptimizeAutoselectImage() const { return isPDFOptimizeAutoselectImage_; }

private:
    std::shared_ptr<gfx::PdfPage> pageAt(int index) const;
    int trimmingCode() const;
    int optimizeCode() const;
    std::shared_ptr<UrlListStream> fetcher() const;
    void dropFetcher();
    // Abandons drawAbort_ and counts it among its file's abandoned draws
    // still at work (drawMutex_ held).
    void countAbandonedDraw();

    std::string targetPath_;
    std::string pdfOpenPath_;
    std::vector<std::string> pageList_;
    std::shared_ptr<gfx::PdfDocument> pdfDocuments_;
    gfx::Size lastPendingSize_;
    int requestsSinceDrop_ = 0;
    bool isPDFOptimizeAutoselectImage_ = false;
    bool isThumbsCreateMode_ = false;
    int32_t pdfTrimmingForThumbsCreeateMode_ = 0;
    std::shared_ptr<const PdfRect> pdfLinkRect_;
    gfx::PdfDocument::Error openError_ = gfx::PdfDocument::Error::None;

    // The control of the draw under way, reached from other threads to
    // abandon it; after cancelStreaming no draw starts.
    mutable std::mutex drawMutex_;
    std::shared_ptr<gfx::PdfDrawAbort> drawAbort_;
    std::string drawPath_;               // the file drawAbort_ draws
    bool drawCountedAbandoned_ = false;  // drawAbort_ counted among the file's abandoned draws
    std::atomic<bool> drawsCancelled_{false};
    std::atomic<bool> drawsHeld_{false};
    double nextDrawLimit_ = 0;  // used by the reader's own thread only

    // Reached from other threads by cancelStreaming while an open waits.
    mutable std::mutex fetchMutex_;
    std::shared_ptr<UrlListStream> urlListStream_;
};
