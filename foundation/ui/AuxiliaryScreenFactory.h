#pragma once

#include <memory>

namespace ui {
class ViewController;
enum class TableViewStyle;
}  // namespace ui

// Makes the auxiliary screens (statistics) that the shared helpers push.
// They live in the screens layer above this one, which installs a factory
// at start-up; without one (or with a null answer) nothing is pushed.
class AuxiliaryScreenFactory {
public:
    virtual ~AuxiliaryScreenFactory() = default;

    virtual std::shared_ptr<ui::ViewController> makeStatisticsInformationViewController(ui::TableViewStyle style) = 0;

    static void install(std::shared_ptr<AuxiliaryScreenFactory> factory);
    static std::shared_ptr<AuxiliaryScreenFactory> installed();
};
