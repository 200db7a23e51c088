#pragma once

#include <memory>

namespace ui {
class NavigationController;
class ViewController;
}  // namespace ui

class QNMultiViewController;

// The back links a tab container gives the screens it hosts: the
// navigation controller it sits in, the screen that opened it and the
// container itself. None of them is owned by the screen (the container
// owns its screens, the navigation controller owns the container).
class QNMultiViewChild {
public:
    virtual ~QNMultiViewChild() = default;

    std::shared_ptr<ui::NavigationController> qnNavigationController() const { return qnNavigationController_.lock(); }
    void setQnNavigationController(const std::shared_ptr<ui::NavigationController>& n) { qnNavigationController_ = n; }
    std::shared_ptr<ui::ViewController> qnParentViewController() const { return qnParentViewController_.lock(); }
    void setQnParentViewController(const std::shared_ptr<ui::ViewController>& p) { qnParentViewController_ = p; }
    QNMultiViewController* qnMultiViewController() const { return qnMultiViewController_; }
    void setQnMultiViewController(QNMultiViewController* m) { qnMultiViewController_ = m; }

private:
    std::weak_ptr<ui::NavigationController> qnNavigationController_;
    std::weak_ptr<ui::ViewController> qnParentViewController_;
    QNMultiViewController* qnMultiViewController_ = nullptr;
};
