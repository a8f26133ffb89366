#include "view/CChildView.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QStandardPaths>
#include <QWheelEvent>
#include <filesystem>
#include <utility>

#include "capture/ScreenshotDialog.h"
#include "capture/Screenshots.h"
#include "setup/CSetupDialog.h"
#include "status/CHtmlCtrl.h"
#include "status/RouterBridge.h"
#include "status/StatusPage.h"
#include "view/Cp1252.h"
#include "view/SocketTransport.h"

namespace velarix {

namespace {

const QColor kBackground(214, 211, 206);
const QColor kEdgeLight(240, 240, 240);
const QColor kEdgeDark(144, 144, 144);

PcKey ToPcKey(int key) {
    switch (key) {
        case Qt::Key_PageUp:
            return PcKey::PageUp;
        case Qt::Key_PageDown:
            return PcKey::PageDown;
        case Qt::Key_Left:
            return PcKey::Left;
        case Qt::Key_Up:
            return PcKey::Up;
        case Qt::Key_Right:
            return PcKey::Right;
        case Qt::Key_Down:
            return PcKey::Down;
        case Qt::Key_F1:
            return PcKey::F1;
        case Qt::Key_F2:
            return PcKey::F2;
        case Qt::Key_F3:
            return PcKey::F3;
        case Qt::Key_F4:
            return PcKey::F4;
        case Qt::Key_F5:
            return PcKey::F5;
        default:
            return PcKey::Other;
    }
}

int ButtonCount(Qt::MouseButtons buttons) {
    int n = 0;
    for (Qt::MouseButton b : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton})
        if (buttons & b) ++n;
    return n;
}

// The name the recording gets: the writer adds ".avi" to a name without "avi".
std::string RecordedName(std::string path) {
    if (path.find("avi") == std::string::npos) path += ".avi";
    return path;
}

}  // namespace

QString SaveStartFolder(const std::string& lastDir, QStandardPaths::StandardLocation location) {
    if (!lastDir.empty()) return QString::fromStdString(lastDir);
    // The user's folder for this kind of file, where it exists; else home.
    const QString folder = QStandardPaths::writableLocation(location);
    if (!folder.isEmpty() && QFileInfo(folder).isDir()) return folder;
    return QDir::homePath();
}

CChildView::CChildView(SettingsStore settings, QWidget* parent)
    : QWidget(parent),
      core_(*this, std::move(settings)),
      statusPage_(new CHtmlCtrl(this)),
      screenImage_(kScreenWidth, kScreenHeight, QImage::Format_RGB32),
      aviWriter_(core_.Settings()),
      recorder_(*this, aviAdapter_, core_.Settings()) {
    setObjectName("CChildView");
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);  // the paint covers everything
    setCursor(Qt::ArrowCursor);
    screenImage_.fill(Qt::white);

    statusPage_->setObjectName("statusPage");
    statusPage_->SetNavigateHook([this](const QString& url) { return OnStatusLink(url); });
    for (int id = 1; id < static_cast<int>(timers_.size()); ++id) {
        timers_[std::size_t(id)] = new QTimer(this);
        connect(timers_[std::size_t(id)], &QTimer::timeout, this, [this, id] { OnTimer(id); });
    }
    // Recording ticks keep their rate as closely as the platform allows.
    timers_[std::size_t(kTimerRecording)]->setTimerType(Qt::PreciseTimer);
    statusRefresh_.setSingleShot(true);
    statusRefresh_.setInterval(0);
    connect(&statusRefresh_, &QTimer::timeout, this, [this] {
        if (!core_.ActiveLink()) ShowStatusPage();
    });
    setFixedSize(FittingSize());
    ShowStatusPage();
    WatchRelayPortFile();
}

CChildView::~CChildView() {
    // The frame is half gone when its children go: nothing reaches it now.
    blockSignals(true);
    // The phone's last text stays on the clipboard.
    ApplyPhoneClipboard();
    // A running or paused recording is finished, so the file stays playable.
    recorder_.StopRecording();
    for (QTimer* t : timers_)
        if (t) t->stop();
    // Bye and the close go out while the socket still exists.
    core_.Shutdown();
}

