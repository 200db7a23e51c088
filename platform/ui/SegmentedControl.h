#pragma once

#include "platform/graphics/Font.h"
#include "platform/ui/Control.h"
#include "platform/ui/Image.h"

#include <string>
#include <vector>

namespace ui {

// A row of segments with titles or images, one of them selected. Lifting a
// finger on an enabled segment selects it and sends value-changed (a
// momentary control only flashes the segment).
class SegmentedControl : public Control {
public:
    static constexpr int kNoSegment = -1;

    SegmentedControl();
    explicit SegmentedControl(const std::vector<std::string>& titles);

    int numberOfSegments() const { return int(segments_.size()); }
    void insertSegment(const std::string& title, int index, bool animated = false);
    void insertSegment(ImageRef image, int index, bool animated = false);
    void removeSegment(int index, bool animated = false);
    void removeAllSegments();
    void setTitle(const std::string& title, int index);
    std::string titleForSegment(int index) const;
    void setImage(ImageRef image, int index);
    ImageRef imageForSegment(int index) const;
    void setEnabled(bool enabled, int index);
    bool isEnabledForSegment(int index) const;
    using Control::setEnabled;

    int selectedSegmentIndex() const { return selected_; }
    // Sends no event; an index out of range selects nothing.
    void setSelectedSegmentIndex(int index);
    bool isMomentary() const { return momentary_; }
    void setMomentary(bool m) { momentary_ = m; }

    Color selectedSegmentTintColor() const { return selectedTint_; }
    void setSelectedSegmentTintColor(const Color& c);
    void setTitleFont(const gfx::Font& f);
    void setTitleColor(const Color& c, unsigned state = ControlStateNormal);

    // The segment under a point of the control's space, or kNoSegment.
    int segmentAt(Point p) const;
    Rect segmentRect(int index) const;
    Size sizeThatFits(Size size) const override;
    void draw(gfx::Canvas& canvas, const Rect& rect) override;

    bool beginTracking(Touch& touch, const Event& event) override;
    bool continueTracking(Touch& touch, const Event& event) override;
    void endTracking(Touch& touch, const Event& event) override;
    void cancelTracking(const Event& event) override;

private:
    struct Segment {
        std::string title;
        ImageRef image;
        bool enabled = true;
    };
    std::vector<Segment> segments_;
    int selected_ = kNoSegment;
    int pressed_ = kNoSegment;
    bool momentary_ = false;
    Color selectedTint_ = Color::dynamic(Color::whiteColor(), Color::rgb255(99, 99, 102));
    gfx::Font font_ = gfx::Font::system(13);
    Color titleColor_ = Color::label();
    std::optional<Color> selectedTitleColor_;
};

}  // namespace ui
