// How the launcher reads its own command line: too few arguments mean a plain start that only opens
// a web page; otherwise the arguments are forwarded to the game and the fourth forwarded item is the
// site code.
#pragma once

#include <string>
#include <vector>

namespace qr {

struct LaunchDecision {
    bool showWindow = false;
    std::string gameArgs;  // each forwarded item followed by one blank
    int siteCode = 0;
};

// argv[0] is the program name as written on the command line, then the user's arguments.
LaunchDecision DecideLaunch(const std::vector<std::string>& argv);

// The page a plain start opens, from the "Member"/"id" value of ".\option.ini" (at most 9
// characters of it are seen).
enum class PlainStartPage { HomePage, PartnerPortal };
PlainStartPage ChoosePlainStartPage(const std::string& memberId);

// The page the home button opens for a site code; none for codes other than 1 and 3.
enum class HomeButtonPage { None, HomePage, PartnerPortal };
HomeButtonPage ChooseHomeButtonPage(int siteCode);

}  // namespace qr
