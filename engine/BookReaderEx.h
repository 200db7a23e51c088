#pragma once

#include "engine/BookPage.h"
#include "engine/ImageLoader.h"
#include "engine/PageLoadRequest.h"
#include "engine/PageReader.h"
#include "engine/RemoteStreamRead.h"
#include "platform/core/Condition.h"
#include "platform/core/PlistDictionary.h"
#include "platform/core/Thread.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class Settings;
struct SettingsValues;

// The reading session: one open book, whatever its container, seen as a
// numbered list of pages that it composes into display-ready views (a single
// page, one half of a wide page, or two pages side by side) scaled to the
// device's pixel budget, clipped, centred and filtered. It keeps the current
// view, one view kept by the viewer and one composed in the background by
// its preload thread, and serves a request from those when it can.
//
// Make it with std::make_shared (the page reader reports stream progress to
// it through a weak reference). Open, close and loadPage run on the caller's
// thread; at most one preload thread runs at a time. Locks are taken in one
// order: the preload lock, then the slot lock, then the page-reader lock.
// Each request composes with one snapshot of the settings, so a change in
// the settings screen never mixes into a view half-way. Closing, re-opening
// and destruction join a running preload: the reader is never released
// under it.
class BookReaderEx : public RemoteStreamReadDelegate, public std::enable_shared_from_this<BookReaderEx> {
public:
    enum LoadResult { kLoadDone = 0, kLoadPassword = 1, kLoadError = 2 };
    // The page readers, chosen by file type.
    enum class ReaderKind { ImageFolder, Zip, Rar, SevenZip, Pdf };

    BookReaderEx();
    ~BookReaderEx() override;
    BookReaderEx(const BookReaderEx&) = delete;
    BookReaderEx& operator=(const BookReaderEx&) = delete;

    // ---- Opening and closing ----------------------------------------------------
    // `name` is a path or an address. `lbexpand` puts an image-folder reader
    // in companion-server mode. `password` and `targetFolder` are nothing when
    // not given. Returns the reader's open result; the reasons of a failure
    // are read afterwards from the flags below.
    bool openBookWithName(const std::string& name, const std::vector<std::string>& otherFiles,
                          const std::optional<std::string>& lbexpand, const std::optional<std::string>& password,
                          const std::optional<std::string>& targetFolder, bool isOfflineMode,
                          bool isThumbsCreateMode);
    void closeBook();

    // ---- Pages -------------------------------------------------------------------
    // 0 loaded (the view is loadedPage()), 1 a password is needed, 2 error;
    // on 1 and 2 loadedPage() is a placeholder.
    int loadPage(PageLoadRequest request);
    // The kept or the preloaded slot already holds the view `request` would load.
    bool isPageLoaded(const PageLoadRequest& request) const;
    bool isPreLoadingInProcess() const { return isNowPreLoading_.load(); }
    // Blocks until a running preload has finished.
    void waitPreloadThread();
    // The kept slot.
    void addCache(std::shared_ptr<const BookPage> page);
    void deleteCache();
    std::shared_ptr<const BookPage> loadedPage() const;

    // The reader's image of a page, neither composed nor filtered.
    gfx::ImageRef getOriginalImage(int page);
    // The three filter slots of the book's settings applied in order.
    gfx::ImageRef newCreateFilterImage(const gfx::ImageRef& image) const;

    int getPageNum() const;
    // With two pages side by side, the first page of the view that holds
    // `page` when the book is paged through from its start: a page wider
    // than high (or far higher than wide) stands alone, any other goes with
    // the next one when that may too, and with the first page alone asked,
    // page 0 stands alone. Nothing while a page before it is of a size not
    // known yet (a book read from a server, its earlier pages not fetched).
    // Sizes are those of the pages composed so far and, for a book at hand,
    // those read from the pictures' headers once pages are paired.
    std::optional<int32_t> spreadStart(int32_t page) const;
    // The page's raw name (ending with its NUL byte); nothing out of range.
    std::optional<std::string> getPageFilename(int page) const;
    // The first page whose name equals `name` byte for byte, else -1.
    int getPageNoFromFilename(const std::string& name) const;
    int getGlobalPageNo(int localPage) const;
    int getLocalPageNo(int globalPage) const;

    // Last path component of the book's path or address.
    std::string getBookName() const;
    std::optional<std::string> getPassword() const;
    std::optional<std::string> getTargetFolder() const;
    int getSelectedImageNo() const;
    std::optional<std::vector<std::string>> getArchiveList(bool isCheckEntityOnly);
    std::optional<std::vector<std::string>> getFolderList(bool isCheckEntityOnly);
    // Ends a page load that waits for the network, and abandons a PDF page
    // being drawn and every later draw of the book open now (for a session
    // about to close).
    void cancelStreaming();
    // Abandons the PDF page being drawn, if any, from any thread, and every
    // PDF page until resumePageDraws: the loads that would draw them fail at
    // once (a page turned away from while it draws, and the preload or the
    // load waiting to draw it again).
    void abandonPageDraws();
    void resumePageDraws();

