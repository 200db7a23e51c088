#include "foundation/LanguageTables.h"

#include "foundation/ResourceLocator.h"
#include "platform/core/Unicode.h"

#include <algorithm>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace {

// Language tables are small; a file above this is not one of ours.
constexpr size_t kMaxTableBytes = 16u * 1024u * 1024u;

std::string utf16ToUtf8(const std::string& bytes, size_t start, bool bigEndian) {
    std::string out;
    out.reserve(bytes.size() / 2);
    auto unit = [&](size_t i) -> uint32_t {
        auto b0 = static_cast<unsigned char>(bytes[i]);
        auto b1 = static_cast<unsigned char>(bytes[i + 1]);
        return bigEndian ? (b0 << 8 | b1) : (b1 << 8 | b0);
    };
    size_t i = start;
    while (i + 1 < bytes.size()) {
        uint32_t u = unit(i);
        i += 2;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < bytes.size()) {
            uint32_t low = unit(i);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                i += 2;
                sys::Unicode::appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                continue;
            }
        }
        sys::Unicode::appendUtf8(out, u);
    }
    return out;
}

// The whole text as UTF-8.
std::string decodeText(const std::string& bytes) {
    auto at = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (bytes.size() >= 2 && at(0) == 0xFF && at(1) == 0xFE) return utf16ToUtf8(bytes, 2, false);
    if (bytes.size() >= 2 && at(0) == 0xFE && at(1) == 0xFF) return utf16ToUtf8(bytes, 2, true);
    if (bytes.size() >= 3 && at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF) return bytes.substr(3);
    // UTF-16 without a mark: the first character of a strings file is ASCII
    // (a quote, a comment or white space), so one of its two bytes is zero.
    if (bytes.size() >= 2 && bytes.size() % 2 == 0) {
        if (at(0) != 0 && at(1) == 0) return utf16ToUtf8(bytes, 0, false);
        if (at(0) == 0 && at(1) != 0) return utf16ToUtf8(bytes, 0, true);
    }
    return bytes;
}

bool isBareChar(char c) {
    auto u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || c == '_' ||
           c == '$' || c == '+' || c == '/' || c == ':' || c == '.' || c == '-' || u >= 0x80;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

class Reader {
public:
    explicit Reader(const std::string& text) : s_(text) {}

    // Skips white space and comments; false on an unterminated block comment.
    bool skip() {
        while (p_ < s_.size()) {
            char c = s_[p_];
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') {
                if (c == '\n') ++line_;
                ++p_;
            } else if (c == '/' && p_ + 1 < s_.size() && s_[p_ + 1] == '*') {
                auto end = s_.find("*/", p_ + 2);
                if (end == std::string::npos) return fail("unterminated comment");
                line_ += static_cast<int>(std::count(s_.begin() + p_, s_.begin() + end, '\n'));
                p_ = end + 2;
            } else if (c == '/' && p_ + 1 < s_.size() && s_[p_ + 1] == '/') {
                while (p_ < s_.size() && s_[p_] != '\n') ++p_;
            } else {
                break;
            }
        }
        return true;
    }

    bool atEnd() const { return p_ >= s_.size(); }
    char peek() const { return s_[p_]; }
    void advance() { ++p_; }

    bool string(std::string& out) {
        out.clear();
        if (atEnd()) return fail("text expected");
        if (s_[p_] == '"') return quoted(out);
        while (p_ < s_.size() && isBareChar(s_[p_])) out.push_back(s_[p_++]);
        if (out.empty()) return fail(std::string("unexpected '") + s_[p_] + "'");
        return true;
    }

    bool fail(const std::string& what) {
        error_ = "line " + std::to_string(line_) + ": " + what;
        return false;
    }
    const std::string& error() const { return error_; }

private:
    bool quoted(std::string& out) {
        ++p_;  // opening quote
        while (p_ < s_.size()) {
            char c = s_[p_++];
            if (c == '"') return true;
            if (c == '\n') ++line_;
            if (c != '\\') {
                out.push_back(c);
                continue;
            }
            if (p_ >= s_.size()) break;
            char e = s_[p_++];
            switch (e) {
            case 'n': out.push_back('\n'); break;
            case 't': out.push_back('\t'); break;
            case 'r': out.push_back('\r'); break;
            case 'a': out.push_back('\a'); break;
            case 'b': out.push_back('\b'); break;
            case 'f': out.push_back('\f'); break;
            case 'v': out.push_back('\v'); break;
            case 'u':
            case 'U': {
                uint32_t cp = 0;
                int n = 0;
                while (n < 4 && p_ < s_.size() && hexDigit(s_[p_]) >= 0) {
                    cp = cp * 16 + static_cast<uint32_t>(hexDigit(s_[p_++]));
                    ++n;
                }
                if (n == 0) return fail("\\U without digits");
                // A surrogate pair spelled as two escapes.
                if (cp >= 0xD800 && cp <= 0xDBFF && p_ + 1 < s_.size() && s_[p_] == '\\' &&
                    (s_[p_ + 1] == 'U' || s_[p_ + 1] == 'u')) {
                    uint32_t low = 0;
                    int m = 0;
                    size_t q = p_ + 2;
                    while (m < 4 && q < s_.size() && hexDigit(s_[q]) >= 0) {
                        low = low * 16 + static_cast<uint32_t>(hexDigit(s_[q++]));
                        ++m;
                    }
                    if (m == 4 && low >= 0xDC00 && low <= 0xDFFF) {
                        p_ = q;
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    }
                }
                sys::Unicode::appendUtf8(out, cp);
                break;
            }
            default:
                if (e >= '0' && e <= '7') {
                    uint32_t v = static_cast<uint32_t>(e - '0');
                    int n = 1;
                    while (n < 3 && p_ < s_.size() && s_[p_] >= '0' && s_[p_] <= '7') {
                        v = v * 8 + static_cast<uint32_t>(s_[p_++] - '0');
                        ++n;
                    }
                    sys::Unicode::appendUtf8(out, v);
                } else {
                    // \" \\ \' and any other character stand for themselves.
                    out.push_back(e);
                }
            }
        }
        return fail("unterminated string");
    }

    const std::string& s_;
    size_t p_ = 0;
    int line_ = 1;
    std::string error_;
};

