#include "servers/MediaServerViewController.h"

#include "foundation/BookCommon.h"
#include "foundation/ui/QNAlertView.h"
#include "foundation/ui/TextInputViewController.h"
#include "library/FolderSelectViewController.h"
#include "platform/core/Path.h"
#include "platform/core/UserDefaults.h"
#include "platform/ui/NavigationController.h"
#include "servers/IPAddressViewController.h"
#include "servers/MediaServerMain.h"

#include <arpa/inet.h>

namespace {

constexpr int64_t kTagSharePicker = 801;

std::string tr(const std::string& key) { return BookCommon::localizedStringWithOnOff(key); }

std::optional<uint16_t> parsePort(const std::string& s) {
    if (s.empty() || s.size() > 5 || s.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    const int v = std::stoi(s);
    if (v < 1 || v > 65535) return std::nullopt;
    return uint16_t(v);
}

bool isAddress(const std::string& s, int family) {
    unsigned char buf[16];
    return ::inet_pton(family, s.c_str(), buf) == 1;
}

}  // namespace

MediaServerViewController::MediaServerViewController() : ui::TableViewController(ui::TableViewStyle::Grouped) {}

void MediaServerViewController::viewDidLoad() {
    setTitle(tr("MediaServer"));
}

void MediaServerViewController::viewWillAppear(bool animated) {
    ui::TableViewController::viewWillAppear(animated);
    // Pushed over the library, whose tool bar would stay below it, empty
    // (the folder picker it opens shows the bar for its own buttons).
    if (auto* nav = navigationController()) nav->setToolbarHidden(true, animated);
    reload();
}

void MediaServerViewController::reload() {
    if (isViewLoaded()) tableView()->reloadData();
}

std::string MediaServerViewController::statusText(int status) {
    switch (status) {
    case 2: return tr("Starting");
    case 3: return tr("Running");
    case 4: return tr("Stopping");
    default: return tr("Stopped");
    }
}

std::optional<MediaServerViewController::ListenAt> MediaServerViewController::parseListen(const std::string& text) {
    ListenAt at;
    if (text.empty()) return std::nullopt;
    if (text[0] == '[') {
        const size_t close = text.find("]:");
        if (close == std::string::npos) return std::nullopt;
        at.address = text.substr(1, close - 1);
        if (!isAddress(at.address, AF_INET6)) return std::nullopt;
        auto port = parsePort(text.substr(close + 2));
        if (!port) return std::nullopt;
        at.port = *port;
        return at;
    }
    const size_t colon = text.find(':');
    if (colon == std::string::npos) {
        auto port = parsePort(text);
        if (!port) return std::nullopt;
        at.port = *port;
        return at;
    }
    at.address = text.substr(0, colon);
    if (!isAddress(at.address, AF_INET)) return std::nullopt;
    auto port = parsePort(text.substr(colon + 1));
    if (!port) return std::nullopt;
    at.port = *port;
    return at;
}

MediaServerViewController::ListenAt MediaServerViewController::listenSetting() {
    const auto text = sys::UserDefaults::standard().stringForKey(kListenKey);
    if (text)
        if (auto at = parseListen(*text)) return *at;
    return ListenAt{};
}

std::string MediaServerViewController::sharedFolderSetting() {
    return sys::UserDefaults::standard().stringForKey(kFolderKey).value_or("");
}

std::vector<std::string> MediaServerViewController::serverURLs() {
    if (!MediaServerMain::hasSharedMediaServer()) return {};
    return MediaServerMain::sharedMediaServer()->reachableURLs();
}

std::string MediaServerViewController::serverURL() {
    const auto urls = serverURLs();
    return urls.empty() ? std::string() : urls.front();
}

bool MediaServerViewController::startServer(const std::string& folder) {
    const ListenAt at = listenSetting();
    auto server = MediaServerMain::sharedMediaServer();
    if (!server->start(folder, at.address, at.port)) {
        showError(tr(server->lastError()));
        reload();
        return false;
    }
    reload();
    return true;
}

void MediaServerViewController::toggleHttpServer() {
    if (MediaServerMain::hasSharedMediaServer() && MediaServerMain::sharedMediaServer()->isRunning()) {
        MediaServerMain::sharedMediaServer()->stop();
        reload();
        return;
    }
    const std::string folder = sharedFolderSetting();
    if (folder.empty()) {
        openFolderPicker();
        return;
    }
    startServer(folder);
}

void MediaServerViewController::openFolderPicker() {
    auto* nav = navigationController();
    if (!nav) return;
    auto picker = std::make_shared<FolderSelectViewController>(ui::TableViewStyle::Plain);
    picker->setDelegate(std::dynamic_pointer_cast<FolderSelectViewControllerDelegate>(shared_from_this()));
    picker->setUserTag(kTagSharePicker);
    picker->setIsRoot_(true);
    picker->setSettings_(settings_);
    picker->setSelectFolderText_(tr("Share This Folder"));
    nav->pushViewController(picker, true);
}

void MediaServerViewController::finishSelectFolder(FolderSelectViewController& picker,
                                                   const std::optional<std::string>& folder) {
    if (picker.userTag() != kTagSharePicker) return;
    auto keep = shared_from_this();
    if (auto* nav = navigationController()) nav->popToViewController(this, true);
    if (!folder) return;
    sys::UserDefaults::standard().setObject(sys::PlistValue(*folder), kFolderKey);
    // A new folder is shared at once; the server keeps serving what it served
    // until then.
    startServer(*folder);
}

void MediaServerViewController::openListenEditor() {
    auto* nav = navigationController();
    if (!nav) return;
    auto input = std::make_shared<TextInputViewController>();
    input->setTextLabel_(tr("Listen on (port, or address:port)"));
    input->setTextToEdit_(sys::UserDefaults::standard().stringForKey(kListenKey).value_or(std::to_string(kDefaultPort)));
    input->setDelegate(std::dynamic_pointer_cast<TextInputViewDelegate>(shared_from_this()));
    nav->pushViewController(input, true);
}

bool MediaServerViewController::onFinishTextInput(TextInputViewController&, const std::string& editTo,
                                                  const std::string&) {
    if (!parseListen(editTo)) {
        showError(tr("Enter a port (1-65535), or an address and a port."));
        return false;
    }
    sys::UserDefaults::standard().setObject(sys::PlistValue(editTo), kListenKey);
    // A running server moves to the new place at once.
    if (MediaServerMain::hasSharedMediaServer() && MediaServerMain::sharedMediaServer()->isRunning())
        startServer(sharedFolderSetting());
    reload();
    return true;
}

void MediaServerViewController::openAddressList() {
    auto* nav = navigationController();
    if (!nav) return;
    const ListenAt at = listenSetting();
    uint16_t port = at.port;
    std::string address = at.address;
    if (MediaServerMain::hasSharedMediaServer() && MediaServerMain::sharedMediaServer()->isRunning()) {
        port = MediaServerMain::sharedMediaServer()->port();
        address = MediaServerMain::sharedMediaServer()->address();
    }
    auto list = std::make_shared<IPAddressViewController>();
    list->setTitle(tr("IP Address"));
    list->setPrefix("http://");
    list->setSuffix(":" + std::to_string(port) + "/");
    list->setListenAddress(address);
    nav->pushViewController(list, true);
}

void MediaServerViewController::showError(const std::string& message) {
    auto alert = std::make_shared<QNAlertView>(tr("Error"), message, std::weak_ptr<QNAlertViewDelegate>(),
                                               tr("OK"), std::vector<std::string>{});
    alert->show(this);
}

void MediaServerViewController::didChangeServerStatus(int status) {
    lastStatus_ = status;
    reload();
}

std::shared_ptr<ui::TableViewCell> MediaServerViewController::tableViewCellForRowAtIndexPath(ui::TableView& tv,
                                                                                           const ui::IndexPath& ip) {
    auto cell = tv.dequeueReusableCell("server");
    if (!cell) cell = std::make_shared<ui::TableViewCell>(ui::TableViewCellStyle::Value1, "server");
    cell->setSelectionStyle(ui::TableViewCellSelectionStyle::Default);
    cell->setAccessoryType(ui::TableViewCellAccessoryType::None);
    const bool running = MediaServerMain::hasSharedMediaServer() && MediaServerMain::sharedMediaServer()->isRunning();
    if (ip.section == 0 && ip.row == 0) {
        cell->textLabel()->setText(tr("HTTP Server"));
        cell->detailTextLabel()->setText(running ? tr("Running") : tr("Stopped"));
    } else if (ip.section == 0 && ip.row == 1) {
        cell->textLabel()->setText(tr("Shared Folder"));
        const std::string folder = sharedFolderSetting();
        cell->detailTextLabel()->setText(folder.empty() ? tr("None") : sys::Path::lastPathComponent(folder));
        cell->setAccessoryType(ui::TableViewCellAccessoryType::DisclosureIndicator);
    } else if (ip.section == 0 && ip.row == 3) {
        cell->textLabel()->setText(tr("IP Address"));
        cell->detailTextLabel()->setText("");  // a reused cell may bring another row's
        cell->setAccessoryType(ui::TableViewCellAccessoryType::DisclosureIndicator);
    } else if (ip.section == 0) {
        cell->textLabel()->setText(tr("Listen on"));
        cell->detailTextLabel()->setText(
            sys::UserDefaults::standard().stringForKey(kListenKey).value_or(std::to_string(kDefaultPort)));
        cell->setAccessoryType(ui::TableViewCellAccessoryType::DisclosureIndicator);
    } else {
        cell->setSelectionStyle(ui::TableViewCellSelectionStyle::None);
        cell->textLabel()->setText(tr("SMB Server"));
        cell->detailTextLabel()->setText(lastStatus_ == 0 || lastStatus_ == 1 ? tr("Not available")
                                                                              : statusText(lastStatus_));
    }
    return cell;
}

std::optional<std::string> MediaServerViewController::tableViewTitleForFooterInSection(ui::TableView&, int section) {
    if (section == 0) {
        // Every address the server can be reached at: one per interface when
        // it listens on all of them.
        const auto urls = serverURLs();
        if (urls.empty()) return std::nullopt;
        std::string text = tr(urls.size() == 1 ? "Open this address on the other device:"
                                               : "Open one of these addresses on the other device:");
        for (const auto& url : urls) text += "\n" + url;
        return text;
    }
    return tr("The SMB server is not available on this system.");
}

void MediaServerViewController::tableViewDidSelectRowAtIndexPath(ui::TableView& tv, const ui::IndexPath& ip) {
    tv.deselectRowAtIndexPath(ip, true);
    if (ip.section != 0) return;
    if (ip.row == 0) toggleHttpServer();
    else if (ip.row == 1) openFolderPicker();
    else if (ip.row == 2) openListenEditor();
    else openAddressList();
}
