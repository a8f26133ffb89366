// The status page control: shows an HTML page from the program's resources,
// fills named sections of it and reports the links the user clicks.
//
// The page source is kept here rather than read back from the renderer,
// because the renderer drops HTML comments and with them the section
// markers. Filling a section edits the kept source and renders it again.
// Pictures of the page are addressed as "res:<name>" and come from the same
// resources as the page.
#pragma once

#include <QString>
#include <QTextBrowser>
#include <QUrl>
#include <QVariant>
#include <functional>
#include <string>

class QContextMenuEvent;
class QEvent;
class QKeyEvent;
class QMouseEvent;
class QWheelEvent;
class QWidget;

namespace velarix {

class CHtmlCtrl : public QTextBrowser {
    Q_OBJECT

public:
    // Called for every link the user clicks, with the link as written in the
    // page; returns true to cancel the navigation.
    using NavigateHook = std::function<bool(const QString& url)>;

    explicit CHtmlCtrl(QWidget* parent = nullptr);
    ~CHtmlCtrl() override;

    // Starts loading the resource page `name`; the document is put in place
    // later, from the event loop, and then `completion` runs. Refused with
    // false while a load is running. The completion is kept and runs again
    // after every later load.
    bool LoadPage(const QString& name, std::function<void()> completion);

    // Replaces the content of section `name` of the page by `text` and shows
    // the result at the same scroll position. False before the first page is
    // in place or when the section's markers are missing or out of order.
    bool FillSection(const QString& name, const QString& text);

    void SetNavigateHook(NavigateHook hook);

    bool IsLoading() const { return loading_; }
    bool HasDocument() const { return hasDocument_; }
    // The page as last loaded and filled, comments included.
    const std::string& PageSource() const { return source_; }

    // "res:<name>" is the resource ":/res/<name in lower case>".
    QVariant loadResource(int type, const QUrl& name) override;

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void FinishLoad(const QString& name);
    void Render();
    void OnAnchorClicked(const QUrl& url);

    std::string source_;
    bool hasDocument_ = false;
    bool loading_ = false;
    std::function<void()> completion_;
    NavigateHook navigateHook_;
    // The link under the button as written in the page, while a click is
    // being delivered: QUrl lower-cases a link's host, and the page's
    // keywords are matched case-sensitively.
    QString clickedAnchor_;
};

}  // namespace velarix
