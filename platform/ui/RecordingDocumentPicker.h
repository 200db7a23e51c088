#pragma once

#include "platform/ui/DocumentPicker.h"

#include <vector>

namespace ui {

// A picker for tests: it remembers each request and waits for answer().
class RecordingDocumentPicker : public DocumentPicker {
public:
    struct Request {
        std::vector<std::string> extensions;
        bool allowsMultiple = false;
    };
    std::vector<Request> requests;

    void pickDocuments(const std::vector<std::string>& extensions, bool allowsMultiple, Completion completion) override;
    // Completes the open request with these paths (none: cancelled).
    bool answer(const std::vector<std::string>& paths);
    bool isOpen() const { return bool(pending_); }

private:
    Completion pending_;
};

}  // namespace ui