QSize CChildView::FittingSize() const {
    const int zoom = core_.Zoom();
    return {zoom * kScreenWidth + 6, zoom * kScreenHeight + 4};
}

void CChildView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const QSize size = FittingSize();
    statusPage_->setGeometry(2, 1, size.width() - 4, size.height() - 2);
}

void CChildView::SetFramelessOutline(bool on) {
    if (framelessOutline_ == on) return;
    framelessOutline_ = on;
    update();
}

void CChildView::UpdateScreenImage(int firstLine, int lastLine) {
    const auto screen = core_.Screen();
    if (screen.size() < kScreenPixels) return;
    firstLine = std::max(firstLine, 0);
    lastLine = std::min(lastLine, kScreenHeight - 1);
    for (int y = firstLine; y <= lastLine; ++y) {
        const std::uint32_t* src =
            screen.data() + std::size_t(kScreenHeight - 1 - y) * kScreenWidth;
        auto* dst = reinterpret_cast<std::uint32_t*>(screenImage_.scanLine(y));
        // The buffer's top byte has no meaning; the image wants it opaque.
        for (int x = 0; x < kScreenWidth; ++x) dst[x] = src[x] | 0xFF000000u;
    }
}

QImage CChildView::ScreenImage() const {
    QImage image(kScreenWidth, kScreenHeight, QImage::Format_RGB32);
    const auto screen = core_.Screen();
    for (int y = 0; y < kScreenHeight; ++y) {
        const std::uint32_t* src =
            screen.data() + std::size_t(kScreenHeight - 1 - y) * kScreenWidth;
        auto* dst = reinterpret_cast<std::uint32_t*>(image.scanLine(y));
        for (int x = 0; x < kScreenWidth; ++x) dst[x] = src[x] | 0xFF000000u;
    }
    return image;
}

void CChildView::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    p.setClipRegion(event->region());
    const int right = width();
    const int bottom = height();
    p.fillRect(rect(), kBackground);

    // A sunken edge, one pixel wide: light on the right and bottom, dark on
    // the left and top.
    p.fillRect(QRect(QPoint(right - 3, 1), QPoint(right - 3, bottom - 2)), kEdgeLight);
    p.fillRect(QRect(QPoint(2, bottom - 1), QPoint(right - 3, bottom - 1)), kEdgeLight);
    p.fillRect(QRect(QPoint(2, 2), QPoint(2, bottom - 2)), kEdgeDark);
    p.fillRect(QRect(QPoint(2, 1), QPoint(right - 4, 1)), kEdgeDark);

    if (core_.ActiveLink()) {
        const int zoom = core_.Zoom();
        const QRect dirty = event->rect();
        UpdateScreenImage((dirty.top() - 2) / zoom, (dirty.bottom() - 2) / zoom);
        // Nearest-neighbour doubling: no smooth transform.
        p.drawImage(QRect(3, 2, kScreenWidth * zoom, kScreenHeight * zoom), screenImage_);
    }
    if (framelessOutline_) {
        // On the outermost pixels the frame leaves visible, and one further
        // in. Filled edges: a stroked rectangle would end a pixel outside.
        for (const QRect& r : {QRect(QPoint(1, 0), QPoint(right - 2, bottom - 1)),
                               QRect(QPoint(2, 1), QPoint(right - 3, bottom - 2))}) {
            p.fillRect(QRect(r.left(), r.top(), r.width(), 1), Qt::black);
            p.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), Qt::black);
            p.fillRect(QRect(r.left(), r.top(), 1, r.height()), Qt::black);
            p.fillRect(QRect(r.right(), r.top(), 1, r.height()), Qt::black);
        }
    }
}

void CChildView::RepaintNow(int left, int top, int right, int bottom) {
    repaint(QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)));
}

void CChildView::RedrawAll() {
    // Queued rather than painted at once: a link that loses and regains its
    // sync many times within one read is painted once, when the read is done.
    update();
}

void CChildView::ShowStatusPage(bool show) {
    statusPage_->setVisible(show);
    if (!show) setFocus(Qt::OtherFocusReason);
}

