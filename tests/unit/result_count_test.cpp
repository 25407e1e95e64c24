// countResults on its own: which count phrase of a converted page counts, the
// page total it gives, and the summary line it leaves in summaryEdit.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "search/search.h"
#include "shell/program.h"
#include "shell/runtime.h"

namespace nds {
namespace {

// A GBK phrase as the converted page holds it: 获得约 <strong>COUNT</strong> 条.
std::string phrase(const std::string& count) {
    return "\xBB\xF1\xB5\xC3\xD4\xBC <strong>" + count + "</strong> \xCC\xF5";
}

const std::string kMiddle = "\xD2\xB3     \xCB\xD1\xCB\xF7\xB5\xBD\xD4\xBC";  // 页     搜索到约
const std::string kEnd = "\xB8\xF6\xBD\xE1\xB9\xFB";                          // 个结果

// ResultsWindow open on the runtime core alone (no backend, no handlers), so
// the summary write has somewhere to go.
class CountResults : public ::testing::Test {
protected:
    void SetUp() override {
        initWindowRuntime(programForms(), {});
        loadWindow(WindowId::ResultsWindow);
        ASSERT_TRUE(isWindowOpen(WindowId::ResultsWindow));
        totalPages = -7;
    }
    static std::string summary() {
        return readText(WindowId::ResultsWindow, ControlId::summaryEdit, Property::text).str();
    }
};

TEST_F(CountResults, CountTextPageTotalAndSummary) {
    struct Case {
        const char* what;
        std::string page;
        std::string count;
        int32_t pages;
    };
    const std::string before = "<html>\xC4\xFA\xBA\xC3 ";  // 您好
    const Case cases[] = {
        {"95 results, 9 whole pages", before + phrase("95") + " tail", "95", 9},
        {"100 results", phrase("100"), "100", 10},
        {"12 results", phrase("12"), "12", 1},
        {"9 results", phrase("9"), "9", 0},
        {"nothing found", phrase("0"), "0", 0},
        {"thousands separator read up to the comma", phrase("1,234"), "1,234", 0},
        {"CR LF inside the group", phrase("\r\n95"), "\r\n95", 9},
        {"the first of two phrases", phrase("30") + phrase("50"), "30", 3},
        {"lazy group ends at the first close", phrase("4") + "</strong> \xCC\xF5", "4", 0},
        {"group spans a close not followed by the space and tiao",
         "\xBB\xF1\xB5\xC3\xD4\xBC <strong>7</strong>x</strong> \xCC\xF5", "7</strong>x", 0},
        {"no space before tiao: no match", "\xBB\xF1\xB5\xC3\xD4\xBC <strong>95</strong>\xCC\xF5",
         "", 0},
        {"tag in capitals: no match", "\xBB\xF1\xB5\xC3\xD4\xBC <STRONG>95</STRONG> \xCC\xF5", "",
         0},
        {"the phrase in UTF-8 (unconverted page): no match",
         "\xE8\x8E\xB7\xE5\xBE\x97\xE7\xBA\xA6 <strong>95</strong> \xE6\x9D\xA1", "", 0},
        {"no phrase", "<html>nothing here</html>", "", 0},
        {"empty page", "", "", 0},
        {"full-width digits parse", phrase("\xA3\xB2\xA3\xB5"), "\xA3\xB2\xA3\xB5", 2},
        {"negative count", phrase("-25"), "-25", -2},
    };
    for (const Case& c : cases) {
        pageText = Text(c.page);
        totalPages = -7;
        const Text count = countResults();
        EXPECT_EQ(count.str(), c.count) << c.what;
        EXPECT_EQ(totalPages, c.pages) << c.what;
        EXPECT_EQ(summary(), toText(c.pages).str() + kMiddle + c.count + kEnd) << c.what;
    }
}

// Many openings and no closing after them: the answer is "no count", and it
// comes at once rather than after a scan to the page's end from each opening.
TEST_F(CountResults, UnclosedPhrasesCostNoMoreThanTheirLength) {
    std::string page;
    for (int i = 0; i < 60000; ++i) page += "\xBB\xF1\xB5\xC3\xD4\xBC <strong>9";
    const struct {
        const char* what;
        std::string page;
        std::string count;
    } cases[] = {
        {"no closing at all", page, ""},
        {"a closing only before the first opening", "</strong> \xCC\xF5" + page, ""},
        {"a closing at the very end", page + "</strong> \xCC\xF5",
         page.substr(std::string("\xBB\xF1\xB5\xC3\xD4\xBC <strong>").size())},
    };
    for (const auto& c : cases) {
        pageText = Text(c.page);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(countResults().str(), c.count) << c.what;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << c.what;
    }
}

TEST_F(CountResults, SameAnswerTwice) {
    pageText = Text("x" + phrase("95") + "y");
    const Text first = countResults();
    const std::string firstSummary = summary();
    const Text second = countResults();
    EXPECT_EQ(first, second);
    EXPECT_EQ(totalPages, 9);
    EXPECT_EQ(summary(), firstSummary);
}

TEST_F(CountResults, PageBuiltToExhaustTheMatcherStatesNoCount) {
    // Thousands of opening phrases that never close: each start scans to the
    // end, and Boost.Regex gives up with an exception rather than run on. The
    // call still returns, with no count.
    std::string page;
    for (int i = 0; i < 5000; ++i) page += "\xBB\xF1\xB5\xC3\xD4\xBC <strong>";
    page += std::string(50000, 'a');
    pageText = Text(page);
    const Text count = countResults();
    EXPECT_EQ(count.str(), "");
    EXPECT_EQ(totalPages, 0);
}

}  // namespace
}  // namespace nds
