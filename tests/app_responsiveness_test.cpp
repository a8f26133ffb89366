// The real main frame against a relay that plays hostile input: whatever the
// phone sends, the window keeps answering, no settings file is rewritten, and
// a new connection syncs afterwards. The stall bound here is deliberately
// generous (the stall benchmark prints the real figures).
#include <gtest/gtest.h>

#include "HostileRelay.h"

namespace velarix::test {
namespace {

class Responsiveness : public ::testing::TestWithParam<HostileScenario> {};

TEST_P(Responsiveness, SurvivesLeavesFilesAloneAndReconnects) {
    // The wait is long for a sanitizer build, which takes half a minute and
    // more over the 4 MB of zlib bombs.
    const HostileRun run = PlayHostile(GetParam(), 180000);
    EXPECT_TRUE(run.answered) << run.detail;
    EXPECT_TRUE(run.settingsUntouched) << run.detail;
    EXPECT_TRUE(run.reconnected) << run.detail;
    EXPECT_GE(run.longestStallMs, 0);
    EXPECT_LT(run.longestStallMs, 1000) << "handled in " << run.handledMs << " ms";
}

INSTANTIATE_TEST_SUITE_P(Hostile, Responsiveness, ::testing::ValuesIn(HostileScenarios()),
                         [](const auto& param) { return param.param.name; });

}  // namespace
}  // namespace velarix::test
