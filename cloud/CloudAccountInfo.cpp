#include "cloud/CloudAccountInfo.h"

#include "platform/core/PropertyList.h"

std::string CloudAccountInfo::fileName(CloudService s) {
    switch (s) {
    case CloudService::GoogleDrive: return ".googledrive.lbs";
    case CloudService::OneDrive: return ".onedrive.lbs";
    case CloudService::Dropbox: return ".dropbox.lbs";
    case CloudService::Box: return ".boxcloud.lbs";
    }
    return {};
}

const char* CloudAccountInfo::nameKey(CloudService s) { return s == CloudService::GoogleDrive ? "email" : "displayName"; }

std::vector<sys::PlistDictionary> CloudAccountInfo::accounts(CloudService s, const std::string& folder) {
    std::vector<sys::PlistDictionary> out;
    if (auto arr = sys::PropertyList::readArray(folder + "/" + fileName(s))) {
        for (const auto& v : *arr) {
            if (v.isDictionary()) out.push_back(v.asDictionary());
        }
    }
    return out;
}

bool CloudAccountInfo::recordSignIn(CloudService s, const std::string& folder, const std::string& key,
                                    const std::string& name) {
    const std::string path = folder + "/" + fileName(s);
    sys::PlistArray list;
    if (auto arr = sys::PropertyList::readArray(path)) list = *arr;
    sys::PlistDictionary entry;
    entry.set("key", sys::PlistValue(key));
    entry.set(nameKey(s), sys::PlistValue(name));
    int found = -1;
    for (size_t i = 0; i < list.size(); ++i) {
        if (list[i].isDictionary() && list[i].asDictionary().getString("key") == key &&
            list[i].asDictionary().get("key").isString()) {
            found = int(i);
        }
    }
    if (found < 0) {
        list.push_back(sys::PlistValue(entry));
    } else if (list[size_t(found)].asDictionary().getString(nameKey(s)) != name ||
               !list[size_t(found)].asDictionary().get(nameKey(s)).isString()) {
        list[size_t(found)] = sys::PlistValue(entry);
    } else {
        return false;
    }
    return sys::PropertyList::writeFile(sys::PlistValue(std::move(list)), path);
}
