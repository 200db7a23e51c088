#pragma once

#include "platform/graphics/Canvas.h"
#include "platform/ui/TraitCollection.h"

#include <functional>

namespace ui {

class View;

// Draws a view tree with its presentation values: each view turned about its
// centre, its alpha applied to it and its subviews as one group, background
// with rounded corners, shadow, its own drawing, subviews (clipped when it
// clips) and border on top.
class Renderer {
public:
    // Draws `root` in the canvas's present space (root's bounds space),
    // leaving out the subviews of `root` that `skip` answers true for.
    static void drawTree(gfx::Canvas& canvas, View& root, const TraitCollection& traits,
                         const std::function<bool(const View&)>& skip = {});
    // Draws one view placed in its superview's space, then its subtree.
    static void drawView(gfx::Canvas& canvas, View& view, const TraitCollection& traits);

private:
    static void drawPlaced(gfx::Canvas& canvas, View& view, const TraitCollection& traits, bool placed,
                           const std::function<bool(const View&)>& skip = {});
};

}  // namespace ui
