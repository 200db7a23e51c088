#pragma once

#include <any>
#include <cstdint>

// Hears which item the user picked from an item list.
class ItemSelectViewControllerDelegate {
public:
    virtual ~ItemSelectViewControllerDelegate() = default;
    virtual void selectItem(int64_t item, const std::any& userData) {
        (void)item;
        (void)userData;
    }
};
