#include "platform/ui/BarButtonItem.h"

#include "platform/ui/Application.h"
#include "platform/ui/View.h"

namespace ui {

BarButtonItem::Ref BarButtonItem::withTitle(const std::string& title, BarButtonItemStyle style, Action action) {
    Ref r(new BarButtonItem);
    r->title_ = title;
    r->style_ = style;
    r->action_ = std::move(action);
    return r;
}

BarButtonItem::Ref BarButtonItem::withImage(ImageRef image, BarButtonItemStyle style, Action action) {
    Ref r(new BarButtonItem);
    r->image_ = std::move(image);
    r->style_ = style;
    r->action_ = std::move(action);
    return r;
}

BarButtonItem::Ref BarButtonItem::withSystemItem(BarButtonSystemItem item, Action action) {
    Ref r(new BarButtonItem);
    r->system_ = item;
    r->action_ = std::move(action);
    if (item == BarButtonSystemItem::Done || item == BarButtonSystemItem::Save) r->style_ = BarButtonItemStyle::Done;
    return r;
}

BarButtonItem::Ref BarButtonItem::flexibleSpace() { return withSystemItem(BarButtonSystemItem::FlexibleSpace); }

BarButtonItem::Ref BarButtonItem::fixedSpace(double width) {
    Ref r = withSystemItem(BarButtonSystemItem::FixedSpace);
    r->width_ = width;
    return r;
}

BarButtonItem::Ref BarButtonItem::withCustomView(std::shared_ptr<View> view) {
    Ref r(new BarButtonItem);
    r->customView_ = std::move(view);
    return r;
}

void BarButtonItem::changed() {
    if (onChange_) onChange_();
}

void BarButtonItem::setTitle(const std::string& t) {
    title_ = t;
    changed();
}

void BarButtonItem::setImage(ImageRef i) {
    image_ = std::move(i);
    changed();
}

void BarButtonItem::setStyle(BarButtonItemStyle s) {
    style_ = s;
    changed();
}

void BarButtonItem::setEnabled(bool e) {
    if (e == enabled_) return;
    enabled_ = e;
    changed();
}

void BarButtonItem::setTintColor(std::optional<Color> c) {
    tint_ = std::move(c);
    changed();
}

void BarButtonItem::setWidth(double w) {
    width_ = w;
    changed();
}

std::string BarButtonItem::effectiveTitle() const {
    if (!system_) return title_;
    switch (*system_) {
    case BarButtonSystemItem::Done: return Application::shared().systemWord("Done");
    case BarButtonSystemItem::Cancel: return Application::shared().systemWord("Cancel");
    case BarButtonSystemItem::Edit: return Application::shared().systemWord("Edit");
    case BarButtonSystemItem::Save: return Application::shared().systemWord("Save");
    case BarButtonSystemItem::Undo: return Application::shared().systemWord("Undo");
    case BarButtonSystemItem::Redo: return Application::shared().systemWord("Redo");
    default: return "";
    }
}

ImageRef BarButtonItem::effectiveImage() const {
    if (!system_) return image_;
    const char* name = nullptr;
    switch (*system_) {
    case BarButtonSystemItem::Add: name = "plus"; break;
    case BarButtonSystemItem::Compose: name = "square.and.pencil"; break;
    case BarButtonSystemItem::Reply: name = "arrowshape.turn.up.left"; break;
    case BarButtonSystemItem::Action: name = "square.and.arrow.up"; break;
    case BarButtonSystemItem::Organize: name = "folder"; break;
    case BarButtonSystemItem::Bookmarks: name = "book"; break;
    case BarButtonSystemItem::Search: name = "magnifyingglass"; break;
    case BarButtonSystemItem::Refresh: name = "arrow.clockwise"; break;
    case BarButtonSystemItem::Stop: name = "xmark"; break;
    case BarButtonSystemItem::Camera: name = "camera"; break;
    case BarButtonSystemItem::Trash: name = "trash"; break;
    case BarButtonSystemItem::Play: name = "play.fill"; break;
    case BarButtonSystemItem::Pause: name = "pause.fill"; break;
    case BarButtonSystemItem::Rewind: name = "backward.fill"; break;
    case BarButtonSystemItem::FastForward: name = "forward.fill"; break;
    case BarButtonSystemItem::Close: name = "xmark.circle.fill"; break;
    default: return nullptr;
    }
    return Image::systemNamed(name);
}

bool BarButtonItem::isBold() const { return style_ == BarButtonItemStyle::Done; }

void BarButtonItem::trigger() {
    if (!enabled_ || !action_) return;
    Ref keep = shared_from_this();
    Action a = action_;
    a(*this);
}

void BarButtonItem::attach(std::shared_ptr<View> view, std::function<void()> changed) {
    view_ = view;
    onChange_ = std::move(changed);
}

}  // namespace ui
