// Recording in the Qt frame and view: the floating recording bar (placement,
// following the frame, removal when the link goes or the user closes it), the
// enable and check states of its buttons, pause and resume, the status text,
// a stop through link loss, the error boxes of a failed start and a failed
// frame, quitting while recording, and the setup command.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "LinkDoubles.h"
#include "StreamBuilder.h"
#include "app/CMainFrame.h"
#include "settings/MemorySettingsBackend.h"
#include "settings/SettingsKeys.h"
#include "setup/CGradientCaption.h"
#include "setup/CSetupDialog.h"
#include "view/CChildView.h"

namespace velarix::test {
namespace {

class FakeWriter final : public IRecordWriter {
public:
    void SetFormat(const BitmapInfoHeader& f) override { format = f; }
    void SetFileName(std::string path) override { fileName = std::move(path); }
    void EnsureAviExtension() override {
        if (fileName.find("avi") == std::string::npos) fileName += ".avi";
    }
    std::int32_t Open() override {
        error = openResult == 0 ? std::string() : openError;
        if (openResult == 0) {
            frameCount = 0;
            open = true;
        }
        return openResult;
    }
    std::int32_t AddFrame(std::span<const std::uint32_t>) override {
        written.push_back(frameCount++);
        return failWrites ? 1 : 0;
    }
    void SkipFrame() override { ++frameCount; }
    void Close() override {
        open = false;
        ++closes;
    }
    std::string ErrorText() const override { return error; }
    std::int32_t FrameCount() const override { return frameCount; }

    BitmapInfoHeader format{};
    std::string fileName;
    std::int32_t openResult = 0;
    std::string openError;
    std::string error;
    std::int32_t frameCount = 0;
    bool failWrites = false;
    bool open = false;
    std::vector<std::int32_t> written;
    int closes = 0;
};

struct Rig {
    Rig() : backend(std::make_shared<MemorySettingsBackend>()) {
        frame = std::make_unique<CMainFrame>(SettingsStore(backend));
        frame->move(400, 200);
        frame->show();
        view()->Core().SetRouterPort(4242);
        view()->Core().Link().AttachTransport(transport);
        view()->UseRecordWriter(&writer);
        view()->SetVideoDialogHook([this](const std::string& name, const std::string& dir) {
            offeredName = name;
            offeredDir = dir;
            return answer;
        });
        view()->SetAviErrorHook([this](const QString& text) { errors.push_back(text); });
        view()->SetRecordClock([this] { return now; });
    }
    ~Rig() {
        if (frame) frame->View()->Core().Shutdown();
        frame.reset();
    }
    CChildView* view() const { return frame->View(); }
    void Feed(const ByteVec& bytes) { view()->Core().Link().OnReceive(bytes); }
    void Sync() {
        Feed(SyncBytes());
        transport.TakeSent();
        frame->OnFrameTimer(kFrameTimerRefresh);
    }
    void Run(int id) const { frame->Action(id)->trigger(); }
    // A recording tick on time at 5 frames a second, the writer done with it.
    void Tick() {
        view()->OnRecordTimer();
        view()->WaitForRecordWriter();
        now += 200'000'000;
    }
    // Enabled and checked.
    std::pair<bool, bool> State(int id) const {
        QAction* a = frame->Action(id);
        return {a->isEnabled(), a->isChecked()};
    }
    QWidget* BarWindow() const {
        return frame->RecordBar() ? frame->RecordBar()->window() : nullptr;
    }
    QString Message() const { return frame->findChild<QLabel*>("messagePane")->text(); }

