// UTF-8 pages into GBK text, and the Linux code-page layer under it: the
// decoder's handling of bad UTF-8, the GBK encoder's substitutes, the counting
// pass and the output limits.
#include "text/ansi.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/codepage.h"

namespace nds {
namespace {

std::string nul(const char* s, std::size_t n) { return std::string(s, n); }

// utf8ToAnsi on a variable: the text, and what the variable holds afterwards.
struct Conversion {
    const char* name;
    std::string in;
    std::string wantText;
    std::string wantData;  // the caller's variable after the call
};

class Utf8ToAnsi : public ::testing::TestWithParam<Conversion> {};

TEST_P(Utf8ToAnsi, TextAndCallersVariable) {
    const Conversion& c = GetParam();
    Bytes data(c.in);
    Text t = utf8ToAnsi(data);
    EXPECT_EQ(t.str(), c.wantText);
    EXPECT_EQ(data.str(), c.wantData);
}

const Conversion kConversions[] = {
    {"Empty", "", "", nul("\0", 1)},
    {"EndsInAngleBracket", "<p>ok</p>", "<p>ok</p>", nul("<p>ok</p>\0", 10)},
    {"EndsInLineFeed", "a\n", "a\n", nul("a\n\0", 3)},
    {"EndsIn7F", "ab\x7F", "ab\x7F", "ab\x7F"},
    // 中文 in UTF-8, ending in a multi-byte character: nothing appended.
    {"EndsInMultiByte", "\xE4\xB8\xAD\xE6\x96\x87", "\xD6\xD0\xCE\xC4",  // 中文
     "\xE4\xB8\xAD\xE6\x96\x87"},
    {"EndsInZeroByte", nul("ab\0", 3), "ab", nul("ab\0\0", 4)},
    {"ZeroInside", nul("ab\0cd", 5), "ab", nul("ab\0cd\0", 6)},
    {"ZeroInsideMultiByteEnd", nul("ab\0\xE4\xB8\xAD", 6), "ab", nul("ab\0\xE4\xB8\xAD", 6)},
    // 正在搜索 (the status text) as the program's literal bytes.
    {"ChineseText", "\xE6\xAD\xA3\xE5\x9C\xA8\xE6\x90\x9C\xE7\xB4\xA2",
     "\xD5\xFD\xD4\xDA\xCB\xD1\xCB\xF7",  // 正在搜索
     "\xE6\xAD\xA3\xE5\x9C\xA8\xE6\x90\x9C\xE7\xB4\xA2"},
    {"MixedWithAscii", "<b>\xE7\xBD\x91\xE7\x9B\x98</b>", "<b>\xCD\xF8\xC5\xCC</b>",  // 网盘
     nul("<b>\xE7\xBD\x91\xE7\x9B\x98</b>\0", 14)},
    // Thai ko kai (U+0E01) is not in GBK and has no one-character best fit.
    {"Unrepresentable",
     "a\xE0\xB8\x81"
     "b",
     "a?b",
     nul("a\xE0\xB8\x81"
         "b\0",
         6)},
    // U+1F600: a surrogate pair in UTF-16, one substitute in GBK.
    {"Supplementary", "x\xF0\x9F\x98\x80y", "x?y", nul("x\xF0\x9F\x98\x80y\0", 7)},
    {"SupplementaryAtEnd", "x\xF0\x9F\x98\x80", "x?", "x\xF0\x9F\x98\x80"},
    // Bad UTF-8: each maximal bad subpart becomes U+FFFD, which GBK lacks.
    {"StrayContinuation",
     "a\x80"
     "b",
     "a?b",
     nul("a\x80"
         "b\0",
         4)},
    {"TruncatedAtEnd", "a\xE4\xB8", "a?", "a\xE4\xB8"},
    {"OverLong",
     "\xC0\xAF"
     "z",
     "??z",
     nul("\xC0\xAF"
         "z\0",
         4)},
    {"Surrogate",
     "\xED\xA0\x80"
     "z",
     "???z",
     nul("\xED\xA0\x80"
         "z\0",
         5)},
    {"BeyondMaxCodePoint", "\xF4\x90\x80\x80", "????", "\xF4\x90\x80\x80"},
    {"EndsInFF", "ok\xFF", "ok?", "ok\xFF"},
    // The euro sign is byte 0x80 in code page 936.
    {"Euro", "\xE2\x82\xAC!", "\x80!", nul("\xE2\x82\xAC!\0", 5)},
    // A byte-order mark is converted like any character: U+FEFF is not in GBK.
    {"ByteOrderMark", "\xEF\xBB\xBFhi", "?hi", nul("\xEF\xBB\xBFhi\0", 6)},
};

INSTANTIATE_TEST_SUITE_P(Cases, Utf8ToAnsi, ::testing::ValuesIn(kConversions),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Utf8ToAnsiTwice, AppendsEachTimeAndGivesTheSameText) {
    Bytes page(std::string_view("<html>\xE4\xB8\xAD</html>"));
    Text first = utf8ToAnsi(page);
    Text second = utf8ToAnsi(page);
    EXPECT_EQ(first, second);
    EXPECT_EQ(first.str(), "<html>\xD6\xD0</html>");
    EXPECT_EQ(page.str(), nul("<html>\xE4\xB8\xAD</html>\0\0", 18));
}

TEST(Utf8ToAnsiLarge, WholePageConverts) {
    std::string page;
    std::string want;
    for (int i = 0; i < 20000; ++i) {
        page += "\xE7\xBD\x91 ";  // 网 and a space
        want += "\xCD\xF8 ";
    }
    Bytes data(page);
    EXPECT_EQ(utf8ToAnsi(data).str(), want);
}

std::string units(std::u16string_view u) {
    std::string out;
    for (char16_t c : u) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
    return out;
}

TEST(WideToAnsi, NulCutsAndEmptyBuffers) {
    struct Case {
        const char* name;
        std::string in;
        std::string want;
    };
    const Case cases[] = {
        {"EmptyBuffer", "", " "},  // nothing converts: the one space of the area
        {"OddByte", "A", "  "},    // no whole unit: m + 1 spaces
        {"NulFirst", units(std::u16string_view(u"\0abc", 4)), ""},
        {"NulInside", units(std::u16string_view(u"ab\0cd", 5)), "ab"},
        {"NoNul", units(u"ab"), "ab"},
        {"Chinese", units(u"\u4E2D\u6587"), "\xD6\xD0\xCE\xC4"},  // 中文
        {"FullWidthSpace", units(u"\u3000"), "\xA1\xA1"},
        {"LoneHighSurrogate",
         units(u"a\xD800"
               "b"),
         "a?b"},
        {"LoneLowSurrogate", units(u"\xDC00"), "?"},
        {"PairAtEnd", units(u"a\xD83D\xDE00"), "a?"},
        {"HighSurrogateLast", units(u"a\xD83D"), "a?"},
    };
    for (const Case& c : cases) {
        Bytes in(c.in);
        EXPECT_EQ(wideToAnsi(in).str(), c.want) << c.name;
        EXPECT_EQ(in.str(), c.in) << c.name;  // left unchanged
    }
}

TEST(CodePage, Utf8DecodesToUtf16WithReplacements) {
    struct Case {
        const char* name;
        std::string in;
        std::u16string want;
    };
    const Case cases[] = {
        {"Ascii", "Az", u"Az"},
        {"TwoThreeFour", "\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80", u"\u00E9\u4E2D\xD83D\xDE00"},
        {"MaxCodePoint", "\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF"},
        {"Nul", nul("a\0b", 3), std::u16string(u"a\0b", 3)},
        {"StrayContinuations", "\x80\xBF", u"\xFFFD\xFFFD"},
        {"C0C1AndF5", "\xC0\xC1\xF5", u"\xFFFD\xFFFD\xFFFD"},
        // A three-byte lead with one good continuation, then ASCII: one U+FFFD
        // for the pair, and the ASCII byte survives.
        {"BrokenThenAscii",
         "\xE4\xB8"
         "a",
         u"\xFFFD"
         u"a"},
        {"BrokenThenLead", "\xE4\xB8\xE4\xB8\xAD", u"\xFFFD\u4E2D"},
        {"OverLongThree", "\xE0\x80\xAF", u"\xFFFD\xFFFD\xFFFD"},
        {"OverLongFour", "\xF0\x8F\xBF\xBF", u"\xFFFD\xFFFD\xFFFD\xFFFD"},
        {"SurrogateD800", "\xED\xA0\x80", u"\xFFFD\xFFFD\xFFFD"},
        {"LastBeforeSurrogates", "\xED\x9F\xBF", u"\uD7FF"},
        {"TruncatedFour", "\xF0\x9F\x98", u"\xFFFD"},
        {"LeadAtEnd", "a\xF0", u"a\xFFFD"},
    };
    for (const Case& c : cases) {
        const int len = static_cast<int>(c.in.size());
        int n = multiByteToWideChar(kUtf8CodePage, 0, c.in.data(), len, nullptr, 0);
        ASSERT_EQ(n, static_cast<int>(c.want.size())) << c.name;
        std::u16string out(static_cast<std::size_t>(n) + 1, u'#');
        EXPECT_EQ(multiByteToWideChar(kUtf8CodePage, 0, c.in.data(), len, out.data(), n), n)
            << c.name;
        EXPECT_EQ(out.substr(0, n), c.want) << c.name;
        EXPECT_EQ(out[n], u'#') << c.name;  // nothing past the count
    }
}

TEST(CodePage, DecodesGbk) {
    struct Case {
        const char* name;
        std::string in;
        std::u16string want;
    };
    const Case cases[] = {
        {"Chinese",
         "a\xD6\xD0\xCE\xC4"
         "b",
         u"a\u4E2D\u6587b"},
        {"FullWidthSpaceAndEuro", "\xA1\xA1\x80", u"\u3000\u20AC"},
        {"LeadAtEnd", "ab\xD6", u"ab\xFFFD"},
        {"LeadThenAscii",
         "\xD6"
         "1",
         u"\xFFFD"
         u"1"},
        {"FF",
         "\xFF"
         "a",
         u"\xFFFD"
         u"a"},
        {"Nul", nul("\0x", 2), std::u16string(u"\0x", 2)},
    };
    for (const Case& c : cases) {
        const int len = static_cast<int>(c.in.size());
        int n = multiByteToWideChar(kAnsiCodePage, 0, c.in.data(), len, nullptr, 0);
        ASSERT_EQ(n, static_cast<int>(c.want.size())) << c.name;
        std::u16string out(static_cast<std::size_t>(n), u'#');
        EXPECT_EQ(multiByteToWideChar(kAnsiCodePage, 0, c.in.data(), len, out.data(), n), n);
        EXPECT_EQ(out, c.want) << c.name;
    }
}

TEST(CodePage, EncodesGbkAndUtf8) {
    struct Case {
        unsigned cp;
        std::u16string in;
        std::string want;
    };
    const Case cases[] = {
        {kAnsiCodePage, u"a\u4E2D\u6587", "a\xD6\xD0\xCE\xC4"},
        {kAnsiCodePage, u"\u00C0", "A"},  // best fit: A with grave -> A
        {kAnsiCodePage, u"\u00BD", "?"},  // its fit is " 1/2 ": too long
        {kAnsiCodePage, u"\xFFFD", "?"},
        {kUtf8CodePage, u"a\u00E9\u4E2D\xD83D\xDE00", "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80"},
        {kUtf8CodePage,
         u"\xD800"
         "x",
         "\xEF\xBF\xBDx"},  // a lone surrogate
    };
    for (const Case& c : cases) {
        const int len = static_cast<int>(c.in.size());
        int n = wideCharToMultiByte(c.cp, 0, c.in.data(), len, nullptr, 0);
        ASSERT_EQ(n, static_cast<int>(c.want.size())) << c.want;
        std::string out(static_cast<std::size_t>(n), '#');
        EXPECT_EQ(wideCharToMultiByte(c.cp, 0, c.in.data(), len, out.data(), n), n);
        EXPECT_EQ(out, c.want);
    }
}

TEST(CodePage, LimitsAndBadArguments) {
    const std::string utf8 = "\xE4\xB8\xAD\xE6\x96\x87";
    char16_t small[1] = {u'#'};
    EXPECT_EQ(multiByteToWideChar(kUtf8CodePage, 0, utf8.data(), 6, small, 1), 0);
    EXPECT_EQ(small[0], u'#');  // nothing written when it does not fit
    EXPECT_EQ(multiByteToWideChar(kUtf8CodePage, 0, utf8.data(), 0, nullptr, 0), 0);
    EXPECT_EQ(multiByteToWideChar(kUtf8CodePage, 0, nullptr, 3, nullptr, 0), 0);
    EXPECT_EQ(multiByteToWideChar(1252, 0, "a", 1, nullptr, 0), 0);  // not supported
    // -1: up to and including the terminator.
    EXPECT_EQ(multiByteToWideChar(kUtf8CodePage, 0, "ab", -1, nullptr, 0), 3);

    const char16_t wide[] = u"\u4E2D\u6587";
    char out[3] = {'#', '#', '#'};
    EXPECT_EQ(wideCharToMultiByte(kAnsiCodePage, 0, wide, 2, out, 3), 0);
    EXPECT_EQ(std::string(out, 3), "###");
    EXPECT_EQ(wideCharToMultiByte(kAnsiCodePage, 0, wide, 0, nullptr, 0), 0);
    EXPECT_EQ(wideCharToMultiByte(kAnsiCodePage, 0, wide, -1, nullptr, 0), 5);
}

TEST(CodePage, ThreadsConvertAtTheSameTime) {
    const std::u16string in = u"\u7F51\u76D8\u641C\u7D22 ok \u00C0";  // 网盘搜索 ok À
    const std::string want = "\xCD\xF8\xC5\xCC\xCB\xD1\xCB\xF7 ok A";
    std::vector<std::thread> threads;
    std::vector<int> good(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 500; ++i) {
                char out[32];
                int n = wideCharToMultiByte(kAnsiCodePage, 0, in.data(),
                                            static_cast<int>(in.size()), out, sizeof out);
                if (std::string(out, n > 0 ? n : 0) == want) ++good[t];
            }
        });
    }
    for (auto& th : threads) th.join();
    for (int g : good) EXPECT_EQ(g, 500);
}

}  // namespace
}  // namespace nds
