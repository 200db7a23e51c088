#pragma once

#include <string>

// Finds the program's read-only resources (language tables, images, pages).
// An installed program keeps them in "resources" beside the executable or one
// folder up; a program run from its build tree finds them in the source tree.
class ResourceLocator {
public:
    ResourceLocator() = delete;

    // The resources folder, absolute and without a trailing "/"; "" when none
    // of the candidates exists.
    static std::string resourcesDirectory();
    // resourcesDirectory() + "/" + relative; "" when there is no resources folder.
    static std::string pathForResource(const std::string& relative);

    // Points the search at one folder (tests); "" goes back to the search.
    static void setResourcesDirectoryOverride(const std::string& path);
};
