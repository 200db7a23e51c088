#include "remote/MediaServerHostConfigViewController.h"

#include "cloud/TrustedServer.h"
#include "foundation/BookCommon.h"
#include "foundation/QNCharsetArray.h"
#include "foundation/UrlPercent.h"
#include "foundation/ui/ItemSelectViewController.h"
#include "foundation/ui/QNAlertView.h"
#include "foundation/ui/QNTableView.h"
#include "foundation/ui/QNTableViewCellCustom.h"
#include "foundation/ui/QNTableViewData.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/KeyCommand.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/NavigationItem.h"
#include "platform/ui/Responder.h"
#include "platform/ui/TextField.h"
#include "remote/MediaServerHostConfigViewControllerDelegate.h"

namespace {
std::string tr(const std::string& key) { return BookCommon::localizedStringWithOnOff(key); }
constexpr const char* kKeys[] = {"url", "name", "user", "password"};
constexpr const char* kTitles[] = {"URL", "Display Name", "User Name", "Password"};
constexpr const char* kCharsetKey = "ftpcharset";
constexpr const char* kSmbKey = "smblib";
// The SMB clients a site may ask for, by the number it keeps.
const std::vector<std::string> kSmbTitles{"Default", "SMB2/3", "SMB1"};
}  // namespace

MediaServerHostConfigViewController::MediaServerHostConfigViewController()
    : values_(std::make_shared<sys::PlistDictionary>()) {}

MediaServerHostConfigViewController::~MediaServerHostConfigViewController() = default;

MediaServerHostConfigViewController::SplitURL MediaServerHostConfigViewController::splitCredentials(
    const std::string& url) {
    SplitURL out{url, "", ""};
    const size_t scheme = url.find("://");
    if (scheme == std::string::npos) return out;
    const size_t hostStart = scheme + 3;
    size_t hostEnd = url.find_first_of("/?#", hostStart);
    if (hostEnd == std::string::npos) hostEnd = url.size();
    const size_t at = url.rfind('@', hostEnd - 1);
    if (at == std::string::npos || at < hostStart || at >= hostEnd) return out;
    const std::string userinfo = url.substr(hostStart, at - hostStart);
    const size_t colon = userinfo.find(':');
    out.user = UrlPercent::decoded(userinfo.substr(0, colon));
    if (colon != std::string::npos) out.password = UrlPercent::decoded(userinfo.substr(colon + 1));
    out.url = url.substr(0, hostStart) + url.substr(at + 1);
    return out;
}

void MediaServerHostConfigViewController::loadView() {
    table_ = std::make_shared<QNTableView>(ui::Rect(), ui::TableViewStyle::Grouped);
    table_->setQntableViewDelegate(this);
    setView(table_);
}

void MediaServerHostConfigViewController::viewDidLoad() {
    setTitle(tr("Server List"));
    for (int i = 0; i < 4; ++i) {
        auto row = std::make_shared<QNTableViewData>();
        row->setStyle(QNTableViewData::kStyleTextField);
        row->setText(tr(kTitles[i]));
        row->setDetailText(values_->getString(kKeys[i]));
        row->assignDictionary(values_, kKeys[i]);
        row->setSelectionStyle(0);
        row->setSecureTextEntry(i == kRowPassword);
        table_->addData(row, 0, ui::TableViewRowAnimation::None);
    }
    // Whether the address is a WebDAV folder (listed with PROPFIND).
    values_->set("isWebDav", sys::PlistValue(other_.getBool("isWebDav")));
    auto webDav = std::make_shared<QNTableViewData>();
    webDav->setStyle(QNTableViewData::kStyleSwitch);
    webDav->setText(tr("WebDAV"));
    webDav->setValue(values_->get("isWebDav"));
    webDav->assignDictionary(values_, "isWebDav", {sys::PlistValue(false), sys::PlistValue(true)});
    webDav->setSelectionStyle(0);
    table_->addData(webDav, 1, ui::TableViewRowAnimation::None);
    addOptionRows();
    const std::string url = splitCredentials(values_->getString("url")).url;
    if (TrustedServer::isTrusted(url)) {
        trustedURL_ = url;
        auto forget = std::make_shared<QNTableViewData>();
        forget->setText(tr("Forget Trusted Certificate"));
        table_->addData(forget, kSectionTrust, ui::TableViewRowAnimation::None);
        table_->setSectionFooterTitle(tr("This server's certificate is trusted."), kSectionTrust);
    }
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    navigationItem()->setRightBarButtonItem(
        ui::BarButtonItem::withTitle(tr("Save"), ui::BarButtonItemStyle::Done, [weak](ui::BarButtonItem&) {
            if (auto self = std::dynamic_pointer_cast<MediaServerHostConfigViewController>(weak.lock()))
                self->onSaveBtn();
        }));
}

void MediaServerHostConfigViewController::addOptionRows() {
    for (const char* key : {kCharsetKey, kSmbKey}) {
        auto row = std::make_shared<QNTableViewData>();
        row->setKey(key);
        row->setText(key == kCharsetKey ? tr("Character Set") : tr("SMB Client"));
        row->setStyle(QNTableViewData::kStyleValue1);
        row->setDetailText(optionTitle(key));
        row->setAccessoryType(int64_t(ui::TableViewCellAccessoryType::DisclosureIndicator));
        row->setSelectionStyle(int64_t(ui::TableViewCellSelectionStyle::Default));
        table_->addData(row, kSectionOptions, ui::TableViewRowAnimation::None);
    }
}

