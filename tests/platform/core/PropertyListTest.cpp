#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/core/FileManager.h"
#include "platform/core/PropertyList.h"
#include "tests/support/TestHome.h"

using sys::PlistArray;
using sys::PlistDictionary;
using sys::PlistValue;
using sys::PropertyList;
using Format = sys::PropertyList::Format;

namespace {

std::string readAll(const std::string& path) { return sys::FileManager::contentsOfFile(path).value_or(""); }

void writeRaw(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Every kind of value, with the awkward ones: integers at both ends, an
// unsigned one above the signed range, dates before 1970 and after 2038.
PlistDictionary sampleDictionary(bool wholeSecondDates) {
    PlistDictionary inner;
    inner.set("empty array", PlistArray{});
    inner.set("empty dict", PlistDictionary{});
    inner.set("empty string", "");
    inner.set("empty data", sys::PlistData{});

    PlistDictionary d;
    d.set("string", "plain");
    d.set("unicode", "漫画 – café 😀");
    d.set("markup", "a<b & c>\"d\" ]]> 'e'");
    d.set("controls", "tab\there\nnew line");
    d.set("zero", 0);
    d.set("negative", -5);
    d.set("min", std::numeric_limits<std::int64_t>::min());
    d.set("max", std::numeric_limits<std::int64_t>::max());
    d.set("huge unsigned", std::numeric_limits<std::uint64_t>::max());
    d.set("real", 0.1);
    d.set("tiny", 1e-300);
    d.set("negative real", -2.5e10);
    d.set("true", true);
    d.set("false", false);
    d.set("data", PlistValue::data(std::string("\0\1\2\xff hello", 10)));
    d.set("date", sys::Date(1735657199.0 + (wholeSecondDates ? 0 : 0.25)));
    d.set("old date", sys::Date(-2208988800.0 + (wholeSecondDates ? 0 : 0.5)));  // 1900
    d.set("far date", sys::Date(4102444800.0));                                   // 2100
    d.set("just before 2001", sys::Date(sys::Date::kReferenceDateOffset - (wholeSecondDates ? 1 : 0.75)));
    d.set("nested", PlistArray{PlistValue(1), PlistValue("two"), PlistValue(inner),
                               PlistValue(PlistArray{PlistValue(PlistArray{PlistValue(3.0)})})});
    d.set("ключ", "unicode key");
    return d;
}

class PropertyListTest : public ::testing::Test {
protected:
    test::TempDir dir{"plist"};
};

}  // namespace

TEST_F(PropertyListTest, RoundTripKeepsEveryTypeInBothFormats) {
    for (Format format : {Format::Xml, Format::Binary}) {
        bool xml = format == Format::Xml;
        PlistDictionary original = sampleDictionary(xml);  // XML dates carry whole seconds
        std::string path = dir.file(xml ? "t.plist" : "t.bplist");
        ASSERT_TRUE(PropertyList::writeFile(PlistValue(original), path, format));

        Format seen = xml ? Format::Binary : Format::Xml;
        auto back = PropertyList::readFile(path, &seen);
        ASSERT_TRUE(back.has_value()) << (xml ? "xml" : "binary");
        EXPECT_EQ(seen, format);
        EXPECT_EQ(back->asDictionary(), original) << (xml ? "xml" : "binary");
        const PlistDictionary& d = back->asDictionary();
        EXPECT_TRUE(d.get("huge unsigned").isUnsignedInteger());
        EXPECT_FALSE(d.get("negative").isUnsignedInteger());
        EXPECT_TRUE(d.get("max").isInteger());
        EXPECT_TRUE(d.get("real").isReal());
        EXPECT_TRUE(d.get("true").isBool());
        EXPECT_TRUE(d.get("data").isData());
        EXPECT_TRUE(d.get("date").isDate());
    }
}

TEST_F(PropertyListTest, XmlOutputLooksLikeThePlatforms) {
    PlistDictionary d;
    d.set("b", 1);
    d.set("a", "x");
    d.set("c", true);
    auto xml = PropertyList::serialize(PlistValue(d));
    ASSERT_TRUE(xml.has_value());
    EXPECT_EQ(xml->rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                         "<plist version=\"1.0\">\n",
                         0),
              0u);
    auto a = xml->find("<key>a</key>");
    auto b = xml->find("<key>b</key>");
    auto c = xml->find("<key>c</key>");
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
    EXPECT_NE(xml->find("<true/>"), std::string::npos);

