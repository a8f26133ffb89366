// The main frame's client: the phone screen while a link is active, the
// status page while none is. Paints, routes keyboard and mouse input and
// window timers into ViewCore, and owns the connection attempts to the relay.
#pragma once

#include <QImage>
#include <QPointer>
#include <QStandardPaths>
#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "capture/AviWriter.h"
#include "capture/Recorder.h"
#include "settings/SettingsStore.h"
#include "view/ViewCore.h"

class QFileSystemWatcher;

namespace velarix {

class CHtmlCtrl;
class SocketTransport;

// Where a save dialog starts: the folder of the last file saved, or with none
// the user's folder of `location` (Pictures, Videos), or home without one.
QString SaveStartFolder(const std::string& lastDir, QStandardPaths::StandardLocation location);

class CChildView final : public QWidget, public IViewHost, public IRecorderHost {
    Q_OBJECT
public:
    // Stand-ins for the recording's file dialog and message box (tests).
    using VideoDialogHook = std::function<std::optional<std::string>(
        const std::string& initialName, const std::string& initialDir)>;
    using AviErrorHook = std::function<void(const QString& text)>;
    // Stand-in for the question whether an existing file may be replaced.
    using ReplaceQuestionHook = std::function<bool(const std::string& path)>;

    explicit CChildView(SettingsStore settings, QWidget* parent = nullptr);
    ~CChildView() override;

    ViewCore& Core() { return core_; }
    const ViewCore& Core() const { return core_; }
    CHtmlCtrl* StatusPage() const { return statusPage_; }

    // The client size that fits the screen at the current zoom.
    QSize FittingSize() const;
    // The frame draws an outline while only the phone area of it is visible.
    void SetFramelessOutline(bool on);
    // The screen as an upright 208 × 320 image.
    QImage ScreenImage() const;

    // Relay bootstrap.
    bool QueryRouterPort();
    bool OpenRouterBox();
    // Off Windows the relay publishes its port in a file: the view watches
    // it and its folder and asks again when either changes.
    void WatchRelayPortFile();
    void OnRelayPortFileChanged();
    QFileSystemWatcher* PortWatcher() const { return portWatcher_; }
    void ShowStatusPage();
    void BuildStatusPage();
    // The status page's navigation hook; returns the cancel flag.
    bool OnStatusLink(const QString& url);

    // Recording: the Start, Pause and Stop commands and the recording state
    // (0 idle, 1 recording, 2 paused).
    void ToggleRecording();
    void TogglePause();
    void StopRecording();
    void OnRecordTimer();
    int RecordState() const { return recorder_.RecordState(); }
    const Recorder& GetRecorder() const { return recorder_; }
    // Records into `writer` (null: the view's own AVI writer) from the next start on.
    void UseRecordWriter(IRecordWriter* writer);
    void SetVideoDialogHook(VideoDialogHook hook) { videoDialogHook_ = std::move(hook); }
    void SetAviErrorHook(AviErrorHook hook) { aviErrorHook_ = std::move(hook); }
    void SetReplaceQuestionHook(ReplaceQuestionHook hook) { replaceHook_ = std::move(hook); }
    // True when `path` does not exist or the user agrees to replace it.
    bool ConfirmReplace(const std::string& path);
    // The recording's clock (tests); null restores the monotonic clock.
    void SetRecordClock(Recorder::Clock clock) { recorder_.SetClock(std::move(clock)); }
    // Waits until the writer has taken every frame handed over so far.
    void WaitForRecordWriter() { recorder_.WaitForWriter(); }

    // The setup command: the setup dialog, and after OK the relay port queried
    // again and the status page refreshed.
    void RunSetup();

    // IViewHost
    void RepaintNow(int left, int top, int right, int bottom) override;
    void RedrawAll() override;
    void ShowStatusPage(bool show) override;
    void RefreshStatusPage() override;
    void StartTimer(int id, int milliseconds) override;
    void KillTimer(int id) override;
    void StartFrameRefresh() override;
    void ActivateMainWindow() override;
    void BringToFront() override;
    bool RaisedThisTurn() const override { return raisedThisTurn_; }
    void StatusPaneChanged() override { emit statusPaneChanged(); }
    std::optional<std::string> ClipboardText() override;
    void SetClipboardText(const std::string& phoneText) override;
    void CopyScreenToClipboard() override;
    void SaveScreenshot() override;
    void ZoomChanged() override;
    void ConnectToRouter() override;
    void LinkLost() override;
    void ShowStatusMessage(const std::string& text) override;

    // IRecorderHost
    std::optional<std::string> AskVideoFileName(const std::string& initialName,
                                                const std::string& initialDir) override;
    void ShowAviError(const std::string& text) override;
    void StartRecordTimer(int milliseconds) override;
    void StopRecordTimer() override;
    // Shown as the frame's status-bar message while a link is active; the
    // empty text (the idle text) always.
    void SetStatusText(const std::string& text) override;
    std::span<const std::uint32_t> ScreenPixels() const override;
    int ScreenWidth() const override;
    int ScreenHeight() const override;
    bool FrameReady() const override;
    void ClearFrameReady() override;

signals:
    void statusTextChanged(const QString& text);
    // A recording ended by itself (a failed frame, a lost link).
    void recordStateChanged();
    void frameRefreshRequested();
    void activateRequested();
    // A screenshot or a recording was saved; the text says where.
    void fileSaved(const QString& text);
    void statusPaneChanged();
    void bringToFrontRequested();
    void zoomChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void OnTimer(int id);
    void OnConnectDone(SocketError error);
    void UpdateScreenImage(int firstLine, int lastLine);
    // Puts the phone's latest text on the clipboard, if one is waiting.
    void ApplyPhoneClipboard();
    // Says where the recording went once it has ended.
    void AnnounceRecording(bool wasActive);

    ViewCore core_;
    CHtmlCtrl* statusPage_;
    std::array<QTimer*, 6> timers_{};  // view timers 1..5
    QTimer statusRefresh_;
    std::unique_ptr<SocketTransport> transport_;
    QImage screenImage_;  // upright copy of the screen buffer, kept between paints
    bool framelessOutline_ = false;
    CAviWriter aviWriter_;
    AviWriterAdapter aviAdapter_{aviWriter_};
    Recorder recorder_;
    VideoDialogHook videoDialogHook_;
    AviErrorHook aviErrorHook_;
    ReplaceQuestionHook replaceHook_;
    bool raisedThisTurn_ = false;  // BringToFront ran in this turn of the event loop
    // The phone's latest clipboard text, until the turn it came in is over.
    std::optional<std::string> phoneClipboard_;
    std::string recordingName_;  // the file of the current or last recording
    QFileSystemWatcher* portWatcher_ = nullptr;
};

}  // namespace velarix
