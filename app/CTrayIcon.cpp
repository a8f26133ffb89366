#include "app/CTrayIcon.h"

#include <QAction>
#include <QCursor>
#include <QFont>
#include <QMenu>
#include <QWidget>

#include "app/Icons.h"

namespace velarix {
namespace {

// One entry of a tray menu: a command, a separator, or a submenu whose
// entries follow up to its end marker.
struct MenuEntry {
    enum Kind { Command, Separator, Submenu, SubmenuEnd } kind;
    int id = 0;
    const char* text = nullptr;
};

// Menu 133: its one popup "Tray". "&Open" and "&Exit" are the main window's
// commands; "Connect", "Disconnect" and the events are the view's.
constexpr MenuEntry kTrayMenu[] = {
    {MenuEntry::Command, cmd::kOpenFromTray, "&Open"},
    {MenuEntry::Separator},
    {MenuEntry::Command, cmd::kTrayConnect, "Connect"},
    {MenuEntry::Command, cmd::kTrayDisconnect, "Disconnect"},
    {MenuEntry::Submenu, 0, "Events"},
    {MenuEntry::Command, cmd::kEventIgnoreAll, "Ignore all events"},
    {MenuEntry::Separator},
    {MenuEntry::Command, cmd::kEventIncomingCall, "Incoming Phone Call"},
    {MenuEntry::Command, cmd::kEventIncomingSms, "Incoming SMS"},
    {MenuEntry::Command, cmd::kEventIncomingMms, "Incoming MMS"},
    {MenuEntry::SubmenuEnd},
    {MenuEntry::Separator},
    {MenuEntry::Command, cmd::kAppExit, "&Exit"},
};
constexpr const char* kTrayMenuTitle = "Tray";

// The program has no text with the tray icon's number, so its tooltip stays
// empty and the notification area shows none.
QString TipString(int /*resourceId*/) {
    return {};
}

// Brings every command item of `menu` (not of its submenus, which do this
// themselves when they open) up to the target's current state. A command the
// target does not know is greyed, as a menu item without a handler is.
void RefreshStates(QMenu* menu, ICommandTarget* target) {
    for (QAction* action : menu->actions()) {
        if (action->isSeparator() || action->menu() || !action->data().isValid()) continue;
        const int id = action->data().toInt();
        const std::optional<cmd::CommandState> state =
            target ? target->QueryCommand(id) : std::nullopt;
        action->setEnabled(state && state->enabled);
        const bool checked = state && state->checked;
        action->setCheckable(checked);
        action->setChecked(checked);
    }
}

}  // namespace

CTrayIcon::CTrayIcon(int resourceId, QObject* parent)
    : QObject(parent),
      id_(resourceId),
      tip_(TipString(resourceId).left(kMaxTipLength)),
      tray_(new QSystemTrayIcon(this)) {
    connect(tray_, &QSystemTrayIcon::activated, this, &CTrayIcon::OnActivated);
}

// The base class's call on the notification area runs here: a subclass is
// already gone when this destructor runs.
CTrayIcon::~CTrayIcon() {
    ShowIcon(0);
}

void CTrayIcon::AttachWindow(QWidget* window, ICommandTarget* target) {
    window_ = window;
    target_ = target;
}

bool CTrayIcon::ShowIcon(int resourceId) {
    if (resourceId == 0) return UpdateIcon(QIcon());
    tip_ = TipString(resourceId).left(kMaxTipLength);
    // An id without an icon gives a null icon, which removes the icon.
    return UpdateIcon(IconForResource(resourceId));
}

bool CTrayIcon::UpdateIcon(const QIcon& icon, const std::optional<QString>& tip) {
    TrayAction action = TrayAction::Add;
    if (!icon.isNull()) {
        action = icon_.isNull() ? TrayAction::Add : TrayAction::Modify;
        icon_ = icon;
    } else {
        // Nothing is shown, so there is nothing to remove.
        if (icon_.isNull()) return true;
        action = TrayAction::Delete;
    }
    if (tip) tip_ = tip->left(kMaxTipLength);

    trayCalls_.push_back(action);
    const bool ok = NotifyTray(action);
    // A refused call leaves the icon not shown, whatever was asked.
    if (action == TrayAction::Delete || !ok) icon_ = QIcon();
    return ok;
}

bool CTrayIcon::NotifyTray(TrayAction action) {
    switch (action) {
        case TrayAction::Add:
        case TrayAction::Modify:
            tray_->setIcon(icon_);
            // An empty text shows no tooltip.
            tray_->setToolTip(tip_);
            tray_->show();
            return tray_->isVisible();
        case TrayAction::Delete:
            tray_->hide();
            return true;
    }
    return false;
}

void CTrayIcon::OnActivated(QSystemTrayIcon::ActivationReason reason) {
    HandleNotification(id_, reason);
}

bool CTrayIcon::HandleNotification(int id, QSystemTrayIcon::ActivationReason reason) {
    if (id != id_) return false;
    if (reason != QSystemTrayIcon::Context && reason != QSystemTrayIcon::DoubleClick) return false;
    if (id_ != cmd::kMenuTray) return false;  // no menu with this number

    if (reason == QSystemTrayIcon::DoubleClick) {
        // The menu's first item is what a double click means: "&Open".
        if (target_) target_->OnCommand(kTrayMenu[0].id);
        return true;
    }

    if (openMenu_) openMenu_->close();
    QMenu* menu = CreateMenu(id_, window_);
    // The popup lives while it is open; it goes once its chosen command (if
    // any) has been delivered.
    connect(menu, &QMenu::aboutToHide, menu, &QObject::deleteLater);
    openMenu_ = menu;
    menu->popup(QCursor::pos());
    return true;
}

QMenu* CTrayIcon::CreateMenu(int menuId, QWidget* parent) const {
    if (menuId != cmd::kMenuTray) return nullptr;

    auto* top = new QMenu(QString::fromLatin1(kTrayMenuTitle), parent);
    QMenu* current = top;
    for (const MenuEntry& entry : kTrayMenu) {
        switch (entry.kind) {
            case MenuEntry::Separator:
                current->addSeparator();
                break;
            case MenuEntry::Submenu:
                current = current->addMenu(QString::fromLatin1(entry.text));
                break;
            case MenuEntry::SubmenuEnd:
                current = top;
                break;
            case MenuEntry::Command: {
                QAction* action = current->addAction(QString::fromLatin1(entry.text));
                action->setData(entry.id);
                const int commandId = entry.id;
                connect(action, &QAction::triggered, this, [this, commandId] {
                    if (target_) target_->OnCommand(commandId);
                });
                break;
            }
        }
    }

    // The first item is the default one, shown in bold.
    QAction* first = top->actions().constFirst();
    top->setDefaultAction(first);
    QFont bold = first->font();
    bold.setBold(true);
    first->setFont(bold);

    // Each popup asks for its items' states as it opens, as the submenu
    // opens later than the menu that holds it.
    QList<QMenu*> menus = top->findChildren<QMenu*>(Qt::FindDirectChildrenOnly);
    menus.prepend(top);
    for (QMenu* menu : menus) {
        connect(menu, &QMenu::aboutToShow, this, [this, menu] { RefreshStates(menu, target_); });
    }
    return top;
}

bool CTrayIcon::IsTrayAvailable() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

}  // namespace velarix
