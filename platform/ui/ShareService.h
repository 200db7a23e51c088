#pragma once

#include "platform/ui/Geometry.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ui {

class View;

// Handing a book to other programs: "Open in…" (a program that takes the
// file) and the share sheet ("Other…"). The process's service (shared())
// uses the desktop: open-in starts the file's default program through
// xdg-open; sharing a file shows its folder in the file manager, sharing a
// web address opens it. The anchor says where a menu would point from.
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

    // False (at once) when no program can take the file: it must be an
    // existing regular file.
    virtual bool openIn(const std::string& path, const Anchor& anchor);
    // Items are file paths or URLs. The completion runs on the main loop.
    virtual void share(const std::vector<std::string>& items, const Anchor& anchor, Completion completion);
};

}  // namespace ui
