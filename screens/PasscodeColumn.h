#pragma once

#include "platform/ui/Label.h"
#include "platform/ui/TextField.h"
#include "platform/ui/View.h"

#include <memory>
#include <string>

// The column the pass-code screens show in the middle of the screen: a bold
// title, a secure field and a red message line under them.
struct PasscodeColumn {
    std::shared_ptr<ui::Label> title;
    std::shared_ptr<ui::TextField> field;
    std::shared_ptr<ui::Label> message;

    // The column added to `parent`, titled `titleText` (shown as it is);
    // the field reports to `delegate` (not owned).
    static PasscodeColumn addTo(ui::View& parent, const std::string& titleText, ui::TextFieldDelegate* delegate);

    // Lays the column out in `bounds`: at most `maxWidth` wide and 20 points
    // clear of each side, its top a third of the way down but not above
    // `minTop`; the message line reaches `messageOverhang` beyond the column
    // on each side. The column's left, top and width, for what goes below.
    ui::Rect layout(const ui::Rect& bounds, double maxWidth, double minTop, double messageOverhang = 0) const;
};
