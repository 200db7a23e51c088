#include "foundation/GlobalRotationEventNofityObject.h"

void GlobalRotationEventNofityObject::willRotationnotify(int interfaceOrientation) {
    if (delegate_) delegate_->willRotationnotify(interfaceOrientation);
}

void GlobalRotationEventNofityObject::willRotationnotify_iOS8() {
    if (delegate_) delegate_->willRotationnotify_iOS8();
}
