#pragma once

namespace gfx {

// How many rows each band of a page draw takes (PdfPage::render). MuPDF
// looks at its cookie only between drawing operations, so an abandon takes
// effect at the end of the band under way: a band should cost little time.
// But every band lays out again each path that crosses it (a long stroke
// across the whole page is expanded once per band), so a band should not be
// small either. The plan starts with one row and doubles a band's rows while
// bands cost less than kBandSeconds, measuring as it goes the time of a row
// and the fixed part of a band; from then on a band costs about
// kBandSeconds, or more where its fixed part would otherwise be more than
// 1/kOverheadShare of it, never more than kLongestBandSeconds (one row at
// least), and never past a time limit the draw has. Every band's time
// corrects the rate of a row, so one band measured long (its thread kept
// waiting for a processor) shortens the next band only.
class PdfBandPlan {
public:
    static constexpr double kBandSeconds = 0.25;
    static constexpr double kLongestBandSeconds = 1.0;
    static constexpr double kOverheadShare = 50;

    explicit PdfBandPlan(int height);

    // The rows of the next band; `secondsLeft` is the time left before the
    // draw's time limit (negative: none).
    int nextRows(double secondsLeft = -1) const;
    // The band of `rows` rows just drawn took `seconds`.
    void drawn(int rows, double seconds);

private:
    int height_;
    int lastRows_ = 0;
    double lastSeconds_ = 0;
    bool ramping_ = true;
    double perRow_ = 0;  // seconds a row costs, the fixed part left out
    double fixed_ = 0;   // seconds every band costs, whatever its rows
};

}  // namespace gfx
