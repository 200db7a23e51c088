#include "platform/ui/QuickActions.h"

namespace ui {

QuickActions& QuickActions::shared() {
    static QuickActions* q = new QuickActions;
    return *q;
}

void QuickActions::setItems(std::vector<Item> items) {
    if (items.size() > kMaxItems) items.resize(kMaxItems);
    items_ = std::move(items);
    ++updates_;
}

bool QuickActions::perform(const std::string& type) {
    for (const Item& i : items_) {
        if (i.type != type) continue;
        Item copy = i;
        return handler_ ? handler_(copy) : false;
    }
    return false;
}

void QuickActions::reset() {
    items_.clear();
    handler_ = nullptr;
    updates_ = 0;
}

}  // namespace ui
