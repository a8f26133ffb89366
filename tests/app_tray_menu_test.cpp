// Tray icon, tray menu, the picture menu of the screenshot button and the
// about box, driven on the offscreen platform.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <algorithm>
#include <map>
#include <optional>
#include <vector>

#include "app/CAboutBox.h"
#include "app/CIconMenu.h"
#include "app/CTrayIcon.h"
#include "app/CommandTarget.h"
#include "app/Icons.h"
#include "view/CommandIds.h"

namespace velarix {
namespace {

using Action = CTrayIcon::TrayAction;

// Records the commands it receives and answers states from a table; commands
// missing from the table are unknown.
class FakeTarget final : public ICommandTarget {
public:
    bool OnCommand(int id) override {
        commands.push_back(id);
        return true;
    }
    std::optional<cmd::CommandState> QueryCommand(int id) override {
        queries.push_back(id);
        const auto it = states.find(id);
        if (it == states.end()) return std::nullopt;
        return it->second;
    }

    std::vector<int> commands;
    std::vector<int> queries;
    std::map<int, cmd::CommandState> states;
};

// A notification area that refuses every call.
class RefusingTrayIcon : public CTrayIcon {
public:
    using CTrayIcon::CTrayIcon;

protected:
    bool NotifyTray(TrayAction /*action*/) override { return false; }
};

void DropDeferredDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// ---- Tray icon: shown and not-shown states ----

TEST(TrayIconState, ShowTwiceAddsThenModifiesAndZeroRemoves) {
    CTrayIcon tray(cmd::kIconTray);
    EXPECT_FALSE(tray.IsShown());

    EXPECT_TRUE(tray.ShowIcon(cmd::kIconTray));
    EXPECT_TRUE(tray.IsShown());
    EXPECT_TRUE(tray.SystemTrayIcon()->isVisible());
    EXPECT_FALSE(tray.SystemTrayIcon()->icon().isNull());

    EXPECT_TRUE(tray.ShowIcon(cmd::kIconTray));
    EXPECT_EQ(tray.TrayCalls(), (std::vector<Action>{Action::Add, Action::Modify}));

    EXPECT_TRUE(tray.ShowIcon(0));
    EXPECT_FALSE(tray.IsShown());
    EXPECT_FALSE(tray.SystemTrayIcon()->isVisible());
    EXPECT_EQ(tray.TrayCalls(), (std::vector<Action>{Action::Add, Action::Modify, Action::Delete}));

    // Shown again after removal: a fresh add.
    EXPECT_TRUE(tray.ShowIcon(cmd::kIconTray));
    EXPECT_EQ(tray.TrayCalls().back(), Action::Add);
}

TEST(TrayIconState, RemovingWhenNothingIsShownMakesNoCall) {
    CTrayIcon tray(cmd::kIconTray);
    EXPECT_TRUE(tray.ShowIcon(0));
    EXPECT_TRUE(tray.UpdateIcon(QIcon()));
    EXPECT_TRUE(tray.TrayCalls().empty());
    EXPECT_FALSE(tray.SystemTrayIcon()->isVisible());
}

TEST(TrayIconState, AnIdWithoutIconRemovesTheShownIcon) {
    CTrayIcon tray(cmd::kIconTray);
    ASSERT_TRUE(tray.ShowIcon(cmd::kIconTray));
    EXPECT_TRUE(tray.ShowIcon(4711));
    EXPECT_FALSE(tray.IsShown());
    EXPECT_EQ(tray.TrayCalls().back(), Action::Delete);
}

TEST(TrayIconState, RefusedCallLeavesTheIconNotShown) {
    RefusingTrayIcon tray(cmd::kIconTray);
    EXPECT_FALSE(tray.ShowIcon(cmd::kIconTray));
    EXPECT_FALSE(tray.IsShown());
    // Still not shown, so the next attempt adds again and removing is a no-op.
    EXPECT_FALSE(tray.ShowIcon(cmd::kIconTray));
    EXPECT_TRUE(tray.ShowIcon(0));
    EXPECT_EQ(tray.TrayCalls(), (std::vector<Action>{Action::Add, Action::Add}));
}

TEST(TrayIconState, NoTooltipAndGivenTipsAreCut) {
    CTrayIcon tray(cmd::kIconTray);
    ASSERT_TRUE(tray.UpdateIcon(IconForResource(cmd::kIconTray), QString(200, u'x')));
    EXPECT_EQ(tray.ToolTip().size(), CTrayIcon::kMaxTipLength);
    EXPECT_EQ(tray.SystemTrayIcon()->toolTip(), tray.ToolTip());

    // Showing the icon by its number takes the tip of that number, which the
    // program does not have: the given tip goes and none is shown.
    ASSERT_TRUE(tray.ShowIcon(cmd::kIconTray));
    EXPECT_TRUE(tray.ToolTip().isEmpty());
    EXPECT_TRUE(tray.SystemTrayIcon()->toolTip().isEmpty());
}

// ---- Tray icon: mouse events ----

TEST(TrayIconMouse, DoubleClickOpensAtOnceAndSingleClicksDoNothing) {
    FakeTarget target;
    CTrayIcon tray(cmd::kIconTray);
    tray.AttachWindow(nullptr, &target);

    EXPECT_FALSE(tray.HandleNotification(cmd::kIconTray, QSystemTrayIcon::Trigger));
    EXPECT_FALSE(tray.HandleNotification(cmd::kIconTray, QSystemTrayIcon::MiddleClick));
    EXPECT_FALSE(tray.HandleNotification(cmd::kIconTray, QSystemTrayIcon::Unknown));
    EXPECT_TRUE(target.commands.empty());

    EXPECT_TRUE(tray.HandleNotification(cmd::kIconTray, QSystemTrayIcon::DoubleClick));
    EXPECT_EQ(target.commands, std::vector<int>{cmd::kOpenFromTray});
    EXPECT_EQ(tray.OpenMenu(), nullptr);

    // The tray object's own signal takes the same way.
    emit tray.SystemTrayIcon()->activated(QSystemTrayIcon::DoubleClick);
    emit tray.SystemTrayIcon()->activated(QSystemTrayIcon::Trigger);
    EXPECT_EQ(target.commands, (std::vector<int>{cmd::kOpenFromTray, cmd::kOpenFromTray}));
}

TEST(TrayIconMouse, OtherIdsAndIconsWithoutMenuAreNotHandled) {
    FakeTarget target;
    CTrayIcon tray(cmd::kIconTray);
    tray.AttachWindow(nullptr, &target);
    EXPECT_FALSE(tray.HandleNotification(134, QSystemTrayIcon::DoubleClick));

    CTrayIcon other(7);
    other.AttachWindow(nullptr, &target);
    EXPECT_FALSE(other.HandleNotification(7, QSystemTrayIcon::Context));
    EXPECT_FALSE(other.HandleNotification(7, QSystemTrayIcon::DoubleClick));
    EXPECT_EQ(other.CreateMenu(7, nullptr), nullptr);
    EXPECT_TRUE(target.commands.empty());
}

TEST(TrayIconMouse, RightClickOpensTheMenuWithStatesAndRunsTheChoice) {
    FakeTarget target;
    target.states[cmd::kOpenFromTray] = {true, false};
    target.states[cmd::kTrayConnect] = {false, false};
    target.states[cmd::kTrayDisconnect] = {true, false};
    target.states[cmd::kAppExit] = {true, false};
    target.states[cmd::kEventIgnoreAll] = {true, true};
    target.states[cmd::kEventIncomingCall] = {false, false};
    QWidget window;
    CTrayIcon tray(cmd::kIconTray);
    tray.AttachWindow(&window, &target);

    ASSERT_TRUE(tray.HandleNotification(cmd::kIconTray, QSystemTrayIcon::Context));
    QMenu* menu = tray.OpenMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_TRUE(menu->isVisible());
    EXPECT_EQ(menu->parentWidget(), &window);
    EXPECT_TRUE(target.commands.empty());

    const QList<QAction*> items = menu->actions();
    ASSERT_EQ(items.size(), 7);
    EXPECT_TRUE(items[0]->isEnabled());
    EXPECT_FALSE(items[2]->isEnabled());  // Connect
    EXPECT_TRUE(items[3]->isEnabled());   // Disconnect
    EXPECT_TRUE(items[6]->isEnabled());   // Exit

    // The submenu asks as it opens; an unknown command is greyed.
    QMenu* events = items[4]->menu();
    ASSERT_NE(events, nullptr);
    emit events->aboutToShow();
    const QList<QAction*> eventItems = events->actions();
    EXPECT_TRUE(eventItems[0]->isChecked());
    EXPECT_FALSE(eventItems[2]->isEnabled());  // state says disabled
    EXPECT_FALSE(eventItems[4]->isEnabled());  // MMS: unknown to the target
    EXPECT_FALSE(eventItems[4]->isChecked());
    for (int id : {cmd::kEventIgnoreAll, cmd::kEventIncomingCall, cmd::kEventIncomingSms,
                   cmd::kEventIncomingMms})
        EXPECT_NE(std::find(target.queries.begin(), target.queries.end(), id),
                  target.queries.end());

    items[3]->trigger();
    EXPECT_EQ(target.commands, std::vector<int>{cmd::kTrayDisconnect});
    menu->close();
    DropDeferredDeletes();
    EXPECT_EQ(tray.OpenMenu(), nullptr);
}

TEST(TrayMenu, ItemsInOrderWithOpenAsBoldDefault) {
    CTrayIcon tray(cmd::kIconTray);
    QWidget window;
    QMenu* menu = tray.CreateMenu(cmd::kMenuTray, &window);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->title(), "Tray");

