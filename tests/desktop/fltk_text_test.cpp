// The FLTK backend's text edge: GBK <-> UTF-8 at the widgets, label escaping,
// and the link rewriting that hands a pressed link's exact attribute value to
// the program instead of letting the view follow it.
#include "platform/fltk/fltk_text.h"

#include <gtest/gtest.h>

namespace nds::fltk {
namespace {

TEST(FltkText, ConvertsBetweenGbkAndUtf8) {
    // 搜索 in GBK and UTF-8.
    EXPECT_EQ(gbkToUtf8("\xCB\xD1\xCB\xF7"), "\xE6\x90\x9C\xE7\xB4\xA2");
    EXPECT_EQ(utf8ToGbk("\xE6\x90\x9C\xE7\xB4\xA2 ab"), Text("\xCB\xD1\xCB\xF7 ab"));
    // Characters GBK lacks (Hangul 한, an emoji) become '?'.
    const Text typed = utf8ToGbk(
        "a\xED\x95\x9C"
        "b\xF0\x9F\x98\x80"
        "c");
    EXPECT_EQ(typed.str().find_first_not_of("abc?"), std::string::npos) << typed.str();
    EXPECT_EQ(typed.str().front(), 'a');
    EXPECT_EQ(typed.str().back(), 'c');
    EXPECT_NE(typed.str().find('?'), std::string::npos);
    EXPECT_EQ(gbkToUtf8(""), "");
    EXPECT_TRUE(utf8ToGbk("").empty());
}

TEST(FltkText, LabelsEscapeSymbolsAndDropCarriageReturns) {
    EXPECT_EQ(labelText("a@b\r\nc"), "a@@b\nc");
    EXPECT_EQ(labelText("\xB5\xDA"
                        "1\xD2\xB3"),
              "\xE7\xAC\xAC"
              "1\xE9\xA1\xB5");  // 第1页
}

TEST(FltkText, RewritesLinksToIndexedOnes) {
    struct Case {
        const char* html;
        const char* rewritten;
        std::vector<std::string> links;
    };
    const Case cases[] = {
        {"<p><a href=\"http://x/1\" target=_blank>one</a></p>",
         "<p><a target=_blank href=\"nds-link:0\">one</a></p>",
         {"http://x/1"}},
        // Unquoted and single-quoted values, upper case, url= when there is no href.
        {"<A HREF=http://x/2>2</A><a url='http://x/3'>3</a>",
         "<a href=\"nds-link:0\">2</A><a href=\"nds-link:1\">3</a>",
         {"http://x/2", "http://x/3"}},
        // href wins over url; entities are decoded; a relative link stays as written.
        {"<a url=\"u\" href=\"/s?q=a&amp;p=10\">x</a><a href=\"#top\">t</a>",
         "<a href=\"nds-link:0\">x</a><a href=\"nds-link:1\">t</a>",
         {"/s?q=a&p=10", "#top"}},
        // GBK bytes in the value are kept byte for byte.
        {"<a href=\"/s?q=\xBA\xCF\xBC\xAF\">\xBA\xCF</a>",
         "<a href=\"nds-link:0\">\xBA\xCF</a>",
         {"/s?q=\xBA\xCF\xBC\xAF"}},
        // No link: anchors without a target, other tags, comments, a '>' in a value.
        {"<a name=n>n</a><abbr href=x>y</abbr><!-- <a href=c> --><b>",
         "<a name=n>n</a><abbr href=x>y</abbr><!-- <a href=c> --><b>",
         {}},
        {"<a title=\"1>0\" href=h>z</a>", "<a title=\"1>0\" href=\"nds-link:0\">z</a>", {"h"}},
        // An unclosed tag is left alone.
        {"text <a href=\"http://x", "text <a href=\"http://x", {}},
    };
    for (const Case& c : cases) {
        std::vector<Text> links;
        EXPECT_EQ(rewriteLinks(c.html, links), c.rewritten) << c.html;
        ASSERT_EQ(links.size(), c.links.size()) << c.html;
        for (size_t i = 0; i < links.size(); ++i) EXPECT_EQ(links[i].str(), c.links[i]) << c.html;
    }
}

TEST(FltkText, ReadsOnlyItsOwnLinkForm) {
    EXPECT_EQ(linkIndex("nds-link:0"), 0);
    EXPECT_EQ(linkIndex("nds-link:12"), 12);
    for (const char* other :
         {"nds-link:", "nds-link:-1", "nds-link:3#x", "http://x", "file:/tmp/nds-link:1", ""}) {
        EXPECT_EQ(linkIndex(other), -1) << other;
    }
}

}  // namespace
}  // namespace nds::fltk
