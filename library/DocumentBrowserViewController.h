#pragma once

#include "library/DocumentBrowserViewControllerDelegate.h"
#include "platform/ui/TableViewController.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Our own way to bring a book in from outside the library where the
// desktop offers no file chooser: one level of a walk through the user's
// home folder, showing its folders and the files the library can read
// (books, PDFs, pictures), hidden names left out. A folder opens a deeper
// level pushed on the navigation controller; a file is handed to the
// delegate. Nothing outside the home folder is shown or handed on, whatever
// links inside it point to.
class DocumentBrowserViewController : public ui::TableViewController {
public:
    struct Entry {
        std::string name;
        bool isFolder = false;
        std::uint64_t size = 0;
        bool operator==(const Entry&) const = default;
    };

    // `root`: the top of the walk; `folder`: the level shown (the root when empty).
    explicit DocumentBrowserViewController(std::string root, std::string folder = {});

    void setDelegate(std::weak_ptr<DocumentBrowserViewControllerDelegate> d) { delegate_ = std::move(d); }
    const std::string& root() const { return root_; }
    const std::string& folder() const { return folder_; }
    const std::vector<Entry>& entries() const { return entries_; }

    // The user's home folder ($HOME, else the password database's).
    static std::string homeFolder();
    // What a level shows: folders first, then readable files, each in the
    // library's natural order; only what lies inside `root` once links are
    // followed.
    static std::vector<Entry> readEntries(const std::string& root, const std::string& folder);
    // Whether `path`, links followed, is `root` or lies inside it.
    static bool isInside(const std::string& root, const std::string& path);

    // A row chosen: a folder opens, a file is picked.
    void openEntry(size_t index);

    void viewDidLoad() override;
    int tableViewNumberOfRowsInSection(ui::TableView&, int section) override;
    std::shared_ptr<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView&, const ui::IndexPath&) override;
    // Says so when the level has nothing to show.
    std::optional<std::string> tableViewTitleForFooterInSection(ui::TableView&, int section) override;
    void tableViewDidSelectRowAtIndexPath(ui::TableView&, const ui::IndexPath& ip) override;

private:
    std::string root_;
    std::string folder_;
    std::vector<Entry> entries_;
    std::weak_ptr<DocumentBrowserViewControllerDelegate> delegate_;
};
