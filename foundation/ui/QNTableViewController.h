#pragma once

#include "foundation/ui/QNMultiViewChild.h"
#include "platform/ui/TableViewController.h"

// A table screen that can live in the program's tab container.
class QNTableViewController : public ui::TableViewController, public QNMultiViewChild {
public:
    explicit QNTableViewController(ui::TableViewStyle style = ui::TableViewStyle::Plain)
        : ui::TableViewController(style) {}
};