void CChildView::ShowStatusPage() {
    if (statusPage_->LoadPage(QString::fromLatin1(kStatusPageName.data(),
                                                  static_cast<qsizetype>(kStatusPageName.size())),
                              [this] { BuildStatusPage(); })) {
        return;
    }
    // A load is running: try again every 500 ms until one is accepted.
    StartTimer(kTimerStatusPage, 500);
}

void CChildView::RefreshStatusPage() {
    // Built once the current read is handled: a stream that keeps losing and
    // finding its sync within one read rebuilds the page once.
    if (!statusRefresh_.isActive()) statusRefresh_.start();
}

void CChildView::BuildStatusPage() {
    const CRelayLink& link = core_.Link();
    const StatusPageContent content = BuildStatusPageContent(
        {core_.RouterPort(), link.ConnectState(), link.Synced(), link.HelloSent()});
    statusPage_->FillSection("TITLE", QString::fromStdString(content.title));
    statusPage_->FillSection("CONNECTION-STATUS", QString::fromStdString(content.connectionStatus));
    statusPage_->setUpdatesEnabled(true);
    if (core_.ActiveLink()) {
        statusPage_->hide();
        emit activateRequested();
        return;
    }
    statusPage_->FillSection("TABLE", QString::fromStdString(content.table));
}

bool CChildView::OnStatusLink(const QString& url) {
    switch (ClassifyStatusLink(url.toStdString())) {
        case StatusLinkAction::Proceed:
            break;
        case StatusLinkAction::OpenRouterBox:
            OpenRouterBox();
            break;
        case StatusLinkAction::ConnectLater:
            StartTimer(kTimerConnectLater, 200);
            break;
        case StatusLinkAction::Refresh:
            statusPage_->setUpdatesEnabled(false);
            RefreshStatusPage();
            break;
    }
    return false;
}

bool CChildView::QueryRouterPort() {
    core_.SetRouterPort(0);
    const RouterPortQuery q = velarix::QueryRouterPort();
    if (!q.ok) return false;
    core_.SetRouterPort(q.port);
    return true;
}

void CChildView::WatchRelayPortFile() {
    // Only a relay that publishes its port in a file can be watched. On
    // Windows mRouter is asked through COM whenever the port is needed (at
    // start-up, at each connection attempt and page refresh) and announces
    // nothing in between, so there is nothing to watch.
#ifndef _WIN32
    if (!portWatcher_) {
        portWatcher_ = new QFileSystemWatcher(this);
        connect(portWatcher_, &QFileSystemWatcher::directoryChanged, this,
                &CChildView::OnRelayPortFileChanged);
        connect(portWatcher_, &QFileSystemWatcher::fileChanged, this,
                &CChildView::OnRelayPortFileChanged);
    }
    // The file itself when it exists (a rewrite in place), and the nearest
    // folder on its path that exists (the file or its folder appearing).
    const QFileInfo file(QString::fromStdString(RelayPortFilePath()));
    QStringList wanted;
    if (file.exists()) wanted << file.absoluteFilePath();
    QDir dir = file.absoluteDir();
    while (!dir.exists() && !dir.isRoot())
        if (!dir.cdUp()) break;
    wanted << dir.absolutePath();
    QStringList stale;
    const QStringList watched = portWatcher_->files() + portWatcher_->directories();
    for (const QString& path : watched)
        if (!wanted.contains(path)) stale << path;
    if (!stale.isEmpty()) portWatcher_->removePaths(stale);
    QStringList fresh;
    for (const QString& path : wanted)
        if (!watched.contains(path)) fresh << path;
    if (!fresh.isEmpty()) portWatcher_->addPaths(fresh);
#endif
}

void CChildView::OnRelayPortFileChanged() {
    WatchRelayPortFile();
    const std::uint16_t before = core_.RouterPort();
    QueryRouterPort();
    if (core_.RouterPort() == before) return;
    // A relay that appeared, went or moved to another port.
    RefreshStatusPage();
    StartFrameRefresh();
}

bool CChildView::OpenRouterBox() {
    return velarix::OpenRouterBox();
}