    RecordingTransport transport;
    std::shared_ptr<MemorySettingsBackend> backend;
    FakeWriter writer;
    std::optional<std::string> answer = std::string("/videos/clip1.avi");
    std::string offeredName;
    std::string offeredDir;
    std::vector<QString> errors;
    std::int64_t now = 0;  // the recording's clock, ns
    std::unique_ptr<CMainFrame> frame;
};

// ---- The floating bar ----

TEST(RecordBar, OpensLeftOfTheFrameOneButtonPerRow) {
    Rig r;
    EXPECT_FALSE(r.State(cmd::kRecordBar).first);  // no link
    r.Sync();
    EXPECT_TRUE(r.State(cmd::kRecordBar).first);
    r.Run(cmd::kRecordBar);
    ASSERT_NE(r.frame->RecordBar(), nullptr);
    QWidget* bar = r.BarWindow();
    ASSERT_NE(bar, r.frame.get());
    EXPECT_TRUE(bar->isVisible());
    EXPECT_TRUE(bar->isWindow());
    EXPECT_TRUE(r.State(cmd::kRecordBar).second);
    EXPECT_TRUE(r.frame->RecordBarWatched());

    const QRect f = r.frame->frameGeometry();
    const QRect m = bar->frameGeometry();
    EXPECT_EQ(m.topLeft(), QPoint(f.left() - m.width(), f.top() + 42));

    QToolBar* tb = r.frame->RecordBar();
    EXPECT_EQ(tb->orientation(), Qt::Vertical);
    EXPECT_EQ(tb->iconSize(), QSize(18, 17));
    const QList<QAction*> actions = tb->actions();
    ASSERT_EQ(actions.size(), 3);
    EXPECT_EQ(actions[0], r.frame->Action(cmd::kStartRecording));
    EXPECT_EQ(actions[1], r.frame->Action(cmd::kPauseRecording));
    EXPECT_EQ(actions[2], r.frame->Action(cmd::kStopRecording));
    int lastY = -1;
    int x = -1;
    for (QAction* a : actions) {
        QWidget* button = tb->widgetForAction(a);
        ASSERT_NE(button, nullptr);
        EXPECT_GT(button->y(), lastY);
        if (x >= 0) {
            EXPECT_EQ(button->x(), x);
        }
        x = button->x();
        lastY = button->y();
    }
    EXPECT_TRUE(actions[0]->isCheckable());
    EXPECT_TRUE(actions[1]->isCheckable());
    EXPECT_FALSE(actions[2]->isCheckable());
}

TEST(RecordBar, FollowsTheFrameAndGoesOnASecondClick) {
    Rig r;
    r.Sync();
    r.Run(cmd::kRecordBar);
    r.frame->move(520, 260);
    QApplication::processEvents();
    const QRect f = r.frame->frameGeometry();
    const QRect m = r.BarWindow()->frameGeometry();
    EXPECT_EQ(m.topLeft(), QPoint(f.left() - m.width(), f.top() + 42));
    r.Run(cmd::kRecordBar);
    EXPECT_EQ(r.frame->RecordBar(), nullptr);
    EXPECT_FALSE(r.State(cmd::kRecordBar).second);
    EXPECT_FALSE(r.frame->RecordBarWatched());
}

TEST(RecordBar, ClosedByTheUserIsNoticedByTheWatch) {
    Rig r;
    r.Sync();
    r.Run(cmd::kRecordBar);
    r.BarWindow()->close();
    EXPECT_TRUE(r.frame->RecordBarWatched());
    r.frame->OnFrameTimer(kFrameTimerRecordBar);
    EXPECT_FALSE(r.State(cmd::kRecordBar).second);
    EXPECT_FALSE(r.frame->RecordBarWatched());
    // The next click makes a new bar.
    r.Run(cmd::kRecordBar);
    ASSERT_NE(r.frame->RecordBar(), nullptr);
    EXPECT_TRUE(r.frame->RecordBar()->isVisible());
}

TEST(RecordBar, InTheTrayARecordingKeepsTheFramesAndTheBarComesBack) {
    Rig r;
    r.Sync();
    Write(SettingsStore(r.backend), setting::kSystemTray, 1);
    r.Run(cmd::kRecordBar);
    r.Run(cmd::kStartRecording);
    r.transport.TakeSent();
    for (int away = 0; away < 2; ++away) {
        r.frame->close();                             // offscreen there is no tray: it minimises
        r.frame->hide();                              // as in the tray
        EXPECT_TRUE(r.transport.TakeSent().empty());  // the foreground options stay
        ASSERT_NE(r.BarWindow(), nullptr);
        EXPECT_FALSE(r.BarWindow()->isVisible());
        r.frame->OnFrameTimer(kFrameTimerRecordBar);  // not taken for the user's close
        EXPECT_TRUE(r.State(cmd::kRecordBar).second);
        if (away > 0) break;
        r.frame->OnCommand(cmd::kOpenFromTray);
        EXPECT_TRUE(r.BarWindow()->isVisible());
    }
    // Hidden again, the end of the recording lets the phone rest.
    r.Run(cmd::kStopRecording);
    EXPECT_EQ(r.transport.TakeSent(), (ByteVec{0x04, 1, 1, 0, 0, 50, 1, 40}));
    EXPECT_EQ(r.frame->RecordBar(), nullptr);
}

TEST(RecordBar, ButtonStatesFollowTheRecordingState) {
    Rig r;
    r.Sync();
    r.Run(cmd::kRecordBar);
    EXPECT_EQ(r.State(cmd::kStartRecording), std::make_pair(true, false));
    EXPECT_EQ(r.State(cmd::kPauseRecording), std::make_pair(false, false));
    EXPECT_EQ(r.State(cmd::kStopRecording), std::make_pair(false, false));
    r.Run(cmd::kStartRecording);
    ASSERT_EQ(r.view()->RecordState(), kRecordRunning);
    EXPECT_EQ(r.State(cmd::kStartRecording), std::make_pair(true, true));
    EXPECT_EQ(r.State(cmd::kPauseRecording), std::make_pair(true, false));
    EXPECT_EQ(r.State(cmd::kStopRecording), std::make_pair(true, false));
    r.Run(cmd::kPauseRecording);
    EXPECT_EQ(r.view()->RecordState(), kRecordPaused);
    EXPECT_EQ(r.State(cmd::kStartRecording), std::make_pair(true, false));
    EXPECT_EQ(r.State(cmd::kPauseRecording), std::make_pair(true, true));
    r.Run(cmd::kStopRecording);
    EXPECT_EQ(r.view()->RecordState(), kRecordIdle);
    EXPECT_EQ(r.State(cmd::kStopRecording), std::make_pair(false, false));
    EXPECT_EQ(r.frame->RecordBar(), nullptr);  // Stop also removes the bar
    EXPECT_EQ(r.writer.closes, 1);
}

// ---- Recording through the view ----

TEST(ViewRecording, StartPauseResumeAndTheStatusText) {
    Rig r;
    r.Sync();
    r.Run(cmd::kRecordBar);
    r.Run(cmd::kStartRecording);
    EXPECT_EQ(r.writer.fileName, "/videos/clip1.avi");
    EXPECT_EQ(r.writer.format.biSizeImage, 624u * 320u);
    EXPECT_EQ(*r.backend->ReadString("AVI", "Last"), "/videos/clip1.avi");
    r.Tick();  // the start always writes
    r.Tick();  // nothing new: skipped
    EXPECT_EQ(r.writer.written, (std::vector<std::int32_t>{0}));
    EXPECT_EQ(r.Message(), "Recording ... 00:00 (2)");
    r.Run(cmd::kStartRecording);  // Start while recording pauses
    EXPECT_EQ(r.view()->RecordState(), kRecordPaused);
    r.Tick();
    EXPECT_EQ(r.view()->GetRecorder().Periods(), 2);
    r.Run(cmd::kStartRecording);  // and resumes
    EXPECT_EQ(r.view()->RecordState(), kRecordRunning);
    for (int i = 0; i < 3; ++i) r.Tick();
    EXPECT_EQ(r.writer.written, (std::vector<std::int32_t>{0, 2}));
    EXPECT_EQ(r.Message(), "Recording ... 00:01 (5)");
    r.Run(cmd::kStopRecording);
    EXPECT_EQ(r.Message(), "Ready");
    // The next start offers the next number.
    r.answer.reset();
    r.Run(cmd::kStartRecording);
    EXPECT_EQ(r.offeredDir, "/videos/");
}

TEST(ViewRecording, LosingTheLinkStopsAndRemovesTheBar) {
    Rig r;
    r.Sync();
    r.Run(cmd::kRecordBar);
    r.Run(cmd::kStartRecording);
    ASSERT_TRUE(r.writer.open);
    r.Feed(Message(255));  // the phone says Bye
    EXPECT_EQ(r.view()->RecordState(), kRecordIdle);
    EXPECT_FALSE(r.writer.open);
    EXPECT_TRUE(r.errors.empty());  // no message
    EXPECT_TRUE(r.frame->RefreshPending());
    EXPECT_NE(r.frame->RecordBar(), nullptr);
    r.frame->OnFrameTimer(kFrameTimerRefresh);  // 200 ms later
    EXPECT_EQ(r.frame->RecordBar(), nullptr);
    EXPECT_FALSE(r.State(cmd::kRecordBar).first);
    EXPECT_FALSE(r.frame->RefreshPending());
}

TEST(ViewRecording, StartsInAFolderAndSaysWhereTheVideoWent) {
    // Stopped by the user, or by a lost link: the status bar names the file.
    for (bool linkLost : {false, true}) {
        Rig r;
        r.answer = "/videos/clip";  // the writer adds ".avi"
        r.Sync();
        r.Run(cmd::kStartRecording);
        // Nothing saved before: the dialog starts in a real folder, not in
        // the working directory.
        EXPECT_TRUE(QFileInfo(QString::fromStdString(r.offeredDir)).isDir()) << r.offeredDir;
        EXPECT_TRUE(QDir::isAbsolutePath(QString::fromStdString(r.offeredDir)));
        if (linkLost)
            r.Feed(Message(255));
        else
            r.Run(cmd::kStopRecording);
        EXPECT_EQ(r.frame->statusBar()->currentMessage(),
                  "Video saved to " + QDir::toNativeSeparators("/videos/clip.avi"))
            << linkLost;
    }
}

TEST(ViewRecording, FailedStartShowsTheReasonAndStaysIdle) {
    Rig r;
    r.Sync();
    r.writer.openResult = -2;
    r.writer.openError = "Failed to create compressed stream (FORMAT NOT SUPPORTED).";
    r.Run(cmd::kStartRecording);
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_EQ(r.errors[0], "Failed to create compressed stream (FORMAT NOT SUPPORTED).");
    EXPECT_EQ(r.view()->RecordState(), kRecordIdle);
    EXPECT_FALSE(r.State(cmd::kStartRecording).second);
    EXPECT_FALSE(r.backend->ReadString("AVI", "Last").has_value());
}

TEST(ViewRecording, FailedFrameStopsWithAMessage) {
    Rig r;
    r.Sync();
    r.Run(cmd::kStartRecording);
    r.writer.failWrites = true;
    r.Tick();  // the write fails on the writer's thread
    r.Tick();  // and the next tick reports it
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_EQ(r.errors[0], "Failed to add another frame");
    EXPECT_EQ(r.view()->RecordState(), kRecordIdle);
    EXPECT_FALSE(r.writer.open);
    EXPECT_FALSE(r.State(cmd::kStartRecording).second);
    EXPECT_FALSE(r.State(cmd::kStopRecording).first);
}

namespace fs = std::filesystem;

// The writer adds ".avi" to a name without it; an existing file of that name
// is not replaced without a yes. The dialog itself asked about the rest.
TEST(ViewRecording, AddedExtensionNeverReplacesAFileWithoutAYes) {
    const fs::path dir = fs::temp_directory_path() / "velarix-replace-test";
    fs::create_directories(dir);
    std::ofstream((dir / "clip.avi").string()) << "keep";
    struct Case {
        const char* chosen;
        std::optional<bool> answer;  // nothing: no question may be asked
        bool records;
    };
    const Case cases[] = {
        {"clip", false, false},
        {"clip", true, true},
        {"new", std::nullopt, true},
        {"clip.avi", std::nullopt, true},
    };
    for (const Case& c : cases) {
        Rig r;
        r.Sync();
        r.answer = (dir / c.chosen).string();
        std::vector<std::string> asked;
        r.view()->SetReplaceQuestionHook([&](const std::string& path) {
            asked.push_back(path);
            return c.answer.value_or(true);
        });
        r.Run(cmd::kStartRecording);
        EXPECT_EQ(r.view()->RecordState() != kRecordIdle, c.records) << c.chosen;
        EXPECT_EQ(asked, c.answer ? std::vector<std::string>{(dir / "clip.avi").string()}
                                  : std::vector<std::string>{})
            << c.chosen;
        r.view()->StopRecording();
    }
    fs::remove_all(dir);
}

// Answers the next file dialog the view opens: notes the name it offers, then
// accepts `typed` as a user would, or cancels when that is empty.
void AnswerNextFileDialog(const QString& typed, QString& offered) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, typed, &offered] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        poll->deleteLater();
        poll->stop();
        auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(edit, nullptr);
        offered = edit->text();
        if (typed.isEmpty()) return dialog->reject();
        edit->setText(typed);
        QTest::keyClick(edit, Qt::Key_Return);
    });
    poll->start(10);
}

