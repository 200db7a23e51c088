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
    // The orientations any screen of the window may take (a mask of
    // InterfaceOrientationMask bits): the window turns only to one that
    // both this and the screen in front allow.
    virtual unsigned supportedInterfaceOrientationsForWindow() const { return ~0u; }
};

}  // namespace ui
