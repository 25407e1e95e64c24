// UTF-8 pages into ANSI text: UTF-8 to UTF-16 units, then the units into code
// page 936, both through the platform's code-page calls. Whether a call
// succeeded is not examined: what the output area holds decides the result.
#include "text/ansi.h"

#include <cstring>
#include <limits>
#include <string>

#include "platform/codepage.h"

namespace nds {

Text utf8ToAnsi(Bytes& data) {
    int last = data.empty() ? 0 : static_cast<unsigned char>(data.view().back());
    // The zero byte stays in the caller's variable: it is what ends the text
    // when the page ends in ASCII.
    if (last < 127) data.append(std::string_view("\0", 1));

    int n = multiByteToWideChar(kUtf8CodePage, 0, data.data(), bytesLength(data), nullptr, 0);
    // 2n bytes must stay an int; a page beyond that converts to nothing.
    if (n < 0 || n > std::numeric_limits<int>::max() / 2) n = 0;
    // The wide buffer: 2n bytes of little-endian units, zero where the
    // converting pass wrote nothing.
    Bytes wide;
    if (n > 0) {
        std::u16string units(static_cast<std::size_t>(n), u'\0');
        int got =
            multiByteToWideChar(kUtf8CodePage, 0, data.data(), bytesLength(data), units.data(), n);
        std::string le(static_cast<std::size_t>(2 * n), '\0');
        for (int i = 0; i < got && i < n; ++i) {
            le[2 * i] = static_cast<char>(units[i] & 0xFF);
            le[2 * i + 1] = static_cast<char>(units[i] >> 8);
        }
        wide = Bytes(std::move(le));
    }
    return wideToAnsi(wide);
}

Text wideToAnsi(const Bytes& units) {
    const int m = bytesLength(units);
    const int count = m / 2;
    std::string area(static_cast<std::size_t>(m) + 1, ' ');

    // The conversion covers the units before the first NUL unit; a NUL unit is
    // converted too and so ends the output area's text.
    std::u16string wide;
    wide.reserve(static_cast<std::size_t>(count));
    bool sawNul = false;
    for (int i = 0; i < count; ++i) {
        auto lo = static_cast<unsigned char>(units.data()[2 * i]);
        auto hi = static_cast<unsigned char>(units.data()[2 * i + 1]);
        char16_t u = static_cast<char16_t>(lo | (hi << 8));
        if (u == 0) {
            sawNul = true;
            break;
        }
        wide.push_back(u);
    }

    if (!wide.empty()) {
        int written = wideCharToMultiByte(kAnsiCodePage, 0, wide.data(),
                                          static_cast<int>(wide.size()), area.data(), m);
        if (written > 0) area[static_cast<std::size_t>(written)] = '\0';
    } else if (sawNul) {
        area[0] = '\0';
    }
    // Text cuts at the first NUL.
    return Text(std::move(area));
}

}  // namespace nds
