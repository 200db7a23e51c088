#pragma once

#include "foundation/ui/TextInputViewDelegate.h"
#include "library/FolderSelectViewControllerDelegate.h"
#include "platform/ui/TableViewController.h"
#include "smb/CIFSStackManagerDelegate.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class Settings;

// The on-device servers' screen. The HTTP media server is switched on and
// off here, the folder it shares is chosen with the folder picker, and
// where it listens ("port" or "address:port") is edited here; while it runs,
// every address other devices can reach it at is shown. The SMB server is not part of this
// build: its row follows the stack's state and says it is unavailable.
//
// The choices live in the user defaults below; the server itself is off
// until switched on here.
class MediaServerViewController : public ui::TableViewController,
                                  public CIFSStackManagerDelegate,
                                  public FolderSelectViewControllerDelegate,
                                  public TextInputViewDelegate {
public:
    static constexpr const char* kFolderKey = "mediaServerFolder";
    static constexpr const char* kListenKey = "mediaServerListen";
    static constexpr uint16_t kDefaultPort = 8080;

    MediaServerViewController();

    void setSettings(std::shared_ptr<Settings> settings) { settings_ = std::move(settings); }
    int lastServerStatus() const { return lastStatus_; }
    // The text the status row shows for a server state.
    static std::string statusText(int status);

    // Where the server listens: "8080", "127.0.0.1:8080" or "[::1]:8080".
    // Nothing for text that names no usable address and port.
    struct ListenAt {
        std::string address;
        uint16_t port = kDefaultPort;
    };
    static std::optional<ListenAt> parseListen(const std::string& text);
    static ListenAt listenSetting();
    // The folder shared ("" when none has been chosen).
    static std::string sharedFolderSetting();
    // The addresses other devices open ("http://host:port/"): the one listened
    // on, or each interface's; none when stopped. serverURL() is the first.
    static std::vector<std::string> serverURLs();
    static std::string serverURL();

    // Starts the server on the chosen folder (the picker opens when none is
    // chosen yet) or stops it. An error is shown when it cannot start.
    void toggleHttpServer();
    void openFolderPicker();
    void openListenEditor();
    // This machine's addresses, written as the server's URLs.
    void openAddressList();

    void didChangeServerStatus(int status) override;
    void finishSelectFolder(FolderSelectViewController& picker, const std::optional<std::string>& folder) override;
    bool onFinishTextInput(TextInputViewController& sender, const std::string& editTo,
                           const std::string& original) override;

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    int numberOfSectionsInTableView(ui::TableView&) override { return 2; }
    int tableViewNumberOfRowsInSection(ui::TableView&, int section) override { return section == 0 ? 4 : 1; }
    std::shared_ptr<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView&, const ui::IndexPath&) override;
    std::optional<std::string> tableViewTitleForFooterInSection(ui::TableView&, int section) override;
    void tableViewDidSelectRowAtIndexPath(ui::TableView&, const ui::IndexPath& ip) override;

private:
    bool startServer(const std::string& folder);
    void showError(const std::string& message);
    void reload();

    std::shared_ptr<Settings> settings_;
    int lastStatus_ = 1;
};
