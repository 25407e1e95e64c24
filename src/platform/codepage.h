// Code-page conversion, shaped like MultiByteToWideChar / WideCharToMultiByte.
// On Windows these forward to the system; elsewhere the platform layer brings
// its own UTF-8 decoder and code-page 936 encoder.
#pragma once

#include <cstdint>

namespace nds {

// Decodes `srcLen` bytes of `codePage` (65001 or 936) into UTF-16 units. With
// dstLen 0 it only counts. Never fails on malformed input: each bad sequence
// becomes U+FFFD. Returns the number of units (written or needed), 0 on error.
int multiByteToWideChar(unsigned codePage, uint32_t flags, const char* src, int srcLen,
                        char16_t* dst, int dstLen);

// Encodes `srcLen` UTF-16 units into `codePage` (936; 65001 also accepted),
// with best fit where one exists and '?' otherwise. Writes no terminator.
// Returns the bytes written, 0 when they do not fit in dstLen or on error.
int wideCharToMultiByte(unsigned codePage, uint32_t flags, const char16_t* src, int srcLen,
                        char* dst, int dstLen);

}  // namespace nds
