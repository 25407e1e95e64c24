// The demo search service: a loopback HTTP server that answers /s?q=KEYWORD&p=OFFSET
// from a corpus of made-up share links, in the page format the program reads
// (UTF-8 HTML, the count phrase, the result block and its end marker).
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace httplib {
class Server;
}

namespace nds::demo {

struct Entry {
    std::string title;  // UTF-8
    std::string link;
    std::string size;
    std::string date;
};

// Reads a tab-separated corpus (title, link, size, date; '#' lines skipped).
// Returns false when the file cannot be read.
bool loadCorpus(const std::string& path, std::vector<Entry>& out, std::string& error);

// The keyword and offset of a request target such as "/s?q=%E5%90%88&p=10". The
// keyword's escapes are decoded here, from the raw bytes, and its bytes are
// taken as UTF-8 when they are valid UTF-8 and as GBK otherwise; the result is
// always UTF-8. A missing or unreadable p is 0; a negative one is 0.
struct Query {
    std::string keyword;
    long offset = 0;
};
Query parseSearchTarget(std::string_view target);

bool isValidUtf8(std::string_view s);
std::string gbkToUtf8(std::string_view gbk);
std::string percentDecode(std::string_view s);
// Bytes of 0x80 and above, control bytes, spaces and '%' as %XX: a raw GBK
// byte and an escape the client sent stay apart in the log.
std::string percentShow(std::string_view raw);

inline constexpr int kPageSize = 10;

// Entries whose title holds the keyword, ASCII letters compared without case.
std::vector<const Entry*> findEntries(const std::vector<Entry>& corpus, std::string_view keyword);
std::string searchPage(const std::vector<Entry>& corpus, const Query& query);
std::string homePage(std::size_t entries);

// Appends one line per request ("GET /s?q=%D6%D0"), shared by the server's
// threads. A null file logs nothing.
class RequestLog {
public:
    explicit RequestLog(std::FILE* file = nullptr) : file_(file) {}
    void write(std::string_view method, std::string_view target);

private:
    std::mutex mutex_;
    std::FILE* file_;
};

// Installs the routes on `server`; corpus and log must outlive it.
void installRoutes(httplib::Server& server, const std::vector<Entry>& corpus, RequestLog& log);

// Where the bundled corpus is: next to the executable, else in the source tree.
std::string defaultCorpusPath();

}  // namespace nds::demo
