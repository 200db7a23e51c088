#pragma once

#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/View.h"

#include <memory>
#include <string>

// A progress bar with a text at each end. Each text is drawn twice: in blue
// on the empty bar and in white inside the filled part, which clips it, so
// a text changes colour exactly where the bar passes under it.
class QNProgressView : public ui::View {
public:
    explicit QNProgressView(const ui::Rect& frame);

    void setFrame(const ui::Rect& frame) override;
    // Clamped to 0 ... 1; the filled part moves over 0.3 s when animated.
    void setProgress(double progress, bool animated);
    double progress() const { return progress_; }
    void setLeftText(const std::string& text);
    void setRightText(const std::string& text);

    double maxBarWidth() const { return maxBarWidth_; }
    ui::ImageView& progressBaseImage() const { return *progressBaseImage_; }
    ui::ImageView& progressValueImage() const { return *progressValueImage_; }
    ui::Label& leftLabelBack() const { return *leftLabelBack_; }
    ui::Label& leftLabelFront() const { return *leftLabelFront_; }
    ui::Label& rightLabelBack() const { return *rightLabelBack_; }
    ui::Label& rightLabelFront() const { return *rightLabelFront_; }

private:
    void layoutBar(double width);

    std::shared_ptr<ui::ImageView> progressBaseImage_;
    std::shared_ptr<ui::ImageView> progressValueImage_;
    double maxBarWidth_ = 0;
    double progress_ = 0;
    std::shared_ptr<ui::Label> leftLabelBack_;
    std::shared_ptr<ui::Label> leftLabelFront_;
    std::shared_ptr<ui::Label> rightLabelBack_;
    std::shared_ptr<ui::Label> rightLabelFront_;
};
