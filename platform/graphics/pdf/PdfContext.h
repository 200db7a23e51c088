#pragma once

extern "C" {
#include <mupdf/fitz.h>
#include <mupdf/pdf.h>
}

namespace gfx {

// MuPDF contexts for the PDF classes: one base context with locks shared by
// the process, and one clone of it per thread that uses a document (a MuPDF
// context must never be used by two threads at once). Clones are dropped when
// their thread ends. Only the PDF classes include this header.
class PdfContext {
public:
    // The calling thread's context; null when MuPDF could not start.
    static fz_context* current();
};

// What a PdfDocument and its pages share: the open MuPDF document. Dropped
// with the last holder, in whichever thread that is.
struct PdfDocumentState {
    pdf_document* doc = nullptr;
    // MuPDF's map of the page tree is made (see PdfDocument::page), and
    // whether making it was tried: a tree that cannot be mapped is not
    // checked again at every page.
    bool pageMap = false;
    bool pageMapTried = false;
    ~PdfDocumentState();
};

}  // namespace gfx
