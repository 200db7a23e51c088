#pragma once

// BookCommon's operations for digests, escapes and name helpers.
// Class operations only; reach them through BookCommon.
class BookCommonNames {
public:
protected:
    BookCommonNames() = default;
};
