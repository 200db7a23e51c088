#include "foundation/RemoteStackStatus.h"

namespace {

std::optional<std::string> stringFor(const sys::PlistDictionary& d, const char* key) {
    const sys::PlistValue* v = d.find(key);
    if (!v || !v->isString()) return std::nullopt;
    return v->asString();
}

}  // namespace

sys::PlistDictionary RemoteStackStatus::toDictionary() const {
    sys::PlistDictionary d;
    d.set("status", int64_t(1));
    d.set("remoteUrl", remoteUrl);
    d.set("fileList", fileList);
    d.set("infoList", infoList);
    if (listTitle) d.set("listTitle", *listTitle);
    if (otherSetting) d.set("otherSetting", *otherSetting);
    if (fixUsername) d.set("fixUsername", *fixUsername);
    if (fixID) d.set("fixID", *fixID);
    if (rawUsername) d.set("rawUsername", *rawUsername);
    d.set("useRawPassword", useRawPassword);
    if (siteURL) d.set("siteURL", *siteURL);
    return d;
}

std::optional<RemoteStackStatus> RemoteStackStatus::fromDictionary(const sys::PlistDictionary& d) {
    auto fileList = d.getArray("fileList");
    auto infoList = d.getArray("infoList");
    if (!fileList || !infoList) return std::nullopt;
    RemoteStackStatus s;
    s.remoteUrl = d.getString("remoteUrl");
    s.fileList = std::move(*fileList);
    s.infoList = std::move(*infoList);
    s.listTitle = stringFor(d, "listTitle");
    s.otherSetting = d.getDictionary("otherSetting");
    s.fixUsername = stringFor(d, "fixUsername");
    s.fixID = stringFor(d, "fixID");
    s.rawUsername = stringFor(d, "rawUsername");
    s.useRawPassword = d.getBool("useRawPassword");
    s.siteURL = stringFor(d, "siteURL");
    return s;
}
