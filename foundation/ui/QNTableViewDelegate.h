#pragma once

#include "platform/core/PlistValue.h"
#include "platform/ui/IndexPath.h"

#include <string>

class QNTableView;
class QNTableViewData;

// Row events of a table-driven screen. Every operation is optional.
class QNTableViewDelegate {
public:
    virtual ~QNTableViewDelegate() = default;
    // A row was tapped; `data` is null when the path is outside the model.
    virtual void tableViewDidSelectRowAtIndexPath(QNTableView& table, const ui::IndexPath& indexPath,
                                                  QNTableViewData* data) {
        (void)table;
        (void)indexPath;
        (void)data;
    }
    virtual void tableViewAccessoryButtonTappedForRowWithIndexPath(QNTableView& table, const ui::IndexPath& indexPath,
                                                                   QNTableViewData* data) {
        (void)table;
        (void)indexPath;
        (void)data;
    }
    // A switch (a boolean) or a segment (its index) changed, after the bound
    // dictionary was written.
    virtual void tableViewValueChangedWithIndexPath(QNTableView& table, const ui::IndexPath& indexPath,
                                                    const sys::PlistValue& value) {
        (void)table;
        (void)indexPath;
        (void)value;
    }
    // The text of a text-field row changed (every edit).
    virtual void tableViewStringChangedWithIndexPath(QNTableView& table, const ui::IndexPath& indexPath,
                                                     const std::string& string) {
        (void)table;
        (void)indexPath;
        (void)string;
    }
    // The user deleted a row by a swipe; the model and the table are updated.
    virtual void tableViewDidDeleteRowAtIndexPath(QNTableView& table, const ui::IndexPath& indexPath) {
        (void)table;
        (void)indexPath;
    }
};
