#pragma once

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace test {

// Writes small PDF files object by object, with exact boxes, rotations,
// content and annotations, and a correct cross-reference table: the odd
// cases real tools never produce, made at test time.
class PdfBuilder {
public:
    struct Page {
        std::string mediaBox = "[0 0 200 300]";
        std::string cropBox;    // "" leaves the key out
        std::string trimBox;    // "" leaves the key out
        std::string rotate;     // "" leaves the key out
        std::string content;    // page description operators
        std::vector<std::string> annots;  // annotation dictionaries as written
    };

    // A page filled with one colour (r, g, b in 0..1) over its media box,
    // given as the four corner numbers.
    static std::string fill(double r, double g, double b, double x0, double y0, double x1, double y1) {
        // Plain decimals: PDF has no exponent notation.
        char buf[300];
        std::snprintf(buf, sizeof buf, "%.3f %.3f %.3f rg %.3f %.3f %.3f %.3f re f\n", r, g, b, x0, y0, x1 - x0,
                      y1 - y0);
        return buf;
    }
    // A URI link annotation over [x0 y0 x1 y1].
    static std::string uriLink(const std::string& rect, const std::string& uriLiteral) {
        return "<< /Type /Annot /Subtype /Link /Rect " + rect + " /Border [0 0 0] /A << /S /URI /URI " + uriLiteral +
               " >> >>";
    }

    // One path of `segments` full-page strokes across a 600 x 800 page, to
    // be stroked at once: what maps and plots are made of, and a page whose
    // drawing time grows with its segments times its rows.
    static std::string strokes(int segments) {
        std::string s = "0 0 m\n";
        s.reserve(s.size() + size_t(segments) * 16 + 2);
        for (int i = 0; i < segments; ++i) s += "1 1 l 599 799 l\n";
        return s + "S\n";
    }

    std::vector<Page> pages;
    // Comment bytes after the header, to make a file of a given size (at
    // least 2 when not 0).
    size_t fillerBytes = 0;

    std::string bytes() const {
        std::vector<std::string> objects;  // object i + 1
        objects.push_back("<< /Type /Catalog /Pages 2 0 R >>");
        objects.push_back("");  // the page tree, below
        std::string kids;
        for (const Page& p : pages) {
            const size_t contentNo = objects.size() + 2;
            std::string annots;
            for (const auto& a : p.annots) annots += a + " ";
            std::string page = "<< /Type /Page /Parent 2 0 R /MediaBox " + p.mediaBox;
            if (!p.cropBox.empty()) page += " /CropBox " + p.cropBox;
            if (!p.trimBox.empty()) page += " /TrimBox " + p.trimBox;
            if (!p.rotate.empty()) page += " /Rotate " + p.rotate;
            page += " /Contents " + std::to_string(contentNo) + " 0 R";
            if (!annots.empty()) page += " /Annots [" + annots + "]";
            page += " >>";
            objects.push_back(page);
            kids += std::to_string(objects.size()) + " 0 R ";
            objects.push_back("<< /Length " + std::to_string(p.content.size()) + " >>\nstream\n" + p.content +
                              "\nendstream");
        }
        objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) + " >>";

        std::string out = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
        for (size_t left = fillerBytes; left >= 2;) {
            // Never leave a single byte over: a line needs two.
            const size_t line = left <= 80 ? left : (left - 80 == 1 ? 79 : 80);
            out += "%" + std::string(line - 2, 'x') + "\n";
            left -= line;
        }
        std::vector<size_t> offsets;
        for (size_t i = 0; i < objects.size(); ++i) {
            offsets.push_back(out.size());
            out += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
        }
        const size_t xref = out.size();
        out += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
        for (size_t off : offsets) {
            char line[32];
            std::snprintf(line, sizeof line, "%010zu 00000 n \n", off);
            out += line;
        }
        out += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
               std::to_string(xref) + "\n%%EOF\n";
        return out;
    }

    bool write(const std::string& path) const {
        std::ofstream f(path, std::ios::binary);
        const std::string b = bytes();
        f.write(b.data(), std::streamsize(b.size()));
        return bool(f);
    }
};

}  // namespace test
