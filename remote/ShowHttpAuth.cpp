#include "remote/ShowHttpAuth.h"

void ShowHttpAuth::willRotationnotify(int interfaceOrientation) {
    pendingOrientation_ = interfaceOrientation;
    needsLayout_ = true;
}

void ShowHttpAuth::willRotationnotify_iOS8() { needsLayout_ = true; }
