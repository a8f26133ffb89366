// The program's icon in the notification area while the main window is hidden
// there, and the mouse handling of that icon: a right click opens the tray
// menu, a double click opens the window at once.
//
// The icon has two states, not shown and shown. Showing it while it is shown
// modifies it in place; hiding it while nothing is shown touches nothing.
#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>
#include <optional>
#include <vector>

#include "app/CommandTarget.h"

class QMenu;
class QWidget;

namespace velarix {

class CTrayIcon : public QObject {
    Q_OBJECT

public:
    // What one call on the notification area asks for.
    enum class TrayAction { Add, Modify, Delete };

    // A tooltip holds at most this many characters (the record's 128 bytes
    // with the terminating zero).
    static constexpr int kMaxTipLength = 127;

    // `resourceId` names the icon, the tooltip text and the menu of the icon.
    explicit CTrayIcon(int resourceId, QObject* parent = nullptr);
    ~CTrayIcon() override;

    CTrayIcon(const CTrayIcon&) = delete;
    CTrayIcon& operator=(const CTrayIcon&) = delete;

    // The window that owns the icon (the tray menu's parent) and the target
    // that receives the menu's commands and answers their states. Either may
    // be null; without a target, commands go nowhere.
    void AttachWindow(QWidget* window, ICommandTarget* target);

    // Non-zero: shows the icon with that resource id, adding it or, when it is
    // already shown, modifying it. 0: removes the icon. False when the
    // notification area refused.
    bool ShowIcon(int resourceId);

    // A null icon removes the shown icon (and succeeds at once when none is
    // shown); any other icon adds or modifies it. A given tip replaces the
    // stored tooltip text.
    bool UpdateIcon(const QIcon& icon, const std::optional<QString>& tip = std::nullopt);

    // A mouse event on the icon with `id`: a double click sends the tray
    // menu's first command to the target, the context request opens the tray
    // menu at the cursor. True when handled; other events and other ids are
    // not.
    virtual bool HandleNotification(int id, QSystemTrayIcon::ActivationReason reason);

    // The tray menu of `menuId` as a new popup owned by `parent`, with every
    // item sending its command to the target and asking it for the item's
    // state just before the popup shows. Null when there is no such menu.
    QMenu* CreateMenu(int menuId, QWidget* parent) const;

    int Id() const { return id_; }
    bool IsShown() const { return !icon_.isNull(); }
    QString ToolTip() const { return tip_; }
    // Every call made on the notification area, oldest first.
    const std::vector<TrayAction>& TrayCalls() const { return trayCalls_; }
    // The tray menu opened by the last context request, while it exists.
    QMenu* OpenMenu() const { return openMenu_; }
    // The object that stands for the icon in the notification area.
    QSystemTrayIcon* SystemTrayIcon() const { return tray_; }

    // Whether the desktop has a notification area at all; without one a
    // window hidden to the tray could not be opened again.
    static bool IsTrayAvailable();

protected:
    // Carries out one call on the notification area with the current icon and
    // tooltip. True on success.
    virtual bool NotifyTray(TrayAction action);

private:
    void OnActivated(QSystemTrayIcon::ActivationReason reason);

    int id_;
    QIcon icon_;  // the icon on show; null while nothing is shown
    QString tip_;
    QPointer<QWidget> window_;
    ICommandTarget* target_ = nullptr;
    QSystemTrayIcon* tray_;  // child of this object
    QPointer<QMenu> openMenu_;
    std::vector<TrayAction> trayCalls_;
};

}  // namespace velarix
