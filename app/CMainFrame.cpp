#include "app/CMainFrame.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QCursor>
#include <QElapsedTimer>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QMouseEvent>
#include <QMoveEvent>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionToolButton>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>
#include <functional>

#include "app/CAboutBox.h"
#include "app/CIconMenu.h"
#include "app/CTrayIcon.h"
#include "app/Icons.h"
#include "app/StatusBar.h"
#include "settings/SettingsKeys.h"
#include "view/CChildView.h"

namespace velarix {

namespace {

// The recording bar: toolbar resource 143, hung this far below the frame's top.
constexpr int kRecordBarResource = 143;
constexpr int kFloatingBarOffset = 42;
constexpr int kToolbarWatchPeriod = 200;
// How long after a change of window mode the window manager's move of the
// client is undone.
constexpr qint64 kKeepClientMs = 1000;
// How long the status bar says where a file went.
constexpr int kSavedNoticeMs = 5000;

// The screenshot button: a press on its arrow is the drop-down notification,
// and the picture menu runs from there; Qt's own menu never opens.
class DropDownButton final : public QToolButton {
public:
    DropDownButton(QWidget* parent, std::function<void()> dropDown)
        : QToolButton(parent), dropDown_(std::move(dropDown)) {}

protected:
    void mousePressEvent(QMouseEvent* event) override {
        QStyleOptionToolButton option;
        initStyleOption(&option);
        const QRect arrow = style()->subControlRect(QStyle::CC_ToolButton, &option,
                                                    QStyle::SC_ToolButtonMenu, this);
        if (event->button() == Qt::LeftButton && arrow.contains(event->position().toPoint())) {
            event->accept();
            dropDown_();
            return;
        }
        QToolButton::mousePressEvent(event);
    }

private:
    std::function<void()> dropDown_;
};

// The frame's window: a title, the system menu, minimise and close; never
// maximise, as the size is fixed. Frameless it has none of them (Qt drops
// the frameless hint next to button hints).
Qt::WindowFlags FrameWindowFlags(bool frameless, bool topmost) {
    Qt::WindowFlags flags = Qt::Window;
    if (frameless)
        flags |= Qt::FramelessWindowHint;
    else
        flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;
    if (topmost) flags |= Qt::WindowStaysOnTopHint;
    return flags;
}

// Whether `widget` is `owner` or one of the windows it owns (a dialog, a
// message box, a popup, the recording bar).
bool IsOwnedBy(const QWidget* widget, const QWidget* owner) {
    for (const QWidget* w = widget; w; w = w->parentWidget())
        if (w == owner) return true;
    return false;
}

}  // namespace

QPoint RecordBarPosition(const QRect& frame, const QSize& bar, const QRect& screen) {
    // Just left of the frame; on its right when the left has no room; and in
    // every case wholly on the screen.
    int x = frame.left() - bar.width();
    if (x < screen.left()) x = frame.right() + 1;
    x = std::clamp(x, screen.left(), std::max(screen.left(), screen.right() + 1 - bar.width()));
    const int y = std::clamp(frame.top() + kFloatingBarOffset, screen.top(),
                             std::max(screen.top(), screen.bottom() + 1 - bar.height()));
    return {x, y};
}

QPoint OnScreenPosition(const QPoint& pos, const QSize& size, const QRect& screen) {
    return {std::clamp(pos.x(), screen.left(),
                       std::max(screen.left(), screen.right() + 1 - size.width())),
            std::clamp(pos.y(), screen.top(),
                       std::max(screen.top(), screen.bottom() + 1 - size.height()))};
}

CMainFrame::CMainFrame(SettingsStore settings, QWidget* parent)
    : QMainWindow(parent),
      settings_(std::move(settings)),
      view_(new CChildView(settings_, this)),
      trayIcon_(new CTrayIcon(cmd::kIconTray, this)) {
    setObjectName("CMainFrame");
    setWindowTitle("Velarix");
    setWindowIcon(ProgramIcon());
    setWindowFlags(FrameWindowFlags(IsSet(settings_, setting::kFrameless),
                                    IsSet(settings_, setting::kAlwaysOnTop)));
    setCentralWidget(view_);

    BuildMenus();
    BuildToolBar();
    BuildStatusBar();
    // The window always fits the view; the user cannot resize it.
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    if (Read(settings_, setting::kClipboardAction) == 1) OnCommand(cmd::kChooseSaveScreenshot);
    trayIcon_->AttachWindow(this, this);

    hoverTimer_.setInterval(1000);
    connect(&hoverTimer_, &QTimer::timeout, this, &CMainFrame::OnHoverTimer);
    refreshTimer_.setInterval(200);
    connect(&refreshTimer_, &QTimer::timeout, this, &CMainFrame::OnRefreshTimer);
    recordWatchTimer_.setInterval(kToolbarWatchPeriod);
    connect(&recordWatchTimer_, &QTimer::timeout, this, &CMainFrame::OnRecordWatchTimer);

    // Link changes and clipboard text ask for a refresh of the command states;
    // a burst of them gets one, when the refresh timer runs out. The timer is
    // not restarted, so a steady stream cannot put the refresh off for ever.
    const auto scheduleRefresh = [this] {
        if (!refreshTimer_.isActive()) refreshTimer_.start();
    };
    connect(view_, &CChildView::frameRefreshRequested, this, scheduleRefresh);
    connect(view_, &CChildView::activateRequested, this, [this] {
        if (!isVisible()) return;
        showNormal();
        raise();
        activateWindow();
    });
    connect(view_, &CChildView::fileSaved, this,
            [this](const QString& text) { statusBar()->showMessage(text, kSavedNoticeMs); });
    connect(view_, &CChildView::statusPaneChanged, this, [this] {
        statusValuePane_->setText(QString::fromStdString(view_->Core().StatusPaneText()));
    });
    connect(view_, &CChildView::bringToFrontRequested, this, &CMainFrame::BringToFront);
    connect(view_, &CChildView::zoomChanged, this, &CMainFrame::LayoutToView);
    connect(view_, &CChildView::statusTextChanged, this, &CMainFrame::SetStatusText);
    connect(view_, &CChildView::recordStateChanged, this, &CMainFrame::RefreshCommandStates);
    connect(QApplication::clipboard(), &QClipboard::dataChanged, this, scheduleRefresh);
    connect(qApp, &QApplication::focusChanged, this, &CMainFrame::OnFocusChanged);
    qApp->installEventFilter(this);

    view_->QueryRouterPort();
    LayoutToView();
    RestorePosition();
    RefreshCommandStates();
}

void CMainFrame::OnFocusChanged(QWidget* /*old*/, QWidget* now) {
    // The keys belong to the phone while a link is active: the focus does not
    // stay on another widget of the frame.
    if (now && now != view_ && now->window() == this && view_->Core().ActiveLink() &&
        !qobject_cast<QMenuBar*>(now) && !QApplication::activePopupWidget()) {
        view_->setFocus(Qt::OtherFocusReason);
        return;
    }
    // Frameless: the frame hides again when the focus leaves the program's
    // windows; its own dialogs, boxes, popups and the recording bar keep it.
    if (!IsSet(settings_, setting::kFrameless)) return;
    if (now && IsOwnedBy(now, this)) return;
    if (FrameInUse()) return;
    hoverShown_ = false;
    hoverTimer_.stop();
    ApplyWindowRegion(false);
}

bool CMainFrame::FrameInUse() const {
    if (openMenus_ > 0) return true;
    if (QWidget* popup = QApplication::activePopupWidget(); popup && IsOwnedBy(popup, this))
        return true;
    const QWidget* active = QApplication::activeWindow();
    return active && active != this && IsOwnedBy(active, this);
}

CMainFrame::~CMainFrame() {
    // The widgets going away move the focus: nothing reaches this half-gone frame.
    disconnect(qApp, &QApplication::focusChanged, this, nullptr);
    // A recording is finished while the frame is whole, so the file is closed.
    view_->StopRecording();
    SavePosition();
    recordWatchTimer_.stop();
    if (recordBar_) delete recordBar_->window();
    qApp->removeEventFilter(this);
    trayIcon_->ShowIcon(0);
}

QAction* CMainFrame::Action(int id) const {
    const auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

QAction* CMainFrame::AddCommand(QMenu* menu, int id, const QString& text, const QString& prompt) {
    auto* action = new QAction(text, this);
    action->setData(id);
    action->setStatusTip(prompt);
    connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
    if (menu) menu->addAction(action);
    actions_[id] = action;
    return action;
}

void CMainFrame::BuildMenus() {
    QMenuBar* bar = menuBar();
    auto track = [this](QMenu* m) {
        // Menus refresh their items as they open and keep a frameless frame shown.
        connect(m, &QMenu::aboutToShow, this, [this] {
            ++openMenus_;
            hoverTimer_.stop();
            RefreshCommandStates();
        });
        connect(m, &QMenu::aboutToHide, this, [this] {
            if (--openMenus_ <= 0 && hoverShown_) hoverTimer_.start();
        });
        return m;
    };

    QMenu* file = track(bar->addMenu("&File"));
    AddCommand(file, cmd::kSetup, "&Setup", "Setup");
    file->addSeparator();
    AddCommand(file, cmd::kAppExit, "E&xit", "Quit the application");

    QMenu* edit = track(bar->addMenu("Edit"));
    QAction* paste =
        AddCommand(edit, cmd::kEditPaste, "Paste\tCtrl-V", "Type the clipboard text on the phone");
    paste->setShortcuts({QKeySequence("Ctrl+V"), QKeySequence("Shift+Insert")});
    edit->addSeparator();
    AddCommand(edit, cmd::kPasteToPhoneClipboard, "Paste to Px00 clipboard",
               "Put the clipboard text on the phone's clipboard");
    QAction* copy = AddCommand(edit, cmd::kEditCopy, "Copy from Px00 clipboard\tCtrl-C",
                               "Copy the phone's clipboard text to the clipboard");
    copy->setShortcuts({QKeySequence("Ctrl+C"), QKeySequence("Ctrl+Insert")});
    for (QAction* a : {paste, copy}) a->setShortcutContext(Qt::WindowShortcut);

    QMenu* viewMenu = track(bar->addMenu("&View"));
    AddCommand(viewMenu, cmd::kZoom, "&Zoom 2x", "Zoom screen by 2")->setCheckable(true);
    viewMenu->addSeparator();
    AddCommand(viewMenu, cmd::kAlwaysOnTop, "Always on &Top", "Keep the window above all others")
        ->setCheckable(true);
    AddCommand(viewMenu, cmd::kStayInTray, "Stay in System Tray",
               "Closing the window keeps the program in the system tray")
        ->setCheckable(true);
    viewMenu->addSeparator();
    AddCommand(viewMenu, cmd::kHideFrame, "Hide Window Frame",
               "Show only the phone screen; the frame returns under the pointer")
        ->setCheckable(true);

    // One-of-N choices carry radio marks; none is marked when the stored
    // value matches no item.
    auto radio = [this](std::initializer_list<int> ids) {
        auto* group = new QActionGroup(this);
        group->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
        for (int id : ids) group->addAction(Action(id));
    };

    QMenu* options = track(bar->addMenu("&Options"));
    QMenu* compression = track(options->addMenu("Compression"));
    const char* compressionPrompts[] = {"Use with BT connection", "Fast, but less compression",
                                        "Default compression", "Slow, but better compression", ""};
    const char* compressionTexts[] = {"&1\t(Default)", "&2", "&3", "&4", "&5"};
    for (int i = 0; i < 5; ++i)
        AddCommand(compression, cmd::kCompression1 + i, compressionTexts[i], compressionPrompts[i])
            ->setCheckable(true);
    QMenu* interlace = track(options->addMenu("Interlaced"));
    AddCommand(interlace, cmd::kInterlaceOff, "Off", "Don't use interlacing at all")
        ->setCheckable(true);
    AddCommand(interlace, cmd::kInterlaceOn, "On", "Always send interlaced frames")
        ->setCheckable(true);
    AddCommand(interlace, cmd::kInterlaceAuto, "Auto (Default)",
               "Interlacing for large frames only")
        ->setCheckable(true);
    QMenu* color = track(options->addMenu("Color Mode"));
    AddCommand(color, cmd::kColor64K, "64K", "65536 Colors, 2 BPP")->setCheckable(true);
    AddCommand(color, cmd::kColor4096, "4096 (Default)", "4096 Colors, 1.5 BPP")
        ->setCheckable(true);
    AddCommand(color, cmd::kColor256, "256", "256 Colors, 1 BPP")->setCheckable(true);
    AddCommand(color, cmd::kGrey16, "16 Grays", "16 Shades of gray, 0.5 BPP")->setCheckable(true);
    // 4 greys has no menu item, only its command and prompt.
    AddCommand(nullptr, cmd::kGrey4, "4 Grays", "16 Shades of gray, 0.25 BPP");
    QMenu* jpeg = track(color->addMenu("Jpeg"));
    AddCommand(jpeg, cmd::kJpeg70, "High\t70", "Jpeg frames, Quality 70")->setCheckable(true);
    AddCommand(jpeg, cmd::kJpeg50, "Medium\t50", "Jpeg frames, Quality 50")->setCheckable(true);
    AddCommand(jpeg, cmd::kJpeg30, "Low\t30", "Jpeg frames, Quality 30")->setCheckable(true);
    AddCommand(jpeg, cmd::kJpeg10, "Very low\t10", "Jpeg frames, Poor quality")->setCheckable(true);
    QMenu* priority = track(options->addMenu("Priority"));
    const char* priorityTexts[] = {"Low", "Medium (Default)", "High", "Very high"};
    const char* priorityPrompts[] = {
        "Run Velarix on low priority", "Run Velarix on background priority",
        "Run Velarix on foreground priority", "Run Velarix on high priority"};
    for (int i = 0; i < 4; ++i)
        AddCommand(priority, cmd::kPriorityLow + i, priorityTexts[i], priorityPrompts[i])
            ->setCheckable(true);
    QMenu* rate = track(options->addMenu("Sampling rate"));
    const std::pair<int, const char*> rates[] = {
        {cmd::kRate40Hz, "40 Hz"}, {cmd::kRate20Hz, "20 Hz (Default)"}, {cmd::kRate10Hz, "10 Hz"},
        {cmd::kRate5Hz, "  5 Hz"}, {cmd::kRate2Hz, "  2 Hz"},           {cmd::kRate1Hz, "  1 Hz"}};
    const char* ratePrompts[] = {
        "Check for changes every 1/40s",        "Check for changes every 1/20s",
        "Check for changes every 1/10s",        "Check for changes every 1/5s",
        "Check for changes every other second", "Check for changes every second"};
    for (int i = 0; i < 6; ++i)
        AddCommand(rate, rates[i].first, rates[i].second, ratePrompts[i])->setCheckable(true);
    radio({cmd::kCompression1, cmd::kCompression1 + 1, cmd::kCompression1 + 2,
           cmd::kCompression1 + 3, cmd::kCompression1 + 4});
    radio({cmd::kInterlaceOff, cmd::kInterlaceOn, cmd::kInterlaceAuto});
    radio({cmd::kColor64K, cmd::kColor4096, cmd::kColor256, cmd::kGrey16, cmd::kJpeg70,
           cmd::kJpeg50, cmd::kJpeg30, cmd::kJpeg10});
    radio({cmd::kPriorityLow, cmd::kPriorityLow + 1, cmd::kPriorityLow + 2, cmd::kPriorityLow + 3});
    radio({cmd::kRate40Hz, cmd::kRate20Hz, cmd::kRate10Hz, cmd::kRate5Hz, cmd::kRate2Hz,
           cmd::kRate1Hz});

    QMenu* extras = track(bar->addMenu("&Extras"));
    QMenu* events = track(extras->addMenu("Events"));
    AddCommand(events, cmd::kEventIgnoreAll, "Ignore all events")->setCheckable(true);
    events->addSeparator();
    AddCommand(events, cmd::kEventIncomingCall, "Incoming Phone Call")->setCheckable(true);
    AddCommand(events, cmd::kEventIncomingSms, "Incoming SMS")->setCheckable(true);
    AddCommand(events, cmd::kEventIncomingMms, "Incoming MMS")->setCheckable(true);

    QMenu* help = track(bar->addMenu("&?"));
    AddCommand(help, cmd::kAppAbout, "&About Velarix...",
               "Display program information, version number and copyright");

    // Commands that live only on toolbars and in the tray menu.
    AddCommand(nullptr, cmd::kTaskList, "Open task list on phone", "Open task list on phone");
    AddCommand(nullptr, cmd::kKeyAbc, "Simulate 'ABC' key", "Simulate 'ABC' key");
    AddCommand(nullptr, cmd::kKeyClear, "Simulate 'C' key", "Simulate 'C' key");
    AddCommand(nullptr, cmd::kKeyStar, "Simulate '*' key", "Simulate '*' key");
    AddCommand(nullptr, cmd::kKeyHash, "Simulate '#' key", "Simulate '#' key");
    AddCommand(nullptr, cmd::kKeyOnOff, "Simulate 'On/Off' key", "Simulate 'On/Off' key");
    AddCommand(nullptr, cmd::kCopyScreenshot, "Copy screenshot to clipboard",
               "Copy screenshot to clipboard");
    AddCommand(nullptr, cmd::kSaveScreenshot, "Save screenshot", "Save screenshot");

    // The recording bar's buttons; Start and Pause are check buttons.
    const std::tuple<int, const char*, int> recordCommands[] = {
        {cmd::kStartRecording, "Start recording ...", record_image::kStart},
        {cmd::kPauseRecording, "Pause", record_image::kPause},
        {cmd::kStopRecording, "Stop recording ...", record_image::kStop}};
    for (const auto& [id, text, image] : recordCommands) {
        QAction* action = AddCommand(nullptr, id, text, text);
        action->setIcon(RecordBarIcon(image));
        action->setToolTip(text);
        action->setCheckable(id != cmd::kStopRecording);
    }
}

void CMainFrame::BuildToolBar() {
    toolBar_ = addToolBar("Main");
    toolBar_->setObjectName("toolBar");
    toolBar_->setMovable(false);
    toolBar_->setFloatable(false);
    toolBar_->setIconSize(kToolbarImageSize);
    toolBar_->setContextMenuPolicy(Qt::PreventContextMenu);

    // Button 0 runs Disconnect or Connect, as the toolbar rule says.
    connectAction_ = new QAction(this);
    connectAction_->setObjectName("connectButton");
    connect(connectAction_, &QAction::triggered, this,
            [this] { OnCommand(connectAction_->data().toInt()); });
    toolBar_->addAction(connectAction_);
    toolBar_->addSeparator();

    // Button 2 copies or saves a screenshot; its arrow chooses which.
    screenshotButton_ = new DropDownButton(this, [this] { ShowScreenshotChoice(); });
    screenshotButton_->setObjectName("screenshotButton");
    screenshotButton_->setPopupMode(QToolButton::MenuButtonPopup);
    screenshotAction_ = new QAction(this);
    connect(screenshotAction_, &QAction::triggered, this,
            [this] { OnCommand(screenshotAction_->data().toInt()); });
    screenshotButton_->setDefaultAction(screenshotAction_);
    // Only for the arrow: the picture menu opens in its place.
    screenshotButton_->setMenu(new QMenu(screenshotButton_));
    toolBar_->addWidget(screenshotButton_);

    // Button 3 shows and removes the recording bar.
    recordAction_ =
        AddCommand(nullptr, cmd::kRecordBar, "Record an AVI movie ...", "Record an AVI movie ...");
    recordAction_->setCheckable(true);
    recordAction_->setIcon(ToolbarIcon(toolbar_image::kRecord));
    recordAction_->setToolTip("Record an AVI movie ...");
    toolBar_->addAction(recordAction_);
    // The fifth entry; the hidden buttons behind it only lend their images.
    toolBar_->addSeparator();

    // The buttons take no focus: the keyboard stays with the phone.
    for (QToolButton* b : toolBar_->findChildren<QToolButton*>()) b->setFocusPolicy(Qt::NoFocus);
    SetScreenshotButton(false);
}

void CMainFrame::BuildStatusBar() {
    auto* bar = new StatusBar(this);
    setStatusBar(bar);
    bar->setSizeGripEnabled(false);
    // A normal widget: Qt hides it while a fly-by prompt shows, as the idle
    // text should be.
    readyPane_ = new QLabel("Ready", bar);
    readyPane_->setObjectName("messagePane");
    readyPane_->setMinimumWidth(50);
    bar->addWidget(readyPane_, 1);
    statusValuePane_ = new QLabel(bar);
    statusValuePane_->setObjectName("statusValuePane");
    statusValuePane_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    statusValuePane_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    statusValuePane_->setMinimumWidth(statusValuePane_->fontMetrics().horizontalAdvance("9999") +
                                      8);
    bar->AddPermanentPane(statusValuePane_);
}

void CMainFrame::SetStatusText(const QString& text) {
    readyPane_->setText(text.isEmpty() ? QString("Ready") : text);
}

void CMainFrame::SetScreenshotButton(bool save) {
    const int id = save ? cmd::kSaveScreenshot : cmd::kCopyScreenshot;
    screenshotAction_->setData(id);
    screenshotAction_->setText(save ? "Save screenshot" : "Copy screenshot to clipboard");
    screenshotAction_->setToolTip(screenshotAction_->text());
    screenshotAction_->setStatusTip(screenshotAction_->text());
    screenshotAction_->setIcon(
        ToolbarIcon(save ? toolbar_image::kSaveScreenshot : toolbar_image::kCopyScreenshot));
}

void CMainFrame::ShowScreenshotChoice() {
    int chosen = 0;
    {
        CIconMenu menu(this);
        menu.SetItemWidth(19);
        menu.SetItemHeight(37);
        menu.AppendIconItem(0, cmd::kChooseCopyScreenshot, QString(), 0, ScreenshotCopyIcon());
        menu.AppendIconItem(0, cmd::kChooseSaveScreenshot, QString(), 0, ScreenshotSaveIcon());
        // The prompt names the item under the pointer. The menu is a window
        // of its own, so its prompts would never reach the status bar.
        menu.ItemAction(0)->setStatusTip("Copy screenshot to clipboard");
        menu.ItemAction(1)->setStatusTip("Save screenshot");
        connect(&menu, &QMenu::hovered, this,
                [this](QAction* item) { statusBar()->showMessage(item->statusTip()); });
        // A frameless frame stays shown while the menu is open.
        ++openMenus_;
        hoverTimer_.stop();
        chosen = menu.TrackBelow(screenshotButton_);
        if (--openMenus_ <= 0 && hoverShown_) hoverTimer_.start();
    }
    if (chosen) OnCommand(chosen);
    // The pointer is still on the button: its prompt is the button's command.
    if (screenshotButton_->underMouse())
        statusBar()->showMessage(screenshotAction_->statusTip());
    else
        statusBar()->clearMessage();
}

bool CMainFrame::OnCommand(int id) {
    if (view_->Core().OnCommand(id)) {
        RefreshCommandStates();
        return true;
    }
    switch (id) {
        case cmd::kAppExit:
            exitRequested_ = true;
            close();
            return true;
        case cmd::kOpenFromTray:
            view_->Core().SetInBackground(false);
            showNormal();
            raise();
            activateWindow();
            trayIcon_->ShowIcon(0);
            return true;
        case cmd::kChooseCopyScreenshot:
        case cmd::kChooseSaveScreenshot: {
            const bool save = id == cmd::kChooseSaveScreenshot;
            SetScreenshotButton(save);
            Write(settings_, setting::kClipboardAction, save ? 1 : 0);
            return true;
        }
        case cmd::kStayInTray:
            Toggle(settings_, setting::kSystemTray);
            break;
        case cmd::kAlwaysOnTop:
            Toggle(settings_, setting::kAlwaysOnTop);
            ApplyTopmost();
            break;
        case cmd::kHideFrame:
            Toggle(settings_, setting::kFrameless);
            hoverShown_ = false;
            ApplyWindowRegion(false);
            break;
        case cmd::kAppAbout:
            ShowAboutBox();
            return true;
        case cmd::kSimulateKeys:
            return true;
        case cmd::kSetup:
            view_->RunSetup();
            break;
        case cmd::kRecordBar:
            ToggleRecordBar();
            break;
        case cmd::kStartRecording:
            view_->ToggleRecording();
            break;
        case cmd::kPauseRecording:
            view_->TogglePause();
            break;
        case cmd::kStopRecording:
            view_->StopRecording();
            if (RecordBarVisible()) ToggleRecordBar();
            break;
        default:
            return false;
    }
    RefreshCommandStates();
    return true;
}

std::optional<cmd::CommandState> CMainFrame::QueryCommand(int id) {
    if (auto s = view_->Core().QueryCommand(id)) return s;
    auto flag = [this](const IntSetting& s) {
        return cmd::CommandState{true, IsSet(settings_, s)};
    };
    switch (id) {
        case cmd::kStayInTray:
            return flag(setting::kSystemTray);
        case cmd::kAlwaysOnTop:
            return flag(setting::kAlwaysOnTop);
        case cmd::kHideFrame:
            return flag(setting::kFrameless);
        case cmd::kOpenFromTray:
            return cmd::CommandState{!isVisible(), false};
        case cmd::kChooseCopyScreenshot:
        case cmd::kChooseSaveScreenshot:
        case cmd::kAppExit:
        case cmd::kAppAbout:
            return cmd::CommandState{};
        case cmd::kRecordBar:
            return cmd::CommandState{view_->Core().ActiveLink() != nullptr, RecordBarVisible()};
        case cmd::kStartRecording:
            return cmd::CommandState{true, view_->RecordState() == kRecordRunning};
        case cmd::kPauseRecording:
            return cmd::CommandState{view_->RecordState() != kRecordIdle,
                                     view_->RecordState() == kRecordPaused};
        case cmd::kStopRecording:
            return cmd::CommandState{view_->RecordState() != kRecordIdle, false};
        case cmd::kSimulateKeys:
            return cmd::CommandState{view_->Core().ActiveLink() != nullptr, false};
        case cmd::kSetup:
            return cmd::CommandState{};
        default:
            return std::nullopt;
    }
}

void CMainFrame::RefreshCommandStates() {
    for (auto& [id, action] : actions_) {
        if (const auto s = QueryCommand(id)) {
            action->setEnabled(s->enabled);
            if (action->isCheckable()) action->setChecked(s->checked);
        }
    }
    const bool disconnect = view_->Core().ToolbarShowsDisconnect();
    const int connectId = disconnect ? cmd::kDisconnect : cmd::kConnect;
    connectAction_->setData(connectId);
    connectAction_->setText(disconnect ? "Disconnect from your phone"
                                       : "Connect via PC Suite/mRouter");
    connectAction_->setToolTip(connectAction_->text());
    connectAction_->setStatusTip(connectAction_->text());
    connectAction_->setIcon(
        ToolbarIcon(disconnect ? toolbar_image::kDisconnect : toolbar_image::kConnect));
    connectAction_->setEnabled(QueryCommand(connectId).value_or(cmd::CommandState{}).enabled);
    screenshotAction_->setEnabled(
        QueryCommand(screenshotAction_->data().toInt()).value_or(cmd::CommandState{}).enabled);
    statusValuePane_->setText(QString::fromStdString(view_->Core().StatusPaneText()));
}

void CMainFrame::OnRefreshTimer() {
    // Without a link there is nothing to record: the bar goes.
    if (!view_->Core().ActiveLink() && RecordBarVisible()) ToggleRecordBar();
    RefreshCommandStates();
    refreshTimer_.stop();
}

QToolBar* CMainFrame::CreateFloatingBar(QToolBar* existing, int resourceId, int timerId) {
    QTimer* watch = timerId == kFrameTimerRecordBar ? &recordWatchTimer_ : nullptr;
    if (watch) watch->stop();
    if (existing) {
        const bool shown = existing->isVisible() || recordBarAway_;
        recordBarAway_ = false;
        // Later, not now: the bar's own button may be what asked for this.
        QWidget* holder = existing->window();
        holder->hide();
        holder->deleteLater();
        if (shown) return nullptr;
    }
    if (resourceId != kRecordBarResource) return nullptr;

    // The floating window: a small tool window of the frame with a close box.
    auto* holder = new QWidget(
        this, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    holder->setObjectName("recordBarWindow");
    holder->setWindowTitle(QString());
    auto* layout = new QVBoxLayout(holder);
    layout->setContentsMargins(1, 1, 0, 0);
    layout->setSpacing(0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    auto* bar = new QToolBar(holder);
    bar->setObjectName("recordBar");
    bar->setOrientation(Qt::Vertical);  // one button per row
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setIconSize(kRecordBarImageSize);
    bar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    bar->setContextMenuPolicy(Qt::PreventContextMenu);
    for (int id : {cmd::kStartRecording, cmd::kPauseRecording, cmd::kStopRecording})
        bar->addAction(Action(id));
    for (QToolButton* b : bar->findChildren<QToolButton*>()) b->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(bar);
    holder->adjustSize();
    holder->show();
    if (watch) watch->start();
    return bar;
}

void CMainFrame::ToggleRecordBar() {
    recordBar_ = CreateFloatingBar(recordBar_.data(), kRecordBarResource, kFrameTimerRecordBar);
    if (recordBar_) {
        PlaceRecordBar();
        // Again with the floating window's final size.
        PlaceRecordBar();
    }
    RefreshCommandStates();
}

bool CMainFrame::RecordBarVisible() const {
    return recordBar_ && (recordBar_->isVisible() || recordBarAway_);
}

void CMainFrame::HideRecordBarWithFrame() {
    if (!recordBar_ || !recordBar_->isVisible()) return;
    recordBarAway_ = true;
    recordBar_->window()->hide();
}

void CMainFrame::ShowRecordBarWithFrame() {
    if (!recordBarAway_) return;
    recordBarAway_ = false;
    if (!recordBar_) return;
    recordBar_->window()->show();
    PlaceRecordBar();
}

void CMainFrame::PlaceRecordBar() {
    if (!recordBar_) return;
    QWidget* holder = recordBar_->window();
    const QRect f = frameGeometry();
    const QRect m = holder != this ? holder->frameGeometry() : QRect(0, 0, 42, 42);
    // The screen that holds the frame; the bar never leaves it.
    const QScreen* where = QGuiApplication::screenAt(f.center());
    if (!where) where = screen();
    const QRect area = where ? where->availableGeometry() : QRect(f.topLeft(), QSize(1, 1));
    holder->move(RecordBarPosition(f, m.size(), area));
}

void CMainFrame::OnRecordWatchTimer() {
    if (RecordBarVisible()) return;
    // The user closed the bar.
    RefreshCommandStates();
    recordWatchTimer_.stop();
}

void CMainFrame::OnFrameTimer(int id) {
    switch (id) {
        case kFrameTimerRecordBar:
            OnRecordWatchTimer();
            break;
        case kFrameTimerHover:
            OnHoverTimer();
            break;
        case kFrameTimerRefresh:
            OnRefreshTimer();
            break;
        default:
            break;
    }
}

void CMainFrame::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    if (settled_ && isVisible() && !isMinimized()) userMoved_ = true;
    if (keepClientAt_ && keepClientFor_.hasExpired(kKeepClientMs)) keepClientAt_.reset();
    if (keepClientAt_ && geometry().topLeft() != *keepClientAt_) {
        const QPoint target = *keepClientAt_;
        keepClientAt_.reset();
        // As the frame's outer corner: a window manager may take a position
        // for the client as one for its frame.
        const QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
        if (windowHandle())
            windowHandle()->setFramePosition(target - QPoint(frame.left(), frame.top()));
        else
            move(target);
    }
    PlaceRecordBar();
}

void CMainFrame::LayoutToView() {
    view_->setFixedSize(view_->FittingSize());
    adjustSize();
    ApplyTopmost();
    ApplyWindowRegion(hoverShown_);
    PlaceRecordBar();
}

void CMainFrame::ApplyWindowFlags() {
    // Both modes at once: changing one never drops the other.
    const Qt::WindowFlags wanted = FrameWindowFlags(IsSet(settings_, setting::kFrameless),
                                                    IsSet(settings_, setting::kAlwaysOnTop));
    if (windowFlags() == wanted) return;
    // The client area, the phone screen, stays where it is on the screen.
    const QRect client = geometry();
    if (isVisible() && windowHandle()) {
        // Changed in place: hiding and showing again would let the window
        // manager drop the stay-on-top state and place the window anew.
        overrideWindowFlags(wanted);
        windowHandle()->setFlags(wanted);
        // The window manager keeps the outer corner as the frame comes or
        // goes; the client goes back where it was once it has moved.
        keepClientAt_ = client.topLeft();
        keepClientFor_.start();
        return;
    }
    setWindowFlags(wanted);
    setGeometry(client);
}

void CMainFrame::ApplyTopmost() {
    ApplyWindowFlags();
}

void CMainFrame::ApplyWindowRegion(bool showFrame) {
    const bool frameless = IsSet(settings_, setting::kFrameless);
    ApplyWindowFlags();
    if (!frameless || showFrame) {
        framelessApplied_ = false;
        clearMask();
    } else {
        // Only the view's screen area stays, one pixel in on the left and right.
        framelessApplied_ = true;
        const QRect area(view_->mapTo(this, QPoint(1, 0)),
                         QSize(view_->width() - 2, view_->height()));
        setMask(QRegion(area));
    }
    view_->SetFramelessOutline(framelessApplied_);
    update();
}

bool CMainFrame::IsEmptyBarSpot(QObject* watched, const QPoint& pos) const {
    if (watched == menuBar()) {
        const QMenuBar* bar = menuBar();
        QAction* menu = bar->actionAt(pos);
        if (!menu) return true;
        // A menu that does not fit has moved into the overflow button's list;
        // the place it would have on the bar is empty.
        const auto* overflow =
            bar->findChild<QToolButton*>("qt_menubar_ext_button", Qt::FindDirectChildrenOnly);
        const int room = overflow && overflow->isVisible() ? overflow->x() : bar->width();
        return bar->actionGeometry(menu).right() >= room;
    }
    if (watched == toolBar_) return true;  // the buttons get their own presses
    return watched == statusBar() || watched == readyPane_ || watched == statusValuePane_;
}

bool CMainFrame::StartFrameMove() {
    ++frameMoveRequests_;
    QWindow* handle = windowHandle();
    return handle && handle->startSystemMove();
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
    // Frameless there is no caption: the empty parts of the menu bar, the
    // toolbar and the status bar move the window instead.
    if (event->type() == QEvent::MouseButtonPress && IsSet(settings_, setting::kFrameless)) {
        const auto* press = static_cast<QMouseEvent*>(event);
        if (press->button() == Qt::LeftButton &&
            IsEmptyBarSpot(watched, press->position().toPoint())) {
            StartFrameMove();
            return true;
        }
    }
    if ((event->type() == QEvent::MouseMove || event->type() == QEvent::Enter) &&
        watched->isWidgetType() && static_cast<QWidget*>(watched)->window() == this &&
        IsSet(settings_, setting::kFrameless)) {
        if (!hoverShown_) {
            ApplyWindowRegion(true);
            hoverShown_ = true;
        }
        if (openMenus_ <= 0) hoverTimer_.start();
    }
    return QMainWindow::eventFilter(watched, event);
}

void CMainFrame::OnHoverTimer() {
    if (!IsSet(settings_, setting::kFrameless)) {
        hoverShown_ = false;
        hoverTimer_.stop();
        return;
    }
    if (!frameGeometry().contains(QCursor::pos()) && !FrameInUse()) {
        hoverShown_ = false;
        hoverTimer_.stop();
        ApplyWindowRegion(false);
    }
}

void CMainFrame::focusOutEvent(QFocusEvent* event) {
    QMainWindow::focusOutEvent(event);
}

void CMainFrame::BringToFront() {
    view_->Core().SetInBackground(false);
    showNormal();
    raise();
    activateWindow();
    trayIcon_->ShowIcon(0);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    SavePosition();
    if (exitRequested_ || !IsSet(settings_, setting::kSystemTray)) {
        event->accept();
        QCoreApplication::quit();
        return;
    }
    // While hidden the phone samples once a second at background priority,
    // unless a recording needs the frames.
    view_->Core().SetInBackground(true);
    trayIcon_->ShowIcon(cmd::kIconTray);
    event->ignore();
    HideRecordBarWithFrame();
    // Without a notification area a hidden window could never come back.
    if (CTrayIcon::IsTrayAvailable())
        hide();
    else
        showMinimized();
}

void CMainFrame::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // The first time the frame's outer size is known: wholly on its screen.
    if (!placed_ && !isMinimized()) {
        placed_ = true;
        const QRect f = frameGeometry();
        const QScreen* where = QGuiApplication::screenAt(f.center());
        if (!where) where = screen();
        if (where) {
            const QPoint on = OnScreenPosition(f.topLeft(), f.size(), where->availableGeometry());
            if (on != f.topLeft()) move(on);
        }
    }
    // Back from the tray or from a minimised close: the phone samples at the
    // full rate again.
    if (!isMinimized()) {
        view_->Core().SetInBackground(false);
        ShowRecordBarWithFrame();
    }
}

void CMainFrame::hideEvent(QHideEvent* event) {
    QMainWindow::hideEvent(event);
    // Shown again, the window comes back where it was: a window the program
    // never placed itself would be placed anew by the window manager.
    if (!event->spontaneous() && windowHandle())
        windowHandle()->setPosition(windowHandle()->position());
}

void CMainFrame::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) settled_ = true;
    if (event->type() == QEvent::WindowStateChange && isVisible() && !isMinimized()) {
        view_->Core().SetInBackground(false);
        ShowRecordBarWithFrame();
    }
}

