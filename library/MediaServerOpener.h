#pragma once

#include "platform/core/PlistDictionary.h"

#include <memory>
#include <string>

class LocalFilelistViewController;

// What the local list needs of the remote sources: opening a stored site or
// a shortcut as a remote list, and rebuilding the remote lists of the last
// run. The remote sources install it at start-up; without one, shortcuts do
// not open and the restore ends at the local list.
class MediaServerOpener {
public:
    virtual ~MediaServerOpener() = default;

    // Lists the site of `info` (a site record: "url", "title", "username",
    // "other", "id", and possibly "rootTitle") and pushes its first remote
    // list above `from`. The list is told through didPushToMediaServer or
    // didCancelByUser when the opening ends.
    virtual void pushToMediaServer(const std::shared_ptr<LocalFilelistViewController>& from,
                                   const sys::PlistDictionary& info) = 0;
    // Pushes the first saved remote list level above `from` (no animation);
    // false when no level was saved.
    virtual bool restoreRemoteList(const std::shared_ptr<LocalFilelistViewController>& from) = 0;
    // Opens the site editor on a shortcut's record (its password from the
    // key chain); "Save" comes back through the list's saveShortcut.
    virtual void editShortcut(const std::shared_ptr<LocalFilelistViewController>& from,
                              const sys::PlistDictionary& record, const std::string& displayName) = 0;

    // Queues the file at `url` for download into `savePath` through the
    // application's transfer queue; false when there is no queue.
    virtual bool queueDownload(const std::string& url, const std::string& savePath) {
        (void)url;
        (void)savePath;
        return false;
    }

    static void install(std::shared_ptr<MediaServerOpener> opener);
    static std::shared_ptr<MediaServerOpener> installed();
};
