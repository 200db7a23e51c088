#include "foundation/ui/QNNoticeView.h"

#include "foundation/ui/ColorDefine.h"
#include "foundation/ui/QNAlertView.h"
#include "platform/graphics/Canvas.h"
#include "platform/ui/Application.h"
#include "platform/ui/Window.h"

#include <algorithm>
#include <cmath>

namespace {

// Height of the text laid out in `width`, keeping only the lines that fit in
// `maxHeight` (as a bounded text measurement does).
double measuredHeight(const std::string& text, const gfx::Font& font, double width, double maxHeight) {
    if (text.empty() || maxHeight <= 0) return 0;
    gfx::TextOptions o;
    o.lineBreak = gfx::LineBreakMode::WordWrap;
    o.numberOfLines = 0;
    double full = gfx::Canvas::measureText(text, font, width, o).height;
    if (full <= maxHeight) return full;
    double line = font.lineHeight();
    if (line <= 0) return maxHeight;
    o.numberOfLines = std::max(1, int(std::floor(maxHeight / line)));
    return gfx::Canvas::measureText(text, font, width, o).height;
}

}  // namespace

QNNoticeView::QNNoticeView(const ui::Rect& frame, const std::string& title, const std::string& message,
                           const std::vector<std::string>& buttonTitles, int64_t cancelButtonIndex)
    : ui::View(frame), cancelButtonIndex_(cancelButtonIndex) {
    setBackgroundColor(ui::Color::black().withAlpha(0.3));
    // Resized with the window, so that a window made larger or smaller
    // without turning lays the box out again (see layoutSubviews).
    setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);

    const size_t count = std::min<size_t>(buttonTitles.size(), 3);
    const int rows = count == 3 ? 3 : 1;
    const gfx::Font bold = gfx::Font::boldSystem(16);
    const gfx::Font plain = gfx::Font::system(16);

    double titleHeight = 0;
    if (!title.empty()) titleHeight = measuredHeight(title, bold, kTextWidth, 220) + 20.0;
    double messageHeight = measuredHeight(message, bold, kTextWidth, 320 - titleHeight - 20);
    if (title.empty() && messageHeight < kMinMessageHeight) messageHeight = kMinMessageHeight;

    contentHeight_ = titleHeight + messageHeight + 20.0;
    double boxHeight = contentHeight_ + rows * kButtonRowHeight;
    if (int64_t(std::floor(boxHeight)) % 2 != 0) boxHeight += 1.0;

    baseView_ = std::make_shared<QNNoticeViewLineView>(ui::Rect(0, 0, kBoxWidth, boxHeight));
    baseView_->setBackgroundColor(ColorDefine::QNAlertViewBgColor());
    baseView_->setCornerRadius(5.0);
    baseView_->setClipsToBounds(true);
    baseView_->setButtonHeight(contentHeight_ - 1.0);
    baseView_->setButtonLineHeight(kButtonRowHeight);
    baseView_->setButtonNum(int64_t(buttonTitles.size()));
    addSubview(baseView_);

    for (size_t i = 0; i < count; ++i) {
        auto b = std::make_shared<ui::Button>(ui::ButtonType::System);
        b->setTag(int(i));
        b->setTitle(buttonTitles[i]);
        b->titleLabel()->setFont(int64_t(i) == cancelButtonIndex ? bold : plain);
        ui::Rect f;
        if (count == 1)
            f = ui::Rect(10, contentHeight_, kTextWidth, kButtonRowHeight);
        else if (count == 2)
            f = ui::Rect(i == 0 ? 155 : 10, contentHeight_, 145, kButtonRowHeight);
        else
            f = ui::Rect(10, contentHeight_ + kButtonRowHeight * double(i), kTextWidth, kButtonRowHeight);
        b->setFrame(f);
        ui::Button* raw = b.get();
        b->addAction(ui::ControlEventTouchUpInside, [this, raw](ui::Control&) { onClose(*raw); });
        baseView_->addSubview(b);
        buttons_.push_back(b);
    }

    if (!title.empty()) {
        titleLabel_ = std::make_shared<ui::Label>(ui::Rect(10, 10, kTextWidth, titleHeight));
        titleLabel_->setFont(bold);
        titleLabel_->setTextAlignment(ui::TextAlignment::Center);
        titleLabel_->setNumberOfLines(0);
        titleLabel_->setText(title);
        baseView_->addSubview(titleLabel_);
    }
    messageLabel_ = std::make_shared<ui::Label>(ui::Rect(10, titleHeight + 10, kTextWidth, messageHeight));
    messageLabel_->setFont(plain);
    messageLabel_->setLineBreakMode(ui::LineBreakMode::WordWrap);
    messageLabel_->setNumberOfLines(0);
    messageLabel_->setTextAlignment(ui::TextAlignment::Center);
    messageLabel_->setText(message);
    baseView_->addSubview(messageLabel_);
}