// Through the real dialog: a name typed without an extension is stored as
// typed, so the next start offers no name; the file written ends in ".avi".
TEST(ViewRecording, RealDialogAddsNoExtension) {
    const fs::path dir = fs::temp_directory_path() / "velarix-dialog-test";
    fs::remove_all(dir);
    fs::create_directories(dir);
    Rig r;
    r.Sync();
    r.view()->SetVideoDialogHook(nullptr);
    QString offered = QStringLiteral("<no dialog>");
    AnswerNextFileDialog(QString::fromStdString((dir / "clip").string()), offered);
    r.Run(cmd::kStartRecording);
    EXPECT_EQ(offered.toStdString(), "");
    EXPECT_EQ(r.writer.fileName, (dir / "clip.avi").string());
    EXPECT_EQ(r.backend->ReadString("AVI", "Last"), (dir / "clip").string());
    r.Run(cmd::kStopRecording);

    offered = QStringLiteral("<no dialog>");
    AnswerNextFileDialog({}, offered);
    r.Run(cmd::kStartRecording);
    EXPECT_EQ(offered.toStdString(), "");
    EXPECT_EQ(r.view()->RecordState(), kRecordIdle);
    fs::remove_all(dir);
}

TEST(ViewRecording, CancelledDialogAndLinkLostDuringTheDialogStartNothing) {
    Rig r;
    r.Sync();
    r.answer.reset();
    r.Run(cmd::kStartRecording);
    EXPECT_EQ(r.view()->RecordState(), kRecordIdle);
    r.view()->SetVideoDialogHook([&r](const std::string&, const std::string&) {
        r.Feed(Message(255));
        return std::optional<std::string>("/videos/late.avi");
    });
    r.view()->ToggleRecording();
    EXPECT_EQ(r.view()->RecordState(), kRecordIdle);
    EXPECT_FALSE(r.writer.open);
}

