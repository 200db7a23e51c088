#include "platform/ui/Touch.h"

#include "platform/ui/View.h"

namespace ui {

Point Touch::locationInView(const View* v) const {
    if (!v) return location_;
    return v->convertPointFromWindow(location_);
}

Point Touch::previousLocationInView(const View* v) const {
    if (!v) return previous_;
    return v->convertPointFromWindow(previous_);
}

TouchSet Event::touchesForView(const View* v) const {
    TouchSet out;
    for (auto& t : allTouches)
        if (t->view().get() == v) out.push_back(t);
    return out;
}

}  // namespace ui
