#include "platform/ui/TableViewCell.h"

#include "platform/ui/TableView.h"

#include <algorithm>
#include <cmath>

namespace ui {

namespace {

constexpr double kMargin = 16;
constexpr double kControlSize = 22;
constexpr double kEditingIndent = 38;
constexpr double kReorderWidth = 44;
constexpr double kAccessoryGap = 8;
constexpr double kValue2Column = 91;
constexpr double kSwipeDistance = 30;

// The round red minus or green plus left of an editing row.
class EditingControl : public View {
public:
    explicit EditingControl(TableViewCell* cell) : cell_(cell) {}
    TableViewCellEditingStyle kind = TableViewCellEditingStyle::Delete;
    bool turned = false;  // the minus turns upright while the delete is offered
    void draw(gfx::Canvas& c, const Rect&) override {
        Rect b = bounds();
        Rect circle = rectInset(b, 1, 1);
        bool insert = kind == TableViewCellEditingStyle::Insert;
        c.fillEllipse(circle, resolve(insert ? Color::systemGreen() : Color::systemRed()));
        gfx::Rgba white = gfx::Rgba::white(1);
        Point m = rectCenter(b);
        double r = circle.width() * 0.28;
        if (turned)
            c.drawLine({m.x, m.y - r}, {m.x, m.y + r}, white, 2.2, gfx::LineCap::Round);
        else
            c.drawLine({m.x - r, m.y}, {m.x + r, m.y}, white, 2.2, gfx::LineCap::Round);
        if (insert) c.drawLine({m.x, m.y - r}, {m.x, m.y + r}, white, 2.2, gfx::LineCap::Round);
    }
    void touchesEnded(const TouchSet& touches, const Event&) override {
        if (!touches.empty() && rectContainsPoint(rectInset(bounds(), -8, -8), touches[0]->locationInView(this)))
            if (TableView* t = cell_->tableView()) t->editingControlTapped(*cell_);
    }
    void touchesBegan(const TouchSet&, const Event&) override {}
    void touchesMoved(const TouchSet&, const Event&) override {}
    void touchesCancelled(const TouchSet&, const Event&) override {}

private:
    TableViewCell* cell_;
};

// The grip a row is dragged by while the table is editing.
class ReorderControl : public View {
public:
    explicit ReorderControl(TableViewCell* cell) : cell_(cell) {}
    void draw(gfx::Canvas& c, const Rect&) override {
        Point m = rectCenter(bounds());
        gfx::Rgba ink = resolve(Color::systemGray());
        for (int i = -1; i <= 1; ++i) c.fillRect(Rect(m.x - 9, m.y + i * 5 - 0.75, 18, 1.5), ink);
    }
    void touchesBegan(const TouchSet& t, const Event&) override {
        if (TableView* tv = cell_->tableView()) tv->reorderTouch(*cell_, *t[0], TouchPhase::Began);
    }
    void touchesMoved(const TouchSet& t, const Event&) override {
        if (TableView* tv = cell_->tableView()) tv->reorderTouch(*cell_, *t[0], TouchPhase::Moved);
    }
    void touchesEnded(const TouchSet& t, const Event&) override {
        if (TableView* tv = cell_->tableView()) tv->reorderTouch(*cell_, *t[0], TouchPhase::Ended);
    }
    void touchesCancelled(const TouchSet& t, const Event&) override {
        if (TableView* tv = cell_->tableView()) tv->reorderTouch(*cell_, *t[0], TouchPhase::Cancelled);
    }

private:
    TableViewCell* cell_;
};

// The accessory drawn for an accessory type (not the detail button).
class AccessoryGlyph : public ImageView {
public:
    using ImageView::ImageView;
};

}  // namespace

TableViewCell::TableViewCell(TableViewCellStyle style, std::string reuseIdentifier)
    : View(Rect(0, 0, 320, kDefaultHeight)), style_(style), reuseIdentifier_(std::move(reuseIdentifier)) {
    setBackgroundColor(Color::systemBackground());
    selectedBackground_ = std::make_shared<View>(bounds());
    selectedBackground_->setBackgroundColor(Color::systemGray4());
    selectedBackground_->setAlpha(0);
    selectedBackground_->setUserInteractionEnabled(false);
    addSubview(selectedBackground_);
    content_ = std::make_shared<View>(bounds());
    addSubview(content_);
    image_ = std::make_shared<ImageView>();
    image_->setContentMode(ContentMode::ScaleAspectFit);
    content_->addSubview(image_);
    text_ = std::make_shared<Label>();
    content_->addSubview(text_);
    if (style != TableViewCellStyle::Default) {
        detail_ = std::make_shared<Label>();
        content_->addSubview(detail_);
    }
    switch (style) {
    case TableViewCellStyle::Default: break;
    case TableViewCellStyle::Value1:
        detail_->setTextColor(Color::secondaryLabel());
        detail_->setTextAlignment(TextAlignment::Right);
        break;
    case TableViewCellStyle::Value2:
        text_->setFont(gfx::Font::system(15, gfx::Font::Weight::Semibold));
        text_->setTextColor(Color::systemBlue());
        text_->setTextAlignment(TextAlignment::Right);
        detail_->setFont(gfx::Font::system(15));
        break;
    case TableViewCellStyle::Subtitle:
        detail_->setFont(gfx::Font::system(12));
        detail_->setTextColor(Color::secondaryLabel());
        break;
    }
    editingControl_ = std::make_shared<EditingControl>(this);
    editingControl_->setHidden(true);
    addSubview(editingControl_);
    reorderControl_ = std::make_shared<ReorderControl>(this);
    reorderControl_->setHidden(true);
    addSubview(reorderControl_);
    deleteButton_ = std::make_shared<Button>(ButtonType::Custom);
    deleteButton_->setBackgroundColor(Color::systemRed());
    deleteButton_->setTitle("Delete");
    deleteButton_->setTitleColor(Color::whiteColor());
    deleteButton_->setHidden(true);
    deleteButton_->addAction(ControlEventTouchUpInside, [this](Control&) {
        if (TableView* t = tableView()) t->deleteConfirmed(*this);
    });
    addSubview(deleteButton_);
}

TableView* TableViewCell::tableView() const { return dynamic_cast<TableView*>(superview()); }

void TableViewCell::setAccessoryType(TableViewCellAccessoryType t) {
    if (t == accessoryType_) return;
    accessoryType_ = t;
    rebuildAccessory();
}

void TableViewCell::setAccessoryView(std::shared_ptr<View> v) {
    if (v == accessoryView_) return;
    accessoryView_ = std::move(v);
    rebuildAccessory();
}

void TableViewCell::setEditingAccessoryType(TableViewCellAccessoryType t) {
    if (t == editingAccessoryType_) return;
    editingAccessoryType_ = t;
    rebuildAccessory();
}

void TableViewCell::rebuildAccessory() {
    if (shownAccessory_ && shownAccessory_->superview() == this) shownAccessory_->removeFromSuperview();
    shownAccessory_.reset();
    TableViewCellAccessoryType type = editing_ ? editingAccessoryType_ : accessoryType_;
    if (accessoryView_ && !editing_) {
        shownAccessory_ = accessoryView_;
    } else {
        switch (type) {
        case TableViewCellAccessoryType::None: break;
        case TableViewCellAccessoryType::DisclosureIndicator: {
            auto v = std::make_shared<AccessoryGlyph>(Image::systemNamed("chevron.right")->withRenderingMode(
                ImageRenderingMode::AlwaysTemplate));
            v->setTintColor(Color::tertiaryLabel());
            v->setFrame(Rect(0, 0, 9, 14));
            v->setUserInteractionEnabled(false);
            shownAccessory_ = v;
            break;
        }
        case TableViewCellAccessoryType::Checkmark: {
            auto v = std::make_shared<AccessoryGlyph>(
                Image::systemNamed("checkmark")->withRenderingMode(ImageRenderingMode::AlwaysTemplate));
            v->setFrame(Rect(0, 0, 14, 14));
            v->setUserInteractionEnabled(false);
            shownAccessory_ = v;
            break;
        }
        case TableViewCellAccessoryType::DetailButton:
        case TableViewCellAccessoryType::DetailDisclosureButton: {
            auto b = std::make_shared<Button>(ButtonType::System);
            b->setImage(Image::systemNamed("info.circle")->withRenderingMode(ImageRenderingMode::AlwaysTemplate));
            b->setFrame(Rect(0, 0, type == TableViewCellAccessoryType::DetailButton ? 22 : 22 + 9 + 12, 22));
            b->addAction(ControlEventTouchUpInside, [this](Control&) {
                if (TableView* t = tableView()) t->accessoryButtonTapped(*this);
            });
            shownAccessory_ = b;
            break;
        }
        }
    }
    if (shownAccessory_) addSubview(shownAccessory_);
    setNeedsLayout();
}

void TableViewCell::setSelectionStyle(TableViewCellSelectionStyle s) {
    selectionStyle_ = s;
    updateSelectionBackground(false);
}

void TableViewCell::setSelected(bool selected, bool animated) {
    if (selected == selected_) return;
    selected_ = selected;
    updateSelectionBackground(animated);
}

void TableViewCell::setHighlighted(bool highlighted, bool animated) {
    if (highlighted == highlighted_) return;
    highlighted_ = highlighted;
    updateSelectionBackground(animated);
}

void TableViewCell::setKeyHighlighted(bool on) {
    if (on == keyHighlighted_) return;
    keyHighlighted_ = on;
    updateSelectionBackground(false);
}

void TableViewCell::setSelectedBackgroundView(std::shared_ptr<View> v) {
    if (!v) return;
    if (selectedBackground_) selectedBackground_->removeFromSuperview();
    selectedBackground_ = std::move(v);
    selectedBackground_->setUserInteractionEnabled(false);
    insertSubview(selectedBackground_, 0);
    updateSelectionBackground(false);
    setNeedsLayout();
}

void TableViewCell::updateSelectionBackground(bool animated) {
    bool show = ((selected_ || highlighted_) && selectionStyle_ != TableViewCellSelectionStyle::None) || keyHighlighted_;
    double alpha = show ? 1 : 0;
    if (animated && !show)
        View::animate(0.3, [&] { selectedBackground_->setAlpha(alpha); });
    else
        View::performWithoutAnimation([&] { selectedBackground_->setAlpha(alpha); });
}

void TableViewCell::setEditing(bool editing, bool animated) {
    if (editing == editing_) return;
    editing_ = editing;
    if (!editing && confirming_) setShowingDeleteConfirmation(false, false);
    auto apply = [this] {
        rebuildAccessory();
        setNeedsLayout();
        layoutIfNeeded();
    };
    if (animated)
        View::animate(0.3, apply);
    else
        View::performWithoutAnimation(apply);
}

void TableViewCell::setEditingStyleInternal(TableViewCellEditingStyle s) {
    editingStyle_ = s;
    static_cast<EditingControl*>(editingControl_.get())->kind = s;
    editingControl_->setNeedsDisplay();
    setNeedsLayout();
}

void TableViewCell::setShowsReorderControl(bool on) {
    if (on == showsReorder_) return;
    showsReorder_ = on;
    setNeedsLayout();
}

void TableViewCell::setShouldIndentWhileEditing(bool on) {
    indentWhileEditing_ = on;
    setNeedsLayout();
}

void TableViewCell::setShowingDeleteConfirmation(bool on, bool animated) {
    if (on == confirming_) return;
    confirming_ = on;
    static_cast<EditingControl*>(editingControl_.get())->turned = on;
    editingControl_->setNeedsDisplay();
    auto apply = [this] {
        setNeedsLayout();
        layoutIfNeeded();
    };
    if (on) deleteButton_->setHidden(false);
    if (animated)
        View::animate(0.25, 0, AnimationOptionNone, apply, [this](bool) {
            if (!confirming_) deleteButton_->setHidden(true);
        });
    else {
        View::performWithoutAnimation(apply);
        if (!on) deleteButton_->setHidden(true);
    }
}

void TableViewCell::setSeparatorInset(const EdgeInsets& i) {
    separatorInset_ = i;
    setNeedsDisplay();
}

void TableViewCell::setSeparatorShown(bool shown, bool fullWidth) {
    if (shown == separatorShown_ && fullWidth == separatorFullWidth_) return;
    separatorShown_ = shown;
    separatorFullWidth_ = fullWidth;
    setNeedsDisplay();
}

void TableViewCell::prepareForReuse() {
    View::performWithoutAnimation([&] {
        setHighlighted(false);
        setSelected(false);
        setAlpha(1);
    });
    removeAllAnimations();
    if (confirming_) setShowingDeleteConfirmation(false, false);
}

double TableViewCell::editingIndent() const {
    bool controlShown = editing_ && editingStyle_ != TableViewCellEditingStyle::None;
    return controlShown && indentWhileEditing_ ? kEditingIndent : 0;
}

double TableViewCell::trailingWidth() const {
    if (editing_ && showsReorder_) return kReorderWidth;
    if (shownAccessory_) return kMargin + shownAccessory_->bounds().width() + kAccessoryGap;
    return 0;
}

void TableViewCell::layoutSubviews() {
    Rect b = bounds();
    double w = b.width(), h = b.height();
    double indent = editingIndent();
    double slide = confirming_ && !editing_ ? -kDeleteButtonWidth : 0;
    double trailing = trailingWidth();
    if (confirming_ && editing_) trailing = std::max(trailing, kDeleteButtonWidth);
    // A turned phone's notch and rounded corners: what the row shows stays
    // inside the safe area, its background runs under them.
    const EdgeInsets safe = safeAreaInsets();

    selectedBackground_->setFrame(b);
    bool controlShown = editing_ && editingStyle_ != TableViewCellEditingStyle::None;
    editingControl_->setHidden(!controlShown);
    editingControl_->setFrame(Rect(controlShown ? safe.left + kMargin : -kControlSize, (h - kControlSize) / 2,
                                   kControlSize, kControlSize));
    bool reorderShown = editing_ && showsReorder_ && !confirming_;
    reorderControl_->setHidden(!reorderShown);
    reorderControl_->setFrame(Rect(w - safe.right - kReorderWidth, 0, kReorderWidth, h));
    if (shownAccessory_) {
        Rect a = shownAccessory_->bounds();
        bool hideAccessory = editing_ && showsReorder_;
        shownAccessory_->setHidden(hideAccessory);
        shownAccessory_->setFrame(
            Rect(w - safe.right - kMargin - a.width() + slide, (h - a.height()) / 2, a.width(), a.height()));
    }
    deleteButton_->setFrame(Rect(confirming_ ? w - kDeleteButtonWidth : w, 0, kDeleteButtonWidth, h));
    content_->setFrame(
        Rect(safe.left + indent + slide, 0, std::max(0.0, w - safe.left - safe.right - indent - trailing), h));

    // Inside the content view, by style.
    Rect c = content_->bounds();
    double x = kMargin;
    if (image_->image()) {
        Size is = image_->image()->size();
        double ih = std::min(is.height, h - 8), iw = is.height > 0 ? is.width * ih / is.height : is.width;
        image_->setHidden(false);
        image_->setFrame(Rect(x, (h - ih) / 2, iw, ih));
        x += iw + kMargin;
    } else {
        image_->setHidden(true);
        image_->setFrame(Rect(x, h / 2, 0, 0));
    }
    double right = c.width() - (shownAccessory_ || (editing_ && showsReorder_) ? 0 : kMargin);
    double avail = std::max(0.0, right - x);
    auto fit = [](Label& l, double width) { return l.sizeThatFits({width, 0}); };
    switch (style_) {
    case TableViewCellStyle::Default: {
        Size s = fit(*text_, avail);
        double th = std::min(h, std::max(s.height, text_->font().lineHeight()));
        text_->setFrame(Rect(x, (h - th) / 2, avail, th));
        break;
    }
    case TableViewCellStyle::Value1: {
        Size ts = fit(*text_, avail);
        Size ds = fit(*detail_, avail);
        double tw = std::min(ts.width, avail);
        double dw = std::min(ds.width, std::max(0.0, avail - tw - kAccessoryGap));
        double th = std::min(h, ts.height), dh = std::min(h, ds.height);
        text_->setFrame(Rect(x, (h - th) / 2, tw, th));
        detail_->setFrame(Rect(right - dw, (h - dh) / 2, dw, dh));
        break;
    }
    case TableViewCellStyle::Value2: {
        double col = std::min(kValue2Column, avail);
        Size ts = fit(*text_, col);
        double th = std::min(h, ts.height);
        text_->setFrame(Rect(x, (h - th) / 2, col, th));
        double dx = x + col + 6;
        double dw = std::max(0.0, right - dx);
        Size ds = fit(*detail_, dw);
        double dh = std::min(h, ds.height);
        detail_->setFrame(Rect(dx, (h - dh) / 2, dw, dh));
        break;
    }
    case TableViewCellStyle::Subtitle: {
        Size ts = fit(*text_, avail);
        bool hasDetail = !detail_->text().empty();
        Size ds = hasDetail ? fit(*detail_, avail) : Size{0, 0};
        double total = ts.height + (hasDetail ? ds.height + 2 : 0);
        double y = std::max(0.0, (h - total) / 2);
        text_->setFrame(Rect(x, y, avail, ts.height));
        detail_->setFrame(Rect(x, y + ts.height + 2, avail, ds.height));
        detail_->setHidden(!hasDetail);
        break;
    }
    }
}

Size TableViewCell::sizeThatFits(Size size) const {
    double w = size.width > 0 ? size.width : bounds().width();
    double indent = editingIndent();
    double avail = std::max(0.0, w - indent - trailingWidth() - 2 * kMargin);
    if (image_->image()) avail = std::max(0.0, avail - image_->image()->size().width - kMargin);
    double content = text_->sizeThatFits({avail, 0}).height;
    if (detail_) {
        double d = detail_->text().empty() ? 0 : detail_->sizeThatFits({avail, 0}).height;
        content = style_ == TableViewCellStyle::Subtitle ? content + (d > 0 ? d + 2 : 0) : std::max(content, d);
    }
    // Content views of subclasses may ask for more through their own frames.
    for (auto& s : content_->subviews())
        if (s != text_ && s != detail_ && s != image_ && !s->isHidden()) content = std::max(content, s->frame().maxY());
    return {w, std::max(kDefaultHeight, std::ceil(content + 22))};
}

void TableViewCell::draw(gfx::Canvas& c, const Rect&) {
    if (!separatorShown_) return;
    TableView* t = tableView();
    if (t && t->separatorStyle() == TableViewSeparatorStyle::None) return;
    Rect b = bounds();
    double left = separatorFullWidth_ ? 0 : separatorInset_.left + editingIndent();
    double right = separatorFullWidth_ ? 0 : separatorInset_.right;
    Color color = t ? t->separatorColor() : Color::separator();
    c.fillRect(Rect(left, b.height() - 0.5, std::max(0.0, b.width() - left - right), 0.5), resolve(color));
}

// --- Touches: the table decides about selection and swipes ---

void TableViewCell::touchesBegan(const TouchSet& touches, const Event&) {
    touchMoved_ = false;
    if (TableView* t = tableView()) t->cellTouchBegan(*this, *touches[0]);
}

void TableViewCell::touchesMoved(const TouchSet& touches, const Event&) {
    TableView* t = tableView();
    if (!t) return;
    Point origin = t->cellTouchStart();
    Point now = touches[0]->locationInView(t);
    double dx = now.x - origin.x, dy = now.y - origin.y;
    if (std::hypot(dx, dy) > 10 && !touchMoved_) {
        touchMoved_ = true;
        setHighlighted(false);
        t->cellTouchAbandoned();
    }
    // A sideways swipe to the left offers the delete.
    if (dx < -kSwipeDistance && std::fabs(dx) > std::fabs(dy) * 1.5) t->swipedToDelete(*this);
}

void TableViewCell::touchesEnded(const TouchSet& touches, const Event&) {
    TableView* t = tableView();
    if (!t) return;
    if (touchMoved_) {
        setHighlighted(false);
        return;
    }
    t->cellTapped(*this, *touches[0]);
}

void TableViewCell::touchesCancelled(const TouchSet&, const Event&) {
    setHighlighted(false);
    if (TableView* t = tableView()) t->cellTouchAbandoned();
}

}  // namespace ui
