#include "engine/ArchiveContentsCheck.h"

#include "foundation/ArraySort.h"
#include "foundation/BookCommon.h"

ArchiveContentsCheck::ArchiveContentsCheck(bool* includeFolder, bool* includeArchive, bool isCheckEntityOnly)
    : includeFolder_(includeFolder), includeArchive_(includeArchive), isCheckEntityOnly_(isCheckEntityOnly) {
    if (includeFolder_) *includeFolder_ = false;
    if (includeArchive_) *includeArchive_ = false;
}

bool ArchiveContentsCheck::isInnerArchive(const char* name) {
    return BookCommon::isZipFile(name) || BookCommon::is7zFile(name) || BookCommon::isRarFile(name) ||
           BookCommon::isPdfFile(name);
}

bool ArchiveContentsCheck::add(const std::optional<std::string>& folder, const std::string& rawName) {
    if (includeFolder_ && folder) {
        if (folders_.insert(*folder).second) result_.push_back(*folder);
        *includeFolder_ = true;
        if (isCheckEntityOnly_) return false;
    }
    if (includeArchive_ && isInnerArchive(rawName.c_str())) {
        result_.push_back(rawName);
        *includeArchive_ = true;
        if (isCheckEntityOnly_) return false;
    }
    return true;
}

std::optional<std::vector<std::string>> ArchiveContentsCheck::result() {
    if (result_.empty()) return std::nullopt;
    if (includeFolder_) ArraySort::sortFileListArrayNSString(result_, nullptr);
    return std::move(result_);
}
