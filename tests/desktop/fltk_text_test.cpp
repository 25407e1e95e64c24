// The FLTK backend's text edge: GBK <-> UTF-8 at the widgets, label escaping,
// and the cleaning of pages for the HTML view: the link rewriting that hands a
// pressed link's exact attribute value to the program instead of letting the
// view follow it, and what a hostile page must not get through to the view.
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

struct PageCase {
    const char* html;
    const char* prepared;
    std::vector<std::string> links;
};

void expectPrepared(const PageCase& c) {
    std::vector<Text> links;
    EXPECT_EQ(prepareHtml(c.html, links), c.prepared) << c.html;
    ASSERT_EQ(links.size(), c.links.size()) << c.html;
    for (size_t i = 0; i < links.size(); ++i) EXPECT_EQ(links[i].str(), c.links[i]) << c.html;
}

TEST(FltkText, RewritesLinksToIndexedOnes) {
    const PageCase cases[] = {
        {"<p><a href=\"http://x/1\" target=_blank>one</a></p>",
         "<p><a href=\"nds-link:0\" target=\"_blank\">one</a></p>",
         {"http://x/1"}},
        // Unquoted and single-quoted values, upper case, url= when there is no href.
        {"<A HREF=http://x/2>2</A><a url='http://x/3'>3</a>",
         "<a href=\"nds-link:0\">2</a><a href=\"nds-link:1\">3</a>",
         {"http://x/2", "http://x/3"}},
        // href wins over url; entities are decoded; a relative link stays as written.
        {"<a url=\"u\" href=\"/s?q=a&amp;p=10\">x</a><a href=\"#top\">t</a>",
         "<a href=\"nds-link:0\">x</a><a href=\"nds-link:1\">t</a>",
         {"/s?q=a&p=10", "#top"}},
        // GBK bytes in the value are kept byte for byte.
        {"<a href=\"/s?q=\xBA\xCF\xBC\xAF\">\xBA\xCF</a>",
         "<a href=\"nds-link:0\">\xBA\xCF</a>",
         {"/s?q=\xBA\xCF\xBC\xAF"}},
        // No link: anchors without a target, other tags; comments go.
        {"<a name=n>n</a><abbr href=x>y</abbr><!-- <a href=c> --><b>",
         "<a name=\"n\">n</a><abbr href=\"x\">y</abbr><b>",
         {}},
        // The view ends a tag at its first '>': the new href comes first and a
        // '>' inside a value is written as an entity.
        {"<a title=\"1>0\" href=h>z</a>", "<a href=\"nds-link:0\" title=\"1&gt;0\">z</a>", {"h"}},
        // A tag left open at the end of the page is dropped.
        {"text <a href=\"http://x", "text ", {}},
        // A missing quote ends at the tag's '>', so the links after it still work.
        {"<a href=\"u1>one</a> <a href=\"u2\">two</a> <a href=u3>3</a>",
         "<a href=\"nds-link:0\">one</a> <a href=\"nds-link:1\">two</a> "
         "<a href=\"nds-link:2\">3</a>",
         {"u1", "u2", "u3"}},
        {"<a title='it>s href=u1>one</a><a href=u2>two</a>",
         "<a title=\"it\">s href=u1>one</a><a href=\"nds-link:0\">two</a>",
         {"u2"}},
    };
    for (const PageCase& c : cases) expectPrepared(c);
}

// What the view must never meet, whatever the page: an <img> (its lookup of
// the picture crashes the view or runs the link rule), a font size that asks
// X for an enormous font, a page's own link colour, or a tag whose end the
// view would find elsewhere than this code did.
TEST(FltkText, CleansHostilePagesForTheView) {
    const PageCase cases[] = {
        {"a<img src=\"x.png\">b<IMG>c<img alt='p>q' src=y>d", "abcd", {}},
        {"<img src=\"nds-link:0\"><a href=u>u</a>", "<a href=\"nds-link:0\">u</a>", {"u"}},
        {"<img src='/dev/zero", "", {}},
        {"<font size=+99>a</font><font size=-99>b</font><font size=9999999>c</font>"
         "<font size=99999999999999999999>d</font>",
         "<font size=\"7\">a</font><font size=\"1\">b</font><font size=\"7\">c</font>"
         "<font size=\"7\">d</font>",
         {}},
        // Relative sizes count from 3, so nesting cannot make them grow.
        {"<font size=+2><font SIZE=\"+2\" color=red>x</font></font><font size=2>y</font>",
         "<font size=\"5\"><font size=\"5\" color=\"red\">x</font></font><font size=\"2\">y</font>",
         {}},
        {"<font size=big face=Symbol>x</font><font size>y</font><font face=courier>z</font>",
         "<font>x</font><font>y</font><font face=\"courier\">z</font>",
         {}},
        {"<body link=red vlink=#f00 alink=\"#0f0\" bgcolor=white>", "<body bgcolor=\"white\">", {}},
        // A stray '<', odd names, declarations, a self-closing slash.
        {"1 < 2 <3 <!DOCTYPE html><?xml x?><br/><p\xB0>p</p><a \"q\"=1 b<c=2>x</a>",
         "1 &lt; 2 &lt;3 <br>p</p><a>x</a>",
         {}},
        // An open comment hides the rest of the page.
        {"a<!-- <a href=u>u</a>", "a", {}},
        // A quote still open at a '<' counts as missing, and the '<' stays in the value.
        {"<b title=\"<img src=x>\">b</b>", "<b title=\"&lt;img src=x\">\">b</b>", {}},
    };
    for (const PageCase& c : cases) expectPrepared(c);

    // Whatever comes in, every '<' that goes out opens a tag of letters and
    // digits that is not an img and has no '<' before its '>'.
    const char* const pages[] = {
        "<a href=\"x\" title='a\"b'>1</a><img src=\"<a\">",
        "<<a>><</a>>>< img src=x><img\nsrc=x><imG\tsrc=x>",
        "<font color=\"x>\" size=\"99><img src=y>",
        "&#1 <!-- ; <img src=x> --> <b c=\"; <img src=x>\">",
        "<a href='u1\"'>x<a href=\"u2'\">y",
    };
    for (const char* page : pages) {
        std::vector<Text> links;
        const std::string out = prepareHtml(page, links);
        for (size_t at = out.find('<'); at != std::string::npos; at = out.find('<', at + 1)) {
            const size_t gt = out.find('>', at);
            ASSERT_NE(gt, std::string::npos) << page << " -> " << out;
            const std::string tag = out.substr(at + 1, gt - at - 1);
            EXPECT_EQ(tag.find('<'), std::string::npos) << page << " -> " << out;
            const std::string name = tag.substr(tag[0] == '/', tag.find(' ') - (tag[0] == '/'));
            EXPECT_FALSE(name.empty()) << page << " -> " << out;
            EXPECT_EQ(name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789"),
                      std::string::npos)
                << page << " -> " << out;
            EXPECT_NE(name, "img") << page << " -> " << out;
        }
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
