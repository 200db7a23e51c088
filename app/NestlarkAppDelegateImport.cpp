// The application delegate's imports: books handed over, dropped or picked,
// copied into the library on BookImport's worker, and the messages of those refused.
#include "app/NestlarkAppDelegate.h"

#include "app/BookImport.h"
#include "app/LeafbrightProgram.h"
#include "engine/BookReaderEx.h"
#include "engine/RarStreamShim.h"
#include "foundation/ActiveLog.h"
#include "foundation/BookCommon.h"
#include "foundation/LastStatusRestore.h"
#include "foundation/ui/QNAlertView.h"
#include "library/LocalBookOpener.h"
#include "library/LocalFilelistViewController.h"
#include "library/PreparedBookOpen.h"
#include "platform/core/Clock.h"
#include "platform/core/FileManager.h"
#include "platform/core/Path.h"
#include "platform/core/PropertyList.h"
#include "platform/core/RunLoop.h"
#include "platform/core/Unicode.h"
#include "platform/ui/NavigationController.h"
#include "viewer/BookViewController.h"

#include <atomic>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <utility>
#include <vector>

namespace {

using sys::Path;

}  // namespace

void NestlarkAppDelegate::fileImported(const std::string& source, const std::optional<std::string>& target) {
    if (!target) {
        // The copy failed (a full disk): nothing came in.
        refuseImport(source);
        ActiveLog::writeCheckpoint("FileHandling end");
        return;
    }
    // Before the library is up the book is opened, and its first page
    // composed, while the start screen plays.
    if (target && !startDone_) PreparedBookOpen::start(*target, !BookCommon::isImageFileWithFile(*target));
    auto root = rootList();
    if (navigationController_ && navigationController_->viewControllers().size() == 1 && root) root->needUpdateFilelist();
    // Covered by a folder or a book: the list shows the new book when it is back in front.
    else if (root) root->setNeedUpdateFileList(true);
    // The library is up: whatever it shows (a book, the menu over it, the
    // settings, a list of bookmarks or sites, a folder, a search), the new
    // book takes its place at once, opened as a tap on it would open it.
    if (target && startDone_ && openHandedOver(*target)) {
        ActiveLog::writeCheckpoint("FileHandling end");
        return;
    }
    // Before the library is up the book waits for it, and takes the place
    // of whatever the library would have resumed.
    if (target && !startDone_) {
        bookHandedAtStart_ = *target;
        ActiveLog::writeCheckpoint("FileHandling end");
        return;
    }
    bool reading = false;
    if (navigationController_)
        for (const auto& vc : navigationController_->viewControllers())
            if (dynamic_cast<BookViewController*>(vc.get())) reading = true;
    if (!reading) {
        std::string relative = BookCommon::fromRootToFromBooks(target.value_or(""));
        if (!relative.empty() && relative[0] == '/') relative.erase(0, 1);
        sys::PropertyList::writeFile(sys::PlistArray{sys::PlistValue(relative)}, BookCommon::getLastBookSettingFilePath());
        if (root) {
            FilelistItem here;
            here.setPathFromBooks(root->pathFromBooks());
            LastStatusRestore::updateLastStatusLocal(here);
        }
        LastStatusRestore::setRestoreMode(1);
        if (navigationController_ && root) {
            if (navigationController_->viewControllers().size() == 1) root->restoreLastStatus(true);
            else navigationController_->popToRootViewController(false);
        }
    }
    ActiveLog::writeCheckpoint("FileHandling end");
}

void NestlarkAppDelegate::queueImport(const std::string& source, bool isFolder, ImportThen then,
                                      ImportRefused refused) {
    importQueue_.push_back(PendingImport{source, isFolder, std::move(then), std::move(refused)});
    if (!import_) startNextImport();
}

void NestlarkAppDelegate::dropEndedImports() {
    std::erase_if(givenUpImports_, [](const std::unique_ptr<BookImport>& i) { return !i->running(); });
}

