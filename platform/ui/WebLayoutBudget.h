#pragma once

#include <atomic>
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
// ask for more work than any page needs; so can floats, which litehtml
// places by going through every float of their block, and every place a
// float begins or ends there, for each new one. The elements litehtml makes
// for a document (makeElement) count their work here; once an allowance is
// spent (or the work is called off: nobody waits for it any more) they match
// no more rules, lay out no more boxes and place no more floats, and the
// caller, seeing it exhausted, lays the page out another way or drops it.
class WebLayoutBudget {
public:
    // A new allowance for what litehtml does next (making the document,
    // laying it out, a tap).
    void begin(long selectorTests, long boxLayouts, long selectorMatches = kSelectorMatches) {
        selectorTests_ = selectorTests;
        selectorMatches_ = selectorMatches;
        boxLayouts_ = boxLayouts;
        floatSteps_ = kFloatSteps;
        exhausted_ = false;
    }
    bool exhausted() const { return exhausted_ || cancelled(); }
    // What is left of the allowance of box layouts.
    long boxLayoutsLeft() const { return boxLayouts_; }
    // Work from now on stops as soon as `cancel` is set (from any thread);
    // the flag outlives the budget's use.
    void setCancel(const std::atomic<bool>* cancel) { cancel_ = cancel; }
    bool cancelled() const { return cancel_ && cancel_->load(std::memory_order_relaxed); }

    bool spendSelectorTest() {
        if (exhausted_ || selectorTests_ <= 0 || cancelled()) {
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
        if (exhausted_ || boxLayouts_ < count || cancelled()) {
            exhausted_ = true;
            return false;
        }
        boxLayouts_ -= count;
        return true;
    }
    // Floats gone through (or places they make) to place one or find a line.
    bool spendFloatSteps(long count) {
        if (exhausted_ || floatSteps_ < count || cancelled()) {
            exhausted_ = true;
            return false;
        }
        floatSteps_ -= count;
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
    static constexpr long kFloatSteps = 1500000000;

private:
    long selectorTests_ = kSelectorTests;
    long selectorMatches_ = kSelectorMatches;
    long boxLayouts_ = kBoxLayouts;
    long floatSteps_ = kFloatSteps;
    bool exhausted_ = false;
    const std::atomic<bool>* cancel_ = nullptr;
};

}  // namespace ui
