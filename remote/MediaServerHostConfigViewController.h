#pragma once

#include "foundation/ui/ItemSelectViewControllerDelegate.h"
#include "foundation/ui/QNTableViewDelegate.h"
#include "platform/core/PlistDictionary.h"
#include "platform/ui/ViewController.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class MediaServerHostConfigViewControllerDelegate;
class QNTableView;

// The site editor: the address, display name, user name and password of
// one site of the site list (or of a shortcut). "Save" hands the values to
// the delegate and goes back; an address that is no URL is refused. When the
// user trusts the site's certificate ("Do Not Ask Again"), a last section
// offers to forget it. The options section holds WebDAV, the character set
// of FTP listings ("ftpcharset") and the SMB client of the site ("smblib":
// 0 the global choice, 1 SMB2/3, 2 SMB1), each picked from a list.
class MediaServerHostConfigViewController : public ui::ViewController,
                                            public QNTableViewDelegate,
                                            public ItemSelectViewControllerDelegate {
public:
    // Row order of the one section.
    enum Row { kRowURL = 0, kRowName = 1, kRowUser = 2, kRowPassword = 3 };

    MediaServerHostConfigViewController();
    ~MediaServerHostConfigViewController() override;

    void setTargetHostname_(const std::string& v) { set("url", v); }
    void setTargetHostDispname_(const std::string& v) { set("name", v); }
    void setTargetUsername_(const std::optional<std::string>& v) { set("user", v.value_or("")); }
    void setTargetPassword_(const std::optional<std::string>& v) { set("password", v.value_or("")); }
    void setTargetOtherSettings_(const sys::PlistDictionary& v) { other_ = v; }
    void setTargetListNo(int64_t n) { targetListNo_ = n; }
    // Not retained.
    void setDelegate(std::weak_ptr<MediaServerHostConfigViewControllerDelegate> d) { delegate_ = std::move(d); }

    // The typed values, as they stand.
    std::string value(const char* key) const { return values_->getString(key); }
    // Hands the values to the delegate and goes back; false (and the user is
    // told) when the address is no URL.
    bool onSaveBtn();

    // Splits a URL's user and password out of it: the URL without them and
    // the two parts (empty when absent).
    struct SplitURL {
        std::string url, user, password;
    };
    static SplitURL splitCredentials(const std::string& url);
    // Forgets the certificate trusted at the site's address (the row that
    // offers it goes): the next listing asks again.
    void forgetTrustedCertificate();
    static constexpr int kSectionTrust = 2;
    static constexpr int kSectionOptions = 1;
    // The site's options as they stand (saved with the site).
    const sys::PlistDictionary& otherSettings() const { return other_; }
    void selectItem(int64_t item, const std::any& userData) override;

    void loadView() override;
    void viewDidLoad() override;
    // Return saves, as the bold Save does (a row highlighted from the keys
    // is opened instead).
    std::vector<ui::KeyCommand> keyCommands() const override;
    void tableViewDidSelectRowAtIndexPath(QNTableView& table, const ui::IndexPath& indexPath,
                                          QNTableViewData* data) override;

private:
    void addOptionRows();
    void openOptionList(const std::string& key);
    std::string optionTitle(const std::string& key) const;
    void set(const char* key, const std::string& v) { values_->set(key, sys::PlistValue(v)); }

    std::shared_ptr<sys::PlistDictionary> values_;
    sys::PlistDictionary other_;
    int64_t targetListNo_ = -1;
    std::string trustedURL_;
    std::weak_ptr<MediaServerHostConfigViewControllerDelegate> delegate_;
    std::shared_ptr<QNTableView> table_;
};
