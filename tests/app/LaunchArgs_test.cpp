#include "app/LaunchArgs.h"

#include <gtest/gtest.h>

#include "common/Atoi.h"

namespace qr {
namespace {

TEST(LaunchArgs, FewerThanThreeArgumentsOnlyOpenAPage) {
    for (std::vector<std::string> argv : {std::vector<std::string>{"launcher.exe"},
                                          std::vector<std::string>{"launcher.exe", "a"},
                                          std::vector<std::string>{"launcher.exe", "a", "b"},
                                          std::vector<std::string>{}}) {
        LaunchDecision d = DecideLaunch(argv);
        EXPECT_FALSE(d.showWindow);
        EXPECT_EQ(d.gameArgs, "");
    }
}

TEST(LaunchArgs, ThreeArgumentsForwardTheProgramNameFirst) {
    LaunchDecision d = DecideLaunch({"C:\\Game\\launcher.exe", "x", "y", "3"});
    EXPECT_TRUE(d.showWindow);
    EXPECT_EQ(d.gameArgs, "C:\\Game\\launcher.exe x y 3 ");
    EXPECT_EQ(d.siteCode, 3);
}

TEST(LaunchArgs, FourOrMoreForwardUserArgumentsAndTakeTheFourthAsSiteCode) {
    LaunchDecision four = DecideLaunch({"l.exe", "p", "q", "r", "1"});
    EXPECT_EQ(four.gameArgs, "p q r 1 ");
    EXPECT_EQ(four.siteCode, 1);

    LaunchDecision six = DecideLaunch({"l.exe", "a", "b", "c", "d", "e", "f"});
    EXPECT_EQ(six.gameArgs, "a b c d e f ");
    EXPECT_EQ(six.siteCode, AtoiValue("d"));

    // An argument that held blanks inside quotes arrives split by the runtime and is joined as is.
    LaunchDecision quoted = DecideLaunch({"l.exe", "two words", "b", "c", " 42xyz"});
    EXPECT_EQ(quoted.gameArgs, "two words b c  42xyz ");
    EXPECT_EQ(quoted.siteCode, 42);
}

TEST(LaunchArgs, AtoiReadsLikeTheRuntime) {
    EXPECT_EQ(AtoiValue(""), 0);
    EXPECT_EQ(AtoiValue("abc"), 0);
    EXPECT_EQ(AtoiValue("  \t-17x"), -17);
    EXPECT_EQ(AtoiValue("+8"), 8);
    EXPECT_EQ(AtoiValue("02"), 2);
    EXPECT_EQ(AtoiValue("2abc"), 2);
    EXPECT_EQ(AtoiValue("- 5"), 0);
    // Very long digit strings are read whole without undefined behaviour.
    EXPECT_NO_FATAL_FAILURE(AtoiValue(std::string(5000, '9')));
}

TEST(LaunchArgs, PagesChosenByMemberIdAndSiteCode) {
    EXPECT_EQ(ChoosePlainStartPage("2"), PlainStartPage::PartnerPortal);
    EXPECT_EQ(ChoosePlainStartPage("02"), PlainStartPage::PartnerPortal);
    EXPECT_EQ(ChoosePlainStartPage("2abc"), PlainStartPage::PartnerPortal);
    EXPECT_EQ(ChoosePlainStartPage("3"), PlainStartPage::HomePage);
    EXPECT_EQ(ChoosePlainStartPage(""), PlainStartPage::HomePage);
    // Only 9 characters fit the read buffer: the tenth digit is never seen.
    EXPECT_EQ(ChoosePlainStartPage("0000000002"), PlainStartPage::HomePage);
    EXPECT_EQ(ChoosePlainStartPage("000000002"), PlainStartPage::PartnerPortal);

    EXPECT_EQ(ChooseHomeButtonPage(1), HomeButtonPage::HomePage);
    EXPECT_EQ(ChooseHomeButtonPage(3), HomeButtonPage::PartnerPortal);
    EXPECT_EQ(ChooseHomeButtonPage(0), HomeButtonPage::None);
    EXPECT_EQ(ChooseHomeButtonPage(2), HomeButtonPage::None);
}

}  // namespace
}  // namespace qr
