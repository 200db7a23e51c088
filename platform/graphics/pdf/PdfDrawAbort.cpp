#include "platform/graphics/pdf/PdfDrawAbort.h"

#include "platform/graphics/pdf/PdfContext.h"

#include <algorithm>

namespace gfx {

// MuPDF reads the cookie's "abort" as a plain int while it works; it is
// written here with an atomic store, which is all MuPDF asks of the writer.
struct PdfDrawAbort::State {
    fz_cookie cookie{};
};

PdfDrawAbort::PdfDrawAbort() : state_(std::make_unique<State>()) {}

PdfDrawAbort::~PdfDrawAbort() = default;

void PdfDrawAbort::abandon() { __atomic_store_n(&state_->cookie.abort, 1, __ATOMIC_RELEASE); }

bool PdfDrawAbort::abandoned() const { return __atomic_load_n(&state_->cookie.abort, __ATOMIC_ACQUIRE) != 0; }

void PdfDrawAbort::setTimeLimit(double seconds) {
    deadline_ = std::chrono::steady_clock::now() +
                std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
}

bool PdfDrawAbort::pastTimeLimit() const { return deadline_ && std::chrono::steady_clock::now() >= *deadline_; }

double PdfDrawAbort::secondsLeft() const {
    if (!deadline_) return -1;
    return std::max(0.0, std::chrono::duration<double>(*deadline_ - std::chrono::steady_clock::now()).count());
}

void* PdfDrawAbort::cookie() const { return &state_->cookie; }

}  // namespace gfx