    auto date = PropertyList::serialize(PlistValue(PlistArray{PlistValue(sys::Date(1735657199))}));
    EXPECT_NE(date->find("<date>2024-12-31T14:59:59Z</date>"), std::string::npos);
}

TEST_F(PropertyListTest, ReadsHandWrittenXml) {
    std::string path = dir.file("hand.plist");
    writeRaw(path, R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<!-- a comment with <array> in it -->
<dict>
    <key>name</key>
    <string>Tom &amp; Jerry &lt;1&gt;</string>
    <key>count</key>
    <integer>-12</integer>
    <key>ratio</key>
    <real>0.5</real>
    <key>on</key>
    <true/>
    <key>off</key>
    <false/>
    <key>when</key>
    <date>2001-01-01T00:00:00Z</date>
    <key>bytes</key>
    <data>
    AAECAw==
    </data>
    <key>list</key>
    <array>
        <string>one</string>
        <integer>2</integer>
        <dict/>
    </array>
</dict>
</plist>
)");
    auto d = PropertyList::readDictionary(path);
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ(d->getString("name"), "Tom & Jerry <1>");
    EXPECT_EQ(d->getInteger("count"), -12);
    EXPECT_DOUBLE_EQ(d->getDouble("ratio"), 0.5);
    EXPECT_TRUE(d->getBool("on"));
    EXPECT_TRUE(d->get("off").isBool());
    EXPECT_EQ(d->getDate("when"), sys::Date(sys::Date::kReferenceDateOffset));
    EXPECT_EQ(d->getData("bytes"), (sys::PlistData{0, 1, 2, 3}));
    auto list = d->getArray("list");
    ASSERT_TRUE(list.has_value());
    ASSERT_EQ(list->size(), 3u);
    EXPECT_EQ((*list)[1].integerValue(), 2);
    EXPECT_TRUE((*list)[2].isDictionary());
}

