// The program's own command line: what runs, what ends at once and with which
// exit code, and the start without a display. (Help ends the process inside
// Qt; the package check runs it on the installed program.)
#include <gtest/gtest.h>

#include <QProcess>
#include <QStringList>
#include <optional>
#include <vector>

#include "app/CommandLine.h"

namespace velarix {
namespace {

TEST(CommandLine, OtherArgumentsAreNamedOnOneLineAndIgnored) {
    struct Case {
        QStringList arguments;
        std::optional<int> exitCode;
        std::string error;
    };
    const std::vector<Case> cases = {
        {{"velarix"}, std::nullopt, ""},
        {{"velarix", "--version"}, 0, ""},
        {{"velarix", "phone", "-v"}, 0, ""},
        {{"velarix", "phone"}, std::nullopt, "velarix: takes no arguments, ignoring: phone\n"},
        {{"velarix", "--bogus", "-x"},
         std::nullopt,
         "velarix: takes no arguments, ignoring: --bogus -x\n"},
        // After "--" every word is an argument, even one that looks like an option.
        {{"velarix", "--", "--version"},
         std::nullopt,
         "velarix: takes no arguments, ignoring: -- --version\n"},
    };
    for (const Case& c : cases) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(HandleCommandLine(c.arguments), c.exitCode)
            << c.arguments.join(' ').toStdString();
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.error);
    }
}

// Over ssh without X forwarding, or with a display that is gone: one line and
// status 1, where Qt alone aborts after a page about plugins. Windows always
// has its desktop.
#ifndef _WIN32
TEST(CommandLine, WithoutADisplayOneLineAndStatusOne) {
    const struct {
        const char* display;
        const char* line;
    } cases[] = {
        {nullptr, "velarix: no display could be opened (DISPLAY is not set)\n"},
        {":4711", "velarix: no display could be opened (DISPLAY=:4711)\n"},
    };
    for (const auto& c : cases) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(name);
        if (c.display) env.insert("DISPLAY", c.display);
        QProcess velarix;
        velarix.setProcessEnvironment(env);
        velarix.start(VELARIX_PROGRAM, {"phone"});
        ASSERT_TRUE(velarix.waitForFinished(30000));
        EXPECT_EQ(velarix.exitStatus(), QProcess::NormalExit) << c.line;
        EXPECT_EQ(velarix.exitCode(), 1) << c.line;
        EXPECT_EQ(velarix.readAllStandardError().toStdString(), c.line);
    }
}

#endif  // _WIN32

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
