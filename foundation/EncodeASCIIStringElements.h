#pragma once

#include <string>

// The program's reversible scrambling of the identifiers it keeps inside
// Google Drive share-link pseudo URLs. Only letters, digits, "_", "-", "%"
// and "@" are changed; every other byte passes through.
class EncodeASCIIStringElements {
public:
    EncodeASCIIStringElements() = delete;

    static std::string stringEncodeASCIIStringElements(const std::string& text);
    // Undoes the above, except that an "@" of the original comes back as "%".
    static std::string stringDecodeASCIIStringElements(const std::string& text);
};
