#pragma once

#include "foundation/ui/TextInputViewDelegate.h"
#include "platform/ui/TableViewController.h"

#include <cstdint>
#include <memory>
#include <string>

class Settings;

// "File Information" of one local book: name (renamed together with its
// setting file, setting folder, page cache and the folder's last-read
// record), size, date, reading status, the book's own settings, handing the
// file to other programs, and clearing its page cache.
class FileConfigViewController : public ui::TableViewController, public TextInputViewDelegate {
public:
    explicit FileConfigViewController(ui::TableViewStyle style = ui::TableViewStyle::Grouped);

    const std::string& fileFullpath_() const { return fileFullpath_value_; }
    void setFileFullpath_(const std::string& p) { fileFullpath_value_ = p; }
    bool isTheLastFileInDirectory_() const { return isTheLastFileInDirectory_value_; }
    void setIsTheLastFileInDirectory_(bool on) { isTheLastFileInDirectory_value_ = on; }
    void setSettings_(std::shared_ptr<Settings> s) { settings_value_ = std::move(s); }

    // Bytes of the regular files below `path` (the root, folders and links
    // not counted; nothing followed through a link); 0 when it cannot be read.
    static uint64_t folderContentsByteSize(const std::string& path);
    // The status segment for a position: 0 unread, 1 reading, 2 read.
    static int statusSegment(long pageNo, long numPages, bool is2PageLoaded);

    int shownStatus() const { return statusSegment(pageNo_, numPage_, is2PageLoaded_); }
    uint64_t cacheSize() const { return cacheSize_; }
    void readingStatusChange(int segment);
    // Renames the book to `name` + its extension; false when refused or failed.
    bool changeFileNameDo(const std::string& name, const std::string& original);
    bool onFinishTextInput(TextInputViewController& sender, const std::string& editTo,
                           const std::string& original) override;
    void clearCache();

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewWillTransitionToSize(ui::Size size, const std::shared_ptr<ui::TransitionCoordinator>& coordinator) override;
    int numberOfSectionsInTableView(ui::TableView&) override { return 4; }
    int tableViewNumberOfRowsInSection(ui::TableView&, int section) override;
    std::shared_ptr<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView&, const ui::IndexPath&) override;
    void tableViewDidSelectRowAtIndexPath(ui::TableView&, const ui::IndexPath& ip) override;

private:
    void readState();

    std::string fileFullpath_value_;
    bool isTheLastFileInDirectory_value_ = false;
    std::shared_ptr<Settings> settings_value_;
    long pageNo_ = 0;
    long numPage_ = 0;
    bool isSecound_ = false;
    bool is2PageLoaded_ = false;
    std::string folderTarget_;
    uint64_t cacheSize_ = 0;
};
