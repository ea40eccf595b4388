// The two web pages the launcher opens in the user's browser, and the ways it opens them.
#pragma once

#include <string>

namespace qr {

inline constexpr const char kHomePageUrl[] = "http://www.quorvel-rpg.example/";
inline constexpr const char kPartnerPortalUrl[] = "http://quorvel.partner-portal.example/game/main.asp";

// ShellExecute "open" of the address itself (start-up's plain start).
void OpenPageDirectly(const std::string& url);
// ShellExecute "open" of explorer.exe with the address as its parameters (the home button).
void OpenPageThroughExplorer(const std::string& url);

}  // namespace qr
