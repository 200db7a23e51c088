#include "platform/ui/Button.h"

#include <algorithm>
#include <cmath>

namespace ui {

Button::Button(ButtonType type) : Button(type, Rect()) {}

Button::Button(ButtonType type, const Rect& frame) : Control(frame), type_(type) {
    titleLabel_ = std::make_shared<Label>();
    titleLabel_->setFont(type == ButtonType::System ? gfx::Font::system(15, gfx::Font::Weight::Medium)
                                                    : gfx::Font::system(15));
    titleLabel_->setTextAlignment(TextAlignment::Center);
    titleLabel_->setLineBreakMode(LineBreakMode::TruncateMiddle);
    imageView_ = std::make_shared<ImageView>();
    imageView_->setContentMode(ContentMode::Center);
    addSubview(imageView_);
    addSubview(titleLabel_);
    if (type == ButtonType::DetailDisclosure) setImage(Image::systemNamed("info.circle"));
    if (type == ButtonType::Close) setImage(Image::systemNamed("xmark.circle.fill"));
    refreshContent();
}

template <class T>
std::optional<T> Button::lookup(const std::map<unsigned, T>& m, unsigned state) {
    auto it = m.find(state);
    if (it != m.end()) return it->second;
    if ((state & ControlStateHighlighted) && (state & ControlStateSelected)) {
        it = m.find(ControlStateSelected);
        if (it != m.end()) return it->second;
        it = m.find(ControlStateHighlighted);
        if (it != m.end()) return it->second;
    }
    if (state & ControlStateDisabled) {
        it = m.find(ControlStateDisabled);
        if (it != m.end()) return it->second;
    }
    it = m.find(ControlStateNormal);
    if (it != m.end()) return it->second;
    return std::nullopt;
}

void Button::setTitle(const std::string& title, unsigned state) {
    titles_[state] = title;
    refreshContent();
}

std::optional<std::string> Button::title(unsigned state) const { return lookup(titles_, state); }

void Button::setTitleColor(const Color& color, unsigned state) {
    titleColors_[state] = color;
    refreshContent();
}

std::optional<Color> Button::titleColor(unsigned state) const { return lookup(titleColors_, state); }

void Button::setImage(ImageRef image, unsigned state) {
    if (image)
        images_[state] = std::move(image);
    else
        images_.erase(state);
    refreshContent();
}

ImageRef Button::image(unsigned state) const { return lookup(images_, state).value_or(nullptr); }

void Button::setBackgroundImage(ImageRef image, unsigned state) {
    if (image)
        backgrounds_[state] = std::move(image);
    else
        backgrounds_.erase(state);
    setNeedsDisplay();
}

ImageRef Button::backgroundImage(unsigned state) const { return lookup(backgrounds_, state).value_or(nullptr); }

std::string Button::currentTitle() const { return title(state()).value_or(""); }

Color Button::currentTitleColor() const {
    if (auto c = titleColor(state())) return *c;
    if (type_ == ButtonType::Custom) return isEnabled() ? Color::whiteColor() : Color::white(1, 0.5);
    if (!isEnabled()) return Color::tertiaryLabel();
    return tintColor();
}

ImageRef Button::currentImage() const { return image(state()); }
ImageRef Button::currentBackgroundImage() const { return backgroundImage(state()); }

void Button::setContentEdgeInsets(const EdgeInsets& i) {
    contentInsets_ = i;
    setNeedsLayout();
}

void Button::setTitleEdgeInsets(const EdgeInsets& i) {
    titleInsets_ = i;
    setNeedsLayout();
}

void Button::setImageEdgeInsets(const EdgeInsets& i) {
    imageInsets_ = i;
    setNeedsLayout();
}

void Button::setImagePlacement(ImagePlacement p) {
    placement_ = p;
    setNeedsLayout();
}

void Button::setImagePadding(double p) {
    imagePadding_ = p;
    setNeedsLayout();
}

void Button::stateDidChange() { refreshContent(); }

void Button::tintColorDidChange() { refreshContent(); }

void Button::refreshContent() {
    std::string t = currentTitle();
    if (t != titleLabel_->text()) setNeedsLayout();
    titleLabel_->setText(t);
    titleLabel_->setHidden(t.empty());
    titleLabel_->setTextColor(currentTitleColor());
    ImageRef img = currentImage();
    if (img != imageView_->image()) setNeedsLayout();
    imageView_->setImage(img);
    imageView_->setHidden(!img);
    imageView_->setTintColor(type_ == ButtonType::Custom ? std::optional<Color>() : currentTitleColor());
    const bool pressed = isHighlighted();
    if (type_ == ButtonType::Custom) {
        imageView_->setDimmed(pressed && adjustsImage_ && !image(ControlStateHighlighted | (state() & ControlStateSelected)));
        titleLabel_->setAlpha(1);
        imageView_->setAlpha(1);
    } else {
        // The platform's pressed look: the content fades.
        double a = pressed ? 0.2 : 1.0;
        titleLabel_->setAlpha(a);
        imageView_->setAlpha(a);
    }
    setNeedsDisplay();
}

Size Button::contentSize() const {
    Size ts = titleLabel_->text().empty() ? Size{0, 0} : titleLabel_->sizeThatFits({0, 0});
    ImageRef img = imageView_->image();
    Size is = img ? img->size() : Size{0, 0};
    double pad = (ts.width > 0 && is.width > 0) ? imagePadding_ : 0;
    if (placement_ == ImagePlacement::Top || placement_ == ImagePlacement::Bottom)
        return {std::max(ts.width, is.width), ts.height + is.height + pad};
    return {ts.width + is.width + pad, std::max(ts.height, is.height)};
}

Size Button::sizeThatFits(Size) const {
    Size c = contentSize();
    double w = c.width + contentInsets_.left + contentInsets_.right;
    double h = c.height + contentInsets_.top + contentInsets_.bottom;
    ImageRef bg = currentBackgroundImage();
    if (bg) {
        w = std::max(w, bg->size().width);
        h = std::max(h, bg->size().height);
    }
    // A system button with text is at least as tall as its tap target row.
    if (type_ == ButtonType::System && !titleLabel_->text().empty()) h = std::max(h, 30.0);
    return {std::ceil(w), std::ceil(h)};
}

void Button::layoutSubviews() {
    Rect area = rectInsetBy(bounds(), contentInsets_);
    Size ts = titleLabel_->text().empty() ? Size{0, 0} : titleLabel_->sizeThatFits({0, 0});
    ImageRef img = imageView_->image();
    Size is = img ? img->size() : Size{0, 0};
    const bool vertical = placement_ == ImagePlacement::Top || placement_ == ImagePlacement::Bottom;
    double pad = (ts.width > 0 && is.width > 0) ? imagePadding_ : 0;
    // The title gives way when the content is wider than the area.
    if (!vertical) ts.width = std::max(0.0, std::min(ts.width, area.width() - is.width - pad));
    else ts.width = std::min(ts.width, std::max(0.0, area.width()));
    Size content = vertical ? Size{std::max(ts.width, is.width), ts.height + is.height + pad}
                            : Size{ts.width + is.width + pad, std::max(ts.height, is.height)};
    double x, y;
    switch (contentHorizontalAlignment()) {
    case ContentHorizontalAlignment::Left: x = area.x(); break;
    case ContentHorizontalAlignment::Right: x = area.maxX() - content.width; break;
    default: x = area.x() + (area.width() - content.width) / 2; break;
    }
    switch (contentVerticalAlignment()) {
    case ContentVerticalAlignment::Top: y = area.y(); break;
    case ContentVerticalAlignment::Bottom: y = area.maxY() - content.height; break;
    default: y = area.y() + (area.height() - content.height) / 2; break;
    }
    Rect imageRect, titleRect;
    switch (placement_) {
    case ImagePlacement::Leading:
        imageRect = Rect(x, y + (content.height - is.height) / 2, is.width, is.height);
        titleRect = Rect(x + is.width + pad, y + (content.height - ts.height) / 2, ts.width, ts.height);
        break;
    case ImagePlacement::Trailing:
        titleRect = Rect(x, y + (content.height - ts.height) / 2, ts.width, ts.height);
        imageRect = Rect(x + ts.width + pad, y + (content.height - is.height) / 2, is.width, is.height);
        break;
    case ImagePlacement::Top:
        imageRect = Rect(x + (content.width - is.width) / 2, y, is.width, is.height);
        titleRect = Rect(x + (content.width - ts.width) / 2, y + is.height + pad, ts.width, ts.height);
        break;
    case ImagePlacement::Bottom:
        titleRect = Rect(x + (content.width - ts.width) / 2, y, ts.width, ts.height);
        imageRect = Rect(x + (content.width - is.width) / 2, y + ts.height + pad, is.width, is.height);
        break;
    }
    if (contentHorizontalAlignment() == ContentHorizontalAlignment::Fill && !vertical) {
        titleRect = Rect(titleRect.x(), titleRect.y(), std::max(0.0, area.maxX() - titleRect.x()), titleRect.height());
    }
    // Edge insets move each part within the content area: by the inset on
    // an aligned edge, by half the difference when centred.
    auto shift = [this](const Rect& r, const EdgeInsets& in) {
        double dx = (in.left - in.right) / 2, dy = (in.top - in.bottom) / 2;
        if (contentHorizontalAlignment() == ContentHorizontalAlignment::Left) dx = in.left;
        if (contentHorizontalAlignment() == ContentHorizontalAlignment::Right) dx = -in.right;
        if (contentVerticalAlignment() == ContentVerticalAlignment::Top) dy = in.top;
        if (contentVerticalAlignment() == ContentVerticalAlignment::Bottom) dy = -in.bottom;
        return rectOffset(r, dx, dy);
    };
    titleRect = shift(titleRect, titleInsets_);
    imageRect = shift(imageRect, imageInsets_);
    titleLabel_->setFrame(titleRect);
    imageView_->setFrame(imageRect);
}

void Button::draw(gfx::Canvas& canvas, const Rect&) {
    if (ImageRef bg = currentBackgroundImage()) bg->draw(canvas, bounds());
}

}  // namespace ui
