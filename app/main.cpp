#include "app/CViewerApp.h"
#include "app/CommandLine.h"
#include "status/RouterBridge.h"

int main(int argc, char** argv) {
    // Help and the version are answered without a display, e.g. over ssh.
    if (velarix::AsksOnlyForInformation(argc, argv)) qputenv("QT_QPA_PLATFORM", "offscreen");
    // mRouter's objects and the status page's browser need COM on Windows,
    // before the main frame exists; elsewhere this does nothing.
    velarix::ComInit com;
    velarix::DisplayOpening opening;
    velarix::CViewerApp app(argc, argv);
    opening.Release();
    if (const auto exitCode = velarix::HandleCommandLine(app.arguments())) return *exitCode;
    if (!app.InitInstance()) return 1;
    return app.ExitInstance(app.exec());
}
