#include "screens/AuxiliaryScreenMaker.h"

#include "screens/StatisticsInformationViewController.h"

std::shared_ptr<ui::ViewController> AuxiliaryScreenMaker::makeStatisticsInformationViewController(
    ui::TableViewStyle style) {
    return std::make_shared<StatisticsInformationViewController>(style);
}
