// The program's only top-level window: menus, the main toolbar, the status
// bar and the view, sized to the phone screen at the current zoom. It owns
// the window modes (frameless, always on top, stay in the tray), the tray
// icon and the operation that raises the window on phone events.
#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <QToolBar>
#include <map>
#include <optional>

#include "app/CommandTarget.h"
#include "settings/SettingsStore.h"

class QAction;
class QLabel;
class QMenu;
class QScreen;
class QToolButton;

namespace velarix {

// Where the recording bar of `bar` size goes beside `frame` on a screen whose
// usable area is `screen`: left of the frame, on its right when the left has
// no room, and never off the screen.
QPoint RecordBarPosition(const QRect& frame, const QSize& bar, const QRect& screen);
// `pos` moved the least so that a window of `size` lies wholly on `screen`.
QPoint OnScreenPosition(const QPoint& pos, const QSize& size, const QRect& screen);

class CChildView;
class CTrayIcon;

// Frame timers.
inline constexpr int kFrameTimerRecordBar = 2;  // 200 ms, watches the recording bar
inline constexpr int kFrameTimerHover = 3;      // 1000 ms, frameless mode
inline constexpr int kFrameTimerRefresh = 500;  // 200 ms, after a link change

class CMainFrame final : public QMainWindow, public ICommandTarget {
    Q_OBJECT
public:
    explicit CMainFrame(SettingsStore settings, QWidget* parent = nullptr);
    ~CMainFrame() override;

    CChildView* View() const { return view_; }
    CTrayIcon* TrayIcon() const { return trayIcon_; }
    QAction* Action(int id) const;
    QToolBar* MainToolBar() const { return toolBar_; }
    QLabel* StatusValuePane() const { return statusValuePane_; }
    bool FramelessApplied() const { return framelessApplied_; }
    bool HoverShown() const { return hoverShown_; }

    // ICommandTarget: the view is offered every command first.
    bool OnCommand(int id) override;
    std::optional<cmd::CommandState> QueryCommand(int id) override;

    // Brings every menu item and toolbar button up to date at once.
    void RefreshCommandStates();
    void BringToFront();
    void ApplyTopmost();
    void ApplyWindowRegion(bool showFrame);
    // Sets the window's flags from "Frameless" and "AlwaysOnTop" together,
    // keeping the phone screen where it is.
    void ApplyWindowFlags();
    // Remembers the frame's position for the screen that holds it, once the
    // user has moved it; restores the one remembered for the screen of the
    // last run, on that screen.
    void SavePosition();
    void RestorePosition();
    // Frameless: a press on an empty part of the menu bar, toolbar or status
    // bar moves the window; how many moves were asked for.
    int FrameMoveRequests() const { return frameMoveRequests_; }
    // A menu, a popup or a window the frame owns is in use: a frameless
    // frame stays shown meanwhile.
    bool FrameInUse() const;
    // Fits the window around the view at the current zoom.
    void LayoutToView();
    // Shows the idle text, or `text` while recording.
    void SetStatusText(const QString& text);

    // "Record an AVI movie ...": shows the floating recording bar, or removes it.
    void ToggleRecordBar();
    // Hangs the recording bar's window just left of the frame, 42 pixels
    // below the frame's top.
    void PlaceRecordBar();
    // The recording bar (Start, Pause, Stop, one per row) while it exists.
    QToolBar* RecordBar() const { return recordBar_.data(); }
    // Shown, or hidden for the moment along with the frame.
    bool RecordBarVisible() const;
    bool RecordBarWatched() const { return recordWatchTimer_.isActive(); }
    bool RefreshPending() const { return refreshTimer_.isActive(); }
    // The frame's timers (2, 3 and 500) as they fire.
    void OnFrameTimer(int id);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private:
    QAction* AddCommand(QMenu* menu, int id, const QString& text, const QString& prompt = {});
    void BuildMenus();
    void BuildToolBar();
    void BuildStatusBar();
    void SetScreenshotButton(bool save);
    void ShowScreenshotChoice();
    void OnHoverTimer();
    void OnFocusChanged(QWidget* old, QWidget* now);
    bool IsEmptyBarSpot(QObject* watched, const QPoint& pos) const;
    bool StartFrameMove();
    static QString PositionKey(const QScreen* where);
    void OnRefreshTimer();
    // A new floating bar of toolbar resource `resourceId` in its own tool
    // window, watched by frame timer `timerId`; or, when `existing` is shown,
    // nothing (it is removed). Null when the bar is removed or cannot be made.
    QToolBar* CreateFloatingBar(QToolBar* existing, int resourceId, int timerId);
    void OnRecordWatchTimer();
    // The recording bar leaves the desktop with the frame and comes back
    // with it.
    void HideRecordBarWithFrame();
    void ShowRecordBarWithFrame();
    void ShowAboutBox();

    SettingsStore settings_;
    CChildView* view_;
    CTrayIcon* trayIcon_;
    QToolBar* toolBar_ = nullptr;
    QAction* connectAction_ = nullptr;  // first toolbar button
    QToolButton* screenshotButton_ = nullptr;
    QAction* screenshotAction_ = nullptr;  // third toolbar button
    QAction* recordAction_ = nullptr;      // fourth toolbar button
    QLabel* readyPane_ = nullptr;
    QLabel* statusValuePane_ = nullptr;
    std::map<int, QAction*> actions_;
    QTimer hoverTimer_;
    QTimer refreshTimer_;
    QTimer recordWatchTimer_;
    QPointer<QToolBar> recordBar_;
    bool recordBarAway_ = false;  // hidden with the frame
    bool exitRequested_ = false;
    bool hoverShown_ = false;
    bool framelessApplied_ = false;
    int openMenus_ = 0;
    int frameMoveRequests_ = 0;
    bool placed_ = false;  // shown once and kept on its screen
    // Active once: later moves are the user's, earlier ones the placement.
    bool settled_ = false;
    // The user moved the window: only then is its position remembered.
    bool userMoved_ = false;
    // Where the client area belongs after a change of window mode.
    std::optional<QPoint> keepClientAt_;
    QElapsedTimer keepClientFor_;
};

}  // namespace velarix
