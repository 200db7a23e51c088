#include "platform/graphics/pdf/PdfDocument.h"

#include "platform/graphics/pdf/PdfContext.h"
#include "platform/graphics/pdf/PdfPage.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gfx {

namespace {

// A regular file we may read. Opened without waiting: a pipe in place of the
// file must not hang the open (MuPDF's own open would block on it).
bool readable(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st{};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    return regular;
}

// Whether the page tree holds exactly `pages` pages, each a /Page under
// /Pages nodes, with no cycle: MuPDF's map of the tree leaves the entries of
// pages a tree does not hold unset.
bool treeHolds(fz_context* ctx, pdf_document* doc, int pages) {
    struct Level {
        pdf_obj* kids;
        int next, count;
    };
    constexpr int kMaxDepth = 64;
    Level stack[kMaxDepth];
    int depth = 0, leaves = 0;
    long visits = 0;
    const long maxVisits = 2L * pages + 64;
    bool ok = true;
    fz_var(ok);
    fz_try(ctx) {
        pdf_obj* root = pdf_dict_getp(ctx, pdf_trailer(ctx, doc), "Root/Pages");
        if (!pdf_name_eq(ctx, pdf_dict_get(ctx, root, PDF_NAME(Type)), PDF_NAME(Pages))) {
            ok = false;
        } else {
            pdf_obj* kids = pdf_dict_get(ctx, root, PDF_NAME(Kids));
            stack[depth++] = Level{kids, 0, pdf_array_len(ctx, kids)};
        }
        while (ok && depth > 0) {
            Level& level = stack[depth - 1];
            if (level.next >= level.count) {
                --depth;
                continue;
            }
            pdf_obj* kid = pdf_array_get(ctx, level.kids, level.next++);
            pdf_obj* type = pdf_dict_get(ctx, kid, PDF_NAME(Type));
            if (++visits > maxVisits) {
                ok = false;
            } else if (pdf_name_eq(ctx, type, PDF_NAME(Page))) {
                ok = ++leaves <= pages;
            } else if (pdf_name_eq(ctx, type, PDF_NAME(Pages)) && depth < kMaxDepth) {
                pdf_obj* kids = pdf_dict_get(ctx, kid, PDF_NAME(Kids));
                stack[depth++] = Level{kids, 0, pdf_array_len(ctx, kids)};
            } else {
                ok = false;
            }
        }
    }
    fz_catch(ctx) {
        ok = false;
    }
    return ok && leaves == pages;
}

}  // namespace

PdfDocument::PdfDocument(std::shared_ptr<PdfDocumentState> state, int pageCount)
    : state_(std::move(state)), pageCount_(pageCount) {}

PdfDocument::~PdfDocument() = default;

std::shared_ptr<PdfDocument> PdfDocument::open(const std::string& path, Error* error) {
    auto fail = [&](Error e) -> std::shared_ptr<PdfDocument> {
        if (error) *error = e;
        return nullptr;
    };
    if (error) *error = Error::None;
    if (path.empty() || !readable(path)) return fail(Error::Unreadable);
    fz_context* ctx = PdfContext::current();
    if (!ctx) return fail(Error::Damaged);

    // No C++ object may live across fz_try: MuPDF leaves it by longjmp.
    pdf_document* doc = nullptr;
    fz_var(doc);
    int pages = 0;
    int encrypted = 0;
    fz_try(ctx) {
        doc = pdf_open_document(ctx, path.c_str());
        encrypted = pdf_needs_password(ctx, doc);
        if (!encrypted) pages = pdf_count_pages(ctx, doc);
    }
    fz_catch(ctx) {
        if (doc) pdf_drop_document(ctx, doc);
        return fail(Error::Damaged);
    }
    auto state = std::make_shared<PdfDocumentState>();
    state->doc = doc;
    if (encrypted) return fail(Error::Encrypted);
    if (pages <= 0) return fail(Error::NoPages);
    return std::shared_ptr<PdfDocument>(new PdfDocument(std::move(state), pages));
}

bool PdfDocument::hasPageMap() const { return state_ && state_->pageMap; }

void PdfDocument::dropParsedObjects() {
    fz_context* ctx = PdfContext::current();
    if (!ctx || !state_ || !state_->doc) return;
    fz_try(ctx) pdf_clear_xref(ctx, state_->doc);
    fz_catch(ctx) {}
}

std::shared_ptr<PdfPage> PdfDocument::page(int index) const {
    if (index < 0 || index >= pageCount_) return nullptr;
    if (index >= kWalkedPages && !state_->pageMapTried) {
        if (fz_context* ctx = PdfContext::current()) {
            state_->pageMapTried = true;
            int mapped = 0;
            fz_var(mapped);
            const bool whole = treeHolds(ctx, state_->doc, pageCount_);
            fz_try(ctx) {
                if (whole) {
                    pdf_load_page_tree(ctx, state_->doc);
                    mapped = 1;
                }
            }
            fz_catch(ctx) {
                // A tree that cannot be mapped is walked, page by page; no
                // part of a map is left for the walk to trust.
                pdf_drop_page_tree(ctx, state_->doc);
            }
            state_->pageMap = mapped != 0;
        }
    }
    auto p = std::make_shared<PdfPage>(state_, index);
    // A page object that could not be found has no media box at all.
    if (p->mediaBox().size.isEmpty()) return nullptr;
    return p;
}

const char* PdfDocument::describe(Error error) {
    switch (error) {
    case Error::None: return "no error";
    case Error::Unreadable: return "the file cannot be read";
    case Error::Damaged: return "the file is not a PDF or is damaged beyond repair";
    case Error::Encrypted: return "the PDF is encrypted; password-protected PDFs are not supported";
    case Error::NoPages: return "the PDF has no pages";
    }
    return "unknown error";
}

}  // namespace gfx
