// MemoryStream: the in-memory stream that carries the fetch mailbox's records
// and the body chunks. A typed value is laid out as one type byte, its length
// as 4 bytes little-endian, then its bytes; the layout never leaves the process.
#include "text/memory_stream.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace nds {
namespace {

constexpr char kTextTag = 'T';
constexpr char kBytesTag = 'B';
constexpr std::size_t kHeaderSize = 5;

// Writes raw bytes at the position, overwriting what is there and extending
// the content past its end.
void putAt(MemoryStream& stream, std::string_view bytes) {
    std::string& c = stream.content;
    if (stream.position > c.size()) c.resize(stream.position, '\0');
    std::size_t overlap = std::min(bytes.size(), c.size() - stream.position);
    c.replace(stream.position, overlap, bytes.substr(0, overlap));
    c.append(bytes.substr(overlap));
    stream.position += bytes.size();
}

void writeTyped(MemoryStream& stream, char tag, std::string_view payload) {
    // A value of 4 GiB or more cannot be held by the program's int lengths;
    // cut it rather than write a length that lies.
    std::size_t n = std::min<std::size_t>(payload.size(), std::numeric_limits<uint32_t>::max());
    auto len = static_cast<uint32_t>(n);
    char header[kHeaderSize] = {
        tag, static_cast<char>(len & 0xFF), static_cast<char>((len >> 8) & 0xFF),
        static_cast<char>((len >> 16) & 0xFF), static_cast<char>((len >> 24) & 0xFF)};
    putAt(stream, std::string_view(header, kHeaderSize));
    putAt(stream, payload.substr(0, n));
}

// Reads the value of type `tag` at the position. On a wrong type or a value
// that runs past the content it returns false and leaves the position alone.
bool readTyped(MemoryStream& stream, char tag, std::string_view& payload) {
    const std::string& c = stream.content;
    if (stream.position > c.size() || c.size() - stream.position < kHeaderSize) return false;
    const char* h = c.data() + stream.position;
    if (h[0] != tag) return false;
    uint32_t len = 0;
    for (int k = 4; k >= 1; --k) len = (len << 8) | static_cast<unsigned char>(h[k]);
    if (c.size() - stream.position - kHeaderSize < len) return false;
    payload = std::string_view(h + kHeaderSize, len);
    stream.position += kHeaderSize + len;
    return true;
}

}  // namespace

std::shared_ptr<MemoryStream> openMemoryStream() { return std::make_shared<MemoryStream>(); }

void closeStream(std::shared_ptr<MemoryStream>& stream) { stream.reset(); }

void seekToStart(MemoryStream& stream) { stream.position = 0; }

int streamLength(const MemoryStream& stream) {
    return static_cast<int>(
        std::min<std::size_t>(stream.content.size(), std::numeric_limits<int>::max()));
}

void deleteBytes(MemoryStream& stream, int count) {
    if (count <= 0 || stream.position >= stream.content.size()) return;
    std::size_t n =
        std::min(static_cast<std::size_t>(count), stream.content.size() - stream.position);
    stream.content.erase(stream.position, n);
}

bool atEnd(const MemoryStream& stream) { return stream.position >= stream.content.size(); }

void writeBytes(MemoryStream& stream, const Bytes& bytes) { putAt(stream, bytes.view()); }

Bytes readBytes(MemoryStream& stream, int count) {
    if (count <= 0 || atEnd(stream)) return {};
    std::size_t n =
        std::min(static_cast<std::size_t>(count), stream.content.size() - stream.position);
    Bytes out(std::string_view(stream.content).substr(stream.position, n));
    stream.position += n;
    return out;
}

void writeText(MemoryStream& stream, const Text& text) { putAt(stream, text.view()); }

Text readLine(MemoryStream& stream) {
    if (atEnd(stream)) return {};
    std::string_view rest = std::string_view(stream.content).substr(stream.position);
    std::size_t lf = rest.find('\n');
    std::string_view line = rest.substr(0, lf);
    stream.position += lf == std::string_view::npos ? rest.size() : lf + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return Text(line);
}

void writeValue(MemoryStream& stream, const Text& value) {
    writeTyped(stream, kTextTag, value.view());
}

void writeValue(MemoryStream& stream, const Bytes& value) {
    writeTyped(stream, kBytesTag, value.view());
}

bool readValue(MemoryStream& stream, Text& value) {
    std::string_view payload;
    if (!readTyped(stream, kTextTag, payload)) return false;
    value = Text(payload);
    return true;
}

bool readValue(MemoryStream& stream, Bytes& value) {
    std::string_view payload;
    if (!readTyped(stream, kBytesTag, payload)) return false;
    value = Bytes(payload);
    return true;
}

}  // namespace nds
