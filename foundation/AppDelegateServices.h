#pragma once

#include <memory>

class BookTransfer;
class Settings;

// What the lower layers ask of the application object. The application
// implements it and installs it at start-up; until then (and in tests that
// install nothing) the answers are "no settings" and "not going to the
// background".
class AppDelegateServices {
public:
    virtual ~AppDelegateServices() = default;

    // The process's shared settings store.
    virtual std::shared_ptr<Settings> settings() = 0;
    // True while the application is moving to the background.
    virtual bool isAppGotoBackgroundProcess() = 0;
    // The one download queue, once the library has made it.
    virtual std::shared_ptr<BookTransfer> transferQueue() { return nullptr; }

    static void install(std::shared_ptr<AppDelegateServices> services);
    static std::shared_ptr<AppDelegateServices> installed();

    // The installed object's answers, or the defaults above.
    static std::shared_ptr<Settings> sharedSettings();
    static bool appGoingToBackground();
};
