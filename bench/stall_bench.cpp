// The longest stall of the GUI thread while the real main frame handles each
// hostile input scenario from a relay over loopback, with the settings in a
// real per-user file. Prints figures only.
//
//   QT_QPA_PLATFORM=offscreen build/bench/velarix_stall_bench [--only NAME] [--timeout-ms N]
//   build/bench/velarix_stall_bench --xvfb [...]
//
// With --xvfb it starts a private Xvfb and runs on it through xcb, so what
// costs a round trip to a real X server (the clipboard) shows.
#include <QApplication>
#include <cstdio>
#include <cstring>
#include <string>

#include "HostileRelay.h"
#include "PrivateXvfb.h"

namespace {

int Run(int argc, char** argv) {
    QApplication app(argc, argv);
    std::string only;
    int timeoutMs = 120000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--only") == 0) only = argv[i + 1];
        if (std::strcmp(argv[i], "--timeout-ms") == 0) timeoutMs = std::atoi(argv[i + 1]);
    }
    std::printf("platform: %s\n", qPrintable(QGuiApplication::platformName()));
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

}  // namespace

int main(int argc, char** argv) {
    // The flag comes out, so the pairs of options that follow stay in step.
    bool xvfb = false;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--xvfb") == 0)
            xvfb = true;
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    pid_t server = -1;
    if (xvfb) {
        std::string display;
        server = velarix::test::StartXvfb(display);
        if (server < 0) {
            std::fprintf(stderr, "could not start Xvfb\n");
            return 1;
        }
        setenv("DISPLAY", display.c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
    }
    const int result = Run(argc, argv);
    velarix::test::StopProcess(server);
    return result;
}
