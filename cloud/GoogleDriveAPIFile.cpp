#include "cloud/GoogleDriveAPIFile.h"

#include "cloud/CloudJson.h"

#include <cstdlib>

GoogleDriveAPIFile GoogleDriveAPIFile::fromItem(const sys::PlistDictionary& item, const std::string& apiBase) {
    GoogleDriveAPIFile f;
    f.mimeType = item.getString("mimeType");
    if (item.get("name").isString()) f.title = item.getString("name");
    if (item.get("originalFilename").isString()) f.originalFilename = item.getString("originalFilename");
    if (item.get("explicitlyTrashed").isBool()) f.explicitlyTrashed = item.getBool("explicitlyTrashed");
    if (item.get("modifiedTime").isString()) f.modifiedDate = CloudJson::parseDate(item.getString("modifiedTime"));
    f.identifier = item.getString("id");
    // Drive sends sizes as decimal strings (they pass 2^53).
    const sys::PlistValue& size = item.get("size");
    if (size.isString()) {
        char* end = nullptr;
        const std::string& s = size.asString();
        long long v = std::strtoll(s.c_str(), &end, 10);
        if (end != s.c_str() && *end == 0 && v >= 0) f.fileSize = v;
    } else if (size.isNumber()) {
        f.fileSize = item.getInteger("size");
    }
    if (!f.identifier.empty()) f.downloadUrl = apiBase + "/drive/v3/files/" + f.identifier + "?alt=media";
    return f;
}
