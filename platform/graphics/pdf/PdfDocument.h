#pragma once

#include <memory>
#include <string>

namespace gfx {

class PdfPage;
struct PdfDocumentState;

// A PDF file opened for reading its pages. MuPDF does the work; this class
// and PdfPage are the only code that sees it, and they live in a shared
// library of their own so that every program links the (static-only) MuPDF
// once.
//
// One thread at a time may use a document and its pages; which thread may
// change from call to call (each thread works in its own MuPDF context,
// cloned from one shared context).
class PdfDocument {
public:
    enum class Error {
        None = 0,
        Unreadable,  // the file cannot be read
        Damaged,     // not a PDF, or too broken to repair
        Encrypted,   // a password is needed
        NoPages,     // a PDF without pages
    };

    // Nothing, with the reason in `error`, when the document cannot be read.
    static std::shared_ptr<PdfDocument> open(const std::string& path, Error* error = nullptr);

    ~PdfDocument();
    PdfDocument(const PdfDocument&) = delete;
    PdfDocument& operator=(const PdfDocument&) = delete;

    int pageCount() const { return pageCount_; }
    // Nothing when `index` is out of range or the page object is unusable.
    // Pages are found by walking the page tree from its start, so the first
    // pages cost little however long the book; from kWalkedPages on, the
    // whole tree is mapped once (a walk would cost as much each time). A
    // tree found unfit for a map is walked from then on, not checked again.
    std::shared_ptr<PdfPage> page(int index) const;
    static constexpr int kWalkedPages = 256;
    // Whether the whole page tree has been mapped.
    bool hasPageMap() const;
    // Lets MuPDF drop the objects it parsed and keeps for no page in use;
    // they are read again when wanted.
    void dropParsedObjects();

    // A short English text for an open error, for logs and messages.
    static const char* describe(Error error);

private:
    explicit PdfDocument(std::shared_ptr<PdfDocumentState> state, int pageCount);

    std::shared_ptr<PdfDocumentState> state_;
    int pageCount_ = 0;
};

}  // namespace gfx
