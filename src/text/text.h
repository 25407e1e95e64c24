// Text and Bytes: the two value types every part of the program passes around.
//
// Text is a byte string in the ANSI code page (936, GBK) ended by a NUL: it
// never holds a NUL byte of its own, so building one from bytes cuts at the
// first NUL. Bytes is a counted array that may hold NUL bytes. An absent value
// and an empty value are the same thing for both. Positions are 1-based and
// counted in bytes; a byte of 0x80 or above begins a double-byte character.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace nds {

class Text {
public:
    Text() = default;
    Text(const char* s) : Text(std::string_view(s ? s : "")) {}
    explicit Text(std::string_view s) : s_(s.substr(0, s.find('\0'))) {}
    explicit Text(std::string&& s);

    const std::string& str() const { return s_; }
    std::string_view view() const { return s_; }
    const char* c_str() const { return s_.c_str(); }
    // What WinINet-shaped calls take: an empty text goes out as a null pointer.
    const char* cOrNull() const { return s_.empty() ? nullptr : s_.c_str(); }
    std::size_t size() const { return s_.size(); }
    bool empty() const { return s_.empty(); }

    friend bool operator==(const Text& a, const Text& b) = default;

private:
    std::string s_;
};

class Bytes {
public:
    Bytes() = default;
    explicit Bytes(std::string_view b) : b_(b) {}
    explicit Bytes(std::string&& b) : b_(std::move(b)) {}

    const std::string& str() const { return b_; }
    std::string_view view() const { return b_; }
    const char* data() const { return b_.data(); }
    char* data() { return b_.data(); }
    std::size_t size() const { return b_.size(); }
    bool empty() const { return b_.empty(); }
    void append(std::string_view more) { b_.append(more); }

    friend bool operator==(const Bytes& a, const Bytes& b) = default;

private:
    std::string b_;
};

// Text operations. Results are fresh values owned by the caller.
Text concatText(std::initializer_list<Text> parts);
template <typename... T>
Text concatText(const T&... parts) {
    return concatText({Text(parts)...});
}
int compareText(const Text& a, const Text& b);
int textLength(const Text& t);
int findText(const Text& t, const Text& needle, int start = 1, bool ignoreCase = false);
Text textLeft(const Text& t, int n);
Text textRight(const Text& t, int n);
Text textMid(const Text& t, int start, int n);
Text replaceText(const Text& t, int start, int n, const Text* replacement = nullptr);
Text removeAllSpaces(const Text& t);
Text toUpper(const Text& t);
Text toLower(const Text& t);
Text charFromCode(int code);
int32_t toInteger(const Text& t);
double toNumber(const Text& t);
Text toText(int64_t i);
Text blankText(int n);

// Byte-array operations.
int bytesLength(const Bytes& b);
Bytes textToBytes(const Text& t);
Bytes blankBytes(int n);
Bytes bytesLeft(const Bytes& b, int n);
Bytes bytesRight(const Bytes& b, int n);
Bytes concatBytes(std::initializer_list<Bytes> parts);
// Element 0 of the vector is the 1-based array's element 1.
std::vector<Bytes> splitBytes(const Bytes& b, const Bytes& separator);

// Toward zero; values beyond the int32 range saturate, NaN gives 0.
int32_t truncateToInteger(double x);

}  // namespace nds
