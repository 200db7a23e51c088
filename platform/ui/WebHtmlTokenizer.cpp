#include "platform/ui/WebHtmlTokenizer.h"

#include <algorithm>

namespace ui {

namespace {

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
char lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

// Names we hand on: letters, digits and a few marks, not too long.
bool plainName(const std::string& name) {
    if (name.empty() || name.size() > WebHtmlTokenizer::kMaxNameBytes) return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' || c == ':';
    });
}

// Elements whose content the tokenizer reads as text up to their end tag.
bool textContent(const std::string& name) {
    return name == "script" || name == "style" || name == "title" || name == "textarea" || name == "xmp" ||
           name == "iframe" || name == "noembed" || name == "noframes";
}

}  // namespace

const std::string* WebHtmlTokenizer::Token::attribute(std::string_view n) const {
    for (const Attribute& a : attributes)
        if (a.name == n) return &a.value;
    return nullptr;
}

const WebHtmlTokenizer::Token& WebHtmlTokenizer::next() {
    token_.kind = Kind::End;
    token_.name.clear();
    token_.attributes.clear();
    token_.selfClosing = false;
    token_.text = {};
    const size_t size = in_.size();
    if (pos_ >= size) return token_;
    if (plaintext_) {
        token_.kind = Kind::Text;
        token_.text = in_.substr(pos_);
        pos_ = size;
        return token_;
    }
    if (!rawTextOf_.empty()) {
        const size_t end = rawTextEnd();
        if (end > pos_) {
            token_.kind = Kind::Text;
            token_.text = in_.substr(pos_, end - pos_);
            pos_ = end;
            return token_;
        }
        rawTextOf_.clear();
    }
    while (pos_ < size) {
        // Text runs to the next '<' that begins markup.
        size_t lt = pos_;
        for (;;) {
            lt = in_.find('<', lt);
            if (lt == std::string_view::npos || lt + 1 >= size) {
                lt = size;
                break;
            }
            const char c = in_[lt + 1];
            if (isLetter(c) || c == '/' || c == '!' || c == '?') break;
            ++lt;
        }
        if (lt > pos_) {
            token_.kind = Kind::Text;
            token_.text = in_.substr(pos_, lt - pos_);
            pos_ = lt;
            return token_;
        }
        const char c = in_[pos_ + 1];
        if (isLetter(c)) {
            if (readTag(false)) {
                if (textContent(token_.name)) rawTextOf_ = token_.name;
                if (token_.name == "plaintext") plaintext_ = true;
                return token_;
            }
        } else if (c == '/') {
            const char c2 = pos_ + 2 < size ? in_[pos_ + 2] : '\0';
            if (isLetter(c2)) {
                if (readTag(true)) return token_;
            } else if (c2 == '>') {
                pos_ += 3;
            } else {
                skipPast('>');
            }
        } else if (c == '!') {
            if (in_.compare(pos_, 4, "<!--") == 0)
                skipComment();
            else
                skipPast('>');
        } else {
            skipPast('>');
        }
        token_.kind = Kind::End;
        token_.name.clear();
        token_.attributes.clear();
        token_.selfClosing = false;
    }
    return token_;
}

bool WebHtmlTokenizer::readTag(bool end) {
    const size_t size = in_.size();
    size_t p = pos_ + (end ? 2 : 1);
    std::string name;
    while (p < size && !isSpace(in_[p]) && in_[p] != '/' && in_[p] != '>') {
        if (name.size() <= kMaxNameBytes) name += lower(in_[p]);
        ++p;
    }
    const bool keep = plainName(name);
    bool selfClosing = false;
    std::vector<Attribute>& attrs = token_.attributes;
    attrs.clear();
    for (;;) {
        while (p < size && isSpace(in_[p])) ++p;
        if (p >= size) {
            pos_ = size;  // a tag the input ends in is no tag
            return false;
        }
        if (in_[p] == '>') {
            ++p;
            break;
        }
        if (in_[p] == '/') {
            ++p;
            selfClosing = p < size && in_[p] == '>';
            continue;
        }
        selfClosing = false;
        const size_t nameStart = p;
        ++p;  // the first character may be '='
        while (p < size && !isSpace(in_[p]) && in_[p] != '/' && in_[p] != '>' && in_[p] != '=') ++p;
        const size_t nameEnd = p;
        while (p < size && isSpace(in_[p])) ++p;
        std::string_view value;
        bool hasValue = false;
        if (p < size && in_[p] == '=') {
            ++p;
            while (p < size && isSpace(in_[p])) ++p;
            if (p >= size) continue;
            if (in_[p] == '"' || in_[p] == '\'') {
                const size_t close = in_.find(in_[p], p + 1);
                if (close == std::string_view::npos) {
                    pos_ = size;
                    return false;
                }
                value = in_.substr(p + 1, close - p - 1);
                p = close + 1;
            } else {
                const size_t start = p;
                while (p < size && !isSpace(in_[p]) && in_[p] != '>') ++p;
                value = in_.substr(start, p - start);
            }
            hasValue = true;
        }
        if (end || !keep || attrs.size() >= kMaxAttributes || value.size() > kMaxValueBytes ||
            nameEnd - nameStart > kMaxNameBytes)
            continue;
        std::string attrName;
        for (size_t i = nameStart; i < nameEnd; ++i) attrName += lower(in_[i]);
        if (!plainName(attrName)) continue;
        if (std::any_of(attrs.begin(), attrs.end(), [&](const Attribute& a) { return a.name == attrName; })) continue;
        attrs.push_back({std::move(attrName), hasValue ? std::string(value) : std::string()});
    }
    pos_ = p;
    if (!keep) {
        attrs.clear();
        return false;
    }
    token_.kind = end ? Kind::EndTag : Kind::StartTag;
    token_.name = std::move(name);
    token_.selfClosing = selfClosing && !end;
    if (end) attrs.clear();
    return true;
}

void WebHtmlTokenizer::skipPast(char c) {
    const size_t at = in_.find(c, pos_);
    pos_ = at == std::string_view::npos ? in_.size() : at + 1;
}

void WebHtmlTokenizer::skipComment() {
    const size_t size = in_.size();
    size_t p = pos_ + 4;
    // "<!-->" and "<!--->" end where they begin.
    if (p < size && in_[p] == '>') {
        pos_ = p + 1;
        return;
    }
    if (in_.compare(p, 2, "->") == 0) {
        pos_ = p + 2;
        return;
    }
    for (;;) {
        const size_t dashes = in_.find("--", p);
        if (dashes == std::string_view::npos) {
            pos_ = size;
            return;
        }
        if (dashes + 2 < size && in_[dashes + 2] == '>') {
            pos_ = dashes + 3;
            return;
        }
        if (in_.compare(dashes + 2, 2, "!>") == 0) {
            pos_ = dashes + 4;
            return;
        }
        p = dashes + 1;
    }
}

size_t WebHtmlTokenizer::rawTextEnd() const {
    const size_t size = in_.size();
    size_t p = pos_;
    for (;;) {
        const size_t lt = in_.find("</", p);
        if (lt == std::string_view::npos) return size;
        size_t q = lt + 2;
        size_t i = 0;
        while (i < rawTextOf_.size() && q < size && lower(in_[q]) == rawTextOf_[i]) {
            ++i;
            ++q;
        }
        if (i == rawTextOf_.size() && (q >= size || isSpace(in_[q]) || in_[q] == '/' || in_[q] == '>')) return lt;
        p = lt + 2;
    }
}

}  // namespace ui