bool isDirectory(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<std::string> readSmallFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    in.seekg(0, std::ios::end);
    auto size = in.tellg();
    if (size < 0 || static_cast<size_t>(size) > kMaxTableBytes) return std::nullopt;
    in.seekg(0);
    std::string data(static_cast<size_t>(size), '\0');
    if (size > 0 && !in.read(data.data(), size)) return std::nullopt;
    return data;
}

std::vector<std::string> splitTag(std::string tag) {
    std::replace(tag.begin(), tag.end(), '_', '-');
    std::vector<std::string> parts;
    std::string cur;
    for (char c : tag) {
        if (c == '-') {
            parts.push_back(cur);
            cur.clear();
        } else {
            cur.push_back(c);
        }
    }
    parts.push_back(cur);
    return parts;
}

}  // namespace

LanguageTables::ParseResult LanguageTables::parse(const std::string& bytes) {
    ParseResult result;
    std::string text = decodeText(bytes);
    Reader r(text);
    std::string key, value;
    while (true) {
        if (!r.skip()) break;
        if (r.atEnd()) break;
        if (!r.string(key)) break;
        if (!r.skip()) break;
        if (r.atEnd()) {
            r.fail("';' expected");
            break;
        }
        if (r.peek() == ';') {
            r.advance();
            if (result.entries.count(key)) result.duplicateKeys.push_back(key);
            result.entries[key] = key;
            continue;
        }
        if (r.peek() != '=') {
            r.fail("'=' expected");
            break;
        }
        r.advance();
        if (!r.skip()) break;
        if (!r.string(value)) break;
        if (!r.skip()) break;
        if (r.atEnd() || r.peek() != ';') {
            r.fail("';' expected");
            break;
        }
        r.advance();
        if (result.entries.count(key)) result.duplicateKeys.push_back(key);
        result.entries[key] = value;
    }
    result.error = r.error();
    return result;
}

LanguageTables& LanguageTables::shared() {
    static LanguageTables* tables = new LanguageTables();
    return *tables;
}

std::string LanguageTables::languagesDirectory() const {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (directoryOverride_) return *directoryOverride_;
    }
    std::string res = ResourceLocator::resourcesDirectory();
    return res.empty() ? std::string() : res + "/lang";
}

