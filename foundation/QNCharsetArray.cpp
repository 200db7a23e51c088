#include "foundation/QNCharsetArray.h"

namespace {

// Titles keep their historic spelling ("Japanease"): settings screens and
// stored choices show them as they are.
struct Row {
    const char* name;
    const char* title;  // nullptr: the name itself
};

constexpr Row kRows[] = {
    {"shift_jis", "Japanease(ShiftJIS)"},
    {"gb18030", "Simplified Chinese(GB18030)"},
    {"big5", "Traditional Chinese(Big5)"},
    {"euc-kr", "Korean(EUC KR)"},
    {"euc-jp", "Japanease(EUC JP)"},
    {"x-mac-japanese", "Japanease(x-mac-japanese)"},
    {"iso-2022-jp", "Japanease(JIS)"},
    {"iso-2022-jp-2", "Japanease(JIS2)"},
    {"iso-2022-jp-1", "Japanease(JIS1)"},
    {"x-mac-korean", "Korean(x-mac-korean)"},
    {"iso-2022-kr", "Korean(iso-2022-kr)"},
    {"x-mac-simp-chinese", "Simplified Chinese(x-mac-simp-chinese)"},
    {"gb2312", "Simplified Chinese(GB2312)"},
    {"iso-2022-cn", "Simplified Chinese(iso-2022-cn)"},
    {"hz-gb-2312", "Simplified Chinese(hz-gb-2312)"},
    {"x-mac-trad-chinese", "Traditional Chinese(x-mac-trad-chinese)"},
    {"big5-hkscs", "Traditional Chinese(big5-hkscs)"},
    {"us-ascii", "English(US ASCII)"},
    {"x-mac-greek", "Greek(x-mac-greek)"},
    {"x-mac-croatian", "Croatian(x-mac-croatian)"},
    {"x-mac-icelandic", "Icelandic(x-mac-icelandic)"},
    {"x-mac-romanian", "Romanian(x-mac-romanian)"},
    {"x-mac-cyrillic", "Cyrillic(x-mac-cyrillic)"},
    {"koi8-r", "Cyrillic(koi8-r)"},
    {"koi8-u", "Cyrillic(koi8-u)"},
    {"x-mac-thai", "Thai(x-mac-thai)"},
    {"x-mac-turkish", "Turkish(x-mac-turkish)"},
    {"x-mac-ukrainian", "Ukrainian(x-mac-ukrainian)"},
    {"iso-8859-5", "Cyrillic(Latin/Cyrillic)"},
    {"iso-8859-6", "Arabic(Latin/Arabic)"},
    {"iso-8859-7", "Greek(Latin/Greek)"},
    {"iso-8859-8", "Hebrew(Latin/Hebrew)"},
    {"iso-8859-11", "Thai(Latin/Thai)"},
    {"iso-8859-1", "Latin Alphabet 1"},
    {"iso-8859-2", "Latin Alphabet 2"},
    {"iso-8859-3", "Latin Alphabet 3"},
    {"iso-8859-4", "Latin Alphabet 4"},
    {"iso-8859-9", "Latin Alphabet 5"},
    {"iso-8859-10", "Latin Alphabet 6"},
    {"iso-8859-13", "Latin Alphabet 7"},
    {"iso-8859-14", "Latin Alphabet 8"},
    {"iso-8859-15", "Latin Alphabet 9"},
    {"utf-8", nullptr},
    {"utf-16", nullptr},
    {"utf-7", nullptr},
    {"utf-32", nullptr},
    {"utf-16be", nullptr},
    {"utf-16le", nullptr},
    {"utf-32be", nullptr},
    {"utf-32le", nullptr},
    {"cp437", nullptr},
    {"cp737", nullptr},
    {"cp775", nullptr},
    {"cp850", nullptr},
    {"cp851", nullptr},
    {"cp852", nullptr},
    {"cp855", nullptr},
    {"cp857", nullptr},
    {"cp860", nullptr},
    {"cp861", nullptr},
    {"cp862", nullptr},
    {"cp863", nullptr},
    {"cp864", nullptr},
    {"cp865", nullptr},
    {"cp866", nullptr},
    {"cp869", nullptr},
    {"cp874", nullptr},
    {"cp932", nullptr},
    {"cp936", nullptr},
    {"cp949", nullptr},
    {"cp950", nullptr},
    {"windows-1252", nullptr},
    {"windows-1250", nullptr},
    {"windows-1251", nullptr},
    {"windows-1253", nullptr},
    {"windows-1254", nullptr},
    {"windows-1255", nullptr},
    {"windows-1256", nullptr},
    {"windows-1257", nullptr},
    {"windows-1258", nullptr},
    {"x-mac-roman-latin1", "Mac Roman"},
    {"x-nextstep", nullptr},
    {"ibm037", nullptr},
    {"macintosh", nullptr},
    {"x-mac-centraleurroman", nullptr},
    {"x-mac-symbol", nullptr},
    {"x-mac-dingbats", nullptr},
};

constexpr const char* kDefault = "Default";

}  // namespace

std::vector<std::string> QNCharsetArray::getCharsetArray() {
    std::vector<std::string> names{kDefault};
    for (const Row& r : kRows) names.emplace_back(r.name);
    return names;
}

std::vector<std::string> QNCharsetArray::getCharsetTitleArray() {
    std::vector<std::string> titles{kDefault};
    for (const Row& r : kRows) titles.emplace_back(r.title ? r.title : r.name);
    return titles;
}

std::optional<std::string> QNCharsetArray::getCharSetNameWithIANACharSetname(const std::string& name) {
    if (name == "macintosh") return std::string("西ヨーロッパ言語");
    if (name == "x-mac-japanese") return std::string("日本語(Mac)");
    if (name == "x-mac-trad-chinese") return std::string("繁体字中国語 (Mac)");
    return std::nullopt;
}