std::string MediaServerHostConfigViewController::optionTitle(const std::string& key) const {
    if (key == kSmbKey) {
        const int64_t n = other_.getInteger(kSmbKey);
        return tr(kSmbTitles[n >= 0 && n < int64_t(kSmbTitles.size()) ? size_t(n) : 0]);
    }
    const std::string charset = other_.getString(kCharsetKey);
    const auto names = QNCharsetArray::getCharsetArray();
    const auto titles = QNCharsetArray::getCharsetTitleArray();
    for (size_t i = 1; i < names.size() && i < titles.size(); ++i)
        if (names[i] == charset) return titles[i];
    return tr("Default");
}

void MediaServerHostConfigViewController::openOptionList(const std::string& key) {
    auto list = std::make_shared<ItemSelectViewController>(ui::TableViewStyle::Grouped);
    std::vector<std::string> titles;
    int64_t selected = 0;
    if (key == kSmbKey) {
        for (const auto& t : kSmbTitles) titles.push_back(tr(t));
        selected = other_.getInteger(kSmbKey);
        list->setTitle(tr("SMB Client"));
    } else {
        titles = QNCharsetArray::getCharsetTitleArray();
        titles[0] = tr("Default");
        const auto names = QNCharsetArray::getCharsetArray();
        for (size_t i = 1; i < names.size(); ++i)
            if (names[i] == other_.getString(kCharsetKey)) selected = int64_t(i);
        list->setTitle(tr("Character Set"));
    }
    list->setItemListArray_(std::move(titles));
    list->setSelectedLine_(selected);
    list->setUserData_(key);
    list->setDelegate(std::dynamic_pointer_cast<MediaServerHostConfigViewController>(shared_from_this()));
    if (auto* nav = navigationController()) nav->pushViewController(list, true);
}

void MediaServerHostConfigViewController::selectItem(int64_t item, const std::any& userData) {
    const auto* key = std::any_cast<std::string>(&userData);
    if (!key || item < 0) return;
    if (*key == kSmbKey) {
        if (item >= int64_t(kSmbTitles.size())) return;
        if (item == 0) other_.remove(kSmbKey);
        else other_.set(kSmbKey, sys::PlistValue(item));
    } else {
        const auto names = QNCharsetArray::getCharsetArray();
        if (size_t(item) >= names.size()) return;
        // "Default" reads listings as the program does everywhere else.
        if (item == 0) other_.remove(kCharsetKey);
        else other_.set(kCharsetKey, sys::PlistValue(names[size_t(item)]));
    }
    const auto& rows = table_->sectionList();
    if (size_t(kSectionOptions) >= rows.size()) return;
    for (size_t r = 0; r < rows[kSectionOptions].size(); ++r) {
        if (rows[kSectionOptions][r]->key() != *key) continue;
        rows[kSectionOptions][r]->setDetailText(optionTitle(*key));
        table_->updateCellWithIndexPath({kSectionOptions, int(r)}, ui::TableViewRowAnimation::None);
    }
}

void MediaServerHostConfigViewController::tableViewDidSelectRowAtIndexPath(QNTableView& table,
                                                                           const ui::IndexPath& indexPath,
                                                                           QNTableViewData* data) {
    if (indexPath.section == kSectionOptions && data && (data->key() == kCharsetKey || data->key() == kSmbKey)) {
        table.deselectRowAtIndexPath(indexPath, true);
        openOptionList(data->key());
        return;
    }
    if (indexPath.section == kSectionTrust) {
        forgetTrustedCertificate();
        return;
    }
    // The whole row edits its field, not only the field's own narrow area.
    if (auto* cell = dynamic_cast<QNTableViewCellCustom*>(table.cellForRowAtIndexPath(indexPath))) {
        if (auto field = cell->textField()) {
            if (indexPath.row == kRowPassword) field->setSecureTextEntry(true);
            field->becomeFirstResponder();
        }
    }
}

void MediaServerHostConfigViewController::forgetTrustedCertificate() {
    if (trustedURL_.empty()) return;
    TrustedServer::forget(trustedURL_);
    trustedURL_.clear();
    table_->setSectionFooterTitle(std::nullopt, kSectionTrust);
    table_->removeDataAtSection(kSectionTrust, ui::TableViewRowAnimation::Fade);
}

std::vector<ui::KeyCommand> MediaServerHostConfigViewController::keyCommands() const {
    auto* self = const_cast<MediaServerHostConfigViewController*>(this);
    return {ui::KeyCommand::make(ui::KeyInput::returnKey, 0, [self](const ui::KeyCommand&) {
        if (self->table_ && self->table_->chooseKeyHighlightedRow()) return;
        self->onSaveBtn();
    })};
}

bool MediaServerHostConfigViewController::onSaveBtn() {
    if (auto* r = ui::Responder::firstResponder()) r->resignFirstResponder();
    const SplitURL split = splitCredentials(values_->getString("url"));
    if (split.url.find("://") == std::string::npos || split.url.size() <= split.url.find("://") + 3) {
        auto alert = std::make_shared<QNAlertView>("", tr("Invalid URL."), std::weak_ptr<QNAlertViewDelegate>(),
                                                   tr("OK"), std::vector<std::string>{});
        alert->show();
        return false;
    }
    std::string user = values_->getString("user");
    std::string password = values_->getString("password");
    if (user.empty()) user = split.user;
    if (password.empty()) password = split.password;
    if (values_->getBool("isWebDav")) other_.set("isWebDav", sys::PlistValue(true));
    else other_.remove("isWebDav");
    std::string name = values_->getString("name");
    if (name.empty()) name = split.url;
    if (auto d = delegate_.lock())
        d->addList(split.url, name, user.empty() ? std::nullopt : std::optional<std::string>(user),
                   password.empty() ? std::nullopt : std::optional<std::string>(password), other_, targetListNo_);
    if (auto* nav = navigationController()) nav->popViewController(true);
    return true;
}