QNNoticeView::~QNNoticeView() {
    // A box that goes away without being closed must not block later
    // one-instance alerts.
    if (!closing_) QNAlertView::clearOneInstanceFlag();
}

void QNNoticeView::layout() {
    ui::Window* w = window();
    if (!w) w = ui::Application::shared().keyWindow();
    if (!w) return;
    ui::Rect wb = w->bounds();
    double side = std::max(wb.width(), wb.height());
    setFrame(ui::Rect(0, 0, side, side));
    baseView_->setCenter(ui::Point{wb.width() / 2, wb.height() / 2});
}

void QNNoticeView::layoutSubviews() {
    ui::View::layoutSubviews();
    layout();
}

void QNNoticeView::moveKeyHighlight(int step) {
    if (closing_ || buttons_.empty()) return;
    // The buttons as they are read: top to bottom, left to right.
    std::vector<ui::Button*> order;
    for (const auto& b : buttons_) order.push_back(b.get());
    std::stable_sort(order.begin(), order.end(), [](ui::Button* a, ui::Button* b) {
        if (a->frame().y() != b->frame().y()) return a->frame().y() < b->frame().y();
        return a->frame().x() < b->frame().x();
    });
    const int n = int(order.size());
    int at = int(std::find(order.begin(), order.end(), keyButton_) - order.begin());
    // From nothing, forward starts at the first button and back at the last;
    // the highlight goes round.
    at = at >= n ? (step > 0 ? 0 : n - 1) : ((at + step) % n + n) % n;
    keyButton_ = order[size_t(at)];
    // Drawn as a table's selected row.
    for (const auto& b : buttons_)
        b->setBackgroundColor(b.get() == keyButton_ ? ui::Color::systemGray4() : ui::Color::clear());
}

std::vector<ui::KeyCommand> QNNoticeView::keyCommands() const {
    if (closing_) return {};
    auto* me = const_cast<QNNoticeView*>(this);
    auto move = [me](int step) { return [me, step](const ui::KeyCommand&) { me->moveKeyHighlight(step); }; };
    std::vector<ui::KeyCommand> keys{
        ui::KeyCommand::make(ui::KeyInput::downArrow, 0, move(1)),
        ui::KeyCommand::make(ui::KeyInput::rightArrow, 0, move(1)),
        ui::KeyCommand::make(ui::KeyInput::tab, 0, move(1)),
        ui::KeyCommand::make(ui::KeyInput::upArrow, 0, move(-1)),
        ui::KeyCommand::make(ui::KeyInput::leftArrow, 0, move(-1)),
        ui::KeyCommand::make(ui::KeyInput::tab, ui::KeyModifierShift, move(-1)),
    };
    // Escape and Return both answer with the cancel button (or a lone one):
    // it is the one drawn as the default, in bold, so a question answers
    // "Delete" only to a click.
    ui::Button* cancel = nullptr;
    for (const auto& b : buttons_)
        if (b->tag() == cancelButtonIndex_) cancel = b.get();
    ui::Button* answer = cancel ? cancel : buttons_.size() == 1 ? buttons_.front().get() : nullptr;
    if (answer) {
        auto press = [me, answer](const ui::KeyCommand&) { me->onClose(*answer); };
        keys.push_back(ui::KeyCommand::make(ui::KeyInput::escape, 0, press));
        if (!keyButton_) keys.push_back(ui::KeyCommand::make(ui::KeyInput::returnKey, 0, press));
    }
    if (ui::Button* chosen = keyButton_)
        keys.push_back(ui::KeyCommand::make(ui::KeyInput::returnKey, 0,
                                            [me, chosen](const ui::KeyCommand&) { me->onClose(*chosen); }));
    return keys;
}

bool QNNoticeView::beginClose() {
    if (closing_) return false;
    closing_ = true;
    QNAlertView::clearOneInstanceFlag();
    return true;
}

void QNNoticeView::cancel() {
    if (!beginClose()) return;
    auto self = std::static_pointer_cast<QNNoticeView>(shared_from_this());
    removeFromSuperview();
    if (delegate_) delegate_->didCloseNoticeView(cancelButtonIndex_);
}

void QNNoticeView::onClose(ui::Button& button) {
    if (!beginClose()) return;
    const int64_t index = button.tag();
    auto self = std::static_pointer_cast<QNNoticeView>(shared_from_this());
    ui::View::animate(
        kCloseDuration, [self] { self->setAlpha(0); },
        [self, index](bool) {
            if (self->delegate_) self->delegate_->didCloseNoticeView(index);
        });
}
