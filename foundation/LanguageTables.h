#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// The language tables of the program: resources/lang/<code>.lproj/Localizable.strings,
// one per interface language, in the "key" = "value"; format. Tables are read on
// first use and kept; look-ups may come from any thread.
class LanguageTables {
public:
    using Table = std::map<std::string, std::string>;

    struct ParseResult {
        Table entries;      // every entry read before an error
        std::string error;  // "" when the whole text was read
        // Keys given again after their first entry, once per repeat.
        std::vector<std::string> duplicateKeys;
    };

    // Reads the text of a strings file: UTF-8 (with or without a byte-order
    // mark) or UTF-16 of either byte order (with a mark, or recognised by its
    // zero bytes); comments of both kinds; quoted strings with backslash
    // escapes (\n \t \r \" \\ \uXXXX \UXXXX, octal); bare words as keys or
    // values; "key"; alone means the key is its own text; a later entry wins.
    static ParseResult parse(const std::string& bytes);

    static LanguageTables& shared();

    // Folder of the language folders; tests point it elsewhere with reset().
    std::string languagesDirectory() const;
    // Forgets every table read and, when `directory` is given, reads from there.
    void reset(const std::optional<std::string>& directory = std::nullopt);

    // True when the <code>.lproj folder exists.
    bool hasLanguage(const std::string& code) const;
    // Codes of the language folders present, sorted.
    std::vector<std::string> availableLanguages() const;
    // The text of `key` in the table of `code`; nothing when the table or the key is absent.
    std::optional<std::string> lookup(const std::string& code, const std::string& key);

    // The language folder that best serves the given preferred languages
    // ("zh-Hant-TW", "ko-KR", "en"...): the first one with a folder of its
    // own, its script form ("zh-Hant") or its base language ("ko"); "en"
    // when none has one.
    std::string bestLanguage(const std::vector<std::string>& preferred) const;

private:
    LanguageTables() = default;
    std::shared_ptr<const Table> tableFor(const std::string& code);
    std::string searchBestLanguage(const std::vector<std::string>& preferred) const;

    mutable std::mutex mutex_;
    std::optional<std::string> directoryOverride_;
    std::map<std::string, std::shared_ptr<const Table>> tables_;
    // Look-ups are frequent and the folders do not change while we run:
    // what was learnt of them is kept until reset().
    mutable std::map<std::string, bool> present_;
    mutable std::map<std::string, std::string> best_;
};
