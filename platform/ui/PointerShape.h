#pragma once

#include "platform/ui/Geometry.h"

namespace ui {

class Window;

// What the mouse pointer shows over a place of the window, and what its
// middle button does there, as on a desktop: an I-beam over a text field, a
// hand over a link of a web page, an arrow elsewhere.
class PointerShape {
public:
    enum class Kind { Arrow, IBeam, Hand };

    // The shape for a point of the window (window coordinates).
    static Kind at(Window& window, Point point);
    // The middle button at a point: over a text field it pastes the primary
    // selection where it is. False when nothing took it.
    static bool middleClick(Window& window, Point point);
};

}  // namespace ui