    // Separators read as ("", 0), submenus as (title, -1).
    const auto describe = [](const QMenu* m) {
        std::vector<std::pair<QString, int>> out;
        for (const QAction* a : m->actions()) {
            if (a->isSeparator())
                out.emplace_back(QString(), 0);
            else if (a->menu())
                out.emplace_back(a->text(), -1);
            else
                out.emplace_back(a->text(), a->data().toInt());
        }
        return out;
    };
    using List = std::vector<std::pair<QString, int>>;
    EXPECT_EQ(describe(menu), (List{{"&Open", cmd::kOpenFromTray},
                                    {"", 0},
                                    {"Connect", cmd::kTrayConnect},
                                    {"Disconnect", cmd::kTrayDisconnect},
                                    {"Events", -1},
                                    {"", 0},
                                    {"&Exit", cmd::kAppExit}}));
    EXPECT_EQ(describe(menu->actions()[4]->menu()),
              (List{{"Ignore all events", cmd::kEventIgnoreAll},
                    {"", 0},
                    {"Incoming Phone Call", cmd::kEventIncomingCall},
                    {"Incoming SMS", cmd::kEventIncomingSms},
                    {"Incoming MMS", cmd::kEventIncomingMms}}));

    EXPECT_EQ(menu->defaultAction(), menu->actions()[0]);
    EXPECT_TRUE(menu->actions()[0]->font().bold());
    EXPECT_FALSE(menu->actions()[2]->font().bold());

