#pragma once

#include "library/ArchiveExtractViewControllerDelegate.h"
#include "library/ArchivePasswordViewControllerDelegate.h"
#include "platform/core/Thread.h"
#include "platform/ui/TableViewController.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class LibraryCommonToolbar;
class Settings;
namespace ui {
class ActivityIndicatorView;
}

// The entries of one local archive; tapping one extracts it next to the
// archive (by its base name only: an entry never writes outside that folder
// and never replaces a file there) and hands the book made to the delegate
// to open; tapping it again opens that copy. An encrypted entry asks for
// its password.
class ArchiveExtractViewController : public ui::TableViewController, public ArchivePasswordViewControllerDelegate {
public:
    static constexpr double kExtractDelay = 0.5;

    explicit ArchiveExtractViewController(ui::TableViewStyle style = ui::TableViewStyle::Plain);
    ~ArchiveExtractViewController() override;

    // ---- Set by the opener -----------------------------------------------------------
    const std::string& archiveFile_() const { return archiveFile_value_; }
    void setArchiveFile_(const std::string& p) { archiveFile_value_ = p; }
    // Each entry's path in the archive as the reader listed it (raw bytes).
    void setPreFileListArray_(std::vector<std::string> names) { preFileListArray_value_ = std::move(names); }
    void setSettings_(std::shared_ptr<Settings> s);
    void setDelegate(std::weak_ptr<ArchiveExtractViewControllerDelegate> d) { delegate_ = std::move(d); }
    // The library's common tool bar and its popup menu (made when the view loads).
    LibraryCommonToolbar* toolbar() const { return toolbar_.get(); }

    const std::vector<std::string>& stringFileArray_() const { return stringFileArray_value_; }
    bool isExtracted(size_t index) const { return index < flagArray_.size() && flagArray_[index] != 0; }
    // The file an entry was extracted to on this screen; empty when none.
    std::string extractedPath(size_t index) const {
        return index < extractedPaths_.size() ? extractedPaths_[index] : std::string();
    }
    bool nowExtracting() const { return nowExtracting_; }
    // How an entry's raw name is shown: UTF-8 first for RAR archives, then
    // the usual decoding; "(Unknown character set)" when nothing decodes.
    static std::string displayName(const std::string& raw, bool isRar);

    void extractAt(int64_t index);
    void extractStep();
    void finishInputPassword(const std::optional<std::string>& password) override;

    void viewDidLoad() override;
    // Escape closes the tool bar's popup menu first.
    std::vector<ui::KeyCommand> keyCommands() const override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewWillTransitionToSize(ui::Size size, const std::shared_ptr<ui::TransitionCoordinator>& coordinator) override;
    int tableViewNumberOfRowsInSection(ui::TableView&, int section) override;
    std::shared_ptr<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView&, const ui::IndexPath&) override;
    void tableViewDidSelectRowAtIndexPath(ui::TableView&, const ui::IndexPath& ip) override;

private:
    void startIndicatorAndSchedule();
    // The extraction's answer, back on the main thread.
    void finishExtract(int result, const std::string& written);
    // Hands the entry's extracted book to the delegate.
    void openExtracted(int64_t index);

    std::string archiveFile_value_;
    std::vector<std::string> preFileListArray_value_;
    std::shared_ptr<Settings> settings_value_;
    std::vector<std::string> stringFileArray_value_;
    std::vector<int> flagArray_;
    std::vector<std::string> extractedPaths_;
    std::weak_ptr<ArchiveExtractViewControllerDelegate> delegate_;
    int64_t toExtractIndex_ = -1;
    std::optional<std::string> passwordOfToExtract_;
    bool nowExtracting_ = false;
    sys::Thread extractThread_;
    std::shared_ptr<ui::ActivityIndicatorView> activityIndicator_;
    std::shared_ptr<LibraryCommonToolbar> toolbar_;
};
