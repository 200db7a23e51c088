#pragma once

// BookCommon's operations for file types and address-scheme tests.
// Class operations only; reach them through BookCommon.
class BookCommonTypes {
public:
protected:
    BookCommonTypes() = default;
};