    // Without a target every command is greyed and nothing is sent.
    emit menu->aboutToShow();
    EXPECT_FALSE(menu->actions()[0]->isEnabled());
    menu->actions()[0]->trigger();
}

// ---- Picture menu ----

QIcon MarkedIcon() {
    // Solid green with one blue pixel at its top left corner.
    QImage image(CIconMenu::kIconSize, CIconMenu::kIconSize, QImage::Format_ARGB32);
    image.fill(QColor(0, 200, 0));
    image.setPixelColor(0, 0, QColor(0, 0, 255));
    return QIcon(QPixmap::fromImage(image));
}

CIconMenu* ScreenshotChoice(QWidget* parent) {
    auto* menu = new CIconMenu(parent);
    menu->SetItemWidth(19);
    menu->SetItemHeight(37);
    menu->AppendIconItem(0, cmd::kChooseCopyScreenshot, QString(), 0,
                         IconForResource(cmd::kIconScreenshotCopy));
    menu->AppendIconItem(0, cmd::kChooseSaveScreenshot, QString(), 0, MarkedIcon());
    return menu;
}

TEST(IconMenu, RecordsCaptionsAndSizes) {
    CIconMenu menu;
    EXPECT_EQ(menu.Style(), CIconMenu::kStylePictures);
    EXPECT_EQ(menu.ItemWidth(), 25);
    EXPECT_EQ(menu.ItemHeight(), 32);

    ASSERT_TRUE(menu.AppendIconItem(0, 1, "Save\tCtrl+S", 0, QIcon()));
    ASSERT_TRUE(menu.AppendIconItem(0, 2, "Copy", 0, QIcon()));
    menu.SetItemWidth(19);
    menu.SetItemHeight(37);
    ASSERT_TRUE(menu.AppendIconItem(0, 3, "A\tB\tC", cmd::kIconScreenshotSave, QIcon()));
    ASSERT_TRUE(menu.AppendIconItem(CIconMenu::kSeparator, 0, QString(), 0, QIcon()));

    const auto& items = menu.Items();
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0].text, "Save");
    EXPECT_EQ(items[0].shortcut, QString("Ctrl+S"));
    EXPECT_EQ(items[1].text, "Copy");
    EXPECT_FALSE(items[1].shortcut.has_value());
    EXPECT_EQ(items[2].text, "A");
    EXPECT_EQ(items[2].shortcut, QString("B\tC"));
    EXPECT_TRUE(items[0].bitmap.isNull());
    EXPECT_FALSE(items[2].bitmap.isNull());

    EXPECT_EQ(menu.MeasureItem(0), QSize(25, 32));
    EXPECT_EQ(menu.MeasureItem(2), QSize(19, 37));
    EXPECT_EQ(menu.MeasureItem(3), QSize(19, CIconMenu::kSeparatorHeight));
    EXPECT_FALSE(menu.ItemAction(3)->isEnabled());
    EXPECT_EQ(menu.ItemAction(2)->data().toInt(), 3);
}

