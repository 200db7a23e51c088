#pragma once

#include "platform/ui/ShareService.h"

namespace ui {

// Handing a book to the desktop's programs: open-in starts the file's
// default program through xdg-open; sharing a file shows its folder in the
// file manager, sharing a web address opens it. A run with a window
// installs it as the process's share service.
class DesktopShareService : public ShareService {
public:
    // False (at once) when the file is not an existing regular file, or
    // xdg-open cannot be started.
    bool openIn(const std::string& path, const Anchor& anchor) override;
    void share(const std::vector<std::string>& items, const Anchor& anchor, Completion completion) override;
};

}  // namespace ui
