#include "status/CHtmlCtrl.h"

#include <QContextMenuEvent>
#include <QEvent>
#include <QFile>
#include <QFont>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTextDocument>
#include <QTimer>
#include <QWheelEvent>
#include <utility>

#include "status/StatusPage.h"

namespace {

const QString kResourceScheme = QStringLiteral("res");
const QString kResourceFolder = QStringLiteral(":/res/");

QString ResourcePath(const QString& name) {
    QString file = name;
    while (file.startsWith(QLatin1Char('/'))) file.remove(0, 1);
    return kResourceFolder + file.toLower();
}

}  // namespace

// The page's resources live in a static library, where nothing else would
// pull their registration into the program; the call does, once.
static void RegisterPageResources() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(velarix);
        return true;
    }();
    static_cast<void>(registered);
}

namespace velarix {

CHtmlCtrl::CHtmlCtrl(QWidget* parent) : QTextBrowser(parent) {
    RegisterPageResources();
    // The page is a fixed panel: no frame, no scroll bars, no scrolling, and
    // no margin of its own around the page's rules.
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    document()->setDocumentMargin(0);
    // Table rows with fewer cells than the grid are padded by the renderer
    // with cells in the document's default font, which would make 1-pixel
    // rules and spacer rows as high as a line of text. Pages for this control
    // set the size of all their text themselves.
    QFont tiny = font();
    tiny.setPixelSize(1);
    document()->setDefaultFont(tiny);
    document()->setUndoRedoEnabled(false);
    // The keyboard belongs to the view; the page is worked with the mouse.
    setFocusPolicy(Qt::NoFocus);
    setContextMenuPolicy(Qt::PreventContextMenu);
    viewport()->setContextMenuPolicy(Qt::PreventContextMenu);
    // Links are the view's business: the control never follows one itself.
    setOpenLinks(false);
    setOpenExternalLinks(false);
    connect(this, &QTextBrowser::anchorClicked, this,
            [this](const QUrl& url) { OnAnchorClicked(url); });
}

CHtmlCtrl::~CHtmlCtrl() = default;

bool CHtmlCtrl::LoadPage(const QString& name, std::function<void()> completion) {
    if (loading_) return false;
    loading_ = true;
    completion_ = std::move(completion);
    // Put in place from the event loop, as a browser would: the caller sees
    // the completion only after LoadPage has returned.
    QTimer::singleShot(0, this, [this, name] { FinishLoad(name); });
    return true;
}

void CHtmlCtrl::FinishLoad(const QString& name) {
    QFile file(ResourcePath(name));
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray bytes = file.readAll();
        source_.assign(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    } else {
        // A browser shows an error page for a missing page; here it is an
        // empty one, in which no section can be found.
        source_.clear();
    }
    hasDocument_ = true;
    Render();
    // The completion may start another load; it is refused until this one
    // has finished, as it would be for a browser still in its notification.
    if (completion_) {
        const std::function<void()> completion = completion_;
        completion();
    }
    loading_ = false;
    if (QWidget* owner = parentWidget()) owner->setFocus();
}

bool CHtmlCtrl::FillSection(const QString& name, const QString& text) {
    if (!hasDocument_) return false;
    const QByteArray nameUtf8 = name.toUtf8();
    const QByteArray textUtf8 = text.toUtf8();
    if (!velarix::FillSectionText(
            source_,
            std::string_view(nameUtf8.constData(), static_cast<std::size_t>(nameUtf8.size())),
            std::string_view(textUtf8.constData(), static_cast<std::size_t>(textUtf8.size())))) {
        return false;
    }
    Render();
    return true;
}

void CHtmlCtrl::Render() {
    const int horizontal = horizontalScrollBar()->value();
    const int vertical = verticalScrollBar()->value();
    // One redraw for the new document, and none in between; a caller that has
    // turned redrawing off keeps it off.
    const bool redraw = updatesEnabled();
    setUpdatesEnabled(false);
    setHtml(QString::fromUtf8(source_.data(), static_cast<qsizetype>(source_.size())));
    horizontalScrollBar()->setValue(horizontal);
    verticalScrollBar()->setValue(vertical);
    setUpdatesEnabled(redraw);
}

void CHtmlCtrl::SetNavigateHook(NavigateHook hook) {
    navigateHook_ = std::move(hook);
}

void CHtmlCtrl::OnAnchorClicked(const QUrl& url) {
    const QString link = clickedAnchor_.isEmpty() ? url.toString() : clickedAnchor_;
    clickedAnchor_.clear();
    if (navigateHook_) {
        // The control never follows a link, so cancelled or not there is
        // nothing more to do; the page has no links but its own.
        navigateHook_(link);
    }
}

QVariant CHtmlCtrl::loadResource(int type, const QUrl& name) {
    if (name.scheme().compare(kResourceScheme, Qt::CaseInsensitive) != 0) {
        return QTextBrowser::loadResource(type, name);
    }
    QFile file(ResourcePath(name.path()));
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = file.readAll();
    if (type == QTextDocument::ImageResource) {
        QImage image;
        if (!image.loadFromData(bytes)) return {};
        return image;
    }
    return bytes;
}

bool CHtmlCtrl::event(QEvent* event) {
    switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
            // Handled here, so they reach neither the browser nor its owner.
            event->accept();
            return true;
        case QEvent::ShortcutOverride:
            // The browser claims no key for itself; the program's shortcuts
            // keep working.
            event->ignore();
            return true;
        default:
            return QTextBrowser::event(event);
    }
}

void CHtmlCtrl::keyPressEvent(QKeyEvent* event) {
    event->accept();
}

void CHtmlCtrl::keyReleaseEvent(QKeyEvent* event) {
    event->accept();
}

void CHtmlCtrl::mousePressEvent(QMouseEvent* event) {
    // A right click is swallowed whole: no menu, no selection, no focus.
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    QTextBrowser::mousePressEvent(event);
}

void CHtmlCtrl::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    // The link is delivered from inside the release; remember how the page
    // writes it.
    clickedAnchor_ = anchorAt(event->position().toPoint());
    QTextBrowser::mouseReleaseEvent(event);
    clickedAnchor_.clear();
}

void CHtmlCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    QTextBrowser::mouseDoubleClickEvent(event);
}

void CHtmlCtrl::contextMenuEvent(QContextMenuEvent* event) {
    event->accept();
}

void CHtmlCtrl::wheelEvent(QWheelEvent* event) {
    event->accept();
}

}  // namespace velarix