void CChildView::ConnectToRouter() {
    QueryRouterPort();
    CRelayLink& link = core_.Link();
    if (link.Synced() && link.HelloSent()) {
        link.Close();
        RefreshStatusPage();
        return;
    }
    // Every attempt gets a fresh socket; the one of an earlier attempt goes.
    if (transport_) {
        if (link.IsOpen()) link.Close();
        transport_.release()->deleteLater();
    }
    transport_ = std::make_unique<SocketTransport>(
        link, [this](SocketError error) { OnConnectDone(error); });
    link.BeginAttempt();
    transport_->ConnectTo(core_.RouterPort());
    RefreshStatusPage();
}

void CChildView::OnConnectDone(SocketError error) {
    CRelayLink& link = core_.Link();
    if (error == SocketError::None) {
        link.AttachTransport(*transport_);
        link.SetView(&core_);
        link.SendHello(false);
    } else {
        link.Close();
    }
    RefreshStatusPage();
}

void CChildView::StartTimer(int id, int milliseconds) {
    if (id < 1 || id >= static_cast<int>(timers_.size())) return;
    timers_[std::size_t(id)]->start(milliseconds);
}

void CChildView::KillTimer(int id) {
    if (id < 1 || id >= static_cast<int>(timers_.size())) return;
    timers_[std::size_t(id)]->stop();
}

void CChildView::OnTimer(int id) {
    switch (id) {
        case kTimerStatusPage:
            if (statusPage_->LoadPage(
                    QString::fromLatin1(kStatusPageName.data(), qsizetype(kStatusPageName.size())),
                    [this] { BuildStatusPage(); }))
                KillTimer(kTimerStatusPage);
            break;
        case kTimerConnectLater:
            KillTimer(kTimerConnectLater);
            ConnectToRouter();
            break;
        case kTimerRecording:
            OnRecordTimer();
            break;
        default:
            core_.OnTimer(id);
            break;
    }
}

void CChildView::ToggleRecording() {
    recorder_.ToggleRecording();
    core_.SetRecording(recorder_.Active());
}

void CChildView::TogglePause() {
    recorder_.TogglePause();
    core_.SetRecording(recorder_.Active());
}

void CChildView::StopRecording() {
    const bool wasActive = recorder_.Active();
    recorder_.StopRecording();
    core_.SetRecording(recorder_.Active());
    AnnounceRecording(wasActive);
}

void CChildView::AnnounceRecording(bool wasActive) {
    if (!wasActive || recorder_.Active() || recordingName_.empty()) return;
    emit fileSaved(QStringLiteral("Video saved to %1")
                       .arg(QDir::toNativeSeparators(QString::fromStdString(recordingName_))));
}

void CChildView::OnRecordTimer() {
    const int before = recorder_.RecordState();
    recorder_.OnRecordTimer();
    core_.SetRecording(recorder_.Active());
    if (recorder_.RecordState() != before) emit recordStateChanged();
}

void CChildView::UseRecordWriter(IRecordWriter* writer) {
    if (writer)
        recorder_.SetWriter(*writer);
    else
        recorder_.SetWriter(aviAdapter_);
}

void CChildView::LinkLost() {
    // A lost link ends the recording without a word; the file is closed.
    if (!recorder_.Active()) return;
    recorder_.StopRecording();
    core_.SetRecording(false);
    AnnounceRecording(true);
    emit recordStateChanged();
}

