// The status page control on the offscreen platform: loading a page from the
// resources, filling sections, the page's pictures, clicks on its links, and
// the keyboard and right button it keeps to itself.
#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QWidget>
#include <optional>
#include <string>
#include <vector>

#include "status/CHtmlCtrl.h"
#include "status/StatusPage.h"

namespace velarix {
namespace {

// The owner of the control, counting the keys that get through to it.
class Owner : public QWidget {
public:
    int keys = 0;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        ++keys;
        event->accept();
    }
    void keyReleaseEvent(QKeyEvent* event) override {
        ++keys;
        event->accept();
    }
};

class StatusHtmlTest : public ::testing::Test {
protected:
    void SetUp() override {
        owner_.resize(220, 340);
        ctrl_.setGeometry(0, 0, 210, 322);
        owner_.show();
    }

    // Runs the event loop until the running load has completed. The load is
    // posted to the loop, so a bounded number of passes is enough.
    bool FinishLoad() {
        for (int pass = 0; pass < 100 && ctrl_.IsLoading(); ++pass) {
            QApplication::processEvents();
        }
        return !ctrl_.IsLoading();
    }

    // Loads the status page and builds it for `state`, as the view does.
    void ShowPage(const StatusPageState& state) {
        ASSERT_TRUE(ctrl_.LoadPage(QString::fromUtf8(kStatusPageName.data()), [this, state] {
            const StatusPageContent content = BuildStatusPageContent(state);
            ctrl_.FillSection("TITLE", QString::fromStdString(content.title));
            ctrl_.FillSection("CONNECTION-STATUS",
                              QString::fromStdString(content.connectionStatus));
            ctrl_.FillSection("TABLE", QString::fromStdString(content.table));
        }));
        ASSERT_TRUE(FinishLoad());
    }

    // Where the first character carrying the link `href` is drawn, a few
    // pixels into it.
    std::optional<QPoint> LinkPosition(const QString& href) {
        for (QTextBlock block = ctrl_.document()->begin(); block.isValid(); block = block.next()) {
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QTextFragment fragment = it.fragment();
                if (fragment.charFormat().anchorHref() != href) continue;
                QTextCursor cursor(ctrl_.document());
                cursor.setPosition(fragment.position());
                const QRect at = ctrl_.cursorRect(cursor);
                return QPoint(at.left() + 4, at.center().y());
            }
        }
        return std::nullopt;
    }

