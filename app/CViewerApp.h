// The application object: prepares the image library and the settings, then
// creates and shows the main frame. Takes no command-line arguments.
#pragma once

#include <QApplication>
#include <memory>
#include <thread>

#include "settings/SettingsStore.h"

namespace velarix {

class CMainFrame;

class CViewerApp final : public QApplication {
    Q_OBJECT
public:
    CViewerApp(int& argc, char** argv);
    ~CViewerApp() override;

    // True when the main frame is up and the event loop should run.
    bool InitInstance();
    // Ends the program: de-initialises the image library.
    int ExitInstance(int loopResult);

    CMainFrame* MainFrame() const { return frame_.get(); }
    // Where settings live for this user: the registry on Windows, a typed
    // file under the XDG config directory elsewhere.
    static std::shared_ptr<ISettingsBackend> MakeSettingsBackend();

private:
    void JoinRepair();

    // Mends the last recording in the background while the window is up;
    // quitting stops it, leaving the file as it was.
    std::jthread repair_;
    std::unique_ptr<CMainFrame> frame_;
    bool imageLibraryUp_ = false;
};

}  // namespace velarix
