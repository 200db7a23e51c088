#include "library/PreparedBookOpen.h"

#include "engine/BookReaderEx.h"
#include "foundation/BookCommon.h"
#include "foundation/Settings.h"
#include "library/LocalBookOpener.h"
#include "platform/core/Thread.h"
#include "viewer/BookViewController.h"

#include <atomic>
#include <utility>

namespace {

// The stored reading position of a book: page, second half, inner folder.
struct Position {
    long page = 0;
    bool second = false;
    std::string folder;
    bool operator==(const Position&) const = default;
};

Position storedPosition(const std::string& full, const Settings& settings) {
    Position p;
    BookCommon::getFilePageInfoWithFilename(full, &p.page, &p.second, nullptr, nullptr, nullptr, nullptr, &p.folder,
                                            nullptr, settings.iCloudEnable(), nullptr, false);
    return p;
}

// One preparation. What the worker writes is read only after it is joined.
struct Job {
    // Set on the main thread before the worker starts.
    std::string full;
    bool useBookmark = false;
    std::shared_ptr<Settings> settings;  // the worker's own, set to the book
    Position position;
    std::optional<std::string> folder;
    PageLoadRequest view;  // the first view, its page filled in by the worker

    // The worker's results.
    std::shared_ptr<BookReaderEx> reader;
    int32_t page = 0;
    bool second = false;
    bool composed = false;
    bool holdsArchives = false;  // a book with archives inside (offered to expand)
    std::shared_ptr<const SettingsValues> values;

    sys::Thread thread;
    std::atomic<bool> finished{false};
    // Nobody waits for the preparation any more: a page being drawn is
    // abandoned, and one not begun yet is not begun.
    std::atomic<bool> abandoned{false};

    void abandon() {
        abandoned = true;
        reader->cancelStreaming();
    }

    // Opens the book and composes its first view as LocalBookOpener::startLoadBook does.
    // `reader` is made, with the settings, before the worker starts.
    void run() {
        if (reader->openBookWithName(full, {}, std::nullopt, std::nullopt, folder, false, false) && !abandoned) {
            if (useBookmark) {
                page = LocalBookOpener::startPageForResume(position.page, reader->getPageNum());
                second = page == position.page && position.second;
            } else if (BookCommon::isImageFileWithFile(full)) {
                page = reader->getSelectedImageNo();
            }
            if (page >= 0 && page < reader->getPageNum()) {
                view.targetPage = page;
                view.secondPage = second;
                values = settings->snapshot();
                composed = reader->loadPage(view) == BookReaderEx::kLoadDone;
            }
            // The question an open of a book (not of a picture) asks first.
            if (composed && !BookCommon::isImageFileWithFile(full)) {
                auto archives = BookReaderEx::getArchiveList(full, false, {}, "", "", settings,
                                                             sys::PlistDictionary());
                holdsArchives = archives && !archives->empty();
            }
        }
        finished = true;
    }
};

// Never destroyed: a preparation still held at exit (a run that ended
// without applicationWillTerminate) is not torn down after the services
// its session uses.
std::unique_ptr<Job>& current() {
    static auto* job = new std::unique_ptr<Job>();
    return *job;
}

// A preparation given up while its page was still being drawn ends on a
// thread of its own (a band of a heavy page's rows may take a while yet);
// discard, at the end of the program, waits for it.
sys::Thread& ending() {
    static auto* thread = new sys::Thread();
    return *thread;
}

void endOffMainThread(std::unique_ptr<Job> job) {
    Job* left = job.release();
    ending() = sys::Thread(
        [left](const std::atomic<bool>&) {
            left->thread.join();
            delete left;
        },
        "prepare-end");
}

}  // namespace

PageLoadRequest PreparedBookOpen::firstViewRequest(const Settings* settings, int32_t page, bool secondPage,
                                                   bool* landscape) {
    const bool isLandscape = BookCommon::isLandscapeSwitchOSVersionWithViewController();
    if (landscape) *landscape = isLandscape;
    return firstViewRequest(settings, page, secondPage, isLandscape);
}