    void Click(QPoint at, Qt::MouseButton button) {
        const QPoint global = ctrl_.viewport()->mapToGlobal(at);
        QMouseEvent press(QEvent::MouseButtonPress, at, global, button, button, Qt::NoModifier);
        QApplication::sendEvent(ctrl_.viewport(), &press);
        QMouseEvent release(QEvent::MouseButtonRelease, at, global, button, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(ctrl_.viewport(), &release);
    }

    int Count(const std::string& text, const std::string& what) {
        int n = 0;
        for (std::size_t at = text.find(what); at != std::string::npos;
             at = text.find(what, at + 1)) {
            ++n;
        }
        return n;
    }

    Owner owner_;
    CHtmlCtrl ctrl_{&owner_};
};

// ---------------------------------------------------------------------------
// Loading

TEST_F(StatusHtmlTest, LoadIsCompletedLaterAndRefusedMeanwhile) {
    int completions = 0;
    int refusedCompletions = 0;
    ASSERT_TRUE(ctrl_.LoadPage("status.htm", [&] { ++completions; }));
    EXPECT_TRUE(ctrl_.IsLoading());
    EXPECT_FALSE(ctrl_.HasDocument());
    EXPECT_EQ(completions, 0);

    EXPECT_FALSE(ctrl_.LoadPage("status.htm", [&] { ++refusedCompletions; }));
    ASSERT_TRUE(FinishLoad());
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(refusedCompletions, 0);

    // Idle again: the next load is accepted and completes once more.
    ASSERT_TRUE(ctrl_.LoadPage("status.htm", [&] { ++completions; }));
    ASSERT_TRUE(FinishLoad());
    EXPECT_EQ(completions, 2);
}

TEST_F(StatusHtmlTest, CompletionRunsWithTheDocumentInPlace) {
    bool ran = false;
    ASSERT_TRUE(ctrl_.LoadPage("STATUS.HTM", [&] {
        ran = true;
        EXPECT_TRUE(ctrl_.HasDocument());
        // Still loading until the completion has returned: a load started
        // from here is refused.
        EXPECT_TRUE(ctrl_.IsLoading());
        EXPECT_TRUE(ctrl_.toPlainText().contains("Address"));
        EXPECT_NE(ctrl_.PageSource().find("<!-- {TABLE} -->"), std::string::npos);
        EXPECT_TRUE(ctrl_.FillSection("TITLE", "Filled"));
    }));
    ASSERT_TRUE(FinishLoad());
    EXPECT_TRUE(ran);
    EXPECT_TRUE(ctrl_.toPlainText().contains("Filled"));
}

TEST_F(StatusHtmlTest, CompletionGivesTheFocusToTheOwner) {
    owner_.setFocusPolicy(Qt::StrongFocus);
    QWidget other(&owner_);
    other.setFocusPolicy(Qt::StrongFocus);
    other.setFocus();
    ASSERT_TRUE(ctrl_.LoadPage("status.htm", {}));
    ASSERT_TRUE(FinishLoad());
    EXPECT_EQ(owner_.focusWidget(), &owner_);
}

TEST_F(StatusHtmlTest, MissingPageCompletesEmpty) {
    bool ran = false;
    ASSERT_TRUE(ctrl_.LoadPage("nothing.htm", [&] { ran = true; }));
    ASSERT_TRUE(FinishLoad());
    EXPECT_TRUE(ran);
    EXPECT_TRUE(ctrl_.PageSource().empty());
    EXPECT_FALSE(ctrl_.FillSection("TITLE", "x"));
}

// ---------------------------------------------------------------------------
// Sections

TEST_F(StatusHtmlTest, FillSectionNeedsADocument) {
    EXPECT_FALSE(ctrl_.FillSection("TITLE", "Velarix"));
    EXPECT_TRUE(ctrl_.PageSource().empty());
}

TEST_F(StatusHtmlTest, BuiltPageShowsTheFilledTexts) {
    ShowPage({0, 0, false, false});
    const QString text = ctrl_.toPlainText();
    EXPECT_TRUE(text.contains("Velarix"));
    EXPECT_TRUE(text.contains("Not connected"));
    EXPECT_TRUE(text.contains("Direct"));
    EXPECT_TRUE(text.contains("Unavailable"));
    EXPECT_TRUE(text.contains("PC Suite/mRouter not installed?"));
    EXPECT_TRUE(text.contains("Please install and start the"));

    ShowPage({5000, 2, false, false});
    const QString ready = ctrl_.toPlainText();
    EXPECT_TRUE(ready.contains("PC Suite/mRouter"));
    EXPECT_FALSE(ready.contains("Unavailable"));
    EXPECT_TRUE(ready.contains("mRouter interface unreachable."));
    EXPECT_TRUE(ready.contains("Corvane SRV"));
}

TEST_F(StatusHtmlTest, RefillingReplacesAndKeepsTheMarkers) {
    ShowPage({0, 0, false, false});
    ASSERT_TRUE(ctrl_.FillSection("TITLE", "First"));
    ASSERT_TRUE(ctrl_.FillSection("TITLE", "Second"));
    EXPECT_TRUE(ctrl_.toPlainText().contains("Second"));
    EXPECT_FALSE(ctrl_.toPlainText().contains("First"));
    const std::string& source = ctrl_.PageSource();
    EXPECT_EQ(Count(source, "<!-- {TITLE} -->"), 1);
    EXPECT_EQ(Count(source, "<!-- {/TITLE} -->"), 1);
    EXPECT_EQ(Count(source, "<!-- {TABLE} -->"), 1);

    const std::string before = source;
    EXPECT_FALSE(ctrl_.FillSection("NO-SUCH-SECTION", "x"));
    EXPECT_FALSE(ctrl_.FillSection("title", "x"));
    EXPECT_EQ(ctrl_.PageSource(), before);
}

TEST_F(StatusHtmlTest, RefillingKeepsTheScrollPosition) {
    ShowPage({0, 0, false, false});
    // A control too small for the page, scrolled by the program.
    ctrl_.setGeometry(0, 0, 210, 60);
    QApplication::processEvents();
    QScrollBar* bar = ctrl_.verticalScrollBar();
    ASSERT_GT(bar->maximum(), 20);
    bar->setValue(20);
    ASSERT_TRUE(ctrl_.FillSection("CONNECTION-STATUS", "Still here"));
    EXPECT_EQ(bar->value(), 20);
}

// ---------------------------------------------------------------------------
// Pictures

TEST_F(StatusHtmlTest, PicturesComeFromTheResources) {
    ShowPage({5000, 0, true, true});
    struct Picture {
        const char* url;
        QSize size;
    };
    for (const Picture& picture :
         {Picture{"res:e.gif", {1, 1}}, Picture{"res:icon.gif", {34, 26}},
          Picture{"res:checked.gif", {13, 14}}, Picture{"res:unchecked.gif", {13, 14}},
          Picture{"res:CHECKED.GIF", {13, 14}}}) {
        const QVariant resource =
            ctrl_.document()->resource(QTextDocument::ImageResource, QUrl(picture.url));
        const QImage image = resource.value<QImage>();
        EXPECT_FALSE(image.isNull()) << picture.url;
        EXPECT_EQ(image.size(), picture.size) << picture.url;
    }
    EXPECT_TRUE(ctrl_.loadResource(QTextDocument::ImageResource, QUrl("res:missing.gif")).isNull());
    // The spacer is see-through; the emblem is not all see-through.
    const QImage spacer =
        ctrl_.loadResource(QTextDocument::ImageResource, QUrl("res:e.gif")).value<QImage>();
    EXPECT_EQ(qAlpha(spacer.pixel(0, 0)), 0);
    const QImage emblem =
        ctrl_.loadResource(QTextDocument::ImageResource, QUrl("res:icon.gif")).value<QImage>();
    EXPECT_EQ(qAlpha(emblem.pixel(17, 13)), 255);
}

// ---------------------------------------------------------------------------
// Links and input

TEST_F(StatusHtmlTest, ClickedLinksReachTheHookAsWritten) {
    std::vector<QString> links;
    ctrl_.SetNavigateHook([&](const QString& url) {
        links.push_back(url);
        return false;
    });
    ShowPage({5000, 0, false, false});

    const std::optional<QPoint> check = LinkPosition("switch://MROUTER/0");
    const std::optional<QPoint> box = LinkPosition("switch://MROUTERBOX/");
    ASSERT_TRUE(check.has_value());
    ASSERT_TRUE(box.has_value());

    Click(*check, Qt::LeftButton);
    ASSERT_EQ(links.size(), 1u);
    EXPECT_EQ(links[0].toStdString(), "switch://MROUTER/0");
    EXPECT_EQ(ClassifyStatusLink(links[0].toStdString()), StatusLinkAction::ConnectLater);

    Click(*box, Qt::LeftButton);
    ASSERT_EQ(links.size(), 2u);
    EXPECT_EQ(links[1].toStdString(), "switch://MROUTERBOX/");
    EXPECT_EQ(ClassifyStatusLink(links[1].toStdString()), StatusLinkAction::OpenRouterBox);

    // The control follows no link: the page is still the status page.
    EXPECT_TRUE(ctrl_.toPlainText().contains("Not connected"));
    EXPECT_TRUE(ctrl_.source().isEmpty());
}

TEST_F(StatusHtmlTest, RightButtonDoesNothing) {
    int calls = 0;
    ctrl_.SetNavigateHook([&](const QString&) {
        ++calls;
        return false;
    });
    ShowPage({5000, 0, false, false});
    const std::optional<QPoint> check = LinkPosition("switch://MROUTER/0");
    ASSERT_TRUE(check.has_value());
    Click(*check, Qt::RightButton);
    EXPECT_EQ(calls, 0);

    QContextMenuEvent menu(QContextMenuEvent::Mouse, *check, ctrl_.viewport()->mapToGlobal(*check));
    QApplication::sendEvent(ctrl_.viewport(), &menu);
    EXPECT_TRUE(menu.isAccepted());
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
}

TEST_F(StatusHtmlTest, KeysReachNeitherTheBrowserNorItsOwner) {
    ShowPage({0, 0, false, false});
    for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
        QKeyEvent selectAll(type, Qt::Key_A, Qt::ControlModifier, "a");
        QApplication::sendEvent(&ctrl_, &selectAll);
        EXPECT_TRUE(selectAll.isAccepted());
        QKeyEvent down(type, Qt::Key_PageDown, Qt::NoModifier);
        QApplication::sendEvent(&ctrl_, &down);
        EXPECT_TRUE(down.isAccepted());
    }
    EXPECT_FALSE(ctrl_.textCursor().hasSelection());
    EXPECT_EQ(ctrl_.verticalScrollBar()->value(), 0);
    EXPECT_EQ(owner_.keys, 0);

    // Shortcuts are not claimed.
    QKeyEvent shortcut(QEvent::ShortcutOverride, Qt::Key_C, Qt::ControlModifier, "c");
    QApplication::sendEvent(&ctrl_, &shortcut);
    EXPECT_FALSE(shortcut.isAccepted());
}

TEST_F(StatusHtmlTest, PanelHasNoFrameNoScrollBarsAndNoMargin) {
    EXPECT_EQ(ctrl_.frameShape(), QFrame::NoFrame);
    EXPECT_EQ(ctrl_.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(ctrl_.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(ctrl_.document()->documentMargin(), 0);
    EXPECT_FALSE(ctrl_.openLinks());
}

}  // namespace
}  // namespace velarix
