#pragma once

#include <chrono>
#include <memory>
#include <optional>

namespace gfx {

// Lets another thread abandon a page draw under way (PdfPage::render). The
// draw looks at it between the page's drawing operations and between the
// bands of rows it draws, so that it stops within one band of the call,
// however long the whole page would take (a band costs about a quarter of
// a second, or one row where a row costs more). Once abandoned it stays
// so: a draw handed an abandoned control does not start.
class PdfDrawAbort {
public:
    PdfDrawAbort();
    ~PdfDrawAbort();
    PdfDrawAbort(const PdfDrawAbort&) = delete;
    PdfDrawAbort& operator=(const PdfDrawAbort&) = delete;

    // From any thread.
    void abandon();
    bool abandoned() const;

    // The draw is abandoned once it has taken `seconds` of real time (set
    // before it starts).
    void setTimeLimit(double seconds);
    bool pastTimeLimit() const;
    // The seconds left before the time limit (0 past it); negative without one.
    double secondsLeft() const;

    // MuPDF's cookie (an fz_cookie), for the PDF classes only.
    void* cookie() const;

private:
    struct State;
    std::unique_ptr<State> state_;
    std::optional<std::chrono::steady_clock::time_point> deadline_;
};

}  // namespace gfx