void LanguageTables::reset(const std::optional<std::string>& directory) {
    std::lock_guard<std::mutex> lock(mutex_);
    tables_.clear();
    present_.clear();
    best_.clear();
    directoryOverride_ = directory;
}

bool LanguageTables::hasLanguage(const std::string& code) const {
    if (code.empty() || code.find('/') != std::string::npos || code == "." || code == "..") return false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = present_.find(code);
        if (it != present_.end()) return it->second;
    }
    std::string dir = languagesDirectory();
    bool present = !dir.empty() && isDirectory(dir + "/" + code + ".lproj");
    std::lock_guard<std::mutex> lock(mutex_);
    present_[code] = present;
    return present;
}

std::vector<std::string> LanguageTables::availableLanguages() const {
    std::vector<std::string> codes;
    std::string dir = languagesDirectory();
    if (dir.empty()) return codes;
    DIR* d = ::opendir(dir.c_str());
    if (!d) return codes;
    const std::string ext = ".lproj";
    while (dirent* e = ::readdir(d)) {
        std::string name = e->d_name;
        if (name.size() > ext.size() && name.compare(name.size() - ext.size(), ext.size(), ext) == 0 &&
            isDirectory(dir + "/" + name)) {
            codes.push_back(name.substr(0, name.size() - ext.size()));
        }
    }
    ::closedir(d);
    std::sort(codes.begin(), codes.end());
    return codes;
}

std::shared_ptr<const LanguageTables::Table> LanguageTables::tableFor(const std::string& code) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = tables_.find(code);
        if (it != tables_.end()) return it->second;
    }
    std::shared_ptr<const Table> table;
    if (hasLanguage(code)) {
        auto bytes = readSmallFile(languagesDirectory() + "/" + code + ".lproj/Localizable.strings");
        table = std::make_shared<const Table>(bytes ? parse(*bytes).entries : Table{});
    }
    std::lock_guard<std::mutex> lock(mutex_);
    auto [it, inserted] = tables_.emplace(code, table);
    return it->second;
}

std::optional<std::string> LanguageTables::lookup(const std::string& code, const std::string& key) {
    auto table = tableFor(code);
    if (!table) return std::nullopt;
    auto it = table->find(key);
    if (it == table->end()) return std::nullopt;
    return it->second;
}

std::string LanguageTables::bestLanguage(const std::vector<std::string>& preferred) const {
    std::string memoKey;
    for (const auto& tag : preferred) memoKey += tag + '\n';
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = best_.find(memoKey);
        if (it != best_.end()) return it->second;
    }
    std::string best = searchBestLanguage(preferred);
    std::lock_guard<std::mutex> lock(mutex_);
    best_[memoKey] = best;
    return best;
}

std::string LanguageTables::searchBestLanguage(const std::vector<std::string>& preferred) const {
    for (const auto& tag : preferred) {
        auto parts = splitTag(tag);
        if (parts.empty() || parts[0].empty()) continue;
        std::string base = parts[0];
        std::transform(base.begin(), base.end(), base.begin(), [](unsigned char c) { return std::tolower(c); });
        std::vector<std::string> candidates;
        std::string whole = base;
        for (size_t i = 1; i < parts.size(); ++i) whole += "-" + parts[i];
        candidates.push_back(whole);
        if (parts.size() > 1) {
            const std::string& second = parts[1];
            if (second.size() == 4) {
                std::string script = second;
                script[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(script[0])));
                for (size_t i = 1; i < script.size(); ++i)
                    script[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(script[i])));
                candidates.push_back(base + "-" + script);
            } else if (base == "zh") {
                std::string region = second;
                std::transform(region.begin(), region.end(), region.begin(),
                               [](unsigned char c) { return std::toupper(c); });
                bool traditional = region == "TW" || region == "HK" || region == "MO";
                candidates.push_back(traditional ? "zh-Hant" : "zh-Hans");
            }
        } else if (base == "zh") {
            candidates.push_back("zh-Hans");
        }
        candidates.push_back(base);
        for (const auto& c : candidates) {
            if (hasLanguage(c)) return c;
        }
    }
    return "en";
}
