// UTF-8 pages into ANSI text (code page 936), through the platform's code-page
// calls: UTF-8 to UTF-16 units, then UTF-16 units to the ANSI code page.
#pragma once

#include "text/text.h"

namespace nds {

// The code page of every Text in the program, on every platform.
inline constexpr unsigned kAnsiCodePage = 936;
inline constexpr unsigned kUtf8CodePage = 65001;

// May append one zero byte to `data` (when its last byte is below 0x7F, or it
// is empty); the text ends at the first NUL of the data.
Text utf8ToAnsi(Bytes& data);
// `units` holds UTF-16LE code units; the text covers those before the first
// NUL unit.
Text wideToAnsi(const Bytes& units);

}  // namespace nds
