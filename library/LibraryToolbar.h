#pragma once

#include "foundation/ToolbarItemModel.h"
#include "platform/ui/BarButtonItem.h"

#include <functional>
#include <vector>

// Turns the shared tool-bar models into bar items for a list screen. Each
// screen answers which of the models' actions it can perform; an action it
// cannot perform (its screen does not exist here) leaves its button out.
class LibraryToolbar {
public:
    using ActionFor = std::function<ui::BarButtonItem::Action(ToolbarItemModel::Action)>;

    static std::vector<ui::BarButtonItem::Ref> items(const std::vector<ToolbarItemModel>& models,
                                                     const ActionFor& actionFor);
};
