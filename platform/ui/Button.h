#pragma once

#include "platform/ui/Control.h"
#include "platform/ui/Image.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"

#include <map>
#include <optional>
#include <string>

namespace ui {

enum class ButtonType { Custom, System, DetailDisclosure, Close };

// Where the image stands against the title.
enum class ImagePlacement { Leading, Trailing, Top, Bottom };

// A control with a title and an image, each per state, over an optional
// per-state background image. A system button draws its title and template
// images in the tint colour and fades while pressed; a custom button keeps
// its colours and darkens its image while pressed.
class Button : public Control {
public:
    explicit Button(ButtonType type = ButtonType::Custom);
    Button(ButtonType type, const Rect& frame);

    ButtonType buttonType() const { return type_; }

    // Values per state; a state without its own value uses the normal one
    // (highlighted-and-selected falls back to selected, then highlighted).
    void setTitle(const std::string& title, unsigned state = ControlStateNormal);
    std::optional<std::string> title(unsigned state) const;
    void setTitleColor(const Color& color, unsigned state = ControlStateNormal);
    std::optional<Color> titleColor(unsigned state) const;
    void setImage(ImageRef image, unsigned state = ControlStateNormal);
    ImageRef image(unsigned state) const;
    void setBackgroundImage(ImageRef image, unsigned state = ControlStateNormal);
    ImageRef backgroundImage(unsigned state) const;

    std::string currentTitle() const;
    Color currentTitleColor() const;
    ImageRef currentImage() const;
    ImageRef currentBackgroundImage() const;

    Label* titleLabel() const { return titleLabel_.get(); }
    ImageView* imageView() const { return imageView_.get(); }

    EdgeInsets contentEdgeInsets() const { return contentInsets_; }
    void setContentEdgeInsets(const EdgeInsets& i);
    EdgeInsets titleEdgeInsets() const { return titleInsets_; }
    void setTitleEdgeInsets(const EdgeInsets& i);
    EdgeInsets imageEdgeInsets() const { return imageInsets_; }
    void setImageEdgeInsets(const EdgeInsets& i);
    ImagePlacement imagePlacement() const { return placement_; }
    void setImagePlacement(ImagePlacement p);
    double imagePadding() const { return imagePadding_; }
    void setImagePadding(double p);
    bool adjustsImageWhenHighlighted() const { return adjustsImage_; }
    void setAdjustsImageWhenHighlighted(bool on) { adjustsImage_ = on; }

    Size sizeThatFits(Size size) const override;
    void layoutSubviews() override;
    void draw(gfx::Canvas& canvas, const Rect& rect) override;
    void tintColorDidChange() override;

protected:
    void stateDidChange() override;
    unsigned touchUpInsideExtraEvents() const override { return ControlEventPrimaryActionTriggered; }

private:
    template <class T>
    static std::optional<T> lookup(const std::map<unsigned, T>& m, unsigned state);
    void refreshContent();
    Size contentSize() const;

    ButtonType type_;
    std::map<unsigned, std::string> titles_;
    std::map<unsigned, Color> titleColors_;
    std::map<unsigned, ImageRef> images_;
    std::map<unsigned, ImageRef> backgrounds_;
    std::shared_ptr<Label> titleLabel_;
    std::shared_ptr<ImageView> imageView_;
    EdgeInsets contentInsets_;
    EdgeInsets titleInsets_;
    EdgeInsets imageInsets_;
    ImagePlacement placement_ = ImagePlacement::Leading;
    double imagePadding_ = 0;
    bool adjustsImage_ = true;
};

}  // namespace ui
