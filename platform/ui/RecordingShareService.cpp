#include "platform/ui/RecordingShareService.h"

#include "platform/core/RunLoop.h"

namespace ui {

bool RecordingShareService::openIn(const std::string& path, const Anchor& anchor) {
    calls.push_back({"openIn", {path}, anchor.rect, anchor.view != nullptr});
    return canOpen;
}

void RecordingShareService::share(const std::vector<std::string>& items, const Anchor& anchor, Completion completion) {
    calls.push_back({"share", items, anchor.rect, anchor.view != nullptr});
    bool done = shareCompletes;
    if (completion) sys::RunLoop::main().post([completion, done] { completion(done); });
}

}  // namespace ui
