#include "remote/ServerListViewControllerEx.h"

#include "foundation/BookCommon.h"
#include "foundation/EncodeASCIIStringElements.h"
#include "foundation/QNKeyChain.h"
#include "library/DocumentBrowserViewController.h"
#include "library/LibraryServices.h"
#include "library/LocalFilelistViewController.h"
#include "platform/core/FileManager.h"
#include "platform/core/Path.h"
#include "platform/core/PortalFileChooser.h"
#include "platform/core/PropertyList.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TableViewCell.h"
#include "remote/MediaServerHostConfigViewController.h"
#include "remote/listing/GoogleDriveShareLink.h"
#include "remote/screens/MediaServerAutodetectionController.h"
#include "remote/screens/WebBrowseController.h"
#include "remote/screens/RemoteFileListViewController.h"

#include <algorithm>
#include <cctype>

namespace {
std::string tr(const std::string& key) { return BookCommon::localizedStringWithOnOff(key); }
}  // namespace

ServerListViewControllerEx::ServerListViewControllerEx(int style)
    : QNTableViewController(style == 1 ? ui::TableViewStyle::Grouped : ui::TableViewStyle::Plain) {}

void ServerListViewControllerEx::receiveQuery(const std::map<std::string, std::string>& query) {
    auto name = query.find("name");
    auto link = query.find("link");
    if (name == query.end() || link == query.end()) return;
    googleDriveList_.push_back(
        sys::PlistDictionary{{"name", sys::PlistValue(name->second)},
                             {"link", sys::PlistValue(EncodeASCIIStringElements::stringEncodeASCIIStringElements(
                                          link->second))}});
    if (isViewLoaded()) tableView()->reloadData();
    // The About screen lies on the tab container's navigation stack.
    if (auto nav = qnNavigationController()) {
        nav->popViewController(true);
    } else if (auto* own = navigationController()) {
        own->popViewController(true);
    }
}

// ---- Stored sites ------------------------------------------------------------------------------------

std::string ServerListViewControllerEx::siteListFile() {
    return sys::Path::stringByAppendingPathComponent(BookCommon::getSettingsFolder(), kSiteListFileName);
}

std::vector<sys::PlistDictionary> ServerListViewControllerEx::readSites() {
    std::vector<sys::PlistDictionary> out;
    auto v = sys::PropertyList::readFile(siteListFile());
    if (!v || !v->isArray()) return out;
    for (const auto& e : v->asArray())
        if (e.isDictionary() && !e.asDictionary().getString("url").empty()) out.push_back(e.asDictionary());
    return out;
}

bool ServerListViewControllerEx::writeSites(const std::vector<sys::PlistDictionary>& sites) {
    sys::PlistArray array;
    for (const auto& s : sites) array.push_back(sys::PlistValue(s));
    sys::FileManager::createDirectory(BookCommon::getSettingsFolder(), true);
    return sys::PropertyList::writeFile(sys::PlistValue(array), siteListFile());
}

void ServerListViewControllerEx::reloadSites() {
    sites_ = readSites();
    if (isViewLoaded()) tableView()->reloadData();
}

void ServerListViewControllerEx::addList(const std::string& url, const std::string& name,
                                         const std::optional<std::string>& userName,
                                         const std::optional<std::string>& password,
                                         const sys::PlistDictionary& otherOption, int64_t targetListNo) {
    auto sites = readSites();
    const bool replace = targetListNo >= 0 && size_t(targetListNo) < sites.size();
    sys::PlistDictionary record = replace ? sites[size_t(targetListNo)] : sys::PlistDictionary();
    std::string id = record.getString("id");
    if (id.empty()) id = BookCommon::createUUID();
    record.set("url", sys::PlistValue(url));
    record.set("title", sys::PlistValue(name));
    record.set("id", sys::PlistValue(id));
    if (userName) record.set("username", sys::PlistValue(*userName));
    else record.remove("username");
    if (!otherOption.empty()) record.set("other", sys::PlistValue(otherOption));
    else record.remove("other");
    if (password) {
        QNKeyChain::addOrUpdatePassword(*password, id, kKeychainService);
        // Kept once, as the site's own: not also as an answer remembered for
        // its address under the same user.
        if (userName) QNKeyChain::deleteAccountWithURL(url, *userName);
    } else {
        QNKeyChain::deletePasswordWithAccount(id, kKeychainService);
    }
    if (replace) sites[size_t(targetListNo)] = record;
    else sites.insert(sites.begin(), record);
    writeSites(sites);
    reloadSites();
}

void ServerListViewControllerEx::deleteSite(size_t index) {
    auto sites = readSites();
    if (index >= sites.size()) return;
    const std::string id = sites[index].getString("id");
    if (!id.empty()) QNKeyChain::deletePasswordWithAccount(id, kKeychainService);
    sites.erase(sites.begin() + std::ptrdiff_t(index));
    writeSites(sites);
    reloadSites();
}