TEST(ViewRecording, ClosingTheFrameWhileRecordingClosesTheFile) {
    Rig r;
    r.Sync();
    r.Run(cmd::kRecordBar);
    r.Run(cmd::kStartRecording);
    r.Run(cmd::kPauseRecording);
    ASSERT_TRUE(r.writer.open);
    r.frame->View()->Core().Shutdown();
    r.frame.reset();
    EXPECT_FALSE(r.writer.open);
    EXPECT_EQ(r.writer.closes, 1);
}

TEST(ViewRecording, RealWriterReportsAnUnwritableFolder) {
    Rig r;
    r.Sync();
    r.view()->UseRecordWriter(nullptr);
    r.answer = "/nonexistent-velarix-folder/take1.avi";
    r.Run(cmd::kStartRecording);
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_EQ(r.errors[0], "Failed to initialize AVI Engine (FILE OPEN ERROR).");
    EXPECT_EQ(r.view()->RecordState(), kRecordIdle);
}

// One ffprobe field of the video stream, or "<none>" without ffprobe.
std::string Probe(const std::filesystem::path& file, const std::string& field) {
    const std::string command =
        "ffprobe -v error -select_streams v:0 -show_entries stream=" + field +
        " -of default=nw=1:nk=1 '" + file.string() + "' 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return "<none>";
    char line[128] = {};
    const bool got = std::fgets(line, sizeof line, pipe) != nullptr;
    ::pclose(pipe);
    std::string text = got ? line : "<none>";
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

TEST(ViewRecording, RealWriterLeavesAClosedFileWhenTheProgramQuits) {
    const auto dir = std::filesystem::temp_directory_path() / "velarix_record_quit";
    const bool haveProbe = std::system("command -v ffprobe >/dev/null 2>&1") == 0;
    for (const std::string_view end : {"quit while paused", "quit while recording", "link lost"}) {
        SCOPED_TRACE(end);
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        const auto path = dir / "quit1.avi";
        {
            Rig r;
            r.Sync();
            r.view()->UseRecordWriter(nullptr);
            r.answer = path.string();
            r.Run(cmd::kStartRecording);
            ASSERT_TRUE(r.errors.empty()) << r.errors.front().toStdString();
            ASSERT_EQ(r.view()->RecordState(), kRecordRunning);
            // Frames handed over and not yet written when the program goes.
            for (int i = 0; i < 4; ++i) {
                r.view()->OnRecordTimer();
                r.now += 200'000'000;
            }
            EXPECT_EQ(r.Message(), "Recording ... 00:00 (4)");
            if (end == "quit while paused") r.Run(cmd::kPauseRecording);
            if (end == "link lost") r.Feed(Message(255));
            // Quitting: the frame goes while the recording runs or is paused.
            r.frame.reset();
        }
        // A closed AVI: the RIFF size covers the whole file and the index is there.
        std::ifstream in(path, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_GT(bytes.size(), 12u);
        EXPECT_EQ(bytes.substr(0, 4), "RIFF");
        EXPECT_EQ(bytes.substr(8, 4), "AVI ");
        const std::uint32_t riffSize = std::uint32_t(std::uint8_t(bytes[4])) |
                                       std::uint32_t(std::uint8_t(bytes[5])) << 8 |
                                       std::uint32_t(std::uint8_t(bytes[6])) << 16 |
                                       std::uint32_t(std::uint8_t(bytes[7])) << 24;
        EXPECT_EQ(riffSize + 8, bytes.size());
        EXPECT_NE(bytes.find("idx1"), std::string::npos);
        if (haveProbe) {
            EXPECT_EQ(Probe(path, "nb_frames"), "4");
            EXPECT_EQ(Probe(path, "duration"), "0.800000");
        }
    }
    std::filesystem::remove_all(dir);
}

// ---- The setup command ----

TEST(SetupCommand, IsAlwaysEnabledAndOkSavesTheShownPage) {
    Rig r;
    EXPECT_TRUE(r.State(cmd::kSetup).first);
    bool seen = false;
    QTimer::singleShot(0, [&seen] {
        auto* dialog = qobject_cast<CSetupDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        seen =
            dialog->windowTitle() == "Ostrel Setup" && dialog->Caption()->Text() == "Screenshots";
        dialog->accept();
    });
    r.Run(cmd::kSetup);
    EXPECT_TRUE(seen);
    EXPECT_EQ(r.backend->ReadInt("Screenshot", "Prompt"), 1u);
    EXPECT_FALSE(r.backend->ReadInt("AVI", "FPS").has_value());  // never shown
}

}  // namespace
}  // namespace velarix::test