void NestlarkAppDelegate::startNextImport() {
    dropEndedImports();
    if (import_ || importQueue_.empty()) {
        if (!import_) closeImportProgress();
        return;
    }
    PendingImport next = std::move(importQueue_.front());
    importQueue_.pop_front();
    loadSettings();
    const std::string folder = settings_ && settings_->filelistRootMode() != 0 ? BookCommon::getBooksTempRoot()
                                                                               : BookCommon::getBooksRootFolder();
    BookImport::setPictureLister(&NestlarkAppDelegate::picturesInFolder);
    importThen_ = std::move(next.then);
    importRefused_ = std::move(next.refused);
    importBegan_ = sys::Clock::now();
    fileTargetCopy_ = next.source;
    BookImport::Check check;
    if (importRefused_)
        check = [](const std::string& book, const std::atomic<bool>& stop) {
            // Given up, a decode ends at its next read.
            RarStreamShim::ScopedReadCancel cancel(&stop);
            return bookOpenProblem(book);
        };
    // The delegate owns the copy: it is over (or given up) before the delegate goes.
    import_ = std::make_unique<BookImport>(next.source, next.isFolder, folder, [this] { importFinished(); },
                                           std::move(check));
    if (!importTimer_) {
        std::weak_ptr<NestlarkAppDelegate> weak = shared_from_this();
        importTimer_ = sys::RunLoop::main().schedule(
            kImportProgressEvery,
            [weak] {
                if (auto self = weak.lock()) self->updateImportProgress();
            },
            kImportProgressEvery);
    }
}

void NestlarkAppDelegate::importFinished() {
    if (!import_) return;
    std::unique_ptr<BookImport> done = std::move(import_);
    const std::optional<std::string> target = done->place();
    fileTargetCopy_.reset();
    // Only our own hand-over inbox entry goes, and only once its copy is in
    // the library, so a failed copy loses nothing.
    const std::string& source = done->source();
    const std::string inbox = BookCommon::getInboxPath();
    if (target && !done->isFolder() && BookCommon::isPathInFolder(source, inbox) &&
        Path::stringByDeletingLastPathComponent(source) == inbox)
        sys::FileManager::removeItem(source);
    ImportThen then = std::move(importThen_);
    importThen_ = nullptr;
    ImportRefused refused = std::exchange(importRefused_, nullptr);
    const std::optional<std::string> problem = done->problem();
    done.reset();
    if (importQueue_.empty()) closeImportProgress();
    if (problem && refused) refused(*problem);
    else if (then) then(target);
    startNextImport();
    if (!isImporting())
        for (auto& fn : std::exchange(afterImports_, {})) fn();
}

void NestlarkAppDelegate::afterImports(std::function<void()> fn) {
    if (isImporting()) afterImports_.push_back(std::move(fn));
    else fn();
}

void NestlarkAppDelegate::updateImportProgress() {
    dropEndedImports();
    if (!import_) {
        closeImportProgress();
        return;
    }
    // A short copy shows nothing; over a start screen nothing shows yet.
    if (!startDone_ || nowPresentMasterLockView_ || sys::Clock::now() - importBegan_ < kImportProgressAfter) return;
    const std::string name = Path::lastPathComponent(import_->source());
    const std::string message = BookCommon::localizedStringWithOnOff("Please wait...") + " " +
                                std::to_string(int(import_->progress() * 100)) + "%";
    if (!importAlert_) {
        importAlert_ = std::make_shared<QNAlertView>(name, message, std::weak_ptr<QNAlertViewDelegate>(shared_from_this()),
                                                     BookCommon::localizedStringWithOnOff("Cancel"),
                                                     std::vector<std::string>{});
        importAlert_->show();
        return;
    }
    importAlert_->setTitle(name);
    importAlert_->setMessage(message);
    if (auto* notice = importAlert_->noticeView()) {
        if (auto* title = notice->titleLabel()) title->setText(name);
        if (auto* text = notice->messageLabel()) text->setText(message);
    }
}

void NestlarkAppDelegate::closeImportProgress() {
    if (importTimer_ && !import_ && importQueue_.empty() && givenUpImports_.empty()) {
        importTimer_->invalidate();
        importTimer_.reset();
    }
    if (!importAlert_) return;
    // Closed by the program, not given up: its answer goes nowhere.
    auto alert = std::exchange(importAlert_, nullptr);
    if (auto* notice = alert->noticeView()) notice->cancel();
}

void NestlarkAppDelegate::cancelImports() {
    afterImports_.clear();
    importQueue_.clear();
    import_.reset();
    givenUpImports_.clear();
    importThen_ = nullptr;
    importRefused_ = nullptr;
    fileTargetCopy_.reset();
    closeImportProgress();
}

