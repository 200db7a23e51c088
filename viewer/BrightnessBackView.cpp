#include "viewer/BrightnessBackView.h"

void BrightnessBackView::touchesEnded(const ui::TouchSet&, const ui::Event&) {
    auto keep = target_.lock();
    if (keep && action_) action_();
}
