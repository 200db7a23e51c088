#include "library/LibraryToolbar.h"

#include "foundation/BookCommon.h"

std::vector<ui::BarButtonItem::Ref> LibraryToolbar::items(const std::vector<ToolbarItemModel>& models,
                                                          const ActionFor& actionFor) {
    std::vector<ui::BarButtonItem::Ref> out;
    for (const auto& model : models) {
        using Kind = ToolbarItemModel::Kind;
        if (model.kind == Kind::FlexibleSpace) {
            out.push_back(ui::BarButtonItem::flexibleSpace());
            continue;
        }
        if (model.kind == Kind::FixedSpace) {
            out.push_back(ui::BarButtonItem::fixedSpace(model.width));
            continue;
        }
        ui::BarButtonItem::Action action = actionFor(model.action);
        if (!action) continue;
        auto image = BookCommon::imageNamed(model.imageName);
        if (image) image = image->withRenderingMode(ui::ImageRenderingMode::AlwaysTemplate);
        out.push_back(ui::BarButtonItem::withImage(image, ui::BarButtonItemStyle::Plain, action));
    }
    return out;
}