PageLoadRequest PreparedBookOpen::firstViewRequest(const Settings* settings, int32_t page, bool secondPage,
                                                   bool isLandscape) {
    const bool hideStatusBar = !(settings && settings->isShowStatusbar());
    const ui::Rect area =
        BookViewController::getBookviewAreaRect(hideStatusBar, settings ? settings->getBookToolviewStyle() : 0);
    int zoomMode = settings ? settings->getZoomModeForUseWithRotation(isLandscape) : 2;
    if (zoomMode == 0 || zoomMode == -1) zoomMode = 2;
    PageLoadRequest request{};
    BookReaderEx::setLoadSizeLoadStructWithMode(zoomMode, request.targetSize, area.size, 1.0);
    request.targetSizePreload = request.targetSize;
    request.minimumImageSize = area.size;
    request.targetPage = page;
    request.operation = PageLoadRequest::kCompose;
    request.secondPage = secondPage;
    request.isPreloadPages = true;
    return request;
}

void PreparedBookOpen::start(const std::string& fullPath, bool useBookmark) {
    discard();
    // Solid archives warn before they open: those open as ever.
    if (BookCommon::isRARFileWithFile(fullPath) || BookCommon::is7zFileWithFile(fullPath)) return;
    auto job = std::make_unique<Job>();
    job->full = fullPath;
    job->useBookmark = useBookmark;
    // The settings as the library will have them for this book.
    job->settings = std::make_shared<Settings>();
    job->settings->readFromFile();
    job->settings->setTargetBook(fullPath);
    if (useBookmark) {
        job->position = storedPosition(fullPath, *job->settings);
        if (!job->position.folder.empty()) job->folder = job->position.folder;
    }
    job->view = firstViewRequest(job->settings.get(), 0, false);
    job->reader = std::make_shared<BookReaderEx>();
    job->reader->setSettings(job->settings);
    Job* work = job.get();
    job->thread = sys::Thread([work](const std::atomic<bool>&) { work->run(); }, "prepare-book");
    current() = std::move(job);
}

std::optional<PreparedBookOpen::Session> PreparedBookOpen::take(const std::string& fullPath,
                                                                const std::optional<std::string>& password,
                                                                const std::optional<std::string>& folder,
                                                                bool useBookmark,
                                                                const std::shared_ptr<Settings>& settings) {
    std::unique_ptr<Job> job = std::exchange(current(), nullptr);
    if (!job) return std::nullopt;
    // A PDF page still drawing is not waited for: the open draws it on the
    // reading screen's worker instead.
    if (!job->finished.load() && BookCommon::isPDFFileWithFile(job->full)) {
        job->abandon();
        endOffMainThread(std::move(job));
        return std::nullopt;
    }
    job->thread.join();
    if (!job->composed || job->full != fullPath || password || job->folder != folder ||
        job->useBookmark != useBookmark || !settings)
        return std::nullopt;
    // Nothing changed since: the stored position, the settings, the view.
    if (useBookmark && !(storedPosition(fullPath, *settings) == job->position)) return std::nullopt;
    const auto values = settings->snapshot();
    if (!values || !job->values || !(*values == *job->values)) return std::nullopt;
    if (!(firstViewRequest(settings.get(), job->page, job->second) == job->view)) return std::nullopt;
    job->reader->setSettings(settings);
    return Session{job->reader, job->page, job->second};
}

void PreparedBookOpen::discard() {
    std::unique_ptr<Job> job = std::exchange(current(), nullptr);
    if (job) {
        job->abandon();
        job->thread.join();
    }
    ending().join();
}

bool PreparedBookOpen::readyToShow(const std::string& fullPath) {
    const auto& job = current();
    // Still at work: the open waits for it the usual way.
    if (!job || job->full != fullPath || !job->finished.load()) return false;
    job->thread.join();
    return job->composed && !job->holdsArchives;
}

const BookReaderEx* PreparedBookOpen::ready() {
    const auto& job = current();
    return job && job->finished.load() && job->composed ? job->reader.get() : nullptr;
}
