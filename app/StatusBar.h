// The frame's status bar. Its message (a fly-by prompt, or a note such as
// where a file went) is elided in the middle when it is wider than the
// message pane, so the end of a file name still shows, and the bar's tooltip
// then holds the whole text.
#pragma once

#include <QStatusBar>

namespace velarix {

class StatusBar final : public QStatusBar {
    Q_OBJECT
public:
    explicit StatusBar(QWidget* parent = nullptr);

    // The pane at the right that stays while a message shows.
    void AddPermanentPane(QWidget* pane);

    // The message as it is painted: the whole of currentMessage(), or it
    // elided in the middle to the message pane's width.
    QString ShownMessage() const;
    // Where the message is painted.
    QRect MessageRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void UpdateToolTip();

    QWidget* permanent_ = nullptr;
};

}  // namespace velarix