TEST_F(PropertyListTest, ReadsPlistsMadeByPythonAndPythonReadsOurs) {
    if (!test::haveProgram("python3")) GTEST_SKIP() << "python3 not installed";
    std::string bin = dir.file("py.bplist");
    std::string xml = dir.file("py.plist");
    std::string script = dir.file("make.py");
    writeRaw(script, R"(import plistlib, datetime, sys
v = {'name': 'Akira', 'pages': 2182, 'neg': -3, 'big': 2**64 - 1, 'ratio': 0.75, 'done': True,
     'when': datetime.datetime(2024, 12, 31, 23, 59, 59, 500000), 'raw': b'\x00\x01\xfe',
     'list': [1, 'x', {'deep': [False]}]}
with open(sys.argv[1], 'wb') as f: plistlib.dump(v, f, fmt=plistlib.FMT_BINARY)
with open(sys.argv[2], 'wb') as f: plistlib.dump(v, f, fmt=plistlib.FMT_XML)
)");
    ASSERT_EQ(test::shell("python3 '" + script + "' '" + bin + "' '" + xml + "'"), 0);

    for (const std::string& path : {bin, xml}) {
        auto d = PropertyList::readDictionary(path);
        ASSERT_TRUE(d.has_value()) << path;
        EXPECT_EQ(d->getString("name"), "Akira");
        EXPECT_EQ(d->getInteger("pages"), 2182);
        EXPECT_EQ(d->getInteger("neg"), -3);
        EXPECT_EQ(d->get("big"), PlistValue(std::numeric_limits<std::uint64_t>::max()));
        EXPECT_TRUE(d->get("done").isBool());
        EXPECT_EQ(d->getData("raw"), (sys::PlistData{0, 1, 0xfe}));
        EXPECT_EQ(d->get("list").at(2).get("deep").at(0), PlistValue(false));
        // plistlib writes naive times as UTC; XML keeps whole seconds only.
        double expected = 1735689599.0 + (path == bin ? 0.5 : 0.0);
        EXPECT_DOUBLE_EQ(d->getDate("when")->timeIntervalSince1970(), expected) << path;
    }

    // And the other way: an independent reader must see what we meant.
    PlistDictionary ours;
    ours.set("big", std::numeric_limits<std::uint64_t>::max());
    ours.set("neg", -7);
    ours.set("when", sys::Date(1735689599.25));
    ours.set("text", "漫画");
    ours.set("raw", PlistValue::data(std::string("\0z", 2)));
    std::string check = dir.file("check.py");
    writeRaw(check, R"(import plistlib, datetime, sys
for p in sys.argv[1:]:
    with open(p, 'rb') as f: v = plistlib.load(f)
    assert v['big'] == 2**64 - 1, v
    assert v['neg'] == -7, v
    assert v['text'] == '漫画', v
    assert v['raw'] == b'\x00z', v
    assert v['when'].replace(microsecond=0) == datetime.datetime(2024, 12, 31, 23, 59, 59), v
)");
    std::string ourBin = dir.file("ours.bplist");
    std::string ourXml = dir.file("ours.plist");
    ASSERT_TRUE(PropertyList::writeFile(PlistValue(ours), ourBin, Format::Binary));
    ASSERT_TRUE(PropertyList::writeFile(PlistValue(ours), ourXml, Format::Xml));
    EXPECT_EQ(test::shell("python3 '" + check + "' '" + ourBin + "' '" + ourXml + "'"), 0);
}

TEST_F(PropertyListTest, BrokenOrMissingFilesAreAbsent) {
    EXPECT_FALSE(PropertyList::readFile(dir.file("missing.plist")).has_value());
    EXPECT_FALSE(PropertyList::readFile(dir.path()).has_value());  // a folder

    writeRaw(dir.file("empty"), "");
    EXPECT_FALSE(PropertyList::readFile(dir.file("empty")).has_value());
    writeRaw(dir.file("garbage"), "this is not a property list at all");
    EXPECT_FALSE(PropertyList::readFile(dir.file("garbage")).has_value());
    writeRaw(dir.file("unclosed"), "<plist><dict><key>a</key><string>x</dict>");
    EXPECT_FALSE(PropertyList::readFile(dir.file("unclosed")).has_value());

    // Every cut of a valid binary file, and a cut XML file.
    PlistDictionary d = sampleDictionary(false);
    auto bin = PropertyList::serialize(PlistValue(d), Format::Binary);
    ASSERT_TRUE(bin.has_value());
    for (std::size_t n = 0; n < bin->size(); ++n) EXPECT_FALSE(PropertyList::parse(bin->substr(0, n)).has_value()) << n;
    auto xml = PropertyList::serialize(PlistValue(d));
    EXPECT_FALSE(PropertyList::parse(xml->substr(0, xml->size() / 2)).has_value());
}

TEST_F(PropertyListTest, WrongTopLevelTypeIsAbsent) {
    std::string path = dir.file("array.plist");
    ASSERT_TRUE(PropertyList::writeFile(PlistValue(PlistArray{PlistValue(1), PlistValue(true)}), path));
    EXPECT_FALSE(PropertyList::readDictionary(path).has_value());
    auto array = PropertyList::readArray(path);
    ASSERT_TRUE(array.has_value());
    EXPECT_EQ(array->size(), 2u);

    std::string scalar = dir.file("scalar.plist");
    ASSERT_TRUE(PropertyList::writeFile(PlistValue("alone"), scalar));
    EXPECT_EQ(PropertyList::readFile(scalar)->asString(), "alone");
    EXPECT_FALSE(PropertyList::readArray(scalar).has_value());
}

