// The program's GBK literals: each one decoded from code page 936 must give
// exactly the UTF-8 text it stands for, so a mistyped hex escape shows up.
#include "shell/texts.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/codepage.h"
#include "shell/config.h"
#include "shell/runtime.h"

namespace nds {
namespace {

std::string utf16ToUtf8(const std::u16string& units) {
    std::string out;
    for (size_t i = 0; i < units.size(); ++i) {
        uint32_t c = units[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < units.size()) {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
        }
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string gbkToUtf8(std::string_view gbk) {
    const int n = multiByteToWideChar(936, 0, gbk.data(), int(gbk.size()), nullptr, 0);
    std::u16string units(size_t(n), u'\0');
    multiByteToWideChar(936, 0, gbk.data(), int(gbk.size()), units.data(), n);
    return utf16ToUtf8(units);
}

TEST(ProgramTexts, EveryGbkLiteralDecodesToItsText) {
    struct Case {
        const char* name;
        std::string_view gbk;
        const char* utf8;
    };
    const Case cases[] = {
        {"kMainCaption", kMainCaption, "搜索引擎"},
        {"kResultsCaption", kResultsCaption, "搜索页面"},
        {"kSearchButtonText", kSearchButtonText, "搜索"},
        {"kAboutLabelText", kAboutLabelText, "关于作者"},
        {"kAuthorSiteLabelText", kAuthorSiteLabelText, "作者网站"},
        {"kNextButtonText", kNextButtonText, "下一页"},
        {"kPrevButtonText", kPrevButtonText, "上一页"},
        {"kStatusSearching", kStatusSearching, "正在搜索"},
        {"kStatusDone", kStatusDone, "搜索完毕"},
        {"kStatusFailed", kStatusFailed, "搜索失败"},
        {"kMsgEnterKeyword", kMsgEnterKeyword, "请输入搜索内容"},
        {"kMsgNothingFound", kMsgNothingFound, "没有搜索到任何结果"},
        {"kMsgNoNextPage", kMsgNoNextPage, "对不起哦！没有下一页了"},
        {"kMsgNoPrevPage", kMsgNoPrevPage, "没有上一页了！"},
        {"kStartupNotice", kStartupNotice,
         "这个仅仅是一个测试版本，后续会慢慢更新的。可以搜索更多的网盘。界面也会优化得更好。谢谢大"
         "家"},
        {"kPageLabelPrefix", kPageLabelPrefix, "第"},
        {"kPageLabelSuffix", kPageLabelSuffix, "页"},
        {"kPageLabelFirst", kPageLabelFirst, "第1页"},
        {"kSummaryMiddle", kSummaryMiddle, "页     搜索到约"},
        {"kSummaryEnd", kSummaryEnd, "个结果"},
        {"kResultCountPattern", kResultCountPattern, "获得约 <strong>(.*?)</strong> 条"},
        {"kMessageCaption", kMessageCaption, "信息："},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(gbkToUtf8(c.gbk), c.utf8) << c.name;
    }
}

TEST(ProgramTexts, ByteLengthsThatTheProgramDependsOn) {
    EXPECT_EQ(std::string_view(kResultCountPattern).size(), 32u);
    // 页, five ASCII spaces, 搜索到约.
    EXPECT_EQ(std::string_view(kSummaryMiddle).size(), 2u + 5u + 8u);
    EXPECT_EQ(std::string_view(kSummaryMiddle).substr(2, 5), "     ");
    // Full-width exclamation marks, A3 A1.
    EXPECT_EQ(std::string_view(kMsgNoNextPage).substr(8, 2), "\xA3\xA1");
    EXPECT_EQ(std::string_view(kMsgNoPrevPage).substr(12), "\xA3\xA1");
}

TEST(ProgramTexts, ConfiguredAboutTextHasThreeCrLfLinesInGbk) {
    const std::string about = gbkToUtf8(config::kAboutText);
    EXPECT_EQ(about.find("\xEF\xBF\xBD"), std::string::npos) << "not valid GBK";  // U+FFFD
    size_t first = about.find("\r\n");
    ASSERT_NE(first, std::string::npos);
    size_t second = about.find("\r\n", first + 2);
    ASSERT_NE(second, std::string::npos);
    EXPECT_EQ(about.find("\r\n", second + 2), std::string::npos);
    EXPECT_EQ(about.find(';'), std::string::npos);
    EXPECT_GT(first, 0u);
    EXPECT_GT(second, first + 2);
    EXPECT_GT(about.size(), second + 2);
}

}  // namespace
}  // namespace nds
