#pragma once

// Receives the rotation events that BookCommon passes to its rotation
// observers (before the interface rotates).
class GlobalRotationEventNofityObjectDelegate {
public:
    virtual ~GlobalRotationEventNofityObjectDelegate() = default;
    // The orientation the interface turns to (1 portrait, 2 upside down,
    // 3 landscape left, 4 landscape right).
    virtual void willRotationnotify(int interfaceOrientation) { (void)interfaceOrientation; }
    // The window changes size (the newer form of the same event).
    virtual void willRotationnotify_iOS8() {}
};
