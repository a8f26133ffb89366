// The longest stall of the GUI thread while the real main frame handles each
// hostile input scenario from a relay over loopback, with the settings in a
// real per-user file. Prints figures only.
//
//   QT_QPA_PLATFORM=offscreen build/bench/velarix_stall_bench [--only NAME] [--timeout-ms N]
#include <QApplication>
#include <cstdio>
#include <cstring>
#include <string>

#include "HostileRelay.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    std::string only;
    int timeoutMs = 120000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--only") == 0) only = argv[i + 1];
        if (std::strcmp(argv[i], "--timeout-ms") == 0) timeoutMs = std::atoi(argv[i + 1]);
    }
    std::printf("%-22s %12s %14s  %s\n", "scenario", "handled ms", "longest stall", "notes");
    for (const auto& scenario : velarix::test::HostileScenarios()) {
        if (!only.empty() && scenario.name != only) continue;
        const auto run = velarix::test::PlayHostile(scenario, timeoutMs);
        std::printf("%-22s %12lld %11lld ms  %s\n", scenario.name.c_str(),
                    static_cast<long long>(run.handledMs),
                    static_cast<long long>(run.longestStallMs),
                    run.detail.empty() ? "ok" : run.detail.c_str());
        std::fflush(stdout);
    }
    return 0;
}
