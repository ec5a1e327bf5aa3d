// The lexical layer of the parameter file: items, comments, group headers and key values.
#include "config/par_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/cp1250.h"
#include "config/defaults.h"
#include "host/records.h"
#include "support/temp_dir.h"

using namespace zk;

namespace {

class Reader : public ::testing::Test {
protected:
    void SetUp() override {
        ResetContext(instance);
        ctx.Log.LogFileName.assign(dir.file("reader.log"));  // a "$DIAGS" logs here
    }
    // Every item of the text, in order, up to the end of the file.
    std::vector<std::string> Items(std::string_view text) {
        ParReader r(text);
        std::vector<std::string> out;
        for (int guard = 0; guard < 1000; ++guard) {
            NextItem(ctx, r);
            if (r.Item.empty()) break;
            out.push_back(r.RawItem.str());
        }
        return out;
    }
    zktest::TempDir dir;
    DriverContext instance;
    ConfigContext ctx = ConfigOf(instance, nullptr);
};

using Strings = std::vector<std::string>;

TEST_F(Reader, ItemsAreSeparatedByAnyRunOfTheFourSeparators) {
    EXPECT_EQ(Items("A B\r\nC\tD\nE\r\r  F"), (Strings{"A", "B", "C", "D", "E", "F"}));
    EXPECT_EQ(Items("  \r\n\t "), Strings{});
    EXPECT_EQ(Items(""), Strings{});
    // Other control characters and code-page letters are part of an item.
    EXPECT_EQ(Items("a\x0b" "b \x8a\xe1"), (Strings{"a\x0b" "b", "\x8a\xe1"}));
}

TEST_F(Reader, CtrlZEndsTheFile) {
    EXPECT_EQ(Items("A B\x1A C D"), (Strings{"A", "B"}));
    EXPECT_EQ(Items("A{\x1A}"), (Strings{"A{"}));
}

TEST_F(Reader, ItemsAreUpperCasedAndCutTo80WhileTheRawItemKeeps255) {
    const std::string longToken = std::string(300, 'x');
    const std::string text = "ab\xe1z " + longToken + " next";
    ParReader r(text);
    NextItem(ctx, r);
    EXPECT_EQ(r.Item.view(), "AB\xe1Z");  // only the ASCII letters change
    EXPECT_EQ(r.RawItem.view(), "ab\xe1z");
    NextItem(ctx, r);
    EXPECT_EQ(r.Item.view(), std::string(80, 'X'));
    EXPECT_EQ(r.RawItem.view(), std::string(255, 'x'));
    NextItem(ctx, r);
    EXPECT_EQ(r.RawItem.view(), "next");  // the dropped characters do not form an item
}

TEST_F(Reader, CommentsAreSkipped) {
    struct Case {
        const char* text;
        Strings items;
    };
    const Case cases[] = {
        {"A { several words\r\nover lines } B", {"A", "B"}},
        {"A {x} B", {"A", "B"}},
        {"A {one-item-comment} B", {"A", "B"}},
        {"A x} B", {"A", "B"}},            // an item ending in } is skipped also outside a comment
        {"A {open ... closes} B", {"A", "B"}},
        {"A { never closed B C", {"A"}},    // the end of the file inside a comment
        {"A {", {"A"}},
        {"{a}{b} C", {"C"}},
        {"A mid{dle B", {"A", "mid{dle", "B"}},  // only a leading { opens a comment
    };
    for (const Case& c : cases) EXPECT_EQ(Items(c.text), c.items) << c.text;
}

TEST_F(Reader, DiagsSwitchesTheLogOnEvenInsideAComment) {
    EXPECT_FALSE(ctx.Log.LogEnabled);
    EXPECT_EQ(Items("A $diags B"), (Strings{"A", "$diags", "B"}));
    EXPECT_FALSE(ctx.Log.LogEnabled);  // the word is case-sensitive
    EXPECT_EQ(Items("A { $DIAGS } B"), (Strings{"A", "B"}));
    EXPECT_TRUE(ctx.Log.LogEnabled);
    const std::string log = zktest::ReadFile(dir.file("reader.log"));
    EXPECT_NE(log.find("PARfile ITEM : B\r\n"), std::string::npos);
}

TEST_F(Reader, DiagsOutsideACommentIsAlsoAnItem) {
    EXPECT_EQ(Items("$DIAGS X"), (Strings{"$DIAGS", "X"}));
    EXPECT_TRUE(ctx.Log.LogEnabled);
}

TEST_F(Reader, GroupHeadersAreWholeItemsInAnyCase) {
    for (const char* text : {"x [com] y", "[Com]", "junk\r\n[COM]\r\n"}) {
        ParReader r(text);
        SetGroupPos(ctx, r, "[COM]");
        EXPECT_FALSE(r.GroupMissing) << text;
    }
    for (const char* text : {"[COM]x", "[ COM ]", "{ [COM] }", ""}) {
        ParReader r(text);
        SetGroupPos(ctx, r, "[COM]");
        EXPECT_TRUE(r.GroupMissing) << text;
        EXPECT_EQ(Cp1250ToUtf8(ctx.ErrorText), "Chybí definice skupiny [COM]");
    }
}

TEST_F(Reader, SetGroupPosClearsTheKeyFlags) {
    ParReader r("[A]");
    r.KeyLoaded.fill(true);
    SetGroupPos(ctx, r, "[A]");
    for (bool loaded : r.KeyLoaded) EXPECT_FALSE(loaded);
}

TEST(IntegerSyntax, DecimalAndTheFiveHexPrefixes) {
    struct Case {
        const char* text;
        std::optional<std::int32_t> value;
    };
    const Case cases[] = {
        {"31", 31},          {"0x1F", 31},        {"0X1f", 31},     {"$1F", 31},       {"x1F", 31},
        {"X1F", 31},         {"+5", 5},           {"-1", -1},       {"007", 7},        {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},               {"$7FFFFFFF", 2147483647},
        {"2147483648", std::nullopt},             {"$80000000", std::nullopt},
        {"1.5", std::nullopt}, {"", std::nullopt}, {"$", std::nullopt}, {"0x", std::nullopt}, {"+", std::nullopt},
        {"-$10", std::nullopt}, {"1a", std::nullopt}, {"$1G", std::nullopt}, {"--1", std::nullopt},
        {" 1", std::nullopt}, {"99999999999999999999", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseInteger(c.text), c.value) << c.text;
}

TEST(RealSyntax, DecimalRealsOnly) {
    struct Case {
        const char* text;
        std::optional<double> value;
    };
    const Case cases[] = {
        {"2.5", 2.5},   {"-2.5E-1", -0.25}, {"+4", 4.0},     {".5", 0.5},    {"5.", 5.0},   {"1e3", 1000.0},
        {"60", 60.0},   {"12345.678901", 12345.678901},
        {"1,5", std::nullopt}, {"1e", std::nullopt}, {"e3", std::nullopt}, {".", std::nullopt},
        {"inf", std::nullopt}, {"nan", std::nullopt}, {"1e400", std::nullopt}, {"0x10", std::nullopt},
        {"", std::nullopt}, {"1 000", std::nullopt}, {"-", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseReal(c.text), c.value) << c.text;
}

// Loads the first item of the text with the given operation.
class Values : public Reader {
protected:
    ParReader& At(std::string_view text) {
        held = std::string(text);
        reader = std::make_unique<ParReader>(held);
        NextItem(ctx, *reader);
        return *reader;
    }
    std::string held;
    std::unique_ptr<ParReader> reader;
};

TEST_F(Values, WordsKeepTheLow16BitsAndKeepTheirValueOnFailure) {
    struct Case {
        const char* item;
        bool loaded;
        std::uint16_t value;
    };
    const Case cases[] = {{"0x1F", true, 31}, {"$1F", true, 31}, {"31", true, 31}, {"65536", true, 0},
                          {"70000", true, 4464}, {"-1", true, 65535}, {"1.5", false, 777}, {"FROM_GLOBAL", false, 777}};
    for (const Case& c : cases) {
        ParReader& r = At(c.item);
        std::uint16_t target = 777;
        EXPECT_EQ(LoadWord(ctx, r, 3, target), c.loaded) << c.item;
        EXPECT_EQ(r.KeyLoaded[3], c.loaded) << c.item;
        EXPECT_EQ(target, c.value) << c.item;
    }
}

TEST_F(Values, FromGlobalTakesTheGlobalDefaultOnceItIsSet) {
    ctx.Global.DEF_ANALOG_IN_ADDR = 256;
    std::uint16_t target = 0;
    EXPECT_TRUE(LoadWord(ctx, At("from_global"), 1, target));
    EXPECT_EQ(target, 256);
    std::int32_t longTarget = 5;
    EXPECT_FALSE(LoadLongWord(At("FROM_GLOBAL"), 1, longTarget));  // no FROM_GLOBAL for long words
    EXPECT_EQ(longTarget, 5);
}

TEST_F(Values, LongWordsBytesAndReals) {
    std::int32_t longWord = 0;
    EXPECT_TRUE(LoadLongWord(At("70000"), 1, longWord));
    EXPECT_EQ(longWord, 4464);
    EXPECT_TRUE(LoadLongWord(At("-1"), 1, longWord));
    EXPECT_EQ(longWord, 65535);

    std::uint8_t byte = 9;
    EXPECT_TRUE(LoadByte(At("$1FF"), 1, byte));
    EXPECT_EQ(byte, 255);
    EXPECT_TRUE(LoadByte(At("-1"), 1, byte));
    EXPECT_EQ(byte, 255);
    EXPECT_FALSE(LoadByte(At("abc"), 2, byte));
    EXPECT_EQ(byte, 0);  // a byte that does not parse becomes 0

    double real = 1.0;
    EXPECT_TRUE(LoadReal(At("2.5"), 1, real));
    EXPECT_EQ(real, 2.5);
    ParReader& r = At("2,5");
    EXPECT_FALSE(LoadReal(r, 4, real));
    EXPECT_FALSE(r.KeyLoaded[4]);
    EXPECT_EQ(real, -999999.9);  // a real that does not parse
}

TEST_F(Values, Switches) {
    bool value = false;
    EXPECT_TRUE(LoadSwitch(ctx, At("on"), 1, value));
    EXPECT_TRUE(value);
    EXPECT_TRUE(LoadSwitch(ctx, At("OFF"), 1, value));
    EXPECT_FALSE(value);
    value = true;
    ParReader& r = At("YES");
    EXPECT_FALSE(LoadSwitch(ctx, r, 2, value));
    EXPECT_TRUE(value);
    EXPECT_FALSE(r.KeyLoaded[2]);
}

TEST_F(Values, StringsAreBuiltFromQuotedPartsAndCharacterCodes) {
    struct Case {
        std::string text;  // value item, rest of its line, and what follows
        std::optional<std::string> value;
        const char* next;  // the item after the string
    };
    const Case cases[] = {
        {"\"AT&F\"$0D$0A\r\nNEXT", "AT&F\r\n", "NEXT"},
        {"NONE NEXT", "", "NEXT"},  // NONE takes nothing more
        {"none NEXT", "", "NEXT"},
        {"\"ABC\r\nNEXT", "ABC", "NEXT"},        // the closing quote may be missing
        {"$0\r\nNEXT", std::nullopt, "NEXT"},   // too short a code
        {"\"A\"$0\r\nNEXT", std::nullopt, "NEXT"},
        {"$GG\r\nNEXT", std::nullopt, "NEXT"},
        {"\"AB CD\"\r\nNEXT", "ABCD", "NEXT"},   // the separator after the value item is lost
        {"\"AB  CD\"\r\nNEXT", "AB CD", "NEXT"},
        {"\"AB\"$20\"CD\"\r\nNEXT", "AB CD", "NEXT"},
        {"\"atz\" \"atz\"\r\nNEXT", "ATZatz", "NEXT"},  // the value item arrives upper-cased
        {"\"A\" KEY 1 \"b\"\r\nNEXT", "Ab", "NEXT"},  // keys on the same line are swallowed
        {"\"A\"\r\n\"B\" NEXT", "A", "\"B\""},        // a value item that ends its line takes nothing more
        {"\"A\" \"b\"\nNEXT", "Ab", "NEXT"},           // LF-only lines
        {"\"A\"\t\"b\"\rNEXT", "Ab", "NEXT"},
        {"\"A\"", "A", ""},
        {"\"A\" \"b", "Ab", ""},
        {"\"$41\"$41\r\nNEXT", "$41A", "NEXT"},  // codes inside quotes are literal
    };
    for (const Case& c : cases) {
        ParReader& r = At(c.text);
        Str255 target("old");
        EXPECT_EQ(LoadString(ctx, r, 5, target), c.value.has_value()) << c.text;
        EXPECT_EQ(r.KeyLoaded[5], c.value.has_value()) << c.text;
        EXPECT_EQ(target.view(), c.value.value_or("old")) << c.text;
        NextItem(ctx, r);
        EXPECT_EQ(r.RawItem.view(), c.next) << c.text;
    }
}

TEST_F(Values, StringsAreCutToTheirTargetAndLongLinesTo255) {
    const std::string rest = "\"" + std::string(400, 'q') + "\"";
    ParReader& r = At("\"\" " + rest + "\r\nNEXT");
    Str255 big;
    ASSERT_TRUE(LoadString(ctx, r, 1, big));
    EXPECT_EQ(big.size(), 252u);  // the value item and the line's 255 characters, joined and cut to 255
    NextItem(ctx, r);
    EXPECT_EQ(r.RawItem.view(), "NEXT");  // the rest of the long line is skipped

    ShortStr<80> name;
    ASSERT_TRUE(LoadString(ctx, At("\"" + std::string(100, 'N') + "\""), 1, name));
    EXPECT_EQ(name.view(), std::string(79, 'N'));  // the value item holds 80 characters with its quote
}

}  // namespace
