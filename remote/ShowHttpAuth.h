#pragma once

#include "foundation/GlobalRotationEventNofityObjectDelegate.h"

// The server sign-in panel. While shown it is one of BookCommon's rotation
// observers, so that it can follow the interface to its new orientation.
class ShowHttpAuth : public GlobalRotationEventNofityObjectDelegate {
public:
    ShowHttpAuth() = default;

    void willRotationnotify(int interfaceOrientation) override;
    void willRotationnotify_iOS8() override;

    // The orientation the panel was last told about (0 before any rotation).
    int pendingOrientation() const { return pendingOrientation_; }
    // Whether a size change is waiting for the panel's next layout.
    bool needsLayout() const { return needsLayout_; }

private:
    int pendingOrientation_ = 0;
    bool needsLayout_ = false;
};