TEST_F(PropertyListTest, HostileNestingIsRefusedWithoutCrashing) {
    // Far deeper than any real file, deep enough to overflow a recursive parser.
    const int depth = 200000;
    std::string xml = "<plist>";
    for (int i = 0; i < depth; ++i) xml += "<array>";
    for (int i = 0; i < depth; ++i) xml += "</array>";
    xml += "</plist>";
    EXPECT_FALSE(PropertyList::parse(xml).has_value());

    // Comments must not hide the nesting.
    std::string sneaky = "<plist>";
    for (int i = 0; i < depth; ++i) sneaky += "<array><!-- </array> -->";
    EXPECT_FALSE(PropertyList::parse(sneaky).has_value());

    // A modest depth is fine.
    std::string ok = "<plist>";
    for (int i = 0; i < 50; ++i) ok += "<array>";
    ok += "<string>x</string>";
    for (int i = 0; i < 50; ++i) ok += "</array>";
    ok += "</plist>";
    EXPECT_TRUE(PropertyList::parse(ok).has_value());
}

namespace {

// A binary property list of arrays: object i refers to the objects in refs[i].
std::string binaryArrays(const std::vector<std::vector<std::uint32_t>>& refs) {
    std::string out = "bplist00";
    std::vector<std::uint32_t> offsets;
    auto be = [&](std::uint64_t v, int bytes) {
        for (int i = bytes - 1; i >= 0; --i) out.push_back(char((v >> (8 * i)) & 0xff));
    };
    for (const auto& r : refs) {
        offsets.push_back(std::uint32_t(out.size()));
        if (r.size() < 15) {
            out.push_back(char(0xA0 | r.size()));
        } else {
            out.push_back(char(0xAF));
            out.push_back(char(0x12));
            be(r.size(), 4);
        }
        for (auto x : r) be(x, 4);
    }
    std::uint64_t table = out.size();
    for (auto o : offsets) be(o, 4);
    out.append(6, '\0');
    out.push_back(4);
    out.push_back(4);
    be(refs.size(), 8);
    be(0, 8);
    be(table, 8);
    return out;
}

}  // namespace

TEST_F(PropertyListTest, HostileBinaryShapesAreRefused) {
    // A chain far deeper than any real file.
    std::vector<std::vector<std::uint32_t>> chain(100000);
    for (std::uint32_t i = 0; i + 1 < chain.size(); ++i) chain[i] = {i + 1};
    EXPECT_FALSE(PropertyList::parse(binaryArrays(chain)).has_value());

    // A cycle.
    EXPECT_FALSE(PropertyList::parse(binaryArrays({{1}, {2}, {0}})).has_value());
    EXPECT_FALSE(PropertyList::parse(binaryArrays({{0}})).has_value());

    // Shared objects that would expand to 2^60 copies.
    std::vector<std::vector<std::uint32_t>> bomb(61);
    for (std::uint32_t i = 0; i + 1 < bomb.size(); ++i) bomb[i] = {i + 1, i + 1};
    EXPECT_FALSE(PropertyList::parse(binaryArrays(bomb)).has_value());

    // A key holding a NUL (the library would abort on it).
    std::string nulKey("bplist00"
                       "\xD1\x01\x02"   // object 0: dict, key 1, value 2
                       "\x52" "a\0"      // object 1: "a\0"
                       "\x51" "x"         // object 2: "x"
                       "\x08\x0B\x0E",  // offsets
                       19);
    nulKey.append(6, '\0');
    nulKey += std::string("\x01\x01\0\0\0\0\0\0\0\x03\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\x10", 26);
    EXPECT_FALSE(PropertyList::parse(nulKey).has_value());
    nulKey[13] = 'b';  // the same file with a plain key reads
    auto plain = PropertyList::parse(nulKey);
    ASSERT_TRUE(plain.has_value());
    EXPECT_EQ(plain->get(std::string("ab", 2)).asString(), "x");

    // A reference past the end.
    EXPECT_FALSE(PropertyList::parse(binaryArrays({{7}})).has_value());

    // The same builder makes files that do read.
    auto fine = PropertyList::parse(binaryArrays({{1, 2}, {}, {1}}));
    ASSERT_TRUE(fine.has_value());
    EXPECT_EQ(fine->asArray().size(), 2u);
    EXPECT_EQ(fine->at(1).asArray().size(), 1u);
}

