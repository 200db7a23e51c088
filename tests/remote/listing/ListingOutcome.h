#pragma once

// What a listing test sees of FileDownload: every call to its delegate,
// counted, with the last listing's arrays, title, address and message, and
// lookups into that listing by entry name.

#include "remote/listing/FileDownloadDelegate.h"

#include "platform/core/PlistDictionary.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace test {

struct ListingOutcome : FileDownloadDelegate {
    void finishListDownload(std::optional<std::vector<std::string>> files,
                            std::optional<std::vector<sys::PlistDictionary>> infos,
                            const std::optional<std::string>& title, const std::optional<std::string>& url,
                            const std::optional<std::string>& msg, bool smb2) override {
        ++count;
        fileList = files;
        infoList = infos;
        listTitle = title;
        withURL = url;
        message = msg;
        requireSMB2 = smb2;
    }
    void passwordRequested(const std::string& url, bool) override {
        ++count;
        ++passwords;
        passwordURL = url;
    }
    void cancelListDownload() override {
        ++count;
        ++cancels;
    }
    // Counted; handled (and then counted as a call) only with handleUntrusted.
    bool serverCertificateUntrusted(const std::string& url, const std::string&, const std::string&) override {
        ++untrusted;
        if (!handleUntrusted) return false;
        ++count;
        untrustedURL = url;
        return true;
    }
    void showHideBaseView(bool show) override { baseView.push_back(show); }

    // The entries' names in listing order, and sorted.
    std::vector<std::string> namesInOrder() const {
        std::vector<std::string> out;
        if (infoList) {
            for (const auto& i : *infoList) out.push_back(i.getString("name"));
        }
        return out;
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out = namesInOrder();
        std::sort(out.begin(), out.end());
        return out;
    }
    // The information and the address of the entry `name`; nothing, "" when none.
    const sys::PlistDictionary* info(const std::string& name) const {
        for (size_t i = 0; infoList && i < infoList->size(); ++i) {
            if ((*infoList)[i].getString("name") == name) return &(*infoList)[i];
        }
        return nullptr;
    }
    std::string url(const std::string& name) const {
        for (size_t i = 0; infoList && fileList && i < infoList->size() && i < fileList->size(); ++i) {
            if ((*infoList)[i].getString("name") == name) return (*fileList)[i];
        }
        return {};
    }

    int count = 0, passwords = 0, cancels = 0, untrusted = 0;
    bool handleUntrusted = false;
    // The key of the certificate refused (FileDownload::serverPublicKey).
    std::string serverPublicKey;
    bool requireSMB2 = false;
    std::optional<std::vector<std::string>> fileList;
    std::optional<std::vector<sys::PlistDictionary>> infoList;
    std::optional<std::string> listTitle, withURL, message;
    std::string passwordURL, untrustedURL;
    std::vector<bool> baseView;
};

}  // namespace test
