#include "app/CIconMenu.h"

#include <QGuiApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QWidgetAction>
#include <algorithm>

#include "app/Icons.h"

namespace velarix {
namespace {

// The cell of one item. It lets the mouse through to the menu, so the menu
// itself tracks the item under the pointer and runs the chosen item as it
// does for its ordinary items; the cell only paints.
class IconItemCell : public QWidget {
public:
    IconItemCell(CIconMenu* menu, int index) : QWidget(menu), menu_(menu), index_(index) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_OpaquePaintEvent);
        setFocusPolicy(Qt::NoFocus);
    }

    QSize sizeHint() const override { return menu_->ItemCellSize(index_); }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* /*event*/) override {
        QPainter painter(this);
        CIconMenu::DrawItem(painter, menu_->Items()[static_cast<std::size_t>(index_)], rect(),
                            menu_->IsItemSelected(index_), palette());
    }

private:
    CIconMenu* menu_;
    int index_;
};

}  // namespace

CIconMenu::CIconMenu(QWidget* parent) : QMenu(parent) {
    // A style that gives menus no frame of their own gets a one-pixel line
    // around the cells, so the popup stands apart from the window below it.
    if (style()->pixelMetric(QStyle::PM_MenuPanelWidth, nullptr, this) <= 0)
        setContentsMargins(1, 1, 1, 1);
    connect(this, &QMenu::triggered, this, &CIconMenu::OnTriggered);
    connect(this, &QMenu::hovered, this, &CIconMenu::SyncSelection);
}

CIconMenu::~CIconMenu() = default;

bool CIconMenu::AppendIconItem(unsigned flags, int commandId, const QString& caption,
                               int bitmapResourceId, const QIcon& icon) {
    IconMenuItem item;
    if (bitmapResourceId != 0) {
        const QIcon picture = IconForResource(bitmapResourceId);
        if (!picture.isNull()) {
            const QList<QSize> sizes = picture.availableSizes();
            item.bitmap =
                picture.pixmap(sizes.isEmpty() ? QSize(kIconSize, kIconSize) : sizes.constFirst());
        }
    }
    item.icon = icon;
    item.width = itemWidth_;
    item.height = itemHeight_;
    item.commandId = commandId;
    item.flags = flags;
    const qsizetype tab = caption.indexOf(QLatin1Char('\t'));
    if (tab < 0) {
        item.text = caption.left(kMaxTextLength);
    } else {
        item.text = caption.left(std::min<qsizetype>(tab, kMaxTextLength));
        item.shortcut = caption.mid(tab + 1);
    }

    const int index = static_cast<int>(items_.size());
    items_.push_back(std::move(item));
    const IconMenuItem& stored = items_.back();

    auto* action = new QWidgetAction(this);
    action->setText(stored.text);
    action->setData(commandId);
    if (flags & kSeparator) {
        // A separator is a blank strip nobody can choose.
        action->setEnabled(false);
    } else {
        action->setEnabled(!(flags & (kGrayed | kDisabled)));
        action->setCheckable((flags & kChecked) != 0);
        action->setChecked((flags & kChecked) != 0);
    }
    action->setDefaultWidget(new IconItemCell(this, index));
    actions_.push_back(action);
    addAction(action);
    return true;
}

QSize CIconMenu::MeasureItem(int index) const {
    const IconMenuItem& item = items_.at(static_cast<std::size_t>(index));
    return {item.width, (item.flags & kSeparator) ? kSeparatorHeight : item.height};
}

QSize CIconMenu::ItemCellSize(int index) const {
    return MeasureItem(index) + QSize(kCheckGutter, 0);
}

QAction* CIconMenu::ItemAction(int index) const {
    return actions_.at(static_cast<std::size_t>(index));
}

QWidget* CIconMenu::ItemWidget(int index) const {
    return static_cast<QWidgetAction*>(ItemAction(index))->defaultWidget();
}

bool CIconMenu::IsItemSelected(int index) const {
    QAction* action = ItemAction(index);
    return action == activeAction() && action->isEnabled();
}

void CIconMenu::DrawItem(QPainter& painter, const IconMenuItem& item, const QRect& rect,
                         bool selected, const QPalette& palette) {
    // A full repaint of the cell also clears a frame left by an earlier
    // selection.
    painter.fillRect(rect,
                     selected ? QColor::fromRgb(kSelectedFill) : palette.color(QPalette::Button));
    if (!item.icon.isNull()) {
        const bool enabled = !(item.flags & (kGrayed | kDisabled));
        item.icon.paint(
            &painter,
            QRect(rect.left() + kIconOffset, rect.top() + kIconOffset, kIconSize, kIconSize),
            Qt::AlignLeft | Qt::AlignTop, enabled ? QIcon::Normal : QIcon::Disabled);
    }
    if (selected) {
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(QPen(QColor::fromRgb(kSelectedFrame), 0));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(rect.adjusted(0, 0, -1, -1));
        painter.restore();
    }
}

bool CIconMenu::event(QEvent* e) {
    const bool handled = QMenu::event(e);
    // The menu moves its selection on mouse and key events and on leaving;
    // the cells show the change.
    SyncSelection();
    return handled;
}

void CIconMenu::SyncSelection() {
    QAction* now = activeAction();
    if (now == shownSelection_) return;
    for (std::size_t i = 0; i < actions_.size(); ++i) {
        if (actions_[i] == now || actions_[i] == shownSelection_)
            ItemWidget(static_cast<int>(i))->update();
    }
    shownSelection_ = now;
}

void CIconMenu::paintEvent(QPaintEvent* /*e*/) {
    // The cells cover the items; around them lies the button face and the
    // menu's frame.
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Button));
    QStyleOptionFrame frame;
    frame.initFrom(this);
    frame.rect = rect();
    frame.state = QStyle::State_None;
    frame.lineWidth = style()->pixelMetric(QStyle::PM_MenuPanelWidth, nullptr, this);
    frame.midLineWidth = 0;
    if (frame.lineWidth > 0) {
        style()->drawPrimitive(QStyle::PE_FrameMenu, &frame, &painter, this);
    } else {
        painter.setPen(QPen(palette().color(QPalette::Dark), 0));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

void CIconMenu::OnTriggered(QAction* action) {
    const int id = action->data().toInt();
    emit CommandChosen(id);
    if (target_) target_->OnCommand(id);
}

QPoint CIconMenu::PopupPosition(const QPoint& pos, const QSize& size, const QRect& exclude,
                                const QRect& available) {
    if (!available.isValid()) return pos;
    QPoint at = pos;
    const int right = available.x() + available.width();
    const int bottom = available.y() + available.height();
    at.setX(std::max(available.x(), std::min(at.x(), right - size.width())));
    if (at.y() + size.height() > bottom) {
        // Not enough room below: open upwards, above the excluded area (the
        // button) rather than over it.
        const int above = (exclude.isValid() ? exclude.top() : pos.y()) - size.height();
        at.setY(above >= available.y() ? above : std::max(available.y(), bottom - size.height()));
    }
    return at;
}

int CIconMenu::Track(const QPoint& pos, const QRect& exclude) {
    const QScreen* screen = QGuiApplication::screenAt(pos);
    if (!screen) screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect();
    QAction* chosen = exec(PopupPosition(pos, sizeHint(), exclude, available));
    return chosen ? chosen->data().toInt() : 0;
}

int CIconMenu::TrackBelow(const QWidget* button) {
    const QRect area(button->mapToGlobal(QPoint(0, 0)), button->size());
    return Track(QPoint(area.left(), area.top() + area.height()), area);
}

}  // namespace velarix
