// The program's own command line: what runs, what ends at once and with which
// exit code. (Help and unknown options end the process inside Qt; the package
// check runs those on the installed program.)
#include <gtest/gtest.h>

#include <QStringList>
#include <optional>
#include <vector>

#include "app/CommandLine.h"

namespace velarix {
namespace {

TEST(CommandLine, RunsOnlyWithoutArgumentsOfItsOwn) {
    struct Case {
        QStringList arguments;
        std::optional<int> exitCode;
    };
    const std::vector<Case> cases = {
        {{"velarix"}, std::nullopt},
        {{"velarix", "--version"}, 0},
        {{"velarix", "-v"}, 0},
        {{"velarix", "phone"}, 2},
        // After "--" every word is an argument, even one that looks like an option.
        {{"velarix", "--", "--version"}, 2},
    };
    for (const Case& c : cases)
        EXPECT_EQ(HandleCommandLine(c.arguments), c.exitCode)
            << c.arguments.join(' ').toStdString();
}

TEST(CommandLine, HelpAndVersionNeedNoDisplay) {
    struct Case {
        std::vector<const char*> argv;
        bool onlyInformation;
    };
    const std::vector<Case> cases = {
        {{"velarix"}, false},
        {{"velarix", "--version"}, true},
        {{"velarix", "-platform", "xcb", "-h"}, true},
        {{"velarix", "--help-all"}, true},
        {{"velarix", "-style", "fusion"}, false},
        {{"velarix", "--", "--help"}, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AsksOnlyForInformation(int(c.argv.size()), c.argv.data()), c.onlyInformation)
            << c.argv.back();
}

}  // namespace
}  // namespace velarix
