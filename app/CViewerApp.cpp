#include "app/CViewerApp.h"

#include <FreeImage.h>

#include "VelarixVersion.h"
#include "app/CMainFrame.h"
#include "app/Icons.h"
#include "capture/AviRepair.h"
#include "capture/CodecTable.h"

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
    setApplicationVersion(QStringLiteral(VELARIX_VERSION));
    // Task bars and docks group the windows under the installed desktop entry
    // and take its icon.
    setDesktopFileName(QStringLiteral(VELARIX_APP_ID));
    // Closing to the tray only hides the window; the frame ends the program
    // itself when it really closes.
    setQuitOnLastWindowClosed(false);
}

CViewerApp::~CViewerApp() {
    frame_.reset();
    JoinRepair();
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
    // Trying every encoder takes a while; done now, at low priority,
    // it is over long before a first recording asks for its compressor.
    CodecTable::Instance().StartEnumeration(CodecTable::Priority::Low);
    // Every plugin, not only local ones: BMP, JPEG and PNG are needed.
    FreeImage_Initialise(FALSE);
    imageLibraryUp_ = true;
    setWindowIcon(ProgramIcon());

    SettingsStore settings(MakeSettingsBackend());
    // A recording cut off by a crash or a kill is made playable again, off
    // this thread so that the window is up at once whatever the file holds.
    // The name is read here: the thread touches no settings. A recording
    // started meanwhile opens at once and leaves this file to the repair.
    repair_ = std::jthread([last = settings.GetString("AVI", "Last", "")](std::stop_token stop) {
        RepairNamedRecording(last, {}, std::move(stop));
    });
    frame_ = std::make_unique<CMainFrame>(settings);
    frame_->show();
    frame_->setWindowTitle("Velarix");
    return true;
}

int CViewerApp::ExitInstance(int loopResult) {
    frame_.reset();
    JoinRepair();
    if (imageLibraryUp_) {
        FreeImage_DeInitialise();
        imageLibraryUp_ = false;
    }
    return loopResult;
}

void CViewerApp::JoinRepair() {
    // The repair looks at the stop at least once every 64 KB it reads.
    repair_.request_stop();
    if (repair_.joinable()) repair_.join();
}

}  // namespace velarix
