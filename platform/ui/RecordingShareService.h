#pragma once

#include "platform/ui/ShareService.h"

#include <string>
#include <vector>

namespace ui {

// A share service for tests: it records what it was handed and where from.
class RecordingShareService : public ShareService {
public:
    struct Call {
        std::string kind;  // "openIn" or "share"
        std::vector<std::string> items;
        Rect anchorRect;
        bool anchoredToView = false;
    };
    std::vector<Call> calls;
    // What openIn answers (no program can take the file when false).
    bool canOpen = true;
    bool shareCompletes = true;

    bool openIn(const std::string& path, const Anchor& anchor) override;
    void share(const std::vector<std::string>& items, const Anchor& anchor, Completion completion) override;
};

}  // namespace ui
