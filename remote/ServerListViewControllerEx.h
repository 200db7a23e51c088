#pragma once

#include "foundation/ui/AboutViewControllerExDelegate.h"
#include "foundation/ui/QNTableViewController.h"
#include "library/DocumentBrowserViewControllerDelegate.h"
#include "platform/core/PlistDictionary.h"
#include "remote/MediaServerHostConfigViewControllerDelegate.h"
#include "remote/screens/MediaServerAutodetectionControllerDelegate.h"

#include <map>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class BookTransfer;
class Settings;

// The list of remote sites, tab 0 ("Download") of the transfer container.
// Section 0 holds the stored sites (the settings folder's ".hostslist.lbs",
// site records with their passwords in the key chain under "MediaServer")
// and a last row that adds one; section 1 the Google Drive links taken from
// the About screen; section 2 opens the server search, the web browser and
// the import of a book from elsewhere on the computer (the desktop's file
// chooser where a portal offers one, else our own walk through the home
// folder): the picked book is copied into the library, the container
// closes and the library opens it. A tapped site closes the container and opens as a remote list
// above the library screen that opened it; the detail button edits a site,
// a swipe deletes it (and its password). A server picked in the search
// opens the site editor filled with its address and name.
class ServerListViewControllerEx : public QNTableViewController,
                                   public AboutViewControllerExDelegate,
                                   public MediaServerHostConfigViewControllerDelegate,
                                   public MediaServerAutodetectionControllerDelegate,
                                   public DocumentBrowserViewControllerDelegate {
public:
    static constexpr const char* kSiteListFileName = ".hostslist.lbs";
    static constexpr const char* kKeychainService = "MediaServer";

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

    // ---- Stored sites ---------------------------------------------------------------------
    static std::string siteListFile();
    // The stored site records; entries that are no dictionary with a "url"
    // are left out.
    static std::vector<sys::PlistDictionary> readSites();
    static bool writeSites(const std::vector<sys::PlistDictionary>& sites);
    const std::vector<sys::PlistDictionary>& sites() const { return sites_; }
    void reloadSites();
    // The editor's "Save": a new site first in the list (targetListNo -1),
    // else the site at that place replaced; the password goes to the key
    // chain, never into the list.
    void addList(const std::string& url, const std::string& name, const std::optional<std::string>& userName,
                 const std::optional<std::string>& password, const sys::PlistDictionary& otherOption,
                 int64_t targetListNo) override;
    void deleteSite(size_t index);
    // Opens the site editor for a new site (-1) or a stored one.
    void editSite(int64_t index);
    // Pushes the server search / the web browser (downloads into the queue).
    void openServerSearch();
    void openWebBrowser();
    void didSelectAutodetectedServer(const std::string& address, const std::string& name) override;
    // Asks for a book from elsewhere: the installed desktop file chooser,
    // else (none, or it cannot ask) our own browsing screen over the home
    // folder, pushed on the container's navigation.
    void openDocumentPicker();
    void openDocumentBrowser();
    // A file picked either way: copied in as any import, then handed to the
    // library screen to open.
    void didPickDocument(const std::string& path);
    void documentBrowserDidPickDocument(DocumentBrowserViewController& browser, const std::string& path) override;
    // Closes the container and opens the site above the library screen.
    void openSite(size_t index);
    void openSiteRecord(const sys::PlistDictionary& site);
    // The listing address of a shared Drive folder link (".../drive/folders/
    // ID?query"); nothing for any other link.
    static std::optional<std::string> shareLinkAddress(const std::string& link);

    // ---- Table ------------------------------------------------------------------------------
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    int numberOfSectionsInTableView(ui::TableView&) override { return 3; }
    int tableViewNumberOfRowsInSection(ui::TableView&, int section) override;
    std::shared_ptr<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView&, const ui::IndexPath&) override;
    void tableViewDidSelectRowAtIndexPath(ui::TableView&, const ui::IndexPath&) override;
    void tableViewAccessoryButtonTappedForRowWithIndexPath(ui::TableView&, const ui::IndexPath&) override;
    bool tableViewCanEditRowAtIndexPath(ui::TableView&, const ui::IndexPath&) override;
    bool tableViewCommitsEditingStyle(ui::TableView&) override { return true; }
    void tableViewCommitEditingStyle(ui::TableView&, ui::TableViewCellEditingStyle style,
                                     const ui::IndexPath& indexPath) override;

private:
    void pushScreen(std::shared_ptr<ui::ViewController> screen);

    std::shared_ptr<Settings> settings_;
    std::shared_ptr<BookTransfer> bookTransfer_;
    std::optional<std::string> downloadPath_;
    std::vector<sys::PlistDictionary> googleDriveList_;
    std::vector<sys::PlistDictionary> sites_;
};
