#include "app/CViewerApp.h"

#include <FreeImage.h>

#include "app/CMainFrame.h"
#include "app/Icons.h"
#include "capture/AviWriter.h"

#ifdef _WIN32
#include "settings/RegistrySettingsBackend.h"
#else
#include "settings/FileSettingsBackend.h"
#endif

namespace velarix {

CViewerApp::CViewerApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(
        QString::fromLatin1(kApplicationKey.data(), qsizetype(kApplicationKey.size())));
    setOrganizationName(QString::fromLatin1(kCompanyKey.data(), qsizetype(kCompanyKey.size())));
    // No display name: Qt would append it to every window's title, and each
    // window's title is exactly its own.
    // Closing to the tray only hides the window; the frame ends the program
    // itself when it really closes.
    setQuitOnLastWindowClosed(false);
}

CViewerApp::~CViewerApp() {
    frame_.reset();
    if (imageLibraryUp_) FreeImage_DeInitialise();
}

std::shared_ptr<ISettingsBackend> CViewerApp::MakeSettingsBackend() {
#ifdef _WIN32
    return std::make_shared<RegistrySettingsBackend>();
#else
    return std::make_shared<FileSettingsBackend>();
#endif
}

bool CViewerApp::InitInstance() {
    // Every plugin, not only local ones: BMP, JPEG and PNG are needed.
    FreeImage_Initialise(FALSE);
    imageLibraryUp_ = true;
    setWindowIcon(ProgramIcon());

    SettingsStore settings(MakeSettingsBackend());
    // A recording cut off by a crash or a kill is made playable again.
    RepairLastRecording(settings);
    frame_ = std::make_unique<CMainFrame>(settings);
    frame_->show();
    frame_->setWindowTitle("Velarix");
    return true;
}

int CViewerApp::ExitInstance(int loopResult) {
    frame_.reset();
    if (imageLibraryUp_) {
        FreeImage_DeInitialise();
        imageLibraryUp_ = false;
    }
    return loopResult;
}

}  // namespace velarix
