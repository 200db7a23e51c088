#pragma once

// BookCommon's operations for localisation, date, size and time texts, tool bars and quick actions.
// Class operations only; reach them through BookCommon.
class BookCommonText {
public:
protected:
    BookCommonText() = default;
};
