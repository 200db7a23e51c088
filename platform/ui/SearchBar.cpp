#include "platform/ui/SearchBar.h"

#include "platform/ui/Application.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/KeyCommand.h"

#include <algorithm>

namespace ui {

SearchBar::SearchBar() : SearchBar(Rect(0, 0, 320, kHeight)) {}

SearchBar::SearchBar(const Rect& frame) : View(frame) {
    field_ = std::make_shared<TextField>();
    field_->setBackgroundColor(Color::dynamic(Color::rgb255(118, 118, 128, 0.12), Color::rgb255(118, 118, 128, 0.24)));
    field_->setCornerRadius(10);
    field_->setClearButtonMode(TextFieldViewMode::WhileEditing);
    field_->setReturnKeyType(ReturnKeyType::Search);
    glass_ = std::make_shared<ImageView>(Image::systemNamed("magnifyingglass"));
    glass_->setFrame(Rect(0, 0, 17, 17));
    field_->setLeftView(glass_);
    applyFieldColors();
    field_->setDelegate(this);
    // Escape cancels the search (keyCommands), not only the edit.
    field_->setLeavesOnEscape(false);
    field_->addAction(ControlEventEditingChanged, [this](Control&) {
        if (delegate_) delegate_->searchBarTextDidChange(*this, field_->text());
    });
    addSubview(field_);
    cancel_ = std::make_shared<Button>(ButtonType::System);
    cancel_->titleLabel()->setFont(gfx::Font::system(17));
    cancel_->setHidden(true);
    cancel_->addAction(ControlEventTouchUpInside, [this](Control&) {
        if (delegate_) delegate_->searchBarCancelButtonClicked(*this);
    });
    addSubview(cancel_);
    showSystemWords();
}

void SearchBar::showSystemWords() {
    field_->setPlaceholder(Application::shared().systemWord("Search"));
    cancel_->setTitle(Application::shared().systemWord("Cancel"));
    setNeedsLayout();
}

void SearchBar::setShowsCancelButton(bool shows, bool animated) {
    if (shows == showsCancel_) return;
    showsCancel_ = shows;
    cancel_->setHidden(!shows);
    setNeedsLayout();
    if (animated) View::animate(0.25, [this] { layoutIfNeeded(); });
}

void SearchBar::setBarTintColor(std::optional<Color> c) {
    barTint_ = std::move(c);
    setBackgroundColor(barTint_ ? *barTint_ : Color::clear());
}

void SearchBar::setFieldKeepsLightLook(bool keeps) {
    if (keeps == lightField_) return;
    lightField_ = keeps;
    applyFieldColors();
}

// The placeholder, the magnifier and the clear glyph share one grey, dark
// enough to read on the field's fill (a text field's own placeholder grey
// is too faint for a field that shows nothing else).
void SearchBar::applyFieldColors() {
    const Color text = lightField_ ? Color(Color::label().light()) : Color::label();
    const Color grey = lightField_ ? Color(Color::secondaryLabel().light()) : Color::secondaryLabel();
    field_->setTextColor(text);
    field_->setPlaceholderColor(grey);
    field_->setClearButtonColor(grey);
    glass_->setTintColor(grey);
    // The caret too: a tint from above may be meant for dark bars.
    field_->setTintColor(lightField_ ? std::optional<Color>(Color(Color::systemBlue().light())) : std::nullopt);
}

Size SearchBar::sizeThatFits(Size size) const { return {size.width > 0 ? size.width : bounds().width(), kHeight}; }

void SearchBar::layoutSubviews() {
    Rect b = bounds();
    double right = b.maxX() - 8;
    if (showsCancel_) {
        Size cs = cancel_->sizeThatFits({0, 0});
        cancel_->setFrame(Rect(right - cs.width, b.y() + (b.height() - 36) / 2, cs.width, 36));
        right = cancel_->frame().x() - 8;
    }
    double fh = 36;
    field_->setFrame(Rect(b.x() + 8, b.y() + (b.height() - fh) / 2, std::max(0.0, right - b.x() - 8), fh));
}

std::vector<KeyCommand> SearchBar::keyCommands() const {
    if (!field_->isEditing()) return {};
    auto* self = const_cast<SearchBar*>(this);
    return {KeyCommand::make(KeyInput::escape, 0, [self](const KeyCommand&) {
        auto keep = self->shared_from_this();
        if (self->delegate_) self->delegate_->searchBarCancelButtonClicked(*self);
        if (self->field_->isEditing()) self->field_->resignFirstResponder();
    })};
}

bool SearchBar::textFieldShouldBeginEditing(TextField&) {
    return !delegate_ || delegate_->searchBarShouldBeginEditing(*this);
}

void SearchBar::textFieldDidBeginEditing(TextField&) {
    if (delegate_) delegate_->searchBarTextDidBeginEditing(*this);
}

bool SearchBar::textFieldShouldEndEditing(TextField&) {
    return !delegate_ || delegate_->searchBarShouldEndEditing(*this);
}

void SearchBar::textFieldDidEndEditing(TextField&) {
    if (delegate_) delegate_->searchBarTextDidEndEditing(*this);
}

bool SearchBar::textFieldShouldReturn(TextField&) {
    if (delegate_) delegate_->searchBarSearchButtonClicked(*this);
    return false;
}

}  // namespace ui