void ServerListViewControllerEx::editSite(int64_t index) {
    auto editor = std::make_shared<MediaServerHostConfigViewController>();
    editor->setDelegate(std::dynamic_pointer_cast<MediaServerHostConfigViewControllerDelegate>(shared_from_this()));
    editor->setTargetListNo(index);
    if (index >= 0 && size_t(index) < sites_.size()) {
        const auto& site = sites_[size_t(index)];
        editor->setTargetHostname_(site.getString("url"));
        editor->setTargetHostDispname_(site.getString("title"));
        if (site.contains("username")) editor->setTargetUsername_(site.getString("username"));
        if (site.contains("id"))
            editor->setTargetPassword_(QNKeyChain::getPasswordWithAccount(site.getString("id"),
                                                                          std::string(kKeychainService)));
        if (auto other = site.getDictionary("other")) editor->setTargetOtherSettings_(*other);
    }
    pushScreen(editor);
}

void ServerListViewControllerEx::pushScreen(std::shared_ptr<ui::ViewController> screen) {
    auto nav = qnNavigationController();
    ui::NavigationController* target = nav ? nav.get() : navigationController();
    if (target) target->pushViewController(std::move(screen), true);
}

void ServerListViewControllerEx::openServerSearch() {
    auto search = std::make_shared<MediaServerAutodetectionController>();
    search->setDelegate(
        std::dynamic_pointer_cast<MediaServerAutodetectionControllerDelegate>(shared_from_this()));
    pushScreen(search);
}

void ServerListViewControllerEx::openWebBrowser() {
    auto browser = std::make_shared<WebBrowseController>();
    browser->setBookTransfer_(bookTransfer_);
    browser->setDownloadPath_(downloadPath_.value_or(BookCommon::getBooksTempRoot()));
    browser->setRootWebPage_(WebBrowseController::kBlankPage);
    browser->setIsUseHomePageFunction_(true);
    browser->setCanAccessOtherSite_(true);
    pushScreen(browser);
}

void ServerListViewControllerEx::openDocumentPicker() {
    auto chooser = sys::PortalFileChooser::installed();
    if (!chooser) {
        openDocumentBrowser();
        return;
    }
    // The desktop's chooser is already up: it stays the one question.
    if (chooser->isOpen()) return;
    std::vector<std::string> patterns;
    for (const auto& ext : BookCommon::getLeafbrightCanReadExtensions()) {
        patterns.push_back("*." + ext);
        std::string upper = ext;
        for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
        patterns.push_back("*." + upper);
    }
    auto types = BookCommon::getLeafbrightCanReadContentTypes();
    std::vector<std::string> mimeTypes;
    for (const auto& t : types)
        if (std::find(mimeTypes.begin(), mimeTypes.end(), t) == mimeTypes.end()) mimeTypes.push_back(t);
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    chooser->openFile(tr("Import from Files"), {tr("Books"), mimeTypes, patterns}, chooser->parentWindow(),
                      [weak](sys::PortalFileChooser::Outcome outcome, const std::vector<std::string>& paths) {
                          auto self = std::dynamic_pointer_cast<ServerListViewControllerEx>(weak.lock());
                          if (!self) return;
                          if (outcome == sys::PortalFileChooser::Outcome::Unavailable) self->openDocumentBrowser();
                          else if (outcome == sys::PortalFileChooser::Outcome::Picked && !paths.empty())
                              self->didPickDocument(paths.front());
                      });
}

void ServerListViewControllerEx::openDocumentBrowser() {
    auto browser = std::make_shared<DocumentBrowserViewController>(DocumentBrowserViewController::homeFolder());
    browser->setDelegate(std::dynamic_pointer_cast<DocumentBrowserViewControllerDelegate>(shared_from_this()));
    pushScreen(browser);
}

void ServerListViewControllerEx::documentBrowserDidPickDocument(DocumentBrowserViewController&,
                                                               const std::string& path) {
    didPickDocument(path);
}

void ServerListViewControllerEx::didPickDocument(const std::string& path) {
    auto services = LibraryServices::installed();
    if (!services) return;
    // The copy is made on a worker; the book opens once it is in the
    // library, if this list is still there to open it.
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    services->importDocument(path, [weak](const std::string& target) {
        auto self = std::dynamic_pointer_cast<ServerListViewControllerEx>(weak.lock());
        if (!self) return;
        self->openSiteRecord(sys::PlistDictionary{{"isDocumentPicker", sys::PlistValue(true)},
                                                  {"file", sys::PlistValue(target)}});
    });
}

void ServerListViewControllerEx::didSelectAutodetectedServer(const std::string& address, const std::string& name) {
    auto editor = std::make_shared<MediaServerHostConfigViewController>();
    editor->setDelegate(std::dynamic_pointer_cast<MediaServerHostConfigViewControllerDelegate>(shared_from_this()));
    editor->setTargetListNo(-1);
    editor->setTargetHostname_("http://" + address + "/");
    editor->setTargetHostDispname_(name);
    pushScreen(editor);
}

std::optional<std::string> ServerListViewControllerEx::shareLinkAddress(const std::string& link) {
    return GoogleDriveShareLink::shareLinkAddress(link);
}

void ServerListViewControllerEx::openSite(size_t index) {
    if (index >= sites_.size()) return;
    openSiteRecord(sites_[index]);
}

