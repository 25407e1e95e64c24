// countResults: the service's approximate result count, read from pageText
// with Boost.Regex, and the page total and summary line derived from it.
#include <boost/regex.hpp>
#include <stdexcept>
#include <string>

#include "search/search.h"
#include "shell/program.h"
#include "shell/texts.h"

namespace nds {

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
            if (boost::regex_search(page.begin(), page.end(), match, pattern)) {
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
