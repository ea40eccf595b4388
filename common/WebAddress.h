// Which addresses the launcher's embedded browser may open. Its addresses come from the unsigned
// patch list, and the launcher runs elevated, so only plain web pages pass.
#pragma once

#include <string_view>

namespace qr {

// True for an "http://" or "https://" address (scheme in any letter case) whose host is a dotted
// name or IPv4 address of letters, digits, "-" and "." with an optional port, and which carries no
// user name, no blank, control character or backslash anywhere and nothing but ASCII before its path.
bool IsWebPageAddress(std::string_view address);

// The news view's rule for every navigation, its own and the page's: a web page address, or the
// empty page "about:blank".
bool IsNewsNavigationAllowed(std::string_view address);

// The blank page the news view shows when its address is refused or missing.
inline constexpr char kBlankPageAddress[] = "about:blank";

}  // namespace qr
