// countResults: the service's approximate result count, read from pageText
// with Boost.Regex, and the page total and summary line derived from it.
#include <boost/regex.hpp>
#include <stdexcept>
#include <string>
#include <string_view>

#include "search/search.h"
#include "shell/program.h"
#include "shell/texts.h"

namespace nds {

namespace {

// The phrase's fixed opening and closing, around the lazy group.
constexpr std::string_view kPhraseOpening = "\xBB\xF1\xB5\xC3\xD4\xBC <strong>";  // 获得约 <strong>
constexpr std::string_view kPhraseClosing = "</strong> \xCC\xF5";                 // </strong> 条

// The search can only succeed when a closing follows the first opening; when
// none does, no later opening has one either. Without this check a page of
// many unclosed openings costs the search a scan to the page's end from each
// of them, and a hostile page can stall the program for seconds.
bool mayMatch(const std::string& page) {
    const std::size_t opening = page.find(kPhraseOpening);
    return opening != std::string::npos &&
           page.find(kPhraseClosing, opening + kPhraseOpening.size()) != std::string::npos;
}

}  // namespace

Text countResults() {
    Text count;
    {
        // Perl syntax, case-sensitive, nothing else: "." also matches CR and
        // LF. Pattern and page are both GBK, compared byte by byte. Compiled
        // anew each call and gone before the summary is written.
        const boost::regex pattern(kResultCountPattern, boost::regex::perl);
        const std::string& page = pageText.str();
        boost::match_results<std::string::const_iterator> match;
        try {
            if (mayMatch(page) && boost::regex_search(page.begin(), page.end(), match, pattern)) {
                count = Text{match.str(1)};
            }
        } catch (const std::runtime_error&) {
            // A page built to make the search too costly: Boost gives up rather
            // than run for ever. Such a page states no count.
            count = Text{};
        }
    }
    totalPages = truncateToInteger(toInteger(count) / 10.0);
    writeProperty(WindowId::ResultsWindow, ControlId::summaryEdit, Property::text,
                  concatText(toText(totalPages), kSummaryMiddle, count, kSummaryEnd));
    return count;
}

}  // namespace nds