TEST(IconMenu, ScreenshotChoiceCellsShowTheWholePicture) {
    QWidget window;
    CIconMenu* menu = ScreenshotChoice(&window);
    EXPECT_EQ(menu->MeasureItem(0), QSize(19, 37));
    EXPECT_EQ(menu->MeasureItem(1), QSize(19, 37));
    const QSize cell = menu->ItemCellSize(1);
    EXPECT_EQ(cell, QSize(19 + CIconMenu::kCheckGutter, 37));
    EXPECT_GE(cell.width(), CIconMenu::kIconOffset + CIconMenu::kIconSize + 1);

    const QRect geometry = menu->actionGeometry(menu->ItemAction(1));
    EXPECT_EQ(geometry.height(), 37);
    EXPECT_GE(geometry.width(), cell.width());
    EXPECT_EQ(menu->ItemWidget(1)->geometry(), geometry);
}

TEST(IconMenu, DrawsIconAtTwoTwoAndTheSelection) {
    IconMenuItem item;
    item.icon = MarkedIcon();
    const QRect rect(0, 0, 35, 37);
    QPalette palette;
    palette.setColor(QPalette::Button, QColor(200, 100, 50));

    QImage plain(rect.size(), QImage::Format_ARGB32);
    {
        QPainter p(&plain);
        CIconMenu::DrawItem(p, item, rect, false, palette);
    }
    EXPECT_EQ(plain.pixelColor(0, 0), QColor(200, 100, 50));
    EXPECT_EQ(plain.pixelColor(1, 1), QColor(200, 100, 50));
    EXPECT_EQ(plain.pixelColor(2, 2), QColor(0, 0, 255));
    EXPECT_EQ(plain.pixelColor(3, 2), QColor(0, 200, 0));
    EXPECT_EQ(plain.pixelColor(33, 33), QColor(0, 200, 0));
    EXPECT_EQ(plain.pixelColor(34, 34), QColor(200, 100, 50));

    QImage selected(rect.size(), QImage::Format_ARGB32);
    {
        QPainter p(&selected);
        CIconMenu::DrawItem(p, item, rect, true, palette);
    }
    const QColor frame(64, 64, 128);
    EXPECT_EQ(selected.pixelColor(0, 0), frame);
    EXPECT_EQ(selected.pixelColor(34, 36), frame);
    EXPECT_EQ(selected.pixelColor(17, 36), frame);
    EXPECT_EQ(selected.pixelColor(1, 1), QColor(216, 216, 235));
    EXPECT_EQ(selected.pixelColor(33, 35), QColor(216, 216, 235));
    EXPECT_EQ(selected.pixelColor(2, 2), QColor(0, 0, 255));
}

TEST(IconMenu, CellsFollowTheMenusSelection) {
    QWidget window;
    CIconMenu* menu = ScreenshotChoice(&window);
    menu->popup(QPoint(100, 100));
    ASSERT_TRUE(menu->isVisible());
    menu->setActiveAction(menu->ItemAction(1));
    EXPECT_TRUE(menu->IsItemSelected(1));
    EXPECT_FALSE(menu->IsItemSelected(0));

    const QImage chosen = menu->ItemWidget(1)->grab().toImage();
    const QImage other = menu->ItemWidget(0)->grab().toImage();
    EXPECT_EQ(chosen.pixelColor(0, 0), QColor(64, 64, 128));
    EXPECT_EQ(chosen.pixelColor(1, 1), QColor(216, 216, 235));
    EXPECT_EQ(chosen.pixelColor(2, 2), QColor(0, 0, 255));
    EXPECT_EQ(other.pixelColor(0, 0), menu->ItemWidget(0)->palette().color(QPalette::Button));
    menu->close();
}

