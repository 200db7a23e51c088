#pragma once

// Hears that a popup menu closes (after a row's action, or a touch outside the rows).
class PopupMenuViewDelegate {
public:
    virtual ~PopupMenuViewDelegate() = default;
    virtual void onRemovePopup() {}
};
