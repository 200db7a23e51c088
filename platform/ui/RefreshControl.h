#pragma once

#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/Control.h"

#include <memory>

namespace ui {

class TableView;

// The spinner above a table's first row. Pulling the content down past the
// threshold while dragging starts refreshing and sends value-changed; while
// refreshing the table keeps room for it above the content until
// endRefreshing.
class RefreshControl : public Control {
public:
    RefreshControl();

    bool isRefreshing() const { return refreshing_; }
    // Programmatic: sends no event.
    void beginRefreshing();
    void endRefreshing();
    // The pull: starts refreshing and sends value-changed.
    void beginRefreshingByPull();

    ActivityIndicatorView* indicator() const { return indicator_.get(); }

    void layoutSubviews() override;

    static constexpr double kHeight = 60;
    // How far past the top the content must be pulled.
    static constexpr double kPullDistance = 90;

private:
    void setRefreshing(bool on);
    std::shared_ptr<ActivityIndicatorView> indicator_;
    bool refreshing_ = false;
};

}  // namespace ui
