// A cloud service's JSON answer: a page of a folder listing (each item read
// as a file of the listing), and a token answer.
#include "cloud/CloudJson.h"
#include "cloud/CloudTokenStore.h"
#include "cloud/GoogleDriveAPIFile.h"
#include "fuzz/support/FuzzEnvironment.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzEnvironment::setUp();
    std::string text(reinterpret_cast<const char*>(data), size);
    if (auto page = CloudJson::parseObject(text)) {
        for (const char* key : {"files", "value", "entries"}) {
            const sys::PlistValue* items = page->find(key);
            if (!items || !items->isArray()) continue;
            for (const sys::PlistValue& item : items->asArray()) {
                if (item.isDictionary()) GoogleDriveAPIFile::fromItem(item.asDictionary(), "https://127.0.0.1/drive/v3");
            }
        }
    }
    CloudJson::parseDate(text.substr(0, 40));
    std::string error;
    CloudTokenStore::fromTokenAnswer(text, "previous-refresh", &error);
    return 0;
}
