#pragma once

#include <optional>
#include <string>

// The small book a new library starts with, so that a new user has
// something to read: pages drawn at build time, stored as a comic archive
// beside the program and copied into the library on the first run.
class SampleBook {
public:
    static constexpr const char* kInstalledName = "Leafbright Sample.cbz";
    static constexpr const char* kBuiltName = "leafbright-sample.cbz";

    // The built archive: "sample/" beside the program, or the build tree's.
    static std::optional<std::string> sourcePath();
    // Tests point it at their own file; nothing goes back to the search.
    static void setSourcePathOverride(const std::optional<std::string>& path);

    // No version of the program has run on this home yet.
    static bool isFirstRun();
    // Copies the sample into the library root unless a file of its name is
    // there; false when there is nothing to copy or the copy failed.
    static bool install();
    // The sample bookshelf theme goes into a new library beside the book, to
    // be installed with a tap; false when it is missing or already there.
    static constexpr const char* kThemeName = "Leafbright Harbour.lbt";
    static bool installTheme();
    static bool installIfFirstRun();
};
