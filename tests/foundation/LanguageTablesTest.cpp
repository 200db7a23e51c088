#include "foundation/LanguageTables.h"

#include "foundation/BookCommon.h"
#include "foundation/Settings.h"
#include "platform/core/FileManager.h"
#include "tests/support/TestHome.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <set>

namespace {

void writeFile(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

std::string utf16(const std::u16string& text, bool bigEndian, bool bom) {
    std::string out;
    auto put = [&](char16_t u) {
        char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        if (bigEndian) {
            out.push_back(hi);
            out.push_back(lo);
        } else {
            out.push_back(lo);
            out.push_back(hi);
        }
    };
    if (bom) put(0xFEFF);
    for (char16_t u : text) put(u);
    return out;
}

}  // namespace

TEST(LanguageTablesParse, EntriesCommentsAndEscapes) {
    auto r = LanguageTables::parse(
        "/* header comment\n spanning lines */\n"
        "\"Today\" = \"Today\";\n"
        "// line comment \"ignored\" = \"x\";\n"
        "\"quote\" = \"say \\\"hi\\\"\\n\\tdone \\\\ end\";\n"
        "\"unicode\" = \"\\U65E5\\u672c\";\n"
        "\"emoji\" = \"\\UD83D\\UDE00\";\n"
        "bare_key = bare.value;\n"
        "\"self\";\n"
        "\"Today\" = \"Later wins\";\n");
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.entries.at("Today"), "Later wins");
    EXPECT_EQ(r.entries.at("quote"), "say \"hi\"\n\tdone \\ end");
    EXPECT_EQ(r.entries.at("unicode"), "日本");
    EXPECT_EQ(r.entries.at("emoji"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(r.entries.at("bare_key"), "bare.value");
    EXPECT_EQ(r.entries.at("self"), "self");
    EXPECT_EQ(r.entries.count("line comment \"ignored\""), 0u);
    EXPECT_EQ(r.entries.size(), 6u);
    EXPECT_EQ(r.duplicateKeys, std::vector<std::string>{"Today"});
}

TEST(LanguageTablesParse, ByteOrderMarksAndUtf16) {
    std::u16string text = u"\"Days\" = \"%d 日\";\n\"k\" = \"v\";";
    for (bool big : {false, true}) {
        for (bool bom : {true, false}) {
            auto r = LanguageTables::parse(utf16(text, big, bom));
            EXPECT_EQ(r.error, "") << big << bom;
            EXPECT_EQ(r.entries["Days"], "%d 日") << big << bom;
            EXPECT_EQ(r.entries["k"], "v");
        }
    }
    auto r8 = LanguageTables::parse("\xEF\xBB\xBF\"a\" = \"\xC3\xA9\";");
    EXPECT_EQ(r8.error, "");
    EXPECT_EQ(r8.entries["a"], "é");
}

TEST(LanguageTablesParse, MalformedTextKeepsWhatCameBefore) {
    auto missingSemicolon = LanguageTables::parse("\"a\" = \"1\";\n\"b\" = \"2\"\n\"c\" = \"3\";");
    EXPECT_NE(missingSemicolon.error, "");
    EXPECT_EQ(missingSemicolon.entries.size(), 1u);
    EXPECT_EQ(missingSemicolon.entries["a"], "1");

    auto unterminated = LanguageTables::parse("\"a\" = \"1\";\n\"b\" = \"never closed;");
    EXPECT_NE(unterminated.error, "");
    EXPECT_EQ(unterminated.entries.size(), 1u);

    auto comment = LanguageTables::parse("\"a\" = \"1\"; /* open");
    EXPECT_NE(comment.error, "");
    EXPECT_EQ(comment.entries.size(), 1u);

    EXPECT_EQ(LanguageTables::parse("").entries.size(), 0u);
    EXPECT_EQ(LanguageTables::parse("").error, "");
    // A lone trailing backslash must not read past the end.
    EXPECT_NE(LanguageTables::parse("\"a\" = \"\\").error, "");
}

class LanguageTablesDir : public ::testing::Test {
protected:
    void SetUp() override {
        writeFile(dir.file("en.lproj/Localizable.strings"), "\"Today\" = \"Today\";");
        writeFile(dir.file("ja.lproj/Localizable.strings"), "\"Today\" = \"今日\";");
        writeFile(dir.file("zh-Hant.lproj/Localizable.strings"), "\"Today\" = \"今天\";");
        std::filesystem::create_directories(dir.file("ko.lproj"));  // folder without a table
        LanguageTables::shared().reset(dir.path());
    }
    void TearDown() override { LanguageTables::shared().reset(); }
    test::TempDir dir{"lang"};
};

TEST_F(LanguageTablesDir, LookupAndAvailability) {
    auto& t = LanguageTables::shared();
    EXPECT_EQ(t.lookup("ja", "Today").value_or(""), "今日");
    EXPECT_FALSE(t.lookup("ja", "Missing").has_value());
    EXPECT_FALSE(t.lookup("fr", "Today").has_value());
    EXPECT_TRUE(t.hasLanguage("ko"));
    EXPECT_FALSE(t.lookup("ko", "Today").has_value());
    EXPECT_FALSE(t.hasLanguage("../en"));
    EXPECT_FALSE(t.hasLanguage(""));
    EXPECT_EQ(t.availableLanguages(), (std::vector<std::string>{"en", "ja", "ko", "zh-Hant"}));
}

TEST_F(LanguageTablesDir, BestLanguageForPreferredList) {
    auto& t = LanguageTables::shared();
    EXPECT_EQ(t.bestLanguage({"ja-JP"}), "ja");
    EXPECT_EQ(t.bestLanguage({"zh-Hant-TW"}), "zh-Hant");
    EXPECT_EQ(t.bestLanguage({"zh-TW"}), "zh-Hant");
    EXPECT_EQ(t.bestLanguage({"zh_HK"}), "zh-Hant");
    EXPECT_EQ(t.bestLanguage({"zh-CN"}), "en");  // no simplified table here
    EXPECT_EQ(t.bestLanguage({"fr-FR", "ja"}), "ja");
    EXPECT_EQ(t.bestLanguage({"fr-FR"}), "en");
    EXPECT_EQ(t.bestLanguage({}), "en");
}

// ---- The tables we ship ------------------------------------------------------------------

namespace {

const std::vector<std::string> kShippedLanguages{"en", "ja", "ko", "zh-Hans", "zh-Hant"};

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

// A C++ string literal's text (the escapes the sources use).
std::string literalText(const std::string& body) {
    std::string out;
    for (size_t i = 0; i < body.size(); ++i) {
        if (body[i] != '\\' || i + 1 == body.size()) {
            out += body[i];
            continue;
        }
        const char c = body[++i];
        out += c == 'n' ? '\n' : c == 't' ? '\t' : c;
    }
    return out;
}

// The texts the code looks up, found by the calls that look them up: the
// lookup itself and the short wrappers files give it (tr, text). Every
// literal at the argument's own level counts, so a choice between two texts
// gives both.
std::set<std::string> textsLookedUpInCode() {
    std::set<std::string> used;
    const std::regex call("(?:localizedStringWithOnOff|\\btr|\\btext)\\(");
    const std::string source = ::test::sourceDir();
    for (const char* folder : {"/foundation", "/engine", "/viewer", "/library", "/remote", "/screens", "/app", "/cloud",
                               "/smb", "/servers"}) {
        if (!std::filesystem::exists(source + folder)) continue;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(source + folder)) {
            if (entry.path().extension() != ".cpp") continue;
            const std::string text = sys::FileManager::contentsOfFile(entry.path().string()).value_or("");
            for (std::sregex_iterator it(text.begin(), text.end(), call), end; it != end; ++it) {
                int depth = 1;
                for (size_t i = size_t(it->position() + it->length()); i < text.size() && depth > 0; ++i) {
                    const char c = text[i];
                    if (c == '(') ++depth;
                    else if (c == ')') --depth;
                    else if (c == ';' || c == '{') break;
                    else if (c == '\'' && i + 2 < text.size()) i += text[i + 1] == '\\' ? 3 : 2;
                    else if (c == '"') {
                        size_t close = i + 1;
                        while (close < text.size() && text[close] != '"') close += text[close] == '\\' ? 2 : 1;
                        if (depth == 1) used.insert(literalText(text.substr(i + 1, close - i - 1)));
                        i = close;
                    }
                }
            }
        }
    }
    return used;
}

}  // namespace

TEST(ShippedTables, EveryTableHoldsEachEnglishKeyOnceAndNoOther) {
    LanguageTables::shared().reset();
    EXPECT_EQ(LanguageTables::shared().availableLanguages(), kShippedLanguages);
    const std::string root = LanguageTables::shared().languagesDirectory();
    std::map<std::string, LanguageTables::Table> tables;
    for (const auto& code : kShippedLanguages) {
        auto bytes = sys::FileManager::contentsOfFile(root + "/" + code + ".lproj/Localizable.strings");
        ASSERT_TRUE(bytes) << code;
        auto parsed = LanguageTables::parse(*bytes);
        EXPECT_EQ(parsed.error, "") << code;
        EXPECT_EQ(parsed.duplicateKeys, std::vector<std::string>{}) << code << " gives a key twice";
        tables[code] = parsed.entries;
    }
    const auto& en = tables["en"];
    EXPECT_GT(en.size(), 200u);
    for (const auto& [code, table] : tables) {
        for (const auto& [key, value] : table) {
            EXPECT_TRUE(en.count(key)) << code << " has a key English lacks: " << key;
            // A format's placeholders must survive the translation.
            for (const char* placeholder : {"%d", "%@"})
                EXPECT_EQ(count(value, placeholder), count(key, placeholder)) << code << ": " << key;
            EXPECT_FALSE(value.empty()) << code << ": " << key;
        }
        for (const auto& [key, value] : en) EXPECT_TRUE(table.count(key)) << code << " lacks: " << key;
        EXPECT_EQ(table.count("_LOCALIZE") ? table.at("_LOCALIZE") : "", "_YES") << code;
    }
    // The language markers say yes in their own tables only (both Chinese
    // tables are Chinese).
    const std::map<std::string, std::set<std::string>> marker{{"_INJAPANESE", {"ja"}},
                                                              {"_INKOREAN", {"ko"}},
                                                              {"_INCHINESE", {"zh-Hans", "zh-Hant"}},
                                                              {"_INCHINESE_TRADITINAL", {"zh-Hant"}}};
    for (const auto& [code, table] : tables) {
        for (const auto& [key, yes] : marker)
            EXPECT_EQ(table.at(key), yes.count(code) ? "_YES" : "_NO") << code << " " << key;
    }
    // What other platforms' services were called, said as they are here.
    for (const auto& [code, table] : tables) {
        for (const auto& [key, value] : table) {
            for (const char* absent : {"iTunes", "Camera Roll", "Safari", "iCloud", "App Store"})
                EXPECT_EQ(value.find(absent), std::string::npos) << code << ": " << key;
        }
    }
}

TEST(ShippedTables, EveryTableHasEveryTextTheCodeLooksUp) {
    LanguageTables::shared().reset();
    std::set<std::string> used = textsLookedUpInCode();
    EXPECT_GT(used.size(), 100u);
    // The argument's own literals, not those of calls inside it.
    EXPECT_TRUE(used.count("Turn On Page Scroll Lock") && used.count("Turn Off Page Scroll Lock"));
    // Texts that reach the lookup through tables rather than literal calls.
    BookCommon::localizedSet(1);
    std::vector<std::string> functions;
    Settings::addFunctionNameToMutableArray(functions);
    BookCommon::localizedSet(0);
    for (auto& title : functions) used.insert(std::regex_replace(title, std::regex("\\(\\d+%\\)$"), ""));
    for (const auto& key : Settings::getImageFilterTitleArray(false)) used.insert(key);
    for (const auto& key : Settings::getImageFilterTitleArrayPseudoColor(false)) used.insert(key);
    for (const auto& code : kShippedLanguages) {
        for (const auto& key : used)
            EXPECT_TRUE(LanguageTables::shared().lookup(code, key).has_value()) << code << " lacks: " << key;
    }
}
