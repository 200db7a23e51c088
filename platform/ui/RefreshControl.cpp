#include "platform/ui/RefreshControl.h"

#include "platform/ui/TableView.h"

namespace ui {

RefreshControl::RefreshControl() : Control(Rect(0, -kHeight, 320, kHeight)) {
    indicator_ = std::make_shared<ActivityIndicatorView>(ActivityIndicatorStyle::Medium);
    indicator_->setHidesWhenStopped(false);
    addSubview(indicator_);
    setUserInteractionEnabled(false);
}

void RefreshControl::layoutSubviews() {
    Size s = indicator_->sizeThatFits({});
    Rect b = bounds();
    indicator_->setFrame(Rect((b.width() - s.width) / 2, (b.height() - s.height) / 2, s.width, s.height));
}

void RefreshControl::setRefreshing(bool on) {
    if (on == refreshing_) return;
    refreshing_ = on;
    if (on)
        indicator_->startAnimating();
    else
        indicator_->stopAnimating();
    if (auto* t = dynamic_cast<TableView*>(superview())) t->refreshStateDidChange();
}

void RefreshControl::beginRefreshing() { setRefreshing(true); }

void RefreshControl::endRefreshing() { setRefreshing(false); }

void RefreshControl::beginRefreshingByPull() {
    if (refreshing_) return;
    setRefreshing(true);
    sendActions(ControlEventValueChanged);
}

}  // namespace ui
