// MuPDF through our PDF classes: open, read each of the first pages' boxes
// and links, and render them small.
#include "fuzz/support/FuzzEnvironment.h"
#include "platform/graphics/AffineTransform.h"
#include "platform/graphics/pdf/PdfDocument.h"
#include "platform/graphics/pdf/PdfPage.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = FuzzEnvironment::writeFile("doc.pdf", std::span<const uint8_t>(data, size));
    gfx::PdfDocument::Error error = gfx::PdfDocument::Error::None;
    auto doc = gfx::PdfDocument::open(path, &error);
    gfx::PdfDocument::describe(error);
    if (!doc) return 0;
    for (int i = 0; i < doc->pageCount() && i < 3; ++i) {
        auto page = doc->page(i);
        if (!page) continue;
        page->links();
        gfx::Rect box = page->cropBox();
        double scale = box.width() > 0 && box.height() > 0 ? 32.0 / std::max(box.width(), box.height()) : 1;
        std::vector<uint32_t> pixels(32 * 32);
        page->render(gfx::AffineTransform::makeScale(scale, scale), pixels.data(), 32, 32, 32 * 4);
    }
    return 0;
}