void ServerListViewControllerEx::openSiteRecord(const sys::PlistDictionary& record) {
    sys::PlistDictionary site = record;
    // The first list is titled by the site's own name.
    if (!site.getString("title").empty()) site.set("rootTitle", sys::PlistValue(site.getString("title")));
    // The container was presented over the library screen (or its
    // navigation); the site opens there once the container is gone.
    auto nav = qnNavigationController();
    ui::ViewController* container = nav ? static_cast<ui::ViewController*>(nav.get()) : navigationController();
    ui::ViewController* presenter = container ? container->presentingViewController() : nullptr;
    if (auto* presentingNav = dynamic_cast<ui::NavigationController*>(presenter)) presenter = presentingNav->topViewController();
    if (!presenter || !container) return;
    // From a remote list the site goes back to its library screen first.
    if (!dynamic_cast<LocalFilelistViewController*>(presenter) && !dynamic_cast<RemoteFileListViewController*>(presenter))
        return;
    std::weak_ptr<ui::ViewController> weak = presenter->weak_from_this();
    container->dismiss(true, [weak, site] {
        auto vc = weak.lock();
        if (auto l = std::dynamic_pointer_cast<LocalFilelistViewController>(vc)) l->didSelectMediaServer(site);
        else if (auto r = std::dynamic_pointer_cast<RemoteFileListViewController>(vc)) r->didSelectMediaServer(site);
    });
}

// ---- Table ---------------------------------------------------------------------------------------------

void ServerListViewControllerEx::viewDidLoad() {
    QNTableViewController::viewDidLoad();
    setTitle(tr("Server List"));
}

void ServerListViewControllerEx::viewWillAppear(bool animated) {
    QNTableViewController::viewWillAppear(animated);
    reloadSites();
}

int ServerListViewControllerEx::tableViewNumberOfRowsInSection(ui::TableView&, int section) {
    if (section == 2) return 3;
    return section == 0 ? int(sites_.size()) + 1 : int(googleDriveList_.size());
}

std::shared_ptr<ui::TableViewCell> ServerListViewControllerEx::tableViewCellForRowAtIndexPath(
    ui::TableView&, const ui::IndexPath& ip) {
    auto cell = std::make_shared<ui::TableViewCell>(ui::TableViewCellStyle::Subtitle);
    if (ip.section == 0 && size_t(ip.row) < sites_.size()) {
        const auto& site = sites_[size_t(ip.row)];
        const std::string title = site.getString("title");
        cell->textLabel()->setText(title.empty() ? site.getString("url") : title);
        cell->detailTextLabel()->setText(site.getString("url"));
        cell->setAccessoryType(ui::TableViewCellAccessoryType::DetailDisclosureButton);
    } else if (ip.section == 0) {
        cell->textLabel()->setText(tr("Add Site"));
    } else if (ip.section == 2) {
        cell->textLabel()->setText(tr(ip.row == 0 ? "Server Search" : ip.row == 1 ? "Web Browser" : "Import from Files"));
        cell->setAccessoryType(ui::TableViewCellAccessoryType::DisclosureIndicator);
    } else if (size_t(ip.row) < googleDriveList_.size()) {
        cell->textLabel()->setText(googleDriveList_[size_t(ip.row)].getString("name"));
    }
    return cell;
}

void ServerListViewControllerEx::tableViewDidSelectRowAtIndexPath(ui::TableView& tv, const ui::IndexPath& ip) {
    tv.deselectRowAtIndexPath(ip, true);
    if (ip.section == 2) {
        if (ip.row == 0) openServerSearch();
        else if (ip.row == 1) openWebBrowser();
        else openDocumentPicker();
        return;
    }
    if (ip.section == 1 && size_t(ip.row) < googleDriveList_.size()) {
        const auto& entry = googleDriveList_[size_t(ip.row)];
        auto address = shareLinkAddress(
            EncodeASCIIStringElements::stringDecodeASCIIStringElements(entry.getString("link")));
        if (address)
            openSiteRecord(sys::PlistDictionary{{"url", sys::PlistValue(*address)},
                                                {"title", sys::PlistValue(entry.getString("name"))}});
        return;
    }
    if (ip.section != 0) return;
    if (size_t(ip.row) < sites_.size()) openSite(size_t(ip.row));
    else editSite(-1);
}

void ServerListViewControllerEx::tableViewAccessoryButtonTappedForRowWithIndexPath(ui::TableView&,
                                                                                  const ui::IndexPath& ip) {
    if (ip.section == 0 && size_t(ip.row) < sites_.size()) editSite(ip.row);
}

bool ServerListViewControllerEx::tableViewCanEditRowAtIndexPath(ui::TableView&, const ui::IndexPath& ip) {
    return ip.section == 0 && size_t(ip.row) < sites_.size();
}

void ServerListViewControllerEx::tableViewCommitEditingStyle(ui::TableView&, ui::TableViewCellEditingStyle style,
                                                             const ui::IndexPath& ip) {
    if (style == ui::TableViewCellEditingStyle::Delete && ip.section == 0) deleteSite(size_t(ip.row));
}