TEST_F(PropertyListTest, RandomDamageNeverCrashes) {
    auto bin = PropertyList::serialize(PlistValue(sampleDictionary(false)), Format::Binary);
    auto xml = PropertyList::serialize(PlistValue(sampleDictionary(true)), Format::Xml);
    ASSERT_TRUE(bin && xml);
    std::mt19937 rng(12345);
    for (const std::string* source : {&*bin, &*xml}) {
        for (int round = 0; round < 1500; ++round) {
            std::string damaged = *source;
            int flips = 1 + int(rng() % 4);
            for (int k = 0; k < flips; ++k) damaged[rng() % damaged.size()] = char(rng() & 0xff);
            (void)PropertyList::parse(damaged);
        }
    }
    SUCCEED();
}

TEST_F(PropertyListTest, OversizedFilesAreNotRead) {
    std::string path = dir.file("big.plist");
    writeRaw(path, "<plist><string>x</string></plist>");
    ASSERT_EQ(::truncate(path.c_str(), off_t(PropertyList::kMaxFileSize + 1)), 0);
    EXPECT_FALSE(PropertyList::readFile(path).has_value());
}

TEST_F(PropertyListTest, UnwritableValuesFailAndKeepTheOldFile) {
    std::string path = dir.file("keep.plist");
    PlistDictionary good;
    good.set("k", "v");
    ASSERT_TRUE(PropertyList::writeFile(PlistValue(good), path));
    std::string before = readAll(path);

    std::error_code ec;
    PlistDictionary withNull;
    withNull.set("list", PlistArray{PlistValue(1), PlistValue()});
    EXPECT_FALSE(PropertyList::writeFile(PlistValue(withNull), path, Format::Xml, &ec));
    EXPECT_EQ(ec, std::errc::invalid_argument);

    PlistDictionary badText;
    badText.set("name", std::string("caf\xe9"));  // Latin-1, not UTF-8
    EXPECT_FALSE(PropertyList::writeFile(PlistValue(badText), path, Format::Binary, &ec));
    EXPECT_EQ(ec, std::errc::illegal_byte_sequence);

    // Dates too far off for the XML form are refused, not mangled.
    EXPECT_FALSE(PropertyList::serialize(PlistValue(sys::Date(1e300))).has_value());
    EXPECT_FALSE(PropertyList::serialize(PlistValue(sys::Date(NAN))).has_value());

    PlistDictionary badKey;
    badKey.set(std::string("k\0ey", 4), 1);
    EXPECT_FALSE(PropertyList::serialize(PlistValue(badKey)).has_value());

    EXPECT_EQ(readAll(path), before);
    // Nothing half-written is left beside it.
    EXPECT_EQ(sys::FileManager::contentsOfDirectory(dir.path())->size(), 1u);
}

TEST_F(PropertyListTest, AtomicWriteReplacesWholeAndKeepsMode) {
    std::string path = dir.file("state.plist");
    ASSERT_TRUE(PropertyList::writeFile(PlistValue(PlistArray{PlistValue(1)}), path));
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    ASSERT_TRUE(PropertyList::writeFile(PlistValue(PlistArray{PlistValue(2)}), path));
    EXPECT_EQ(PropertyList::readArray(path)->at(0).integerValue(), 2);
    struct stat st{};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(sys::FileManager::contentsOfDirectory(dir.path())->size(), 1u);

    std::error_code ec;
    EXPECT_FALSE(PropertyList::writeFile(PlistValue(1), dir.file("no/such/folder/x.plist"), Format::Xml, &ec));
    EXPECT_EQ(ec, std::errc::no_such_file_or_directory);
}