    // ---- Stream progress, passed on to the viewer ----------------------------------
    void setTargetForOnlineStatus(std::weak_ptr<RemoteStreamReadDelegate> target);
    void updateCacheStatus(uint64_t count, const uint16_t* map, bool isPage) override;
    void updateCacheBlock(int64_t cached, int64_t blockSize, int64_t block, int64_t numBlocks) override;
    // The last map the stream reported (empty before its first report): a
    // screen that starts watching after the blocks arrived begins from it.
    std::vector<uint16_t> lastCacheStatus(bool* isPage);

    // ---- Properties, set before opening ---------------------------------------------
    // The book's settings with its overlay; nothing means all switches off.
    // Given to an open book, its reader takes them too.
    void setSettings(std::shared_ptr<Settings> settings);
    std::shared_ptr<Settings> settings() const;
    void setUserName(const std::string& v) { userName_ = v; }
    const std::string& userName() const { return userName_; }
    // The remote password before an open; the archive password after one.
    void setPassword(const std::optional<std::string>& v) { password_ = v; }
    const std::optional<std::string>& password() const { return password_; }
    void setOtherSettingsForRemote(const sys::PlistDictionary& v) { otherSettingsForRemote_ = v; }
    const sys::PlistDictionary& otherSettingsForRemote() const { return otherSettingsForRemote_; }
    void setFileInfo(const sys::PlistDictionary& v) { fileInfo_ = v; }
    const sys::PlistDictionary& fileInfo() const { return fileInfo_; }
    void setIsSilentForBackground(bool on) { isSilentForBackground_ = on; }
    bool isSilentForBackground() const { return isSilentForBackground_; }
    void setPdfTrimmingForThumbsCreeateMode(int32_t code) { pdfTrimmingForThumbsCreeateMode_ = code; }
    int32_t pdfTrimmingForThumbsCreeateMode() const { return pdfTrimmingForThumbsCreeateMode_; }

    // ---- What the open found -------------------------------------------------------
    bool isUnsupportedServer() const { return isUnsupportedServer_; }
    bool isExpandError() const { return isExpandError_; }
    bool isUnsupportedFtp() const { return isUnsupportedFtp_; }
    bool isServerBusy() const { return isServerBusy_; }
    // The server refused the user name or password the book was opened with.
    bool isAuthRefused() const { return isAuthRefused_; }
    // A book read page by page (a folder of pictures on a server) has had a
    // page refused for the user name or password since it opened.
    bool isPageFetchRefused() const;
    // The server ("host:port") whose certificate was refused as the book
    // opened; empty when none was.
    const std::string& untrustedServer() const { return untrustedServer_; }
    bool isErrorBecauseSolidArchive() const { return isErrorBecauseSolidArchive_; }
    bool isNoPage() const { return isNoPage_; }
    // Why the last open failed: the reader's reason, NoReader when this build
    // has no reader for the book, None after a successful open or when the
    // reader could not tell.
    PageReader::OpenFailure openFailure() const { return openFailure_; }
    // A page failed because the archive's dictionary could not be allocated
    // (PageReader::isOutOfMemory). Any thread.
    bool isOutOfMemory() const;
    bool isStreamingMode() const { return isStreamingMode_; }
    bool isStreamingUnitIsPage() const { return isStreamingUnitIsPage_; }
    bool isThumbsCreateMode() const { return isThumbsCreateMode_; }
    bool isPdf() const { return isPdf_; }
    ReaderKind readerKind() const { return readerKind_; }
    const std::vector<std::string>& otherFiles() const { return otherFiles_; }
    const std::optional<std::string>& lbexpand() const { return lbexpand_; }
    // The most pixels a composed view may hold on this device.
    double maxImageLength() const { return maxImageLength_; }

    // ---- Class operations ------------------------------------------------------------
    // Which reader opens `name` (a ".rar" that is really a zip opens as zip).
    static ReaderKind readerKindForFile(const std::string& name, bool hasLbexpand);
    // True when the file's first two bytes are "PK".
    static bool isZipFileFromHeader(const std::string& path);

