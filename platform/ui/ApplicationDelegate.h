#pragma once

namespace ui {

// What the application object tells the program about its life, each call
// just before the notification of the same step goes out (main thread).
// On the desktop the window's focus and minimising drive these steps.
class ApplicationDelegate {
public:
    virtual ~ApplicationDelegate() = default;
    virtual void applicationWillResignActive() {}
    virtual void applicationDidEnterBackground() {}
    virtual void applicationWillEnterForeground() {}
    virtual void applicationDidBecomeActive() {}
};

}  // namespace ui
