#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/core/PlistValue.h"

namespace sys {

// Reading and writing property-list files, XML or binary. A file that cannot
// be read, is malformed, too large or too deeply nested reads as absent;
// nothing here throws or trusts sizes in the file.
//
// Written XML has the platform's header and DOCTYPE and sorted keys. Writes
// are atomic (FileManager::writeFile). A value holding null, or a string that
// is not valid UTF-8 or holds a NUL, cannot be written (EILSEQ / EINVAL)
// rather than being written wrongly.
class PropertyList {
public:
    enum class Format { Xml, Binary };

    static constexpr std::uint64_t kMaxFileSize = 16ull << 20;
    static constexpr int kMaxDepth = 256;
    static constexpr std::uint64_t kMaxNodes = 2'000'000;

    static std::optional<PlistValue> parse(std::string_view bytes, Format* format = nullptr);
    static std::optional<PlistValue> readFile(const std::string& path, Format* format = nullptr);
    // Absent also when the file holds another type at its top.
    static std::optional<PlistDictionary> readDictionary(const std::string& path);
    static std::optional<PlistArray> readArray(const std::string& path);

    static std::optional<std::string> serialize(const PlistValue& value, Format format = Format::Xml,
                                                std::error_code* error = nullptr);
    static bool writeFile(const PlistValue& value, const std::string& path, Format format = Format::Xml,
                          std::error_code* error = nullptr);
};

}  // namespace sys
