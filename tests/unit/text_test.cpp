// Text and byte-array operations: positions, clamping, double-byte units and
// the number parses the search relies on.
#include "text/text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <optional>
#include <string>

namespace nds {
namespace {

Bytes B(std::string_view s) { return Bytes(s); }

TEST(TextValue, BuildingFromBytesCutsAtTheFirstNul) {
    EXPECT_EQ(Text(std::string_view("ab\0cd", 5)).str(), "ab");
    EXPECT_EQ(Text(std::string("ab\0cd", 5)).str(), "ab");
    EXPECT_EQ(Text(static_cast<const char*>(nullptr)).str(), "");
    EXPECT_EQ(Text().cOrNull(), nullptr);
    EXPECT_STREQ(Text("x").cOrNull(), "x");
}

TEST(CompareText, OrdersByUnsignedBytesAndCase) {
    struct Case {
        const char* a;
        const char* b;
        int sign;
    };
    const Case cases[] = {
        {"", "", 0},
        {"abc", "abc", 0},
        {"a", "b", -1},
        {"b", "a", 1},
        {"ab", "abc", -1},
        {"abc", "ab", 1},
        {"A", "a", -1},
        {"\xB0\xA1", "z", 1},  // 0xB0 sorts above ASCII
        {"Vexmoor_OK", "vexmoor_ok", -1},
    };
    for (const Case& c : cases) {
        int r = compareText(Text(c.a), Text(c.b));
        int sign = (r > 0) - (r < 0);
        EXPECT_EQ(sign, c.sign) << c.a << " vs " << c.b;
    }
}

TEST(FindText, PositionsClampingAndDoubleByteStepping) {
    struct Case {
        const char* t;
        const char* needle;
        int start;
        bool ignoreCase;
        int want;
    };
    const Case cases[] = {
        {"hello world", "o", 1, false, 5},
        {"hello world", "o", 5, false, 5},
        {"hello world", "o", 6, false, 8},
        {"hello world", "o", 0, false, 5},  // below 1 counts as 1
        {"hello world", "o", -7, false, 5},
        {"hello world", "d", 11, false, 11},  // the last byte
        {"hello world", "d", 12, false, -1},  // past the end
        {"hello world", "xyz", 1, false, -1},
        {"hello", "hello!", 1, false, -1},  // needle longer than the rest
        {"", "a", 1, false, -1},
        {"abc", "", 1, false, 1},  // empty needle
        {"abc", "", 3, false, 1},
        {"abc", "", 4, false, -1},  // ...but the range is empty
        {"", "", 1, false, -1},
        {"Hello", "hELLO", 1, true, 1},
        {"Hello", "hELLO", 1, false, -1},
        {"a[b", "[", 1, true, 2},  // only A-Z fold with a-z
        {"a{b", "[", 1, true, -1},
        // 啊 is B0 A1, 啊 followed by 鞍 (B0 B0): "A1 B0" spans two characters
        // and must not match on the second byte of the first.
        {"\xB0\xA1\xB0\xB0", "\xA1\xB0", 1, false, -1},
        {"\xB0\xA1\xB0\xB0", "\xB0\xB0", 1, false, 3},
        {"\xB0\xA1"
         "A",
         "A", 1, false, 3},
        // A start on the second byte of a character begins at the next one:
        // characters are counted from the first byte.
        {"\xB0\xA1"
         "abc",
         "a", 2, false, 3},
        {"\xB0\x41"
         "A",
         "A", 2, false, 3},
        // A trail byte can be an ASCII letter (0x81 0x41); it is not a match.
        {"\x81\x41"
         "a",
         "a", 1, true, 3},
        {"\x81\x41"
         "A",
         "A", 1, false, 3},
        // Folding never changes a double-byte character's trail byte.
        {"\x81\x61", "\x81\x41", 1, true, -1},
        {"\x81\x41", "\x81\x41", 1, true, 1},
        {"x\xB0\xA1", "\xB0\xA1", 1, false, 2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(findText(Text(c.t), Text(c.needle), c.start, c.ignoreCase), c.want)
            << "'" << c.t << "' / '" << c.needle << "' from " << c.start;
    }
}

TEST(TextSlices, LeftRightMidClamp) {
    const Text t("abcdef");
    struct Case {
        Text got;
        const char* want;
    };
    const Case cases[] = {
        {textLeft(t, 2), "ab"},       {textLeft(t, 0), ""},         {textLeft(t, -3), ""},
        {textLeft(t, 99), "abcdef"},  {textRight(t, 2), "ef"},      {textRight(t, 0), ""},
        {textRight(t, -1), ""},       {textRight(t, 99), "abcdef"}, {textMid(t, 2, 3), "bcd"},
        {textMid(t, 1, 6), "abcdef"}, {textMid(t, 5, 99), "ef"},    {textMid(t, 6, 1), "f"},
        {textMid(t, 7, 1), ""},       {textMid(t, 0, 3), ""},       {textMid(t, -1, 3), ""},
        {textMid(t, 2, 0), ""},       {textMid(t, 2, -1), ""},      {textMid(Text(), 1, 1), ""},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got.str(), c.want);
    EXPECT_EQ(textLength(Text("\xB0\xA1x")), 3);  // bytes, not characters
}

TEST(ReplaceText, ClampsStartAndCount) {
    const Text with("XY");
    struct Case {
        int start;
        int n;
        const Text* replacement;
        const char* want;
    };
    const Case cases[] = {
        {2, 2, &with, "aXYdef"},   {2, 2, nullptr, "adef"},    {1, 0, &with, "XYabcdef"},
        {7, 5, &with, "abcdefXY"}, {99, 5, &with, "abcdefXY"}, {0, 1, &with, "XYbcdef"},
        {-5, 2, nullptr, "cdef"},  {4, 99, nullptr, "abc"},    {4, -3, &with, "abcXYdef"},
        {1, 6, nullptr, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(replaceText(Text("abcdef"), c.start, c.n, c.replacement).str(), c.want)
            << c.start << "," << c.n;
    }
    EXPECT_EQ(replaceText(Text(), 1, 1, &with).str(), "XY");
}

TEST(RemoveAllSpaces, DropsSpacesAndFullWidthSpacesOnly) {
    struct Case {
        const char* in;
        const char* want;
    };
    const Case cases[] = {
        {" a b  c ", "abc"},
        {"a\tb\r\nc", "a\tb\r\nc"},  // other white space stays
        {"\xA1\xA1"
         "x\xA1\xA1",
         "x"},  // full-width space
        {"\xB0\xA1 \xB0\xA1", "\xB0\xA1\xB0\xA1"},
        // 0xA1 as the trail byte of one character and lead of the next is no
        // full-width space: B0 A1 | A1 B0 stays whole.
        {"\xB0\xA1\xA1\xB0", "\xB0\xA1\xA1\xB0"},
        {"\x81\x20", "\x81\x20"},  // 0x20 as a trail byte is not a space
        {"ab\xB0", "ab"},          // lone lead byte at the end
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(removeAllSpaces(Text(c.in)).str(), c.want) << c.in;
}

TEST(ChangeCase, AsciiLettersOnly) {
    EXPECT_EQ(toUpper(Text("abZ1-\xB0\xA1z")).str(), "ABZ1-\xB0\xA1Z");
    EXPECT_EQ(toLower(Text("ABz1-\xB0\xA1Z")).str(), "abz1-\xB0\xA1z");
    // Trail bytes that happen to be letters are not changed.
    EXPECT_EQ(toUpper(Text("\x81\x61"
                           "a"))
                  .str(),
              "\x81\x61"
              "A");
    EXPECT_EQ(toLower(Text("\x81\x41"
                           "A"))
                  .str(),
              "\x81\x41"
              "a");
}

TEST(SmallBuilders, CharBlankAndDecimal) {
    EXPECT_EQ(charFromCode(65).str(), "A");
    EXPECT_EQ(charFromCode(0xB0).str(), "\xB0");
    EXPECT_TRUE(charFromCode(0).empty());
    EXPECT_EQ(blankText(3).str(), "   ");
    EXPECT_TRUE(blankText(0).empty());
    EXPECT_TRUE(blankText(-2).empty());
    EXPECT_EQ(toText(0).str(), "0");
    EXPECT_EQ(toText(-42).str(), "-42");
    EXPECT_EQ(toText(1234567).str(), "1234567");
    EXPECT_EQ(toText(std::numeric_limits<int64_t>::min()).str(), "-9223372036854775808");
}

TEST(ToInteger, ParsesLikeStrtolButSaturates) {
    struct Case {
        const char* in;
        int32_t want;
    };
    const Case cases[] = {
        {"", 0},
        {"abc", 0},
        {"42", 42},
        {"  \t\n\v\f\r42", 42},
        {"+7", 7},
        {"-7", -7},
        {"- 7", 0},
        {"12abc", 12},
        {"1,234", 1},  // a comma stops the parse
        {"3.9", 3},
        {"0x1A", 0},  // decimal only
        {"007", 7},
        {"2147483647", 2147483647},
        {"2147483648", 2147483647},
        {"99999999999999999999999", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"-2147483649", -2147483647 - 1},
        {"-99999999999999999999999", -2147483647 - 1},
        {"\xA3\xB1\xA3\xB2\xA3\xB3", 123},  // full-width 123
        {"\xA1\xA1\xA3\xAD\xA3\xB5", -5},   // full-width space, minus, 5
        {"\xA3\xB1"
         "2",
         12},
        {"\xB0\xA1"
         "5",
         0},  // a Chinese character stops it
    };
    for (const Case& c : cases) EXPECT_EQ(toInteger(Text(c.in)), c.want) << c.in;
}

TEST(ToNumber, DecimalFractionExponentOnly) {
    struct Case {
        const char* in;
        double want;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {"", 0.0},
        {"x", 0.0},
        {"1.5", 1.5},
        {"  -2.25", -2.25},
        {"+.5", 0.5},
        {"5.", 5.0},
        {".", 0.0},
        {"-", 0.0},
        {"1e3", 1000.0},
        {"1E-2", 0.01},
        {"2.5e+2x", 250.0},
        {"7e", 7.0},  // an exponent needs digits
        {"7e+", 7.0},
        {"1,5", 1.0},
        {"0x10", 0.0},  // no hexadecimal
        {"inf", 0.0},   // no infinity or NaN words
        {"nan", 0.0},
        {"1e999", inf},
        {"-1e999", -inf},
        {"1e-999", 0.0},
        {"0e999999999999", 0.0},
        {"\xA3\xB1\xA3\xAE\xA3\xB5", 1.5},    // full-width 1.5
        {"\xA3\xB2\xA3\xC5\xA3\xB2", 200.0},  // full-width 2E2
    };
    for (const Case& c : cases) EXPECT_EQ(toNumber(Text(c.in)), c.want) << c.in;
}

TEST(ToNumber, DoesNotFollowTheProcessLocale) {
    // A decimal-comma locale must not change the parse.
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    std::string saved = old ? old : "C";
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) {
        GTEST_SKIP() << "de_DE.UTF-8 locale not installed";
    }
    EXPECT_EQ(toNumber(Text("1.5")), 1.5);
    EXPECT_EQ(toNumber(Text("1,5")), 1.0);
    std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(TruncateToInteger, TowardZeroAndSaturating) {
    struct Case {
        double x;
        int32_t want;
    };
    const Case cases[] = {
        {0.0, 0},
        {2.9, 2},
        {-2.9, -2},
        {-0.5, 0},
        {2147483647.9, 2147483647},
        {3e9, 2147483647},
        {-2147483648.9, -2147483647 - 1},
        {-3e9, -2147483647 - 1},
        {std::numeric_limits<double>::infinity(), 2147483647},
        {-std::numeric_limits<double>::infinity(), -2147483647 - 1},
        {std::nan(""), 0},
    };
    for (const Case& c : cases) EXPECT_EQ(truncateToInteger(c.x), c.want) << c.x;
}

TEST(BytesOps, LengthsSlicesAndJoins) {
    const Bytes b(std::string_view("a\0b\0c", 5));
    EXPECT_EQ(bytesLength(b), 5);
    EXPECT_EQ(bytesLeft(b, 3).str(), std::string("a\0b", 3));
    EXPECT_EQ(bytesRight(b, 2).str(), std::string("\0c", 2));
    EXPECT_TRUE(bytesLeft(b, -1).empty());
    EXPECT_TRUE(bytesRight(b, 0).empty());
    EXPECT_EQ(bytesLeft(b, 99), b);
    EXPECT_EQ(bytesRight(b, 99), b);
    EXPECT_EQ(blankBytes(3).str(), std::string(3, '\0'));
    EXPECT_TRUE(blankBytes(-1).empty());
    EXPECT_EQ(textToBytes(Text("hi")).str(), "hi");
    EXPECT_TRUE(textToBytes(Text()).empty());
    EXPECT_EQ(concatBytes({B("ab"), Bytes(), B(std::string_view("\0", 1)), B("c")}).str(),
              std::string("ab\0c", 4));
    EXPECT_EQ(concatText(Text("a"), "b", Text(), Text("c")).str(), "abc");
}

TEST(SplitBytes, PieceRules) {
    struct Case {
        const char* in;
        const char* sep;
        std::vector<std::string> want;
    };
    const Case cases[] = {
        {"a|b|c", "|", {"a", "b", "c"}},
        {"a|b|", "|", {"a", "b"}},  // nothing after the last separator
        {"|a", "|", {"", "a"}},     // empty pieces count
        {"a||b", "|", {"a", "", "b"}},
        {"|", "|", {""}},
        {"abc", "|", {"abc"}},
        {"", "|", {}},             // empty input: no pieces
        {"aaa", "aa", {"", "a"}},  // occurrences never overlap
        {"xSEPySEP", "SEP", {"x", "y"}},
        {"abc", "", {"abc"}},  // an empty separator occurs nowhere
        {"abc", "abcd", {"abc"}},
    };
    for (const Case& c : cases) {
        std::vector<Bytes> got = splitBytes(B(c.in), B(c.sep));
        std::vector<std::string> strs;
        for (const Bytes& p : got) strs.push_back(p.str());
        EXPECT_EQ(strs, c.want) << c.in << " / " << c.sep;
    }
    // NUL bytes are ordinary bytes in a split.
    std::vector<Bytes> got =
        splitBytes(B(std::string_view("a\0b\0", 4)), B(std::string_view("\0", 1)));
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].str(), "a");
    EXPECT_EQ(got[1].str(), "b");
}

}  // namespace
}  // namespace nds
