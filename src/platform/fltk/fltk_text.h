// The text edge of the FLTK backend: GBK (code page 936) inside the program,
// UTF-8 inside FLTK, and the rewriting of the links of an HTML page so that a
// press on one hands its attribute's exact bytes to the program. Pure code,
// no FLTK calls, so it is tested on its own. Leaves out other code pages.
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

// Rewrites every <a> tag of a GBK page whose href (or, failing that, url)
// attribute is present: the attribute becomes href="nds-link:N", the rest of
// the tag is kept. `links` receives the attribute values, entity-decoded, in
// order (N is the index). Comments are left alone.
std::string rewriteLinks(std::string_view html, std::vector<Text>& links);

// The index of a rewritten link, or -1 when `uri` is not one.
int linkIndex(std::string_view uri);

}  // namespace nds::fltk
