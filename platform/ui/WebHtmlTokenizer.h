#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ui {

// Splits a page's HTML into the tokens of its markup, as a browser's
// tokenizer reads them: start tags with their attributes, end tags and the
// text between. Comments, doctypes and processing instructions are passed
// over; the text of elements whose content is not markup (script, style,
// title, textarea, xmp, iframe, noembed, noframes, plaintext) comes as one
// text token. Character references are left as written.
//
// One pass over the input, bounded work per byte; a token's text is a view
// into the input. Tag and attribute names are in ASCII lower case and made
// of letters, digits and "-_.:" only (a tag with another name is passed
// over, an attribute with one left out); an element keeps at most
// kMaxAttributes attributes (the first of each name), each value at most
// kMaxValueBytes long. (Not gumbo's: a page is bounded before gumbo sees it,
// see WebPageBounds.)
class WebHtmlTokenizer {
public:
    enum class Kind { StartTag, EndTag, Text, End };
    struct Attribute {
        std::string name;
        std::string value;
    };
    struct Token {
        Kind kind = Kind::End;
        std::string name;
        std::vector<Attribute> attributes;
        bool selfClosing = false;
        std::string_view text;
        // The value of an attribute, nullptr when the tag has none of that name.
        const std::string* attribute(std::string_view name) const;
    };

    static constexpr size_t kMaxAttributes = 64;
    static constexpr size_t kMaxNameBytes = 64;
    static constexpr size_t kMaxValueBytes = 8192;

    explicit WebHtmlTokenizer(std::string_view html) : in_(html) {}

    // The next token (Kind::End at the end of the input, and from then on).
    // The token lives until the next call.
    const Token& next();
    // How far the input has been read.
    size_t position() const { return pos_; }
    // HTML's white space, which ends names and separates attributes (and words).
    static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }

private:
    bool readTag(bool end);
    void skipPast(char c);
    void skipComment();
    size_t rawTextEnd() const;

    std::string_view in_;
    size_t pos_ = 0;
    Token token_;
    // The element whose content is text up to its end tag ("" when none).
    std::string rawTextOf_;
    bool plaintext_ = false;
};

}  // namespace ui