std::optional<std::string> CChildView::AskVideoFileName(const std::string& initialName,
                                                        const std::string& initialDir) {
    std::optional<std::string> chosen;
    const QString startDir = SaveStartFolder(initialDir, QStandardPaths::MoviesLocation);
    if (videoDialogHook_) {
        chosen = videoDialogHook_(initialName, startDir.toStdString());
    } else {
        QFileDialog dialog(window());
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
        // No default extension: "Last" keeps the name as typed, and the
        // question below covers the ".avi" the writer adds.
        dialog.setDefaultSuffix(QString());
        dialog.setNameFilter(QStringLiteral("Video files (*.avi)"));
        dialog.setDirectory(startDir);
        if (!initialName.empty()) dialog.selectFile(QString::fromStdString(initialName));
        if (dialog.exec() == QDialog::Accepted) {
            const QStringList files = dialog.selectedFiles();
            if (!files.isEmpty() && !files.front().isEmpty())
                chosen = QDir::toNativeSeparators(files.front()).toStdString();
        }
    }
    // The writer adds ".avi" to a name without "avi" in it; that file is
    // not replaced without a yes either.
    if (chosen && !chosen->empty() && chosen->find("avi") == std::string::npos &&
        !ConfirmReplace(*chosen + ".avi"))
        return std::nullopt;
    // The link may have gone while the dialog was open: nothing to record then.
    if (!core_.ActiveLink()) return std::nullopt;
    if (chosen) recordingName_ = RecordedName(*chosen);
    return chosen;
}

bool CChildView::ConfirmReplace(const std::string& path) {
    std::error_code error;
    // A dangling link counts: writing through it would create its target.
    if (!std::filesystem::exists(std::filesystem::symlink_status(path, error))) return true;
    if (replaceHook_) return replaceHook_(path);
    const QString name = QDir::toNativeSeparators(QString::fromStdString(path));
    return QMessageBox::question(
               window(), QStringLiteral("Confirm Save As"),
               QStringLiteral("%1 already exists.\nDo you want to replace it?").arg(name),
               QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

void CChildView::ShowAviError(const std::string& text) {
    const QString message = QString::fromStdString(text);
    if (aviErrorHook_) {
        aviErrorHook_(message);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon,
                    QString::fromLatin1(kAviErrorCaption.data(),
                                        static_cast<qsizetype>(kAviErrorCaption.size())),
                    message, QMessageBox::Ok, this);
    box.exec();
}

void CChildView::StartRecordTimer(int milliseconds) {
    StartTimer(kTimerRecording, milliseconds);
    // The first frame of a start or a resume goes out now, not a period later.
    QTimer::singleShot(0, this, [this] { OnRecordTimer(); });
}

void CChildView::StopRecordTimer() {
    KillTimer(kTimerRecording);
}

void CChildView::SetStatusText(const std::string& text) {
    if (!text.empty() && !core_.ActiveLink()) return;
    emit statusTextChanged(QString::fromStdString(text));
}

void CChildView::ShowStatusMessage(const std::string& text) {
    SetStatusText(text);
}

std::span<const std::uint32_t> CChildView::ScreenPixels() const {
    return core_.Screen();
}

int CChildView::ScreenWidth() const {
    return kScreenWidth;
}

int CChildView::ScreenHeight() const {
    return kScreenHeight;
}

bool CChildView::FrameReady() const {
    return core_.FrameReady();
}

void CChildView::ClearFrameReady() {
    core_.ClearFrameReady();
}

void CChildView::RunSetup() {
    // Over the main window, so that it stays in front of an always-on-top frame.
    if (RunSetupDialog(core_.Settings(), window()) != QDialog::Accepted) return;
    QueryRouterPort();
    RefreshStatusPage();
}

void CChildView::StartFrameRefresh() {
    emit frameRefreshRequested();
}
void CChildView::ActivateMainWindow() {
    emit activateRequested();
}
void CChildView::BringToFront() {
    raisedThisTurn_ = true;
    QTimer::singleShot(0, this, [this] { raisedThisTurn_ = false; });
    emit bringToFrontRequested();
}

std::optional<std::string> CChildView::ClipboardText() {
    // A text the phone sent in this turn is the clipboard's by now.
    ApplyPhoneClipboard();
    const QMimeData* mime = QApplication::clipboard()->mimeData();
    if (!mime || !mime->hasText()) return std::nullopt;
    // The phone's text is 8-bit: Windows-1252, with '?' for what it cannot
    // hold, up to the first zero character.
    const QString text = mime->text();
    std::string bytes = Utf16ToCp1252(std::u16string_view(
        reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())));
    const std::size_t zero = bytes.find('\0');
    if (zero != std::string::npos) bytes.resize(zero);
    return bytes;
}

void CChildView::SetClipboardText(const std::string& phoneText) {
    // Setting the clipboard is a round trip to the X server. Texts that come
    // in one turn of the event loop would replace each other at once, so
    // only the last of them is set, when the turn is over.
    const bool queued = phoneClipboard_.has_value();
    phoneClipboard_ = phoneText;
    if (!queued) QTimer::singleShot(0, this, [this] { ApplyPhoneClipboard(); });
}

void CChildView::ApplyPhoneClipboard() {
    if (!phoneClipboard_) return;
    const std::u16string text = Cp1252ToUtf16(*std::exchange(phoneClipboard_, std::nullopt));
    QApplication::clipboard()->setText(QString::fromUtf16(text.data(), qsizetype(text.size())));
}

void CChildView::CopyScreenToClipboard() {
    QApplication::clipboard()->setImage(ScreenImage());
}

void CChildView::SaveScreenshot() {
    std::string saved;
    const bool ok = velarix::SaveScreenshot(
        core_.Settings(), core_.Screen(),
        [this](const SaveDialogRequest& r) {
            SaveDialogRequest request = r;
            request.initialDir =
                SaveStartFolder(r.initialDir, QStandardPaths::PicturesLocation).toStdString();
            return RunScreenshotSaveDialog(window(), request);
        },
        [this](const std::string& path) { return ConfirmReplace(path); }, &saved);
    if (ok)
        emit fileSaved(QStringLiteral("Screenshot saved to %1")
                           .arg(QDir::toNativeSeparators(QString::fromStdString(saved))));
}

void CChildView::ZoomChanged() {
    setFixedSize(FittingSize());
    emit zoomChanged();
    update();
}

bool CChildView::focusNextPrevChild(bool next) {
    // Tab and Shift+Tab are the phone's keys while a link is active.
    if (core_.ActiveLink()) return false;
    return QWidget::focusNextPrevChild(next);
}

void CChildView::keyPressEvent(QKeyEvent* event) {
    if (!core_.ActiveLink()) return QWidget::keyPressEvent(event);
    QString text = event->text();
    // Shift+Tab types the tab character, as Tab does.
    if (event->key() == Qt::Key_Backtab) text = QStringLiteral("\t");
    core_.Input().KeyDown(ToPcKey(event->key()),
                          std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                              static_cast<std::size_t>(text.size())));
    event->accept();
}

