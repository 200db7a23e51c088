#include "screens/PasscodeColumn.h"

#include "foundation/ui/ColorDefine.h"

#include <algorithm>

PasscodeColumn PasscodeColumn::addTo(ui::View& parent, const std::string& titleText, ui::TextFieldDelegate* delegate) {
    PasscodeColumn c;
    c.title = std::make_shared<ui::Label>();
    c.title->setText(titleText);
    c.title->setTextAlignment(ui::TextAlignment::Center);
    c.title->setFont(gfx::Font::boldSystem(20));
    parent.addSubview(c.title);
    c.field = std::make_shared<ui::TextField>();
    c.field->setSecureTextEntry(true);
    c.field->setBorderStyle(ui::TextBorderStyle::RoundedRect);
    c.field->setDelegate(delegate);
    parent.addSubview(c.field);
    c.message = std::make_shared<ui::Label>();
    c.message->setTextAlignment(ui::TextAlignment::Center);
    c.message->setTextColor(ColorDefine::redTextColor());
    parent.addSubview(c.message);
    return c;
}

ui::Rect PasscodeColumn::layout(const ui::Rect& b, double maxWidth, double minTop, double messageOverhang) const {
    const double w = std::min(maxWidth, b.width() - 40);
    const double x = (b.width() - w) / 2;
    const double y = std::max(minTop, b.height() / 3 - 60);
    title->setFrame({x, y, w, 30});
    field->setFrame({x, y + 50, w, 40});
    message->setFrame({x - messageOverhang, y + 100, w + 2 * messageOverhang, 24});
    return {x, y, w, 0};
}
