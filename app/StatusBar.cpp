#include "app/StatusBar.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <algorithm>

namespace velarix {

StatusBar::StatusBar(QWidget* parent) : QStatusBar(parent) {
    connect(this, &QStatusBar::messageChanged, this, &StatusBar::UpdateToolTip);
}

void StatusBar::AddPermanentPane(QWidget* pane) {
    permanent_ = pane;
    addPermanentWidget(pane);
}

QRect StatusBar::MessageRect() const {
    // Up to the permanent pane, with the margins Qt's own bar keeps.
    int left = 6;
    int right = width() - 12;
    if (permanent_ && permanent_->isVisible()) {
        if (layoutDirection() == Qt::RightToLeft)
            left = std::max(left, permanent_->x() + permanent_->width() + 2);
        else
            right = std::min(right, permanent_->x() - 2);
    }
    return {left, 0, std::max(0, right - left), height()};
}

QString StatusBar::ShownMessage() const {
    return fontMetrics().elidedText(currentMessage(), Qt::ElideMiddle, MessageRect().width());
}

void StatusBar::UpdateToolTip() {
    const QString text = currentMessage();
    setToolTip(ShownMessage() == text ? QString() : text);
}

void StatusBar::resizeEvent(QResizeEvent* event) {
    QStatusBar::resizeEvent(event);
    UpdateToolTip();
}

void StatusBar::paintEvent(QPaintEvent* event) {
    if (currentMessage().isEmpty()) {
        QStatusBar::paintEvent(event);
        return;
    }
    // As Qt's bar paints a message, but elided in the middle instead of cut.
    QPainter p(this);
    QStyleOption panel;
    panel.initFrom(this);
    style()->drawPrimitive(QStyle::PE_PanelStatusBar, &panel, &p, this);
    if (permanent_ && permanent_->isVisible()) {
        QStyleOption frame(0);
        frame.rect = permanent_->geometry().adjusted(-2, -1, 2, 1);
        frame.palette = palette();
        frame.state = QStyle::State_None;
        style()->drawPrimitive(QStyle::PE_FrameStatusBarItem, &frame, &p, permanent_);
    }
    p.setPen(palette().windowText().color());
    p.drawText(MessageRect(), Qt::AlignLeading | Qt::AlignVCenter | Qt::TextSingleLine,
               ShownMessage());
}

}  // namespace velarix
