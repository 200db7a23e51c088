#pragma once

#include "engine/PageLoadRequest.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class BookReaderEx;
class Settings;

// A book handed to the program as it starts, opened and its first view
// composed on a worker while the start screen plays, so that the page is
// ready when the library opens the book. LocalBookOpener::startLoadBook
// takes the session when it opens that book exactly as the preparation
// did: no password, the same inner folder, the stored position, the same
// settings and the same view; any other open drops it and opens as ever.
// Books that can ask something before they open (solid RAR and 7z
// archives warn first) are not prepared at the start. The library's opener
// prepares its RAR and 7z books the same way (forOpen) once its questions
// are answered: UnRAR and 7z.so decode whole stretches of a solid archive
// (a dictionary of a gigabyte allocated and cleared first), which the main
// thread never waits for. One preparation at a time; all calls on the main
// thread.
class PreparedBookOpen {
public:
    // Starts preparing the book at `fullPath` (any earlier preparation is
    // dropped). `useBookmark`: the open resumes at the stored position;
    // otherwise a picture opens at itself and a book at its first page.
    static void start(const std::string& fullPath, bool useBookmark);
    // Starts preparing an open of the library's opener: the book with this
    // password and inner folder, read with the list's `settings` (already
    // set to the book); `useBookmark` as above.
    static void startForOpen(const std::string& fullPath, const std::optional<std::string>& password,
                             const std::optional<std::string>& folder, bool useBookmark,
                             const std::shared_ptr<Settings>& settings);

    struct Session {
        std::shared_ptr<BookReaderEx> reader;
        int32_t page = 0;
        bool secondPage = false;
        // False when the book did not open (the reader's openFailure says why).
        bool opened = true;
        // The first view's load result (BookReaderEx::kLoadDone when composed).
        int loadResult = 0;
    };
    // The prepared session when it was made for exactly this open (waiting
    // for the worker while it still works on this book, but for a PDF page
    // still drawing, which is abandoned; one preparing another book is let
    // go unwaited): its first view composed, or the book found not to open,
    // or its page asking for a password; nothing otherwise. `settings` are
    // the list's, already set to the book. Either way the preparation is over.
    static std::optional<Session> take(const std::string& fullPath, const std::optional<std::string>& password,
                                       const std::optional<std::string>& folder, bool useBookmark,
                                       const std::shared_ptr<Settings>& settings);

    // Drops the preparation, if any; a worker still at work (decoding a
    // large page, or drawing a PDF page, which is abandoned) is not waited
    // for, but left to finish alone.
    static void discard();
    // Whether the book at `fullPath` is being prepared, its worker still at work.
    static bool isPreparing(const std::string& fullPath);
    // Whether a preparation of the book at `fullPath` is held (at work or done).
    static bool isHeld(const std::string& fullPath);
    // Runs `fn` on the main thread once the preparation's worker is done (at
    // once when there is none); never when the preparation is dropped first.
    static void whenFinished(std::function<void()> fn);

    // The session of a preparation that has composed its first view and
    // waits to be taken; null otherwise.
    static const BookReaderEx* ready();
    // Whether the book at `fullPath` has been prepared (its worker done, its
    // first view composed) and opens without a question first: a book (not a
    // picture) holding other archives is offered to expand. Never waits.
    static bool readyToShow(const std::string& fullPath);

    // The first view an open of a book asks for at `page`, with the
    // reading screen's area and zoom for these settings. `landscape`, when
    // given, is set to whether the screen is landscape.
    static PageLoadRequest firstViewRequest(const Settings* settings, int32_t page, bool secondPage,
                                            bool* landscape = nullptr);
    // The same for a screen known to be landscape or not.
    static PageLoadRequest firstViewRequest(const Settings* settings, int32_t page, bool secondPage,
                                            bool isLandscape);
};
