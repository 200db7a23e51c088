#pragma once

#include <string>

// One item of a file list's tool bar, as the list screens lay it out: a
// button with an image and an action, or a flexible or fixed space. The UI
// toolkit turns these into bar button items bound to the list screen.
struct ToolbarItemModel {
    enum class Kind { Button, FlexibleSpace, FixedSpace };
    enum class Action { None, PopupMenu, Scan, Download, Brightness, RotationLock, Settings, ActionButton };

    Kind kind = Kind::Button;
    std::string imageName;  // buttons only
    Action action = Action::None;
    double width = 0;  // fixed spaces only, points

    static ToolbarItemModel button(std::string image, Action action) {
        return {Kind::Button, std::move(image), action, 0};
    }
    static ToolbarItemModel flexibleSpace() { return {Kind::FlexibleSpace, {}, Action::None, 0}; }
    static ToolbarItemModel fixedSpace(double width) { return {Kind::FixedSpace, {}, Action::None, width}; }

    bool operator==(const ToolbarItemModel&) const = default;
};
