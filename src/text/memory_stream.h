// MemoryStream: a growable in-memory byte stream with a current position, into
// which typed values (Text, Bytes) are written and read back in the same order.
// The layout of a typed value inside the stream is private to this file's
// implementation; no stream ever leaves the process.
#pragma once

#include <memory>
#include <string>

#include "text/text.h"

namespace nds {

struct MemoryStream {
    std::string content;
    std::size_t position = 0;
};

std::shared_ptr<MemoryStream> openMemoryStream();
// Releases the caller's hold on the stream; whoever else holds it keeps it.
void closeStream(std::shared_ptr<MemoryStream>& stream);
void seekToStart(MemoryStream& stream);
int streamLength(const MemoryStream& stream);
// Removes count bytes at the position; what follows moves up.
void deleteBytes(MemoryStream& stream, int count);
bool atEnd(const MemoryStream& stream);

// Raw bytes, no length, no terminator.
void writeBytes(MemoryStream& stream, const Bytes& bytes);
Bytes readBytes(MemoryStream& stream, int count);
void writeText(MemoryStream& stream, const Text& text);
// Up to the next LF (dropped, and a CR before it); the rest forms a last line.
Text readLine(MemoryStream& stream);

// Typed values: each written with its type, overwriting or extending the
// content at the position. A read whose value runs past the content, or finds
// a value of another type, gives the empty value for it and for every value
// after it.
void writeValue(MemoryStream& stream, const Text& value);
void writeValue(MemoryStream& stream, const Bytes& value);
bool readValue(MemoryStream& stream, Text& value);
bool readValue(MemoryStream& stream, Bytes& value);

template <typename... V>
void writeValues(MemoryStream& stream, const V&... values) {
    (writeValue(stream, values), ...);
}

template <typename... V>
void readValues(MemoryStream& stream, V&... values) {
    bool ok = true;
    auto one = [&](auto& v) {
        if (ok) ok = readValue(stream, v);
        if (!ok) v = {};
    };
    (one(values), ...);
}

}  // namespace nds
