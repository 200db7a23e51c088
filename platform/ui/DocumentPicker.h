#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ui {

class ChildProcess;

// Choosing files from outside the library to bring in. The process's
// picker (shared()) asks the desktop's file chooser (zenity or kdialog,
// whichever is installed); without one it answers at once with no files.
// Only existing regular files with one of the allowed extensions come back.
class DocumentPicker {
public:
    using Completion = std::function<void(const std::vector<std::string>& paths)>;

    virtual ~DocumentPicker();
    static std::shared_ptr<DocumentPicker> shared();
    static void setShared(std::shared_ptr<DocumentPicker> p);

    // `extensions` without dots, case-insensitive; empty allows any. The
    // completion runs on the main loop; an empty list means cancelled.
    virtual void pickDocuments(const std::vector<std::string>& extensions, bool allowsMultiple, Completion completion);
    bool isPicking() const { return child_ != nullptr; }

    // Keeps the chooser's answer to what may be taken (tests call it directly).
    static std::vector<std::string> acceptable(const std::string& chooserOutput,
                                               const std::vector<std::string>& extensions, bool allowsMultiple);

private:
    std::shared_ptr<ChildProcess> child_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace ui
