// MemoryStream: raw bytes and lines for the header walk, typed values for the
// fetch mailbox's records.
#include "text/memory_stream.h"

#include <gtest/gtest.h>

#include <string>

namespace nds {
namespace {

Bytes B(std::string_view s) { return Bytes(s); }

class StreamTest : public ::testing::Test {
protected:
    std::shared_ptr<MemoryStream> holder = openMemoryStream();
    MemoryStream& s = *holder;
};

TEST_F(StreamTest, StartsEmptyAndAtEnd) {
    EXPECT_EQ(streamLength(s), 0);
    EXPECT_TRUE(atEnd(s));
    EXPECT_TRUE(readBytes(s, 10).empty());
    EXPECT_TRUE(readLine(s).empty());
}

TEST_F(StreamTest, RawBytesOverwriteThenExtend) {
    writeBytes(s, B("abcdef"));
    EXPECT_EQ(streamLength(s), 6);
    EXPECT_TRUE(atEnd(s));
    seekToStart(s);
    EXPECT_FALSE(atEnd(s));
    EXPECT_EQ(readBytes(s, 2).str(), "ab");
    writeBytes(s, B("XYZWVU"));  // overwrites "cdef" and goes on
    EXPECT_EQ(s.content, "abXYZWVU");
    seekToStart(s);
    EXPECT_EQ(readBytes(s, 100).str(), "abXYZWVU");  // fewer at the end
    EXPECT_TRUE(readBytes(s, 1).empty());
    seekToStart(s);
    EXPECT_TRUE(readBytes(s, 0).empty());
    EXPECT_TRUE(readBytes(s, -1).empty());
}

TEST_F(StreamTest, DeleteBytesAtThePosition) {
    writeBytes(s, B("0123456789"));
    seekToStart(s);
    readBytes(s, 3);
    deleteBytes(s, 4);
    EXPECT_EQ(s.content, "012789");
    deleteBytes(s, 100);  // clamped to what follows
    EXPECT_EQ(s.content, "012");
    deleteBytes(s, -1);
    EXPECT_EQ(s.content, "012");
    seekToStart(s);
    deleteBytes(s, streamLength(s));  // how the mailbox is emptied
    EXPECT_EQ(streamLength(s), 0);
    EXPECT_TRUE(atEnd(s));
}

TEST_F(StreamTest, ReadLineSplitsAtLfAndDropsCr) {
    writeText(s, Text("HTTP/1.1 200 OK\r\nSet-Cookie: a=1\n\r\nlast\r"));
    seekToStart(s);
    const char* want[] = {"HTTP/1.1 200 OK", "Set-Cookie: a=1", "", "last"};
    for (const char* w : want) {
        ASSERT_FALSE(atEnd(s));
        EXPECT_EQ(readLine(s).str(), w);
    }
    EXPECT_TRUE(atEnd(s));
    EXPECT_TRUE(readLine(s).empty());
}

TEST_F(StreamTest, WriteTextHasNoTerminator) {
    writeText(s, Text("ab"));
    writeText(s, Text());
    writeText(s, Text("c"));
    EXPECT_EQ(s.content, "abc");
}

TEST_F(StreamTest, TypedValuesRoundTrip) {
    const Bytes body(std::string_view("\0bin\0ary\0", 9));
    writeValues(s, Text("Vexmoor_OK"), Text(), body, Bytes(), Text("\xB0\xA1"));
    seekToStart(s);
    Text tag("junk"), empty("junk"), last;
    Bytes gotBody, gotEmpty(std::string_view("junk"));
    readValues(s, tag, empty, gotBody, gotEmpty, last);
    EXPECT_EQ(tag.str(), "Vexmoor_OK");
    EXPECT_TRUE(empty.empty());
    EXPECT_EQ(gotBody, body);  // every byte, NULs included
    EXPECT_TRUE(gotEmpty.empty());
    EXPECT_EQ(last.str(), "\xB0\xA1");
    EXPECT_TRUE(atEnd(s));
}

TEST_F(StreamTest, WritingValuesAtTheStartOverwritesTheOldRecord) {
    writeValues(s, Text("a long request text"), Text("second"), Bytes());
    seekToStart(s);
    writeValues(s, Text("short"));
    seekToStart(s);
    Text first;
    readValues(s, first);
    EXPECT_EQ(first.str(), "short");
}

TEST_F(StreamTest, TruncatedValueEmptiesItAndEverythingAfter) {
    writeValues(s, Text("tag"), Text("headers"), B("body bytes"));
    // Cut the content inside the last value, then inside the second.
    for (std::size_t cut : {s.content.size() - 1, std::size_t{12}}) {
        s.content.resize(cut);
        seekToStart(s);
        Text tag, headers("x");
        Bytes body(std::string_view("x"));
        readValues(s, tag, headers, body);
        EXPECT_EQ(tag.str(), "tag") << cut;
        EXPECT_TRUE(body.empty()) << cut;
        if (cut == 12)
            EXPECT_TRUE(headers.empty());
        else
            EXPECT_EQ(headers.str(), "headers");
    }
}

TEST_F(StreamTest, WrongTypeOrEmptyStreamGivesEmptyValues) {
    writeValues(s, B("bytes first"), Text("then text"));
    seekToStart(s);
    Text asText("x"), after("y");
    readValues(s, asText, after);
    EXPECT_TRUE(asText.empty());
    EXPECT_TRUE(after.empty());  // even though a Text follows

    seekToStart(s);
    deleteBytes(s, streamLength(s));
    Text tag("x");
    Bytes body(std::string_view("x"));
    readValues(s, tag, body);
    EXPECT_TRUE(tag.empty());
    EXPECT_TRUE(body.empty());
}

TEST_F(StreamTest, GarbageContentNeverReadsPastTheEnd) {
    // A type byte followed by a huge length.
    s.content = std::string(
        "T\xFF\xFF\xFF\x7F"
        "abc",
        8);
    Text t("x");
    readValues(s, t);
    EXPECT_TRUE(t.empty());
    EXPECT_EQ(s.position, 0u);
}

TEST(StreamOwnership, CloseReleasesOnlyTheCallersHold) {
    auto mine = openMemoryStream();
    auto worker = mine;  // the other holder, as with an abandoned fetch
    writeText(*mine, Text("x"));
    closeStream(mine);
    EXPECT_EQ(mine, nullptr);
    ASSERT_NE(worker, nullptr);
    EXPECT_EQ(worker->content, "x");
}

}  // namespace
}  // namespace nds
