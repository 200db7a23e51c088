#pragma once

#include "foundation/ui/AboutViewControllerExDelegate.h"
#include "foundation/ui/QNTableViewController.h"
#include "platform/core/PlistDictionary.h"

#include <map>

#include <memory>
#include <optional>
#include <string>
#include <vector>

class BookTransfer;
class Settings;

// The list of remote sites, tab 0 ("Download") of the transfer container.
// Its sections and rows arrive with the remote sources; for now it holds
// what its container hands it and takes shared Google Drive links from the
// About screen.
class ServerListViewControllerEx : public QNTableViewController, public AboutViewControllerExDelegate {
public:
    // `style` 1 is the grouped table style.
    explicit ServerListViewControllerEx(int style);

    void setSettings(std::shared_ptr<Settings> settings) { settings_ = std::move(settings); }
    const std::shared_ptr<Settings>& settings() const { return settings_; }
    void setBookTransfer(std::shared_ptr<BookTransfer> transfer) { bookTransfer_ = std::move(transfer); }
    const std::shared_ptr<BookTransfer>& bookTransfer() const { return bookTransfer_; }
    void setDownloadPath(std::optional<std::string> path) { downloadPath_ = std::move(path); }
    const std::optional<std::string>& downloadPath() const { return downloadPath_; }

    // A shared link picked on an About page ({"name", "link"}): appended to
    // the Google Drive list with its link scrambled, then the About screen
    // is closed. A query without both texts is ignored.
    void receiveQuery(const std::map<std::string, std::string>& query) override;
    // {"name", "link" (scrambled)} per entry, in the order added.
    const std::vector<sys::PlistDictionary>& googleDriveList() const { return googleDriveList_; }

private:
    std::shared_ptr<Settings> settings_;
    std::shared_ptr<BookTransfer> bookTransfer_;
    std::optional<std::string> downloadPath_;
    std::vector<sys::PlistDictionary> googleDriveList_;
};
