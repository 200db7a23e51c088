#pragma once

// BookCommon's operations for device, screen and OS facts, the rotation lock and observers.
// Class operations only; reach them through BookCommon.
class BookCommonDevice {
public:
protected:
    BookCommonDevice() = default;
};
