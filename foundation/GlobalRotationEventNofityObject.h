#pragma once

#include "foundation/GlobalRotationEventNofityObjectDelegate.h"

// Lets an object that should not be held by the rotation observer list (a
// screen) hear rotation events: register this small object instead, and it
// passes the events on to its non-owning delegate.
class GlobalRotationEventNofityObject : public GlobalRotationEventNofityObjectDelegate {
public:
    void setDelegate(GlobalRotationEventNofityObjectDelegate* delegate) { delegate_ = delegate; }
    GlobalRotationEventNofityObjectDelegate* delegate() const { return delegate_; }

    void willRotationnotify(int interfaceOrientation) override;
    void willRotationnotify_iOS8() override;

private:
    GlobalRotationEventNofityObjectDelegate* delegate_ = nullptr;
};
