#pragma once

#include "platform/core/PlistDictionary.h"

#include <optional>
#include <string>
#include <vector>

// Receives the one outcome of a FileDownload, on the main thread.
class FileDownloadDelegate {
public:
    virtual ~FileDownloadDelegate() = default;
    // The listing ended: arrays on success (possibly empty), no arrays and a
    // message on failure.
    virtual void finishListDownload(std::optional<std::vector<std::string>> fileList,
                                    std::optional<std::vector<sys::PlistDictionary>> infoList,
                                    const std::optional<std::string>& listTitle,
                                    const std::optional<std::string>& withURL,
                                    const std::optional<std::string>& message, bool requireSMB2) = 0;
    // The server refused the credentials; the delegate asks the user.
    virtual void passwordRequested(const std::string& url, bool dontUseStoredAccount) = 0;
    virtual void cancelListDownload() = 0;
    // The server's certificate is not trusted. False (the default) means the
    // delegate does not handle it and the listing fails with a message.
    virtual bool serverCertificateUntrusted(const std::string& url, const std::string& userName,
                                            const std::string& password) {
        (void)url, (void)userName, (void)password;
        return false;
    }
    // NO while a cloud sign-in is shown in place of the list.
    virtual void showHideBaseView(bool show) { (void)show; }
};
