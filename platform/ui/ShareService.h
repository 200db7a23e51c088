#pragma once

#include "platform/ui/Geometry.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ui {

class View;

// Handing a book to other programs: "Open in…" (a program that takes the
// file) and the share sheet ("Other…"). This base hands nothing on (a run
// without a desktop opens nothing outside itself); the desktop installs
// DesktopShareService as the process's service. The anchor says where a
// menu would point from.
class ShareService {
public:
    struct Anchor {
        std::shared_ptr<View> view;
        Rect rect;
    };
    using Completion = std::function<void(bool done)>;

    virtual ~ShareService() = default;
    static std::shared_ptr<ShareService> shared();
    static void setShared(std::shared_ptr<ShareService> s);

    // False (at once) when no program can take the file.
    virtual bool openIn(const std::string& path, const Anchor& anchor);
    // Items are file paths or URLs. The completion runs on the main loop
    // (false: nothing was handed on).
    virtual void share(const std::vector<std::string>& items, const Anchor& anchor, Completion completion);
};

}  // namespace ui
