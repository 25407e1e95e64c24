// Every GBK (code page 936) literal of the program, written as hex escapes
// with the UTF-8 text beside it. tests/unit/texts_test.cpp decodes each one
// back, so a wrong byte here cannot slip through.
#pragma once

namespace nds {

// Window captions.
inline constexpr char kMainCaption[] = "\xCB\xD1\xCB\xF7\xD2\xFD\xC7\xE6";     // 搜索引擎
inline constexpr char kResultsCaption[] = "\xCB\xD1\xCB\xF7\xD2\xB3\xC3\xE6";  // 搜索页面

// Initial texts of buttons and labels.
inline constexpr char kSearchButtonText[] = "\xCB\xD1\xCB\xF7";                     // 搜索
inline constexpr char kAboutLabelText[] = "\xB9\xD8\xD3\xDA\xD7\xF7\xD5\xDF";       // 关于作者
inline constexpr char kAuthorSiteLabelText[] = "\xD7\xF7\xD5\xDF\xCD\xF8\xD5\xBE";  // 作者网站
inline constexpr char kNextButtonText[] = "\xCF\xC2\xD2\xBB\xD2\xB3";               // 下一页
inline constexpr char kPrevButtonText[] = "\xC9\xCF\xD2\xBB\xD2\xB3";               // 上一页

// statusLabel.
inline constexpr char kStatusSearching[] = "\xD5\xFD\xD4\xDA\xCB\xD1\xCB\xF7";  // 正在搜索
inline constexpr char kStatusDone[] = "\xCB\xD1\xCB\xF7\xCD\xEA\xB1\xCF";       // 搜索完毕
// A search whose page holds no result block at all (or came back empty).
inline constexpr char kStatusFailed[] = "\xCB\xD1\xCB\xF7\xCA\xA7\xB0\xDC";  // 搜索失败

// Message boxes.
inline constexpr char kMsgEnterKeyword[] =
    "\xC7\xEB\xCA\xE4\xC8\xEB\xCB\xD1\xCB\xF7\xC4\xDA\xC8\xDD";  // 请输入搜索内容
inline constexpr char kMsgNothingFound[] =
    "\xC3\xBB\xD3\xD0\xCB\xD1\xCB\xF7\xB5\xBD\xC8\xCE\xBA\xCE\xBD\xE1\xB9\xFB";  // 没有搜索到任何结果
// The exclamation marks are the full-width one (A3 A1).
inline constexpr char kMsgNoNextPage[] =
    "\xB6\xD4\xB2\xBB\xC6\xF0\xC5\xB6\xA3\xA1\xC3\xBB\xD3\xD0\xCF\xC2\xD2\xBB\xD2\xB3"
    "\xC1\xCB";  // 对不起哦！没有下一页了
inline constexpr char kMsgNoPrevPage[] =
    "\xC3\xBB\xD3\xD0\xC9\xCF\xD2\xBB\xD2\xB3\xC1\xCB\xA3\xA1";  // 没有上一页了！
// 这个仅仅是一个测试版本，后续会慢慢更新的。可以搜索更多的网盘。界面也会优化得更好。谢谢大家
inline constexpr char kStartupNotice[] =
    "\xD5\xE2\xB8\xF6\xBD\xF6\xBD\xF6\xCA\xC7\xD2\xBB\xB8\xF6\xB2\xE2\xCA\xD4\xB0\xE6"
    "\xB1\xBE\xA3\xAC\xBA\xF3\xD0\xF8\xBB\xE1\xC2\xFD\xC2\xFD\xB8\xFC\xD0\xC2\xB5\xC4"
    "\xA1\xA3\xBF\xC9\xD2\xD4\xCB\xD1\xCB\xF7\xB8\xFC\xB6\xE0\xB5\xC4\xCD\xF8\xC5\xCC"
    "\xA1\xA3\xBD\xE7\xC3\xE6\xD2\xB2\xBB\xE1\xD3\xC5\xBB\xAF\xB5\xC3\xB8\xFC\xBA\xC3"
    "\xA1\xA3\xD0\xBB\xD0\xBB\xB4\xF3\xBC\xD2";

// pageLabel: "第" + page number + "页".
inline constexpr char kPageLabelPrefix[] = "\xB5\xDA";             // 第
inline constexpr char kPageLabelSuffix[] = "\xD2\xB3";             // 页
inline constexpr char kPageLabelFirst[] = "\xB5\xDA\x31\xD2\xB3";  // 第1页 (0x31 is the digit 1)

// summaryEdit: pages + kSummaryMiddle + count text + kSummaryEnd. Exactly five
// ASCII spaces follow 页.
inline constexpr char kSummaryMiddle[] =
    "\xD2\xB3     \xCB\xD1\xCB\xF7\xB5\xBD\xD4\xBC";               // 页     搜索到约
inline constexpr char kSummaryEnd[] = "\xB8\xF6\xBD\xE1\xB9\xFB";  // 个结果

// The service's count phrase, 32 bytes; group 1 is the count text.
inline constexpr char kResultCountPattern[] =
    "\xBB\xF1\xB5\xC3\xD4\xBC <strong>(.*?)</strong> \xCC\xF5";  // 获得约 <strong>(.*?)</strong> 条

}  // namespace nds
