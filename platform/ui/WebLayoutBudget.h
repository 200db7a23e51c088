#pragma once

#include <memory>

namespace litehtml {
class document;
class element;
}  // namespace litehtml

namespace ui {

// How much work litehtml may do for a document in one go: selector tests
// (matching style rules to elements, also when a tap changes an element's
// state), the rules that match (each kept with its element, and gone
// through again at every tap) and box layouts. Style rules can make the
// matching backtrack through every ancestor, and boxes laid out as table
// cells are laid out again for each table around them: a short page can
// ask for more work than any page needs. The elements litehtml makes for a document (makeElement)
// count their work here; once an allowance is spent they match no more rules
// and lay out no more boxes, and the caller, seeing it exhausted, lays the
// page out another way.
class WebLayoutBudget {
public:
    // A new allowance for what litehtml does next (making the document,
    // laying it out, a tap).
    void begin(long selectorTests, long boxLayouts, long selectorMatches = kSelectorMatches) {
        selectorTests_ = selectorTests;
        selectorMatches_ = selectorMatches;
        boxLayouts_ = boxLayouts;
        exhausted_ = false;
    }
    bool exhausted() const { return exhausted_; }

    bool spendSelectorTest() {
        if (exhausted_ || selectorTests_ <= 0) {
            exhausted_ = true;
            return false;
        }
        --selectorTests_;
        return true;
    }
    bool spendSelectorMatch() {
        if (exhausted_ || selectorMatches_ <= 0) {
            exhausted_ = true;
            return false;
        }
        --selectorMatches_;
        return true;
    }
    bool spendBoxLayouts(long count) {
        if (exhausted_ || boxLayouts_ < count) {
            exhausted_ = true;
            return false;
        }
        boxLayouts_ -= count;
        return true;
    }

    // The element litehtml would make for `tag` (its own kind for the tags
    // it knows), counting its work against `budget`, which outlives it.
    static std::shared_ptr<litehtml::element> makeElement(const char* tag,
                                                          const std::shared_ptr<litehtml::document>& doc,
                                                          WebLayoutBudget* budget);

    // Allowances that keep a page's making and one layout to about a second.
    static constexpr long kSelectorTests = 12000000;
    // A tap restyles the elements it touches (and their hover and active
    // rules): a tenth of a second at most.
    static constexpr long kTapSelectorTests = 2000000;
    static constexpr long kSelectorMatches = 500000;
    static constexpr long kBoxLayouts = 2000000;

private:
    long selectorTests_ = kSelectorTests;
    long selectorMatches_ = kSelectorMatches;
    long boxLayouts_ = kBoxLayouts;
    bool exhausted_ = false;
};

}  // namespace ui
