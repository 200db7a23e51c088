#include "platform/graphics/pdf/PdfContext.h"

#include <mutex>

namespace gfx {

namespace {

// MuPDF's own locks, as mutexes it takes through callbacks.
std::mutex gLocks[FZ_LOCK_MAX];

void lockMuPdf(void*, int lock) { gLocks[lock].lock(); }
void unlockMuPdf(void*, int lock) { gLocks[lock].unlock(); }

// Damaged files make MuPDF talk a lot; what matters reaches the caller as
// a failed call.
void quiet(void*, const char*) {}

class BaseContext {
public:
    BaseContext() {
        locks_.user = nullptr;
        locks_.lock = lockMuPdf;
        locks_.unlock = unlockMuPdf;
        ctx_ = fz_new_context(nullptr, &locks_, FZ_STORE_DEFAULT);
        if (!ctx_) return;
        fz_set_error_callback(ctx_, quiet, nullptr);
        fz_set_warning_callback(ctx_, quiet, nullptr);
        fz_try(ctx_) fz_register_document_handlers(ctx_);
        fz_catch(ctx_) {
            fz_drop_context(ctx_);
            ctx_ = nullptr;
        }
    }
    ~BaseContext() {
        if (ctx_) fz_drop_context(ctx_);
    }
    fz_context* get() const { return ctx_; }

private:
    fz_locks_context locks_{};
    fz_context* ctx_ = nullptr;
};

BaseContext& base() {
    static BaseContext b;
    return b;
}

class ThreadContext {
public:
    ThreadContext() {
        if (fz_context* b = base().get()) ctx_ = fz_clone_context(b);
    }
    ~ThreadContext() {
        if (ctx_) fz_drop_context(ctx_);
    }
    fz_context* get() const { return ctx_; }

private:
    fz_context* ctx_ = nullptr;
};

}  // namespace

fz_context* PdfContext::current() {
    // The base is made first, so it is destroyed after every thread's clone.
    base();
    thread_local ThreadContext t;
    return t.get();
}

PdfDocumentState::~PdfDocumentState() {
    if (!doc) return;
    fz_context* ctx = PdfContext::current();
    if (!ctx) return;
    if (pageMap) pdf_drop_page_tree(ctx, doc);
    pdf_drop_document(ctx, doc);
}

}  // namespace gfx
