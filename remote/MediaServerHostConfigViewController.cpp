#include "remote/MediaServerHostConfigViewController.h"

#include "cloud/TrustedServer.h"
#include "foundation/BookCommon.h"
#include "foundation/UrlPercent.h"
#include "foundation/ui/QNAlertView.h"
#include "foundation/ui/QNTableView.h"
#include "foundation/ui/QNTableViewCellCustom.h"
#include "foundation/ui/QNTableViewData.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/NavigationItem.h"
#include "platform/ui/Responder.h"
#include "platform/ui/TextField.h"
#include "remote/MediaServerHostConfigViewControllerDelegate.h"

namespace {
std::string tr(const std::string& key) { return BookCommon::localizedStringWithOnOff(key); }
constexpr const char* kKeys[] = {"url", "name", "user", "password"};
constexpr const char* kTitles[] = {"URL", "Display Name", "User Name", "Password"};
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

void MediaServerHostConfigViewController::tableViewDidSelectRowAtIndexPath(QNTableView& table,
                                                                           const ui::IndexPath& indexPath,
                                                                           QNTableViewData*) {
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
