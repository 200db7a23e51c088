#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

// Collects, entry by entry, what an archive book holds besides its pages:
// the folders holding entries (text) and the inner zip, 7z, RAR and PDF
// files (raw names). Asked only for the first find, it tells the walk to
// stop there.
class ArchiveContentsCheck {
public:
    // `includeFolder` and `includeArchive`, when given, ask for that kind
    // and are set when one is found (false until then).
    ArchiveContentsCheck(bool* includeFolder, bool* includeArchive, bool isCheckEntityOnly);

    // True for names of the inner archive kinds.
    static bool isInnerArchive(const char* name);

    bool wantsFolders() const { return includeFolder_ != nullptr; }
    // Notes one entry that is neither skipped nor a directory; `folder` is
    // its folder as text (nothing at the top). False when the walk can stop.
    bool add(const std::optional<std::string>& folder, const std::string& rawName);
    // The finds (folders sorted as file names), or nothing when none.
    std::optional<std::vector<std::string>> result();

private:
    bool* includeFolder_;
    bool* includeArchive_;
    bool isCheckEntityOnly_;
    std::vector<std::string> result_;
    std::set<std::string> folders_;
};
