#include "app/CViewerApp.h"
#include "status/RouterBridge.h"

int main(int argc, char** argv) {
    // mRouter's objects and the status page's browser need COM on Windows,
    // before the main frame exists; elsewhere this does nothing.
    velarix::ComInit com;
    velarix::CViewerApp app(argc, argv);
    if (!app.InitInstance()) return 1;
    return app.ExitInstance(app.exec());
}
