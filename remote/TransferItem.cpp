#include "remote/TransferItem.h"

sys::PlistDictionary TransferItem::toStateDictionary() const {
    sys::PlistDictionary d;
    d.set("type", type);
    d.set("source", source);
    d.set("savePath", savePath);
    d.set("saveName", saveName);
    if (username) d.set("username", *username);
    if (serviceName) d.set("serviceName", *serviceName);
    if (!serviceKey.empty()) d.set("serviceKey", serviceKey);
    if (!otherSettings.empty()) d.set("otherSettings", otherSettings);
    if (!site.url.empty() || !site.id.empty()) {
        sys::PlistDictionary s;
        if (!site.url.empty()) s.set("url", site.url);
        if (!site.id.empty()) s.set("id", site.id);
        d.set("site", s);
    }
    d.set("size", size);
    return d;
}

std::optional<TransferItem> TransferItem::fromStateDictionary(const sys::PlistDictionary& d) {
    TransferItem item;
    item.source = d.getString("source");
    item.savePath = d.getString("savePath");
    item.saveName = d.getString("saveName");
    if (item.source.empty() || item.savePath.empty() || item.saveName.empty()) return std::nullopt;
    item.type = d.getInteger("type") == kSmb ? kSmb : kHttp;
    if (d.contains("username")) item.username = d.getString("username");
    if (d.contains("serviceName")) item.serviceName = d.getString("serviceName");
    if (auto k = d.getDictionary("serviceKey")) item.serviceKey = *k;
    if (auto o = d.getDictionary("otherSettings")) item.otherSettings = *o;
    if (auto s = d.getDictionary("site")) {
        item.site.url = s->getString("url");
        item.site.id = s->getString("id");
    }
    item.size = d.getInteger("size");
    return item;
}
