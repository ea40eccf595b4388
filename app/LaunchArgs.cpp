#include "app/LaunchArgs.h"

#include "common/Atoi.h"

namespace qr {

LaunchDecision DecideLaunch(const std::vector<std::string>& argv) {
    LaunchDecision decision;
    const size_t userCount = argv.empty() ? 0 : argv.size() - 1;
    if (userCount < 3) return decision;
    decision.showWindow = true;
    // With exactly three user arguments the program name is forwarded first, so the game always
    // sees at least four items and the site code is always the fourth.
    const size_t first = userCount == 3 ? 0 : 1;
    for (size_t i = first; i < argv.size(); ++i) {
        decision.gameArgs += argv[i];
        decision.gameArgs += ' ';
    }
    decision.siteCode = AtoiValue(argv[first + 3]);
    return decision;
}

PlainStartPage ChoosePlainStartPage(const std::string& memberId) {
    // The value is read into a 10-byte buffer, so only its first 9 characters count.
    return AtoiValue(std::string_view(memberId).substr(0, 9)) == 2 ? PlainStartPage::PartnerPortal
                                                                    : PlainStartPage::HomePage;
}

HomeButtonPage ChooseHomeButtonPage(int siteCode) {
    if (siteCode == 1) return HomeButtonPage::HomePage;
    if (siteCode == 3) return HomeButtonPage::PartnerPortal;
    return HomeButtonPage::None;
}

}  // namespace qr
