#pragma once

#include "platform/ui/Color.h"
#include "platform/ui/Image.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace ui {

class View;

enum class BarButtonSystemItem {
    Done,
    Cancel,
    Edit,
    Save,
    Add,
    FlexibleSpace,
    FixedSpace,
    Compose,
    Reply,
    Action,
    Organize,
    Bookmarks,
    Search,
    Refresh,
    Stop,
    Camera,
    Trash,
    Play,
    Pause,
    Rewind,
    FastForward,
    Undo,
    Redo,
    Close,
};

enum class BarButtonItemStyle { Plain, Done };

// A button of a tool bar or navigation bar: a title, an image, one of the
// system's items, a flexible or fixed space, or a custom view. The bar that
// shows it makes its button; changes to the item reach that button.
class BarButtonItem : public std::enable_shared_from_this<BarButtonItem> {
public:
    using Ref = std::shared_ptr<BarButtonItem>;
    using Action = std::function<void(BarButtonItem&)>;

    static Ref withTitle(const std::string& title, BarButtonItemStyle style = BarButtonItemStyle::Plain,
                         Action action = {});
    static Ref withImage(ImageRef image, BarButtonItemStyle style = BarButtonItemStyle::Plain, Action action = {});
    static Ref withSystemItem(BarButtonSystemItem item, Action action = {});
    static Ref flexibleSpace();
    static Ref fixedSpace(double width);
    static Ref withCustomView(std::shared_ptr<View> view);

    const std::string& title() const { return title_; }
    void setTitle(const std::string& t);
    const ImageRef& image() const { return image_; }
    void setImage(ImageRef i);
    BarButtonItemStyle style() const { return style_; }
    void setStyle(BarButtonItemStyle s);
    std::optional<BarButtonSystemItem> systemItem() const { return system_; }
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool e);
    std::optional<Color> tintColor() const { return tint_; }
    void setTintColor(std::optional<Color> c);
    double width() const { return width_; }
    void setWidth(double w);
    int tag() const { return tag_; }
    void setTag(int t) { tag_ = t; }
    const std::shared_ptr<View>& customView() const { return customView_; }
    void setAction(Action a) { action_ = std::move(a); }
    const Action& action() const { return action_; }

    bool isFlexibleSpace() const { return system_ == BarButtonSystemItem::FlexibleSpace; }
    bool isFixedSpace() const { return system_ == BarButtonSystemItem::FixedSpace; }
    bool isSpace() const { return isFlexibleSpace() || isFixedSpace(); }

    // The title a system item shows ("Done", "Cancel"…), or the symbol it draws.
    std::string effectiveTitle() const;
    ImageRef effectiveImage() const;
    // Text items of the done style and Done/Save are bold.
    bool isBold() const;

    // Runs the action as a tap on the item's button would.
    void trigger();

    // The view the bar shows for this item (null when not on a bar).
    std::shared_ptr<View> view() const { return view_.lock(); }
    // For bars: their view of the item and how to hear of changes.
    void attach(std::shared_ptr<View> view, std::function<void()> changed);

private:
    BarButtonItem() = default;
    void changed();

    std::string title_;
    ImageRef image_;
    BarButtonItemStyle style_ = BarButtonItemStyle::Plain;
    std::optional<BarButtonSystemItem> system_;
    bool enabled_ = true;
    std::optional<Color> tint_;
    double width_ = 0;
    int tag_ = 0;
    std::shared_ptr<View> customView_;
    Action action_;
    std::weak_ptr<View> view_;
    std::function<void()> onChange_;
};

}  // namespace ui
