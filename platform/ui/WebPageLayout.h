#pragma once

#include "platform/ui/WebDocumentContainer.h"
#include "platform/ui/WebPageBounds.h"

#include <atomic>
#include <memory>
#include <string>

namespace litehtml {
class document;
}

namespace ui {

// Makes a web page's document and lays it out, within bounds whatever the
// page holds: the page is first bounded (WebPageBounds), then made and laid
// out with a budget of work (WebLayoutBudget). A page whose own styles ask
// for more work than the budget holds is made again without them; one that
// does not fit even so gives no document. Takes a second or so at most, and
// touches nothing but what it makes: it may run on any thread. Work nobody
// waits for any more is called off with the request's cancel flag.
class WebPageLayout {
public:
    struct Request {
        std::string html;
        // The page's address: relative references resolve against it, and
        // only a page that is a file of this computer may use its files.
        std::string url;
        int width = 320;
        int height = 480;
        std::string language = "en";
        std::string culture = "en-US";
        // At the top of a page cut or simplified, and of one shown without
        // its own styles.
        std::string cutNote;
        std::string unstyledNote;
        // Not empty: the page arrived only in part (its server was given up);
        // this note is at its top whatever else the page needs.
        std::string partNote;
        WebPageBounds::Limits limits;
        // Set (from any thread) when nobody waits for the page any more: the
        // work stops within moments and gives no document.
        const std::atomic<bool>* cancel = nullptr;
    };
    // A document with its container; the document goes first (it calls on
    // its container as it goes).
    struct Page {
        Page() = default;
        Page(Page&&) = default;
        Page& operator=(Page&& other) noexcept;
        ~Page() { document.reset(); }

        std::unique_ptr<WebDocumentContainer> container;
        std::shared_ptr<litehtml::document> document;
        bool cut = false;
        bool unstyled = false;
        // Elements and words handed to the layout engine.
        long nodes = 0;
        int width = 0;
    };

    static Page build(const Request& request);
    // The tallest page shown, in points: drawing takes positions within
    // about eight million device pixels (cairo's fixed point), at any
    // scale. What lies below is cut, with the note.
    static constexpr int kMaxHeight = 2000000;
    // Lays the page out again at `width` within the budget; false when the
    // budget ran out (the layout is then incomplete).
    static bool render(Page& page, int width);
};

}  // namespace ui
