// A popup menu whose items are pictures: each item is a fixed-size cell that
// paints its 32 × 32 icon, on the button-face colour or, under the pointer, on
// a light lavender with a dark frame. The main window uses it as the drop-down
// of the screenshot button, to choose between copying the screen to the
// clipboard and saving it to a file.
//
// The menu lives for one drop-down: it is built, run and destroyed in one go.
#pragma once

#include <QColor>
#include <QIcon>
#include <QMenu>
#include <QPixmap>
#include <QString>
#include <optional>
#include <vector>

#include "app/CommandTarget.h"

class QPainter;
class QPalette;

namespace velarix {

// The record of one appended item.
struct IconMenuItem {
    QString text;                     // caption up to the first tab character
    std::optional<QString> shortcut;  // caption after the first tab, if it has one
    QPixmap bitmap;                   // from the picture named when appending, if any
    QIcon icon;                       // the picture the item shows
    int width = 0;                    // size reported when the item is measured
    int height = 0;
    int commandId = 0;
    unsigned flags = 0;
};

class CIconMenu : public QMenu {
    Q_OBJECT

public:
    // Item flags, with the values of the window system's menu flags.
    static constexpr unsigned kString = 0x0000;
    static constexpr unsigned kGrayed = 0x0001;
    static constexpr unsigned kDisabled = 0x0002;
    static constexpr unsigned kChecked = 0x0008;
    static constexpr unsigned kSeparator = 0x0800;

    // The one drawing style in use: picture items.
    static constexpr int kStylePictures = 1;
    static constexpr int kSeparatorHeight = 6;
    static constexpr int kIconSize = 32;
    static constexpr int kIconOffset = 2;  // from the item's top left corner
    // A window-system menu widens every owner-drawn item by the room it keeps
    // for a check mark, beyond the width the item reports; without it the
    // 19-pixel items of the screenshot choice could not show their 32-pixel
    // pictures. This menu adds the same room: 19 + 16 leaves the picture and
    // the selection frame a pixel apart.
    static constexpr int kCheckGutter = 16;
    // The colours of the selected item.
    static constexpr QRgb kSelectedFill = 0xFFD8D8EB;   // RGB(216, 216, 235)
    static constexpr QRgb kSelectedFrame = 0xFF404080;  // RGB(64, 64, 128)
    static constexpr int kMaxTextLength = 127;

    explicit CIconMenu(QWidget* parent = nullptr);
    ~CIconMenu() override;

    // Size given to the items appended from now on.
    void SetItemWidth(int width) { itemWidth_ = width; }
    void SetItemHeight(int height) { itemHeight_ = height; }
    int ItemWidth() const { return itemWidth_; }
    int ItemHeight() const { return itemHeight_; }
    int Style() const { return style_; }

    // Appends a picture item. The caption splits at its first tab into text
    // and shortcut; a non-zero `bitmapResourceId` names a picture kept with
    // the record. True once the item is in the menu.
    bool AppendIconItem(unsigned flags, int commandId, const QString& caption, int bitmapResourceId,
                        const QIcon& icon);

    const std::vector<IconMenuItem>& Items() const { return items_; }
    // The size the item at `index` reports: its width and height, or the
    // separator height for a separator.
    QSize MeasureItem(int index) const;
    // The size of the item's cell on screen: the reported size widened by the
    // check-mark room.
    QSize ItemCellSize(int index) const;
    QAction* ItemAction(int index) const;
    QWidget* ItemWidget(int index) const;
    bool IsItemSelected(int index) const;

    // Paints one item into `rect` of `painter`.
    static void DrawItem(QPainter& painter, const IconMenuItem& item, const QRect& rect,
                         bool selected, const QPalette& palette);

    // Where chosen commands go besides the CommandChosen signal; may be null.
    void SetTarget(ICommandTarget* target) { target_ = target; }

    // Runs the menu with its top left corner at `pos` (global), keeping it
    // off `exclude` when it has to move to fit the screen: it prefers moving
    // up over the excluded area to moving sideways. Returns the chosen
    // command, or 0 when the menu was dismissed.
    int Track(const QPoint& pos, const QRect& exclude = {});
    // Runs the menu just below `button`, keeping the button uncovered.
    int TrackBelow(const QWidget* button);

    // Where a menu of `size` opens for Track on a screen with `available`
    // area.
    static QPoint PopupPosition(const QPoint& pos, const QSize& size, const QRect& exclude,
                                const QRect& available);

signals:
    void CommandChosen(int commandId);

protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

private:
    void SyncSelection();
    void OnTriggered(QAction* action);

    int style_ = kStylePictures;
    int itemWidth_ = 25;
    int itemHeight_ = 32;
    std::vector<IconMenuItem> items_;
    std::vector<QAction*> actions_;  // children of this menu, one per item
    QAction* shownSelection_ = nullptr;
    ICommandTarget* target_ = nullptr;
};

}  // namespace velarix
