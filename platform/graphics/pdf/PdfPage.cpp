#include "platform/graphics/pdf/PdfPage.h"

#include "platform/graphics/pdf/PdfBandPlan.h"
#include "platform/graphics/pdf/PdfContext.h"
#include "platform/graphics/pdf/PdfDrawAbort.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>

namespace gfx {

namespace {

// A box as an upright rectangle; nothing usable gives the zero rectangle.
Rect toRect(fz_rect r) {
    if (!(r.x1 >= r.x0 && r.y1 >= r.y0)) return {};
    if (!std::isfinite(r.x0) || !std::isfinite(r.y0) || !std::isfinite(r.x1) || !std::isfinite(r.y1)) return {};
    return Rect(r.x0, r.y0, double(r.x1) - r.x0, double(r.y1) - r.y0);
}

Rect intersect(Rect a, Rect b) {
    const double x0 = std::max(a.minX(), b.minX()), y0 = std::max(a.minY(), b.minY());
    const double x1 = std::min(a.maxX(), b.maxX()), y1 = std::min(a.maxY(), b.maxY());
    if (!(x1 >= x0 && y1 >= y0)) return {};
    return Rect(x0, y0, x1 - x0, y1 - y0);
}

int normalisedRotation(int r) {
    r %= 360;
    if (r < 0) r += 360;
    return r % 90 == 0 ? r : 0;
}

}  // namespace

PdfPage::PdfPage(std::shared_ptr<PdfDocumentState> doc, int index) : doc_(std::move(doc)), index_(index) {
    fz_context* ctx = PdfContext::current();
    if (!ctx || !doc_ || !doc_->doc) return;
    fz_rect media = fz_empty_rect, crop = fz_empty_rect, trim = fz_empty_rect;
    int hasCrop = 0, hasTrim = 0, rotate = 0;
    fz_var(hasCrop);
    fz_var(hasTrim);
    fz_var(rotate);
    fz_try(ctx) {
        pdf_obj* page = pdf_lookup_page_obj(ctx, doc_->doc, index_);
        media = pdf_to_rect(ctx, pdf_dict_get_inheritable(ctx, page, PDF_NAME(MediaBox)));
        pdf_obj* c = pdf_dict_get_inheritable(ctx, page, PDF_NAME(CropBox));
        hasCrop = pdf_is_array(ctx, c);
        if (hasCrop) crop = pdf_to_rect(ctx, c);
        pdf_obj* t = pdf_dict_get(ctx, page, PDF_NAME(TrimBox));
        hasTrim = pdf_is_array(ctx, t);
        if (hasTrim) trim = pdf_to_rect(ctx, t);
        rotate = pdf_to_int(ctx, pdf_dict_get_inheritable(ctx, page, PDF_NAME(Rotate)));
    }
    fz_catch(ctx) {
        return;  // no page object: every box stays empty
    }
    mediaBox_ = toRect(media);
    cropBox_ = hasCrop ? intersect(toRect(crop), mediaBox_) : mediaBox_;
    trimBox_ = hasTrim ? intersect(toRect(trim), mediaBox_) : cropBox_;
    rotation_ = normalisedRotation(rotate);
}

PdfPage::~PdfPage() = default;

std::vector<PdfPage::Link> PdfPage::links() const {
    std::vector<Link> out;
    fz_context* ctx = PdfContext::current();
    if (!ctx || !doc_ || !doc_->doc) return out;
    // Only plain values are made inside fz_try (MuPDF leaves it by longjmp);
    // each link is appended by one complete statement between MuPDF calls.
    fz_try(ctx) {
        pdf_obj* page = pdf_lookup_page_obj(ctx, doc_->doc, index_);
        pdf_obj* annots = pdf_dict_get(ctx, page, PDF_NAME(Annots));
        const int n = pdf_array_len(ctx, annots);
        for (int i = 0; i < n; ++i) {
            pdf_obj* annot = pdf_array_get(ctx, annots, i);
            pdf_obj* action = pdf_dict_get(ctx, annot, PDF_NAME(A));
            if (!pdf_is_dict(ctx, action)) continue;
            pdf_obj* uri = pdf_dict_get(ctx, action, PDF_NAME(URI));
            if (!pdf_is_string(ctx, uri)) continue;
            pdf_obj* rect = pdf_dict_get(ctx, annot, PDF_NAME(Rect));
            if (!pdf_is_array(ctx, rect)) continue;
            const int count = pdf_array_len(ctx, rect);
            if (count > 4) continue;
            double v[4] = {0, 0, 0, 0};
            bool numbers = true;
            for (int k = 0; k < count; ++k) {
                pdf_obj* e = pdf_array_get(ctx, rect, k);
                if (!pdf_is_number(ctx, e)) {
                    numbers = false;
                    break;
                }
                v[k] = pdf_to_real(ctx, e);
            }
            if (!numbers) continue;
            size_t length = 0;
            const char* bytes = pdf_to_str_buf(ctx, uri);
            length = pdf_to_str_len(ctx, uri);
            out.push_back(Link{std::vector<double>(v, v + count), std::string(bytes, length)});
        }
    }
    fz_catch(ctx) {
        // A damaged annotation list: the links found so far stand.
    }
    return out;
}

namespace {

PdfPage::DrawObserver& drawObserver() {
    static PdfPage::DrawObserver observer;
    return observer;
}

bool stopped(const fz_cookie* cookie) { return cookie && __atomic_load_n(&cookie->abort, __ATOMIC_ACQUIRE) != 0; }

}  // namespace

void PdfPage::setDrawObserver(DrawObserver observer) { drawObserver() = std::move(observer); }

bool PdfPage::render(const AffineTransform& userToDevice, uint32_t* pixels, int width, int height,
                     size_t strideBytes, const PdfDrawAbort* abort) const {
    fz_context* ctx = PdfContext::current();
    if (!ctx || !doc_ || !doc_->doc || !pixels || width <= 0 || height <= 0) return false;
    if (strideBytes < size_t(width) * 4 || strideBytes > size_t(INT_MAX)) return false;
    fz_cookie* cookie = abort ? static_cast<fz_cookie*>(abort->cookie()) : nullptr;
    if (stopped(cookie)) return false;
    const fz_matrix user{float(userToDevice.a), float(userToDevice.b), float(userToDevice.c),
                         float(userToDevice.d), float(userToDevice.tx), float(userToDevice.ty)};
    const DrawObserver& observer = drawObserver();
    if (observer) observer(false, false);

    pdf_page* page = nullptr;
    fz_display_list* list = nullptr;
    fz_device* dev = nullptr;
    fz_var(page);
    fz_var(list);
    fz_var(dev);
    fz_try(ctx) {
        page = pdf_load_page(ctx, doc_->doc, index_);
        // MuPDF runs a page in its own top-down space; undo that, so that the
        // caller's transform starts from the page's user space.
        fz_rect mediabox;
        fz_matrix pageCtm;
        pdf_page_transform(ctx, page, &mediabox, &pageCtm);
        const fz_matrix ctm = fz_concat(fz_invert_matrix(pageCtm), user);
        // The content is read once into a list of drawing operations in
        // pixel space, which each band then draws.
        list = fz_new_display_list(ctx, fz_infinite_rect);
        dev = fz_new_list_device(ctx, list);
        pdf_run_page(ctx, page, dev, ctm, cookie);
        fz_close_device(ctx, dev);
    }
    fz_always(ctx) {
        fz_drop_device(ctx, dev);
        dev = nullptr;
    }
    fz_catch(ctx) {
        // Damaged content draws what was read of it; only a page that never
        // loaded fails.
    }

    fz_pixmap* pix = nullptr;
    fz_var(pix);
    if (page && list) {
        fz_try(ctx) {
            // BGRA bytes with premultiplied alpha are ARGB words on this machine.
            pix = fz_new_pixmap_with_data(ctx, fz_device_bgr(ctx), width, height, nullptr, 1, int(strideBytes),
                                          reinterpret_cast<unsigned char*>(pixels));
            // Bands of rows, so that an abandon takes effect between two of
            // them (MuPDF looks at its cookie only between drawing operations,
            // and one stroke of a long path can take seconds over a page).
            PdfBandPlan plan(height);
            for (int y = 0; y < height && !stopped(cookie);) {
                if (abort && abort->pastTimeLimit()) {
                    __atomic_store_n(&cookie->abort, 1, __ATOMIC_RELEASE);
                    break;
                }
                const double left = abort ? abort->secondsLeft() : -1;
                const fz_irect band{0, y, width, std::min(height, y + plan.nextRows(left))};
                const auto start = std::chrono::steady_clock::now();
                dev = fz_new_draw_device_with_bbox(ctx, fz_identity, pix, &band);
                fz_run_display_list(ctx, list, dev, fz_identity, fz_rect_from_irect(band), cookie);
                fz_close_device(ctx, dev);
                fz_drop_device(ctx, dev);
                dev = nullptr;
                plan.drawn(band.y1 - band.y0,
                           std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
                y = band.y1;
            }
        }
        fz_always(ctx) {
            fz_drop_device(ctx, dev);
            fz_drop_pixmap(ctx, pix);
        }
        fz_catch(ctx) {
            // A band that failed keeps what it drew.
        }
    }
    const bool loaded = page != nullptr;
    fz_drop_display_list(ctx, list);
    if (page) fz_drop_page(ctx, &page->super);
    const bool abandoned = stopped(cookie);
    if (observer) observer(true, abandoned);
    return loaded && !abandoned;
}

}  // namespace gfx
