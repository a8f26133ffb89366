// A stream that keeps falling out of step: [sync pattern][a message with an
// impossible length], repeated. Every unit costs the viewer a lost link and a
// fresh sync. This feeds 1000 such units into the real main frame (offscreen,
// the per-user settings file as the backend) and prints how long the GUI
// thread spends on them, including the paints and timers they leave queued.
// Prints figures only.
//
//   QT_QPA_PLATFORM=offscreen build/bench/velarix_resync_bench [--units N] [--rounds R]
#include <stdlib.h>

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "LinkDoubles.h"
#include "StreamBuilder.h"
#include "app/CMainFrame.h"
#include "settings/FileSettingsBackend.h"
#include "view/CChildView.h"

using namespace velarix;
using namespace velarix::test;

int main(int argc, char** argv) {
    int units = 1000;
    int rounds = 5;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--units") == 0) units = std::max(1, std::atoi(argv[++i]));
        if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::max(1, std::atoi(argv[++i]));
    }
    QApplication app(argc, argv);
    std::string dir = (std::filesystem::temp_directory_path() / "velarix-resync-XXXXXX").string();
    if (::mkdtemp(dir.data()) == nullptr) return 1;
    const SettingsStore settings(std::make_shared<FileSettingsBackend>(dir + "/Quillet.conf"));
    settings.SetZoom(1);

    ByteVec flood;
    const ByteVec sync = SyncBytes();
    const ByteVec bad{0xFF, 0xFF, 0xFF, 0xFF, 0x00};  // a length no phone sends
    for (int i = 0; i < units; ++i) {
        flood.insert(flood.end(), sync.begin(), sync.end());
        flood.insert(flood.end(), bad.begin(), bad.end());
    }

    std::vector<double> millis;
    for (int round = 0; round < rounds; ++round) {
        auto frame = std::make_unique<CMainFrame>(settings);
        frame->show();
        QApplication::processEvents();
        RecordingTransport transport;
        CChildView* view = frame->View();
        view->Core().SetRouterPort(4242);
        view->Core().Link().AttachTransport(transport);
        view->Core().Link().OnReceive(sync);  // the first sync of the connection
        QApplication::processEvents();

        QElapsedTimer clock;
        clock.start();
        view->Core().Link().OnReceive(flood);
        QApplication::processEvents();
        millis.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        view->Core().Shutdown();
    }
    std::sort(millis.begin(), millis.end());
    std::printf("re-sync storm: %d units of %zu bytes, file settings backend\n", units,
                sync.size() + bad.size());
    std::printf("  median %.1f ms, best %.1f ms, worst %.1f ms over %d rounds (%.1f us a unit)\n",
                millis[millis.size() / 2], millis.front(), millis.back(), rounds,
                millis[millis.size() / 2] * 1000.0 / units);
    std::filesystem::remove_all(dir);
    return 0;
}
