#pragma once

#include "foundation/ui/AuxiliaryScreenFactory.h"

// The screens layer's answer to the shared helpers: installed by the
// application at start-up.
class AuxiliaryScreenMaker : public AuxiliaryScreenFactory {
public:
    std::shared_ptr<ui::ViewController> makeStatisticsInformationViewController(ui::TableViewStyle style) override;
};
