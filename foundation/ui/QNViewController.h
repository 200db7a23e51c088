#pragma once

#include "foundation/ui/QNMultiViewChild.h"
#include "platform/ui/ViewController.h"

// A plain screen that can live in the program's tab container.
class QNViewController : public ui::ViewController, public QNMultiViewChild {
public:
    QNViewController() = default;
};
