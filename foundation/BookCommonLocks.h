#pragma once

// BookCommon's operations for folder locks.
// Class operations only; reach them through BookCommon.
class BookCommonLocks {
public:
protected:
    BookCommonLocks() = default;
};
