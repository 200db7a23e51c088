#include "platform/ui/WebLayoutBudget.h"

#include <litehtml/litehtml.h>
#include <litehtml/el_anchor.h>
#include <litehtml/el_base.h>
#include <litehtml/el_body.h>
#include <litehtml/el_break.h>
#include <litehtml/el_div.h>
#include <litehtml/el_font.h>
#include <litehtml/el_image.h>
#include <litehtml/el_link.h>
#include <litehtml/el_para.h>
#include <litehtml/el_script.h>
#include <litehtml/el_style.h>
#include <litehtml/el_table.h>
#include <litehtml/el_td.h>
#include <litehtml/el_title.h>
#include <litehtml/el_tr.h>

#include <cstdint>
#include <cstring>
#include <type_traits>

namespace ui {

namespace {

// An element of litehtml's kind `Base` whose rule matching and layout spend
// the budget; with nothing left it matches no rule and lays out nothing.
template <class Base>
class Budgeted final : public Base {
public:
    Budgeted(const std::shared_ptr<litehtml::document>& doc, WebLayoutBudget* budget) : Base(doc), budget_(budget) {}

    int select(const litehtml::css_selector& selector, bool applyPseudo) override {
        if (!budget_->spendSelectorTest()) return litehtml::select_no_match;
        const int match = Base::select(selector, applyPseudo);
        if (match != litehtml::select_no_match && !budget_->spendSelectorMatch()) return litehtml::select_no_match;
        return match;
    }
    // A layout goes through the element's children (its text word by word):
    // it costs one for the element and one for each child.
    int render(int x, int y, int maxWidth, bool secondPass) override {
        if (!budget_->spendBoxLayouts(1 + long(this->get_children_count()))) return 0;
        return Base::render(x, y, maxWidth, secondPass);
    }
    int render_inline(const litehtml::element::ptr& container, int maxWidth) override {
        if (!budget_->spendBoxLayouts(1 + long(this->get_children_count()))) return 0;
        return Base::render_inline(container, maxWidth);
    }
    // A block that holds floats goes through all of them to find where a
    // line or a float fits (and through every place one begins or ends, to
    // find the next line that is wide enough), and to add one; blocks that
    // hold none ask their holder. Out of budget, lines run the block's full
    // width and floats are no more kept: the layout is dropped anyway.
    int find_next_line_top(int top, int width, int defRight) override {
        if (this->is_floats_holder()) {
            const long n = floats();
            if (!budget_->spendFloatSteps(1 + n * n)) return top;
        }
        return Base::find_next_line_top(top, width, defRight);
    }
    void get_line_left_right(int y, int defRight, int& left, int& right) override {
        if (this->is_floats_holder() && !budget_->spendFloatSteps(1 + floats())) {
            left = 0;
            right = defRight;
            return;
        }
        Base::get_line_left_right(y, defRight, left, right);
    }
    int get_line_left(int y) override {
        if (this->is_floats_holder() && !budget_->spendFloatSteps(1 + floats())) return 0;
        return Base::get_line_left(y);
    }
    int get_line_right(int y, int defRight) override {
        if (this->is_floats_holder() && !budget_->spendFloatSteps(1 + floats())) return defRight;
        return Base::get_line_right(y, defRight);
    }
    int get_floats_height(litehtml::element_float side) const override {
        if (this->is_floats_holder() && !budget_->spendFloatSteps(1 + floats())) return 0;
        return Base::get_floats_height(side);
    }
    int get_left_floats_height() const override {
        if (this->is_floats_holder() && !budget_->spendFloatSteps(1 + floats())) return 0;
        return Base::get_left_floats_height();
    }
    int get_right_floats_height() const override {
        if (this->is_floats_holder() && !budget_->spendFloatSteps(1 + floats())) return 0;
        return Base::get_right_floats_height();
    }
    void add_float(const litehtml::element::ptr& el, int x, int y) override {
        if (this->is_floats_holder() && !budget_->spendFloatSteps(1 + floats())) return;
        Base::add_float(el, x, y);
    }
    // Placing an element in a line: a float placed there places again what
    // the line held.
    int place_element(const litehtml::element::ptr& el, int maxWidth) override {
        if (!budget_->spendBoxLayouts(1)) return 0;
        return Base::place_element(el, maxWidth);
    }

    // litehtml draws every element of the page (its background, borders,
    // list marker, picture) each time, shown or not; only boxes across the
    // clip are drawn here. (Its content is drawn apart from it; an inline
    // element's pieces may lie anywhere down the page.)
    // (A page can take litehtml's int positions near their limits: the box
    // is worked out in 64 bits.)
    void draw(litehtml::uint_ptr hdc, int x, int y, const litehtml::position* clip) override {
        if (clip && this->get_display() != litehtml::display_inline) {
            const int64_t top = int64_t(y) + this->m_pos.y - this->m_margins.top - this->m_padding.top -
                                this->m_borders.top;
            const int64_t bottom = int64_t(y) + this->m_pos.y + this->m_pos.height + this->m_margins.bottom +
                                   this->m_padding.bottom + this->m_borders.bottom;
            if (bottom < clip->y || top > int64_t(clip->y) + clip->height) return;
        }
        Base::draw(hdc, x, y, clip);
    }

private:
    long floats() const {
        if constexpr (std::is_base_of_v<litehtml::html_tag, Base>)
            return long(this->m_floats_left.size() + this->m_floats_right.size());
        return 0;
    }

    WebLayoutBudget* budget_;
};

template <class Base>
std::shared_ptr<litehtml::element> make(const std::shared_ptr<litehtml::document>& doc, WebLayoutBudget* budget) {
    return std::make_shared<Budgeted<Base>>(doc, budget);
}

}  // namespace

std::shared_ptr<litehtml::element> WebLayoutBudget::makeElement(const char* tag,
                                                                const std::shared_ptr<litehtml::document>& doc,
                                                                WebLayoutBudget* budget) {
    if (!tag || !budget) return nullptr;
    auto is = [tag](const char* name) { return std::strcmp(tag, name) == 0; };
    // The kinds litehtml itself makes for these tags.
    if (is("br")) return make<litehtml::el_break>(doc, budget);
    if (is("p")) return make<litehtml::el_para>(doc, budget);
    if (is("img")) return make<litehtml::el_image>(doc, budget);
    if (is("table")) return make<litehtml::el_table>(doc, budget);
    if (is("td") || is("th")) return make<litehtml::el_td>(doc, budget);
    if (is("link")) return make<litehtml::el_link>(doc, budget);
    if (is("title")) return make<litehtml::el_title>(doc, budget);
    if (is("a")) return make<litehtml::el_anchor>(doc, budget);
    if (is("tr")) return make<litehtml::el_tr>(doc, budget);
    if (is("style")) return make<litehtml::el_style>(doc, budget);
    if (is("base")) return make<litehtml::el_base>(doc, budget);
    if (is("body")) return make<litehtml::el_body>(doc, budget);
    if (is("div")) return make<litehtml::el_div>(doc, budget);
    if (is("script")) return make<litehtml::el_script>(doc, budget);
    if (is("font")) return make<litehtml::el_font>(doc, budget);
    // (A list item is a plain tag: litehtml's own kind numbers it by
    // counting its siblings; the page comes numbered instead, WebPageBounds.)
    return make<litehtml::html_tag>(doc, budget);
}

}  // namespace ui
