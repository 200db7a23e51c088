#include "platform/ui/PointerShape.h"

#include "platform/ui/TextField.h"
#include "platform/ui/WebView.h"
#include "platform/ui/Window.h"

namespace ui {

namespace {

template <class T>
T* holding(View* v) {
    for (; v; v = v->superview())
        if (auto* t = dynamic_cast<T*>(v)) return t;
    return nullptr;
}

}  // namespace

PointerShape::Kind PointerShape::at(Window& window, Point point) {
    window.layoutIfNeeded();
    View* hit = window.hitTest(point, nullptr);
    if (auto* field = holding<TextField>(hit); field && field->isEnabled()) {
        // The clear button is a button.
        Point p = field->convertPointFromWindow(point);
        if (field->isClearButtonShown() && rectContainsPoint(rectInset(field->clearButtonRect(), -6, -6), p))
            return Kind::Arrow;
        return Kind::IBeam;
    }
    if (auto* web = holding<WebView>(hit); web && web->isLinkAt(web->convertPointFromWindow(point))) return Kind::Hand;
    return Kind::Arrow;
}

bool PointerShape::middleClick(Window& window, Point point) {
    window.layoutIfNeeded();
    auto* field = holding<TextField>(window.hitTest(point, nullptr));
    if (!field || !field->isEnabled()) return false;
    auto keep = field->shared_from_this();
    field->pastePrimarySelectionAt(field->convertPointFromWindow(point));
    return true;
}

}  // namespace ui
