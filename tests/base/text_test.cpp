// Short strings (the 255-character rule) and code page 1250 (the catalogue's conversion).
#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

#include "base/cp1250.h"
#include "base/shortstr.h"
#include "base/texts.h"

using namespace zk;

TEST(ShortStr, AssignAndAppendCutAtCapacity) {
    Str255 s(std::string(300, 'x'));
    EXPECT_EQ(s.size(), 255u);
    s.assign("abc");
    s += std::string(260, 'y');
    EXPECT_EQ(s.size(), 255u);
    EXPECT_EQ(s.view().substr(0, 4), "abcy");
    s += 'z';  // full: dropped
    EXPECT_EQ(s.view().back(), 'y');

    ShortStr<3> cell("ABCD");
    EXPECT_EQ(cell.view(), "ABC");
}

TEST(ShortStr, HoldsArbitraryBytesIncludingNul) {
    const std::string bytes("\x00\xFF\x0D\x00", 4);
    Str255 s(bytes);
    EXPECT_EQ(s.size(), 4u);
    EXPECT_EQ(s.byte(1), 0xFF);
    EXPECT_EQ(s.view(), bytes);
}

TEST(ShortStr, EraseFrontAndTruncate) {
    Str255 s("prefix-body");
    s.eraseFront(7);
    EXPECT_EQ(s.view(), "body");
    s.eraseFront(10);
    EXPECT_TRUE(s.empty());
    s.assign("abcdef");
    s.truncate(2);
    EXPECT_EQ(s.view(), "ab");
    s.truncate(10);
    EXPECT_EQ(s.view(), "ab");
}

TEST(ShortStr, AppendCutKeepsStdStringsWithinTheLimit) {
    std::string s(250, 'a');
    AppendCut(s, "0123456789");
    EXPECT_EQ(s.size(), 255u);
    EXPECT_EQ(s.substr(250), "01234");
    std::string t(260, 'b');
    AppendCut(t, "x");
    EXPECT_EQ(t.size(), 255u);
}

namespace {
// The system's conversion of one CP1250 byte to UTF-8 (empty for unassigned bytes).
std::string IconvByte(unsigned char b) {
    iconv_t cd = iconv_open("UTF-8", "CP1250");
    char in[1] = {static_cast<char>(b)};
    char out[8] = {};
    char* src = in;
    char* dst = out;
    std::size_t srcLeft = 1, dstLeft = sizeof out;
    const std::size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    if (r == static_cast<std::size_t>(-1)) return {};
    return std::string(out, static_cast<std::size_t>(dst - out));
}
}  // namespace

TEST(Cp1250, TableAgreesWithTheSystemConversionForEveryByte) {
    for (unsigned b = 0x80; b <= 0xFF; ++b) {
        const std::string system = IconvByte(static_cast<unsigned char>(b));
        const std::string ours = Cp1250ToUtf8(std::string(1, static_cast<char>(b)));
        if (system.empty())
            EXPECT_EQ(ours, "\xEF\xBF\xBD") << "byte " << b;  // unassigned
        else
            EXPECT_EQ(ours, system) << "byte " << b;
    }
}

TEST(Cp1250, LiteralsBecomeCodePageBytesAtCompileTime) {
    static_assert(u8"Příjem"_cp.size() == 6);
    EXPECT_EQ(u8"Příjem"_cp, std::string_view("P\xF8\xED" "jem"));
    EXPECT_EQ(u8"čtení"_cp, std::string_view("\xE8ten\xED"));
    EXPECT_EQ(text::kComInstallError, "Chyba instalace COM-portu !");
    EXPECT_EQ(text::kStationErrors[5], std::string_view("Spojen\xED p\xF8" "eru\x9A" "eno"));
    EXPECT_EQ(Cp1250ToUtf8(text::kModemRinging), "MODEM - Někdo volá...");
}

TEST(Cp1250, Utf8RoundTripAndUnmappableCharacters) {
    const std::string czech = "Žluťoučký kůň úpěl ďábelské ódy";
    EXPECT_EQ(Cp1250ToUtf8(Utf8ToCp1250(czech)), czech);
    EXPECT_EQ(Utf8ToCp1250("a€b"), "a\x80" "b");
    EXPECT_EQ(Utf8ToCp1250("中"), "?");
    EXPECT_EQ(Utf8ToCp1250("x\xC5"), "x?");  // cut sequence at the end
}