TEST(IconMenu, ClickingACellChoosesItsCommand) {
    QWidget window;
    FakeTarget target;
    CIconMenu* menu = ScreenshotChoice(&window);
    menu->SetTarget(&target);
    std::vector<int> chosen;
    QObject::connect(menu, &CIconMenu::CommandChosen, [&chosen](int id) { chosen.push_back(id); });
    menu->popup(QPoint(100, 100));
    ASSERT_TRUE(menu->isVisible());

    // The cells let the mouse through to the menu.
    const QPoint centre = menu->actionGeometry(menu->ItemAction(1)).center();
    EXPECT_EQ(menu->childAt(centre), nullptr);
    QMouseEvent move(QEvent::MouseMove, centre, menu->mapToGlobal(centre), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(menu, &move);
    EXPECT_EQ(menu->activeAction(), menu->ItemAction(1));
    QMouseEvent press(QEvent::MouseButtonPress, centre, menu->mapToGlobal(centre), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(menu, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, centre, menu->mapToGlobal(centre),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(menu, &release);

    EXPECT_EQ(target.commands, std::vector<int>{cmd::kChooseSaveScreenshot});
    EXPECT_EQ(chosen, std::vector<int>{cmd::kChooseSaveScreenshot});
    EXPECT_FALSE(menu->isVisible());
}

TEST(IconMenu, OpensBelowTheButtonOrAboveWhenNoRoom) {
    const QRect screen(0, 0, 800, 600);
    const QSize size(41, 80);
    const QRect button(100, 50, 34, 40);
    const QPoint below(button.left(), button.top() + button.height());
    EXPECT_EQ(CIconMenu::PopupPosition(below, size, button, screen), below);

    const QRect low(100, 540, 34, 40);
    EXPECT_EQ(CIconMenu::PopupPosition(QPoint(100, 580), size, low, screen), QPoint(100, 460));

    const QRect right(780, 50, 20, 40);
    EXPECT_EQ(CIconMenu::PopupPosition(QPoint(780, 90), size, right, screen), QPoint(759, 90));
}

// ---- About box ----

TEST(AboutBox, ShowsTheTextsAndOkCloses) {
    CAboutBox box;
    EXPECT_EQ(box.windowTitle(), "About ...");
    EXPECT_EQ(box.findChild<QLabel*>("versionLine")->text(), "Velarix - Version 1.44.171104");
    EXPECT_FALSE(box.findChild<QLabel*>("noticeLine")->text().isEmpty());
    EXPECT_EQ(box.findChild<QLabel*>("infoCaption")->text(), "Additional information:");
    EXPECT_FALSE(box.findChild<QLabel*>("programIcon")->pixmap().isNull());

    auto* info = box.findChild<QPlainTextEdit*>("additionalInfo");
    ASSERT_NE(info, nullptr);
    EXPECT_TRUE(info->isReadOnly());
    EXPECT_NE(info->frameShape(), QFrame::NoFrame);
    EXPECT_EQ(info->toPlainText(), "For Sony Ericsson P800/P900 and Motorola A920/A925");
    EXPECT_EQ(box.AdditionalInfo(), info->toPlainText());

    auto* ok = box.findChild<QPushButton*>("okButton");
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text(), "OK");
    EXPECT_TRUE(ok->isDefault());

    box.show();
    ASSERT_TRUE(box.isVisible());
    ok->click();
    EXPECT_FALSE(box.isVisible());
    EXPECT_EQ(box.result(), QDialog::Accepted);
    EXPECT_EQ(box.AdditionalInfo(), "For Sony Ericsson P800/P900 and Motorola A920/A925");
}

// ---- Pictures ----

TEST(Pictures, EveryResourceAndImageHasItsSize) {
    EXPECT_EQ(TrayIcon().size(), QSize(16, 16));
    EXPECT_EQ(ScreenshotCopyIcon().size(), QSize(32, 32));
    EXPECT_EQ(ScreenshotSaveIcon().size(), QSize(32, 32));
    const QList<QSize> programSizes = ProgramIcon().availableSizes();
    for (int side : {16, 32, 48, 64}) EXPECT_TRUE(programSizes.contains(QSize(side, side))) << side;
    for (int id :
         {cmd::kIconProgram, cmd::kIconTray, cmd::kIconScreenshotCopy, cmd::kIconScreenshotSave})
        EXPECT_FALSE(IconForResource(id).isNull()) << id;
    EXPECT_TRUE(IconForResource(4711).isNull());
    for (int i = 0; i < kToolbarImageCount; ++i)
        EXPECT_EQ(ToolbarIcon(i).pixmap(kToolbarImageSize).size(), kToolbarImageSize);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(RecordBarIcon(i).pixmap(kRecordBarImageSize).size(), kRecordBarImageSize);
    EXPECT_TRUE(RecordBarIcon(3).isNull());
    // The start button is red at its centre.
    const QImage start = RecordBarIcon(record_image::kStart).pixmap(kRecordBarImageSize).toImage();
    const QColor centre = start.pixelColor(9, 9);
    EXPECT_GT(centre.red(), 150);
    EXPECT_LT(centre.green(), 100);
}

}  // namespace
}  // namespace velarix