void NestlarkAppDelegate::openDroppedFiles(const std::vector<std::string>& paths) {
    // A folder of pictures is a book too, as on the command line.
    auto isBook = [](const std::string& p) {
        bool isDirectory = false;
        if (!sys::FileManager::fileExists(p, &isDirectory)) return false;
        return isDirectory ? holdsPictures(p) : isImportable(p);
    };
    auto isFolder = [](const std::string& p) {
        bool isDirectory = false;
        return sys::FileManager::fileExists(p, &isDirectory) && isDirectory;
    };
    size_t last = paths.size();
    for (size_t i = 0; i < paths.size(); ++i)
        if (isBook(paths[i])) last = i;
    // The last book comes in as a book handed over does, and opens; the
    // messages about the others come after it (its opening would close them).
    if (last < paths.size()) openURL(LeafbrightProgram::targetURL(paths[last]));
    for (size_t i = 0; i < paths.size(); ++i) {
        if (i == last) continue;
        if (!isBook(paths[i])) {
            afterImports([this, p = paths[i]] { refuseImport(p); });
            continue;
        }
        // A book is tried on the import's worker; why it does not open is
        // told in its place among the messages about the others.
        auto why = std::make_shared<std::optional<std::string>>();
        ImportRefused refused;
        if (!isFolder(paths[i])) refused = [why](const std::string& problem) { *why = problem; };
        queueImport(
            paths[i], isFolder(paths[i]),
            [this, source = paths[i]](const std::optional<std::string>& target) {
                if (!target) refuseImport(source);
                if (auto root = rootList()) root->setNeedUpdateFileList(true);
            },
            std::move(refused));
        afterImports([this, p = paths[i], why] {
            if (*why) refuseBrokenBook(p, **why);
        });
    }
    if (auto root = rootList()) root->setNeedUpdateFileList(true);
    if (last == paths.size())
        if (auto root = rootList(); root && navigationController_ && navigationController_->viewControllers().size() == 1)
            root->needUpdateFilelist();
}

void NestlarkAppDelegate::importDocument(const std::string& path, ImportedDocument then) {
    bool isDirectory = false;
    if (!sys::FileManager::fileExists(path, &isDirectory)) return;
    if (isDirectory || !isImportable(path)) {
        refuseImport(path);
        return;
    }
    // Copied on the worker as a book handed over is, its progress shown and
    // Cancel offered while it runs.
    queueImport(path, false, [this, path, then = std::move(then)](const std::optional<std::string>& target) {
        if (!target) {
            // The copy failed (a full disk): nothing came in.
            refuseImport(path);
            return;
        }
        if (auto root = rootList()) root->setNeedUpdateFileList(true);
        if (then) then(*target);
    });
}

void NestlarkAppDelegate::refuseImport(const std::string& path) {
    refuse(path, "This file is not a book and was not added to the library.");
}

void NestlarkAppDelegate::refuseAddress(const std::string& url) {
    std::fprintf(stderr, "leafbright: %s: %s\n", sys::Unicode::displaySafe(url).c_str(),
                 sys::Unicode::displaySafe(kAddressNotOpened).c_str());
    refuseTitled(url, kAddressNotOpened);
}

void NestlarkAppDelegate::refuse(const std::string& path, const std::string& message) {
    std::string name = Path::lastPathComponent(path);
    if (name.empty()) name = path;
    refuseTitled(name, message);
}

void NestlarkAppDelegate::refuseTitled(const std::string& title, const std::string& message) {
    auto alert = std::make_shared<QNAlertView>(title, BookCommon::localizedStringWithOnOff(message),
                                               std::weak_ptr<QNAlertViewDelegate>(), std::nullopt,
                                               std::vector<std::string>{BookCommon::localizedStringWithOnOff("OK")});
    // Over a start screen it would go with it: the library says it once it is up.
    if (!startDone_) {
        pendingRefusals_.push_back(alert);
        return;
    }
    alert->show();
}

std::optional<std::string> NestlarkAppDelegate::bookOpenProblem(const std::string& path) {
    if (!BookCommon::isBookorPDFFileWithFilename(path)) return std::nullopt;
    auto reader = std::make_shared<BookReaderEx>();
    const bool opened = reader->openBookWithName(path, {}, std::nullopt, std::nullopt, std::nullopt, false, false);
    const PageReader::OpenFailure failure = reader->openFailure();
    reader->closeBook();
    if (opened || failure == PageReader::OpenFailure::Password) return std::nullopt;
    return LocalBookOpener::openErrorMessage(failure);
}

void NestlarkAppDelegate::refuseBrokenBook(const std::string& path, const std::string& why) {
    std::fprintf(stderr, "leafbright: %s: %s\n", sys::Unicode::displaySafe(path).c_str(), sys::Unicode::displaySafe(why).c_str());
    refuse(path, why);
}
