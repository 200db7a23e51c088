#include "platform/ui/RecordingDocumentPicker.h"

#include "platform/core/RunLoop.h"

namespace ui {

void RecordingDocumentPicker::pickDocuments(const std::vector<std::string>& extensions, bool allowsMultiple,
                                            Completion completion) {
    requests.push_back({extensions, allowsMultiple});
    if (pending_) {
        // One chooser at a time, as on the desktop: the second is cancelled.
        if (completion) sys::RunLoop::main().post([completion] { completion({}); });
        return;
    }
    pending_ = completion ? completion : [](const std::vector<std::string>&) {};
}

bool RecordingDocumentPicker::answer(const std::vector<std::string>& paths) {
    if (!pending_) return false;
    Completion c = std::move(pending_);
    pending_ = nullptr;
    sys::RunLoop::main().post([c, paths] { c(paths); });
    return true;
}

}  // namespace ui