QString CMainFrame::PositionKey(const QScreen* where) {
    return QString::fromLatin1(setting::kWindowPositionPrefix.data(),
                               qsizetype(setting::kWindowPositionPrefix.size())) +
           (where ? where->name() : QString());
}

void CMainFrame::SavePosition() {
    // Where the window manager put it is no choice of the user's: a profile
    // stays untouched until the window is moved.
    if (!userMoved_ || isMinimized()) return;
    const QScreen* where = QGuiApplication::screenAt(frameGeometry().center());
    if (!where) where = screen();
    if (!where) return;
    const std::string name = where->name().toStdString();
    const std::string key = PositionKey(where).toStdString();
    // The position move() takes back.
    const std::string value = std::to_string(pos().x()) + "," + std::to_string(pos().y());
    // Unchanged values are not written again.
    if (Read(settings_, setting::kWindowScreen) != name)
        Write(settings_, setting::kWindowScreen, name);
    if (settings_.GetString(setting::kWindowScreen.section, key) != value)
        settings_.WriteString(setting::kWindowScreen.section, key, value);
}

void CMainFrame::RestorePosition() {
    // The screen of the last run if it is still there, else the primary one;
    // each keeps its own position.
    const QString last = QString::fromStdString(Read(settings_, setting::kWindowScreen));
    const QScreen* where = nullptr;
    for (const QScreen* s : QGuiApplication::screens())
        if (s->name() == last) where = s;
    if (!where) where = QGuiApplication::primaryScreen();
    if (!where) return;
    const QString text = QString::fromStdString(
        settings_.GetString(setting::kWindowScreen.section, PositionKey(where).toStdString()));
    const QStringList parts = text.split(u',');
    if (parts.size() != 2) return;
    bool okX = false;
    bool okY = false;
    const QPoint pos(parts[0].trimmed().toInt(&okX), parts[1].trimmed().toInt(&okY));
    if (!okX || !okY) return;
    // Never off the screen: the whole frame stays on its available area.
    move(OnScreenPosition(pos, frameGeometry().size(), where->availableGeometry()));
}

void CMainFrame::ShowAboutBox() {
    CAboutBox box(this);
    box.exec();
}

}  // namespace velarix
