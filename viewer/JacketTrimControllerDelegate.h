#pragma once

#include "platform/ui/Geometry.h"

#include <memory>

namespace ui {
class Image;
}

// The reading screen's side of the cover crop screen.
class JacketTrimControllerDelegate {
public:
    virtual ~JacketTrimControllerDelegate() = default;
    // `rect` is in the image's own coordinates; a null image means the crop failed.
    virtual void endTrimJacket(const ui::Rect& rect, const std::shared_ptr<const ui::Image>& image) = 0;
    virtual void cancelTrimJacket() = 0;
};
