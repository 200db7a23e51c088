#pragma once

#include "platform/ui/Geometry.h"

#include <memory>
#include <vector>

class BookshelfBookButton;
class FilelistItem;
class Settings;

// Where the bookshelf theme puts a dragged cover: the floating button is
// drawn as the shelf draws the entry (the theme's book picture with the
// thumbnail at the theme's book position, or for folders the folder picture
// and position), and the drop slots are measured from the covers' centres as
// the theme places them on the shelf.
class BookshelfDragCover {
public:
    // Folders, the library's own folder, the temporary folder and Shared
    // Documents take the theme's folder position.
    static bool usesFolderPosition(int32_t type);
    // The floating button for `item`, pressed on `source` (its picture and
    // thumbnail are those on the shelf).
    static std::shared_ptr<BookshelfBookButton> make(const FilelistItem& item, const BookshelfBookButton* source,
                                                     const std::shared_ptr<Settings>& settings);
    // The x of each slot's cover centre on a shelf line (table coordinates).
    static std::vector<double> slotCentres(const std::shared_ptr<Settings>& settings, bool landscape);
    // The rectangle of a slot's cover picture in a shelf button.
    static ui::Rect coverRect(const std::shared_ptr<Settings>& settings, bool folder);
};
