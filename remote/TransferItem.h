#pragma once

#include "platform/core/PlistDictionary.h"

#include <cstdint>
#include <optional>
#include <string>

// One queued or ended download of the transfer queue.
class TransferItem {
public:
    enum Status { kWaiting = 0, kTransferring = 1, kDone = 2, kSkipped = 3, kFailed = 4 };
    enum Type { kHttp = 0, kSmb = 1 };

    // The site an item was queued from: its address, for which an answer
    // typed for the item is remembered (a file elsewhere has none), and the
    // id of the stored site whose own password the item goes with, which is
    // forgotten when the server refuses it. Both empty when not known.
    struct Site {
        std::string url;
        std::string id;
    };

    int status = kWaiting;
    int type = kHttp;
    std::string source;
    std::string savePath;
    std::string saveName;
    std::optional<std::string> username;
    std::optional<std::string> password;
    std::optional<std::string> serviceName;
    sys::PlistDictionary serviceKey;
    std::optional<std::string> errorMessage;
    int64_t size = 0;
    int64_t sizeTransfer = 0;
    int64_t startOffset = 0;
    double startTime = 0;
    sys::PlistDictionary otherSettings;
    Site site;
    // Where a finished download was put: saveName, or "name 2.ext" and so on
    // when a file of that name was kept. Empty until then.
    std::string savedPath;

    // What the queue's state file keeps of a waiting item. Passwords stay
    // out of it: a resumed download asks the key chain or the user again.
    sys::PlistDictionary toStateDictionary() const;
    // An item read back from the state file, waiting; nothing when the entry
    // lacks a source or a folder. An entry written before items knew their
    // site comes back without one.
    static std::optional<TransferItem> fromStateDictionary(const sys::PlistDictionary& d);
};