    // Archive operations for callers that never open a session, sent to the
    // zip, 7z or RAR reader by the name; 2 / nothing for other files and for
    // readers this build does not have. An extraction answers 0 done, 1 a
    // password is wanted, 2 failed, 3 the disk lacks room for the entry
    // (nothing written). `written`, when given, receives the path of the
    // file an extraction made.
    static constexpr int kExtractNoRoom = 3;
    static int extractFile(const std::string& path, const sys::PlistDictionary& fileInfo,
                           const std::optional<std::string>& password, const std::string& entryName,
                           const std::string& remoteUser, const std::string& remotePassword,
                           std::string* written = nullptr);
    static std::optional<std::vector<std::string>> getArchiveList(
        const std::string& path, bool isCheckEntityOnly, const sys::PlistDictionary& fileInfo,
        const std::string& remoteUser, const std::string& remotePassword, const std::shared_ptr<Settings>& settings,
        const sys::PlistDictionary& otherSetting);
    static std::optional<std::vector<std::string>> getFolderList(
        const std::string& path, bool isCheckEntityOnly, const sys::PlistDictionary& fileInfo,
        const std::string& remoteUser, const std::string& remotePassword, const std::shared_ptr<Settings>& settings,
        const sys::PlistDictionary& otherSetting);

    // Fills a load size from a viewer zoom-mode code (-1 and 0..4).
    static void setLoadSizeLoadStructWithMode(int zoomMode, ImageSizeLoad& target, gfx::Size screenSize,
                                              double zoom);
    // The size (whole points) at which a page of `originalSize` is composed:
    // scaled by `load`, never below `minimumImageSize`, then capped at
    // `maxImageLength` pixels. A zero-size page gives a zero size.
    static gfx::Size calcLoadImageSize(const ImageSizeLoad& load, gfx::Size originalSize,
                                       gfx::Size minimumImageSize, double maxImageLength, bool* isOverSize,
                                       double* scale, gfx::Size* imageSizeIfNotOversize);
    // The pixel budget of the current device.
    static double calcInitValues();
    // How long, in real time, the preview a PDF page's margins are found on
    // may take to draw.
    static constexpr double kMarginPreviewSeconds = 0.5;

    // True while any session scales and composes a view; a stream loader
    // slows down meanwhile.
    static bool isPageComposing();

private:
    struct Prepared;
    // The settings and screen facts one request composes with.
    struct Snapshot {
        std::shared_ptr<const SettingsValues> values;  // null: no settings
        double screenScale = 1.0;
        double maxImageLength = 0;
        bool isThumbsCreateMode = false;
        int pageCount = 0;
    };
    // The page names and global numbers, fixed from open to close.
    struct PageLists {
        std::vector<std::string> names;
        std::optional<std::vector<int32_t>> globals;
    };

    std::shared_ptr<PageReader> reader() const;
    std::shared_ptr<const PageLists> pageLists() const;
    Snapshot makeSnapshot() const;
    static std::shared_ptr<PageReader> makeReader(ReaderKind kind);

    static std::shared_ptr<const BookPage> getTargetCache(const PageLoadRequest& r,
                                                          const std::shared_ptr<const BookPage>& c);
    std::shared_ptr<const BookPage> loadedPageOnce(const PageLoadRequest& r, const Snapshot& snap, int& result);
    std::shared_ptr<const BookPage> composeWithReader(PageReader& reader, const PageLoadRequest& r,
                                                      const Snapshot& snap, int& result);
    // Reads and decodes (no larger than `need` asks) or measures one page,
    // and clips it: to `keepClip` (in the page's pixels; a null rectangle
    // keeps it whole) when given, else to the margins found on it.
    bool preparePage(PageReader& reader, int page, int clip, Prepared& p, int& readerResult,
                     const ImageLoader::DecodeNeed& need = {},
                     const std::optional<gfx::Rect>& keepClip = std::nullopt);
    static gfx::ImageRef applyFilters(gfx::ImageRef image, const SettingsValues* values);
    // Centres a view smaller than the display (unless it was capped), fills
    // targetSize and offset, and filters it.
    static gfx::ImageRef centreAndFilter(gfx::ImageRef image, gfx::Size uncapped, bool isOverSize,
                                         const PageLoadRequest& r, double screenScale, const SettingsValues& v,
                                         BookPage& out);
    // What pairing knows of a page: whether it may stand beside another.
    enum class Shape : uint8_t { Unknown, Pairable, Alone };
    static Shape shapeOf(gfx::Size picture);
    void noteShape(int page, gfx::Size picture);
    // A page that failed to load with `readerResult`.
    void noteUnshowable(PageReader& reader, int page, int readerResult);
    // The shape of one page as its header tells, or (with `decode`)
    // decoding what comes before it in a solid block; of a page at hand
    // whose first bytes say nothing, as the whole of its bytes tell (Alone
    // where they are no picture). Unknown while it cannot tell, with
    // `never` set where it never will.
    static Shape measuredShape(PageReader& reader, int page, bool decode, bool* never);
    // The first and last page of the view holding `page` when paged through
    // from the start (see spreadStart); nothing while a shape it depends on
    // is unknown. `shapes` is one entry a page.
    static std::optional<std::pair<int, int>> spreadAt(const std::vector<Shape>& shapes, int page, bool firstAlone);
    // Measures the pages up to `upTo` whose shapes are not known yet, as far
    // as the reader has them at hand and, with `decode`, as far as decoding
    // them tells (see PageReader::decodedPictureSize).
    void measureShapes(PageReader& reader, int upTo, bool decode);
    // The view holding `page` as paging from the start shows it, measuring
    // the pages before it (and the next) first, decoding those that only
    // decoding tells.
    std::optional<std::pair<int, int>> measuredSpreadAt(PageReader& reader, int page, bool firstAlone);
    // After a preload: the pages that only decoding tells are measured, in
    // order, until a page load wants the reader.
    void measureByDecoding();