void CChildView::keyReleaseEvent(QKeyEvent* event) {
    if (!core_.ActiveLink()) return QWidget::keyReleaseEvent(event);
    // A held key repeats its press, as the phone expects; only the real
    // release is one.
    if (!event->isAutoRepeat()) core_.Input().KeyUp(ToPcKey(event->key()));
    event->accept();
}

void CChildView::mousePressEvent(QMouseEvent* event) {
    setFocus(Qt::MouseFocusReason);
    if (!core_.ActiveLink()) return QWidget::mousePressEvent(event);
    const QPoint pos = event->position().toPoint();
    if (event->button() == Qt::LeftButton)
        core_.Input().ButtonDown(MouseButton::Left, pos.x(), pos.y());
    else if (event->button() == Qt::MiddleButton)
        core_.Input().ButtonDown(MouseButton::Middle, pos.x(), pos.y());
}

void CChildView::mouseReleaseEvent(QMouseEvent* event) {
    if (!core_.ActiveLink()) return QWidget::mouseReleaseEvent(event);
    const QPoint pos = event->position().toPoint();
    if (event->button() == Qt::LeftButton)
        core_.Input().ButtonUp(MouseButton::Left, pos.x(), pos.y());
}

void CChildView::mouseMoveEvent(QMouseEvent* event) {
    if (!core_.ActiveLink()) return QWidget::mouseMoveEvent(event);
    const QPoint pos = event->position().toPoint();
    core_.Input().Move(pos.x(), pos.y(), ButtonCount(event->buttons()),
                       event->modifiers() != Qt::NoModifier);
}

void CChildView::wheelEvent(QWheelEvent* event) {
    if (!core_.ActiveLink()) return QWidget::wheelEvent(event);
    core_.Input().Wheel(event->angleDelta().y());
    event->accept();
}

}  // namespace velarix
