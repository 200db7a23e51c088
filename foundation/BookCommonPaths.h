#pragma once

// BookCommon's operations for the folder layout and the per-book side files.
// Class operations only; reach them through BookCommon.
class BookCommonPaths {
public:
protected:
    BookCommonPaths() = default;
};
