// The text edge of the FLTK backend: GBK (code page 936) inside the program,
// UTF-8 inside FLTK, and the cleaning of an HTML page for the view, whose
// links are rewritten so that a press on one hands its attribute's exact bytes
// to the program. Pure code, no FLTK calls, so it is tested on its own.
// Leaves out other code pages.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "text/text.h"

namespace nds::fltk {

// GBK bytes to UTF-8; a malformed byte becomes U+FFFD.
std::string gbkToUtf8(std::string_view gbk);
// UTF-8 to GBK; a character outside GBK becomes '?'.
Text utf8ToGbk(std::string_view utf8);

// A text for an FLTK label: UTF-8, '@' escaped (FLTK reads "@..." as a
// symbol), CR dropped so that CR LF breaks a line once.
std::string labelText(const Text& gbk);

// The link form used inside the view: "nds-link:" and the link's index.
inline constexpr std::string_view kLinkScheme = "nds-link:";

// Makes a GBK page safe and plain for the HTML view, whose parser ends a tag
// at its first '>' even inside quotes, reads attributes past that '>' and
// follows anything it can name. Every tag is written again in one regular
// form (lower-case names, double-quoted values with no '<', '>' or '"'), and:
//  - every <a> with an href (or, failing that, url) attribute gets
//    href="nds-link:N" as its first attribute and loses the original;
//    `links` receives the attribute values, entity-decoded, in order (N is
//    the index);
//  - <img> tags are dropped: the view shows no pictures and loads nothing;
//  - <font size> becomes an absolute size 1 to 7 (relative sizes count from
//    3, as in a browser) or is dropped; <font face=symbol> is dropped, so CJK
//    text keeps its font; <body link/vlink/alink> are dropped, so links keep
//    the view's own colour;
//  - comments, <!...> and <?...> go, a '<' that starts no tag becomes "&lt;",
//    and a tag or comment left open at the end of the page is dropped.
// A quoted value still open at the next '<' (or at the end) is taken for a
// missing quote: it ends at the first '>' after the quote, which ends the tag.
std::string prepareHtml(std::string_view html, std::vector<Text>& links);

// The index of a rewritten link, or -1 when `uri` is not one.
int linkIndex(std::string_view uri);

}  // namespace nds::fltk
