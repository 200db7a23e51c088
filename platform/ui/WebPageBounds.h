#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ui {

// Turns whatever a page's HTML is into a page the layout engine can take in
// bounded time and memory: the page is read token by token (WebHtmlTokenizer)
// into a tree of open elements that follows the HTML parser's rules for
// implied end tags, and written out again well nested, every element closed
// and every text escaped, so that the parser behind the layout engine builds
// the same tree and nothing deeper.
//
// On the way it bounds what makes layout costly: elements nested more deeply
// than maxDepth (tables inside more than maxTableNesting tables, inline
// elements inside more than maxInlineNesting others) are left out with their
// content kept in the element around them; the page ends
// (is cut) once it holds maxNodes elements and words, maxGridCells table
// cells (rows times columns, as the layout engine keeps them), or its nodes
// weigh maxLayoutWeight, each by the work its layout takes where it is: one,
// a sixteenth more for each element around it, once more for each inline
// element around it, and three times for each table around it.
// The text shown ends after maxTextBytes (its words are measured one by
// one); column and row spans are capped as HTML caps them, list numbers
// within ±maxListNumber, words longer than maxWordBytes get a break. Style
// sheets are handed on with runs of spaces made one and none kept where
// their syntax needs none (the layout engine makes an element of each), and
// end at a rule once their selectors, tried against every element, would
// pass maxSelectorTests, their bytes maxStyleSheetBytes or their spaces
// maxStyleSheetSpaces in all (an unclosed <style> takes no more of the page),
// or at a selector longer than maxSelectorBytes or with more than
// maxSelectorCombinators combinators and spaces (the layout engine's parsing
// of a selector grows with the square of those); style attributes stop at
// maxStyleAttributeBytes in all. Scripts, templates and SVG or MathML
// content are left out (they are not shown). A page so cut or simplified
// gets a note at its top.
//
// Why a tokenizer and tree rules of our own when litehtml parses with gumbo:
// the bounds have to hold before gumbo sees the page. litehtml calls
// gumbo_parse with its defaults, which bound neither depth nor the parse
// errors kept, and gumbo's time and memory grow with the square of the
// nesting (20,000 nested divs, 100 KB, take it 4 s and 3 GB; 128 KB of
// unclosed formatting tags 9 s and 8 GB); litehtml then builds, styles and
// lays out the tree by recursion. Gumbo's own tokenizer is not part of its
// interface. Handed a page this has bounded, gumbo does bounded work.
class WebPageBounds {
public:
    struct Limits {
        int maxDepth = 128;
        int maxTableNesting = 8;
        int maxInlineNesting = 32;
        long maxNodes = 60000;
        long maxGridCells = 250000;
        long maxLayoutWeight = 200000;
        long maxSelectorTests = 6000000;
        size_t maxStyleSheetBytes = 1 << 20;
        long maxStyleSheetSpaces = 50000;
        size_t maxSelectorBytes = 2048;
        int maxSelectorCombinators = 32;
        size_t maxTextBytes = 1 << 20;
        size_t maxStyleAttributeBytes = 1 << 20;
        size_t maxWordBytes = 1000;
        long maxListNumber = 99999;
    };
    struct Options {
        Limits limits;
        // False: the page's own style sheets and style attributes are left
        // out (the program's own styles only).
        bool authorStyles = true;
        // The note put at the top of a page that is cut or simplified (of
        // every page, with noteAlways).
        std::string note;
        bool noteAlways = false;
    };
    // What the style sheets of a page may still hold.
    struct StyleSheetAllowance {
        long selectors = 0;
        size_t bytes = 0;
        size_t selectorBytes = Limits{}.maxSelectorBytes;
        int selectorCombinators = Limits{}.maxSelectorCombinators;
    };
    struct Result {
        std::string html;
        // Part of the page was left out or simplified.
        bool cut = false;
        // Elements (and words, two nodes each) handed on.
        long nodes = 0;
        // What the page's style sheets may still add (those it links to or
        // imports): the selectors maxSelectorTests leaves for its elements,
        // the bytes maxStyleSheetBytes leaves.
        StyleSheetAllowance sheetsLeft;
    };

    static Result bound(std::string_view html, const Options& options);
    // How much of a style sheet to keep (it ends at a rule) for it to stay
    // within `left`, which it counts down (its selectors below zero once the
    // sheet is cut).
    static size_t styleSheetWithin(std::string_view css, StyleSheetAllowance& left);

    // Colspan caps (HTML's own), and the most list items a page's numbers
    // run to from their start.
    static constexpr long kMaxColspan = 1000;
    static constexpr long kMaxRowspan = 65534;
    // The id of the note's element.
    static constexpr const char* kNoteId = "leafbright-note";
    // Selector tests the program's own style sheet makes per element.
    static constexpr long kOwnSelectorsPerElement = 140;
};

}  // namespace ui
