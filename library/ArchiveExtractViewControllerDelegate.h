#pragma once

#include "platform/ui/Geometry.h"

#include <string>

namespace ui {
class ViewController;
}

// Who opens a book taken out of an archive: the list of the archive's
// folder, which now holds it, opens it as a tap on it there would.
// `screen` and `row` say where the tap was, for a sheet to stand beside.
class ArchiveExtractViewControllerDelegate {
public:
    virtual ~ArchiveExtractViewControllerDelegate() = default;
    virtual void finishExtractFile(const std::string& path, ui::ViewController& screen, const ui::Rect& row) = 0;
};
