#include "library/PreparedBookOpen.h"

#include "engine/BookReaderEx.h"
#include "engine/ThumbsCreate.h"
#include "foundation/BookCommon.h"
#include "foundation/Settings.h"
#include "library/LocalBookOpener.h"
#include "platform/core/RunLoop.h"
#include "platform/core/Thread.h"
#include "viewer/BookViewController.h"

#include <atomic>
#include <functional>
#include <utility>
#include <vector>

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
    std::shared_ptr<Settings> settings;  // the worker's own or the list's, set to the book
    Position position;
    std::optional<std::string> folder;
    std::optional<std::string> password;
    // Made for the start: the question an open asks first is looked at too.
    bool forStart = true;
    PageLoadRequest view;  // the first view, its page filled in by the worker

    // The worker's results.
    std::shared_ptr<BookReaderEx> reader;
    int32_t page = 0;
    bool second = false;
    bool opened = false;
    int loadResult = BookReaderEx::kLoadError;
    // The open went its whole way (not abandoned): its answer stands.
    bool answered = false;
    bool composed = false;
    bool holdsArchives = false;  // a book with archives inside (offered to expand)
    std::shared_ptr<const SettingsValues> values;

    sys::Thread thread;
    std::atomic<bool> finished{false};
    // Main thread: what runs once the worker is done.
    std::vector<std::function<void()>> whenFinished;
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
        values = settings->snapshot();
        opened = reader->openBookWithName(full, {}, std::nullopt, password, folder, false, false);
        if (opened && !abandoned) {
            if (useBookmark) {
                page = LocalBookOpener::startPageForResume(position.page, reader->getPageNum());
                second = page == position.page && position.second;
            } else if (BookCommon::isImageFileWithFile(full)) {
                page = reader->getSelectedImageNo();
            }
            if (page >= 0 && page < reader->getPageNum()) {
                view.targetPage = page;
                view.secondPage = second;
                loadResult = reader->loadPage(view);
                composed = loadResult == BookReaderEx::kLoadDone;
            }
            // The question an open of a book (not of a picture) asks first.
            if (forStart && composed && !BookCommon::isImageFileWithFile(full)) {
                auto archives = BookReaderEx::getArchiveList(full, false, {}, "", "", settings,
                                                             sys::PlistDictionary());
                holdsArchives = archives && !archives->empty();
            }
        }
        answered = !abandoned;
        finished = true;
    }
};

// Never destroyed: a preparation still held at exit (a run that ended
// without applicationWillTerminate) is not torn down after the services
// its session uses.
std::shared_ptr<Job>& current() {
    static auto* job = new std::shared_ptr<Job>();
    return *job;
}

// A preparation nobody waits for any more is not waited for either: a PDF
// page it draws is abandoned, and its worker, which may be decoding a large
// page or ending a band of a heavy page's rows, is left to finish alone.
void letGo(std::shared_ptr<Job> job) {
    if (!job) return;
    if (job->finished.load()) {
        job->thread.join();
        return;
    }
    job->abandon();
    sys::Thread::leaveToFinish(std::move(job->thread));
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

namespace {

// Starts the worker of `job`, whose book, settings and position are set.
void launch(std::shared_ptr<Job> job) {
    job->view = PreparedBookOpen::firstViewRequest(job->settings.get(), 0, false);
    job->reader = std::make_shared<BookReaderEx>();
    job->reader->setSettings(job->settings);
    // The covers wait meanwhile: the book's first page is not decoded by
    // both at once.
    ThumbsCreate::holdForOpen(true);
    // The worker keeps its job: one let go finishes alone.
    job->thread = sys::Thread(
        [job](const std::atomic<bool>&) {
            job->run();
            ThumbsCreate::holdForOpen(false);
            std::weak_ptr<Job> done = job;
            sys::RunLoop::main().post([done] {
                auto finished = done.lock();
                if (!finished || current() != finished) return;
                for (auto& fn : std::exchange(finished->whenFinished, {})) fn();
            });
        },
        "prepare-book");
    current() = std::move(job);
}

}  // namespace

void PreparedBookOpen::start(const std::string& fullPath, bool useBookmark) {
    discard();
    // Solid archives warn before they open: those open as ever.
    if (BookCommon::isRARFileWithFile(fullPath) || BookCommon::is7zFileWithFile(fullPath)) return;
    auto job = std::make_shared<Job>();
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
    launch(std::move(job));
}

void PreparedBookOpen::startForOpen(const std::string& fullPath, const std::optional<std::string>& password,
                                    const std::optional<std::string>& folder, bool useBookmark,
                                    const std::shared_ptr<Settings>& settings) {
    discard();
    if (!settings) return;
    auto job = std::make_shared<Job>();
    job->full = fullPath;
    job->useBookmark = useBookmark;
    job->forStart = false;
    job->settings = settings;
    job->password = password;
    job->folder = folder;
    if (useBookmark) job->position = storedPosition(fullPath, *settings);
    launch(std::move(job));
}

bool PreparedBookOpen::isPreparing(const std::string& fullPath) {
    const auto& job = current();
    // A PDF page still drawing is not waited for: the open abandons it and
    // draws it on the reading screen's worker instead.
    return job && job->full == fullPath && !job->finished.load() && !BookCommon::isPDFFileWithFile(fullPath);
}

bool PreparedBookOpen::isHeld(const std::string& fullPath) {
    const auto& job = current();
    return job && job->full == fullPath;
}

void PreparedBookOpen::whenFinished(std::function<void()> fn) {
    const auto& job = current();
    if (!job || job->finished.load()) {
        sys::RunLoop::main().post(std::move(fn));
        return;
    }
    job->whenFinished.push_back(std::move(fn));
}

std::optional<PreparedBookOpen::Session> PreparedBookOpen::take(const std::string& fullPath,
                                                                const std::optional<std::string>& password,
                                                                const std::optional<std::string>& folder,
                                                                bool useBookmark,
                                                                const std::shared_ptr<Settings>& settings) {
    if (!current()) return std::nullopt;
    // Another book is opened: the preparation is not waited for.
    if (current()->full != fullPath) {
        letGo(std::exchange(current(), nullptr));
        return std::nullopt;
    }
    // A PDF page still drawing is not waited for: the open draws it on the
    // reading screen's worker instead.
    if (!current()->finished.load() && BookCommon::isPDFFileWithFile(fullPath)) {
        letGo(std::exchange(current(), nullptr));
        return std::nullopt;
    }
    std::shared_ptr<Job> job = std::exchange(current(), nullptr);
    job->thread.join();
    if (!job->answered || job->full != fullPath || password != job->password || job->folder != folder ||
        job->useBookmark != useBookmark || !settings)
        return std::nullopt;
    // Nothing changed since: the stored position, the settings, the view.
    if (useBookmark && !(storedPosition(fullPath, *settings) == job->position)) return std::nullopt;
    const auto values = settings->snapshot();
    if (!values || !job->values || !(*values == *job->values)) return std::nullopt;
    if (job->composed && !(firstViewRequest(settings.get(), job->page, job->second) == job->view)) return std::nullopt;
    job->reader->setSettings(settings);
    return Session{job->reader, job->page, job->second, job->opened, job->loadResult};
}

void PreparedBookOpen::discard() { letGo(std::exchange(current(), nullptr)); }

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
