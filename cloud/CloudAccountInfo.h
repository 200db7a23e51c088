#pragma once

#include "cloud/CloudService.h"
#include "platform/core/PlistDictionary.h"

#include <string>
#include <vector>

// The signed-in accounts of each cloud service: property-list arrays of
// dictionaries in the settings folder (".googledrive.lbs" with "key" and
// "email", ".onedrive.lbs", ".boxcloud.lbs" and ".dropbox.lbs" with "key"
// and "displayName").
class CloudAccountInfo {
public:
    static std::string fileName(CloudService service);
    // "email" for Google Drive, "displayName" for the others.
    static const char* nameKey(CloudService service);
    // The service's list; empty when the file is missing or unreadable.
    static std::vector<sys::PlistDictionary> accounts(CloudService service, const std::string& settingsFolder);
    // Remembers that `key` signed in as `name`: a new account is appended,
    // a known one whose name changed is replaced where it stands (the last
    // entry of that key), an unchanged one leaves the file as it is. Whether
    // the file was written.
    static bool recordSignIn(CloudService service, const std::string& settingsFolder, const std::string& key,
                             const std::string& name);
};