    static std::shared_ptr<const BookPage> placeholder(const PageLoadRequest& r, int page, int direction,
                                                       bool second);

    void startPreload(const PageLoadRequest& r, const Snapshot& snap);
    void preloadThread(PageLoadRequest r, Snapshot snap);
    void joinPreload();
    // Tells the reader (on the main thread) that a solid RAR loads slowly.
    static void showSolidArchiveNotice();
    // Closes the reader (its stream cancelled first, its preload waited for)
    // and forgets it with its page lists and composed pages.
    void dropReader();

    // What open sets and the threads read (published before they start).
    std::shared_ptr<Settings> settings_;
    std::string userName_;
    std::optional<std::string> password_;
    sys::PlistDictionary otherSettingsForRemote_, fileInfo_;
    bool isSilentForBackground_ = false;
    int32_t pdfTrimmingForThumbsCreeateMode_ = 0;

    bool isPdf_ = false;
    ReaderKind readerKind_ = ReaderKind::ImageFolder;
    std::string targetPath_;
    std::optional<std::string> targetFolder_;
    std::vector<std::string> otherFiles_;
    std::optional<std::string> lbexpand_;
    double maxImageLength_ = 0;
    double screenScale_ = 1.0;
    bool isStreamingMode_ = false;
    bool isThumbsCreateMode_ = false;
    bool isStreamingUnitIsPage_ = false;
    bool isUnsupportedServer_ = false, isExpandError_ = false, isUnsupportedFtp_ = false,
         isErrorBecauseSolidArchive_ = false, isNoPage_ = false, isServerBusy_ = false,
         isAuthRefused_ = false;
    PageReader::OpenFailure openFailure_ = PageReader::OpenFailure::None;
    std::string untrustedServer_;

    // The reader and the page lists: swapped by open and close, read by
    // every thread through copies of the pointers.
    mutable std::mutex stateMutex_;
    std::shared_ptr<PageReader> pageReader_;
    std::shared_ptr<const PageLists> pageLists_;

    // The page-reader lock: one thread at a time uses the reader.
    std::mutex readerMutex_;

    // The slot lock: current, kept and preloaded views.
    mutable std::mutex slotMutex_;
    std::shared_ptr<const BookPage> loadedPage_;
    bool loadedFailed_ = false;  // loadedPage_ is a failed view's placeholder
    std::shared_ptr<const BookPage> pageCache_;
    std::shared_ptr<const BookPage> pagePreLoad_;

    // The pages' shapes as far as known, one entry a page, from open to close.
    mutable std::mutex shapeMutex_;
    std::vector<Shape> shapes_;
    bool shapesToMeasure_ = false;  // the whole book is yet to be measured
    int unmeasurable_ = -1;         // the page whose header said nothing, or -1
    // A page load, a cancel or a close wants the reader: measuring stops.
    std::atomic<bool> stopMeasuring_{false};
    // The session is being closed (cancelStreaming): a page waiting for
    // another session's decode of it gives up.
    std::atomic<bool> decodesCancelled_{false};
    // The preload thread is measuring (its view is done).
    std::atomic<bool> preloadMeasuring_{false};

    // The preload lock, held by the preload thread while it composes.
    std::mutex preloadMutex_;
    // Guards the end of a preload (the busy flag going down) for its waiters.
    std::mutex preloadFlagMutex_;
    sys::Condition preloadDone_;
    // Set before a preload thread starts, cleared when it is done.
    std::atomic<bool> isNowPreLoading_{false};
    std::mutex threadMutex_;  // the thread object below
    sys::Thread preloadThread_;

    std::mutex targetMutex_;
    std::weak_ptr<RemoteStreamReadDelegate> targetOnlineStatus_;
    std::vector<uint16_t> lastCacheMap_;  // guarded by targetMutex_
    bool lastCacheIsPage_ = false;
};
