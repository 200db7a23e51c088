#pragma once

#include "library/PassCodeRequetDelegate.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace ui {
class ViewController;
}
class BookTransfer;
class Settings;
class LocalFilelistViewController;

// What the file lists need of the application and of the screens above
// them (history, settings, servers, passcodes). The application implements
// it and installs it at start-up; without one (tests) the lists work alone:
// nothing is handed over and the screens are not offered.
class LibraryServices {
public:
    virtual ~LibraryServices() = default;

    // The one transfer queue, made by the root list's start-up work.
    virtual void setBookTransfer(std::shared_ptr<BookTransfer> transfer) = 0;
    // Makes that queue with the settings and takes up what a previous run
    // left in it; null where there is no application (tests).
    virtual std::shared_ptr<BookTransfer> makeBookTransfer(std::shared_ptr<Settings> settings) {
        (void)settings;
        return nullptr;
    }
    // A remote address handed in at launch, for the root list to open once.
    virtual std::optional<std::string> startupOpenUrl() = 0;
    virtual void setStartupOpenUrl(const std::optional<std::string>& url) = 0;

    // The screens other layers own; null when they are not available.
    virtual std::shared_ptr<ui::ViewController> makeHistoryViewController(
        std::weak_ptr<LocalFilelistViewController> calledViewController) = 0;
    virtual std::shared_ptr<ui::ViewController> makeMediaServerViewController(std::shared_ptr<Settings> settings) = 0;
    virtual std::shared_ptr<ui::ViewController> makeSettingViewController(std::shared_ptr<Settings> settings,
                                                                          int settingViewType) = 0;
    // Asks for biometric unlock of a locked folder; the answer comes to
    // `delegate` on the main thread.
    virtual void requestPasscode(const PassCodeTarget& target, std::weak_ptr<PassCodeRequetDelegate> delegate) = 0;
    // The passcode entry screen, to be presented by the caller.
    virtual std::shared_ptr<ui::ViewController> makePassCodeInputView(
        const PassCodeTarget& target, std::weak_ptr<PassCodeInputViewExDelegate> delegate) = 0;

    // The camera's scan screens saving into `folder`: a new scanned book
    // (`newBook`) or pages added to a scan folder; null where there is no
    // camera to scan with.
    virtual std::shared_ptr<ui::ViewController> makeScanScreen(bool newBook, const std::string& folder) {
        (void)newBook;
        (void)folder;
        return nullptr;
    }

    // Brings a file from outside the library in as any import does (copied
    // on a worker into the library's top folder, renamed beside a different
    // file of the same name, its progress shown and Cancel offered while it
    // runs); a file the library would not show is refused with a message.
    // `then` hears the path of the copy on the main thread once it is in;
    // never for a file refused, a copy that failed or one given up.
    using ImportedDocument = std::function<void(const std::string& target)>;
    virtual void importDocument(const std::string& path, ImportedDocument then) {
        (void)path;
        (void)then;
    }

    static void install(std::shared_ptr<LibraryServices> services);
    static std::shared_ptr<LibraryServices> installed();
};
