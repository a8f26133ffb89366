// The recording engine over a fake writer and a fake host: the state machine
// of Start, Pause and Stop, the ticks that write or skip frames, the status
// text, the timer period, the names remembered after a start, and the error
// boxes of a failed start and a failed frame.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "capture/Recorder.h"
#include "link/Protocol.h"
#include "settings/MemorySettingsBackend.h"

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
        ++opens;
        error = openResult == 0 ? std::string() : openError;
        if (openResult == 0) frameCount = 0;
        return openResult;
    }
    std::int32_t AddFrame(std::span<const std::uint32_t> pixels) override {
        written.push_back(frameCount);
        lastFrameSize = pixels.size();
        ++frameCount;
        return frameCount > failAfter ? 1 : 0;
    }
    void SkipFrame() override { ++frameCount; }
    void Close() override { ++closes; }
    std::string ErrorText() const override { return error; }
    std::int32_t FrameCount() const override { return frameCount; }

    BitmapInfoHeader format{};
    std::string fileName = "untitled.avi";
    std::int32_t openResult = 0;
    std::string openError;
    std::string error;
    std::int32_t frameCount = 0;
    std::int32_t failAfter = 1 << 30;
    std::vector<std::int32_t> written;
    std::size_t lastFrameSize = 0;
    int opens = 0;
    int closes = 0;
};

class FakeHost final : public IRecorderHost {
public:
    std::optional<std::string> AskVideoFileName(const std::string& initialName,
                                                const std::string& initialDir) override {
        askedName = initialName;
        askedDir = initialDir;
        ++dialogs;
        return answer;
    }
    void ShowAviError(const std::string& text) override { errors.push_back(text); }
    void StartRecordTimer(int ms) override { timer = ms; }
    void StopRecordTimer() override { timer = 0; }
    void SetStatusText(const std::string& text) override { status.push_back(text); }
    std::span<const std::uint32_t> ScreenPixels() const override { return screen; }
    int ScreenWidth() const override { return kScreenWidth; }
    int ScreenHeight() const override { return kScreenHeight; }
    bool FrameReady() const override { return ready; }
    void ClearFrameReady() override { ready = false; }

    std::optional<std::string> answer;
    std::string askedName;
    std::string askedDir;
    int dialogs = 0;
    std::vector<std::string> errors;
    int timer = 0;  // 0: stopped
    std::vector<std::string> status;
    std::vector<std::uint32_t> screen =
        std::vector<std::uint32_t>(std::size_t(kScreenWidth) * kScreenHeight, 0xFFFFFFu);
    bool ready = false;
};

struct Rig {
    Rig() : backend(std::make_shared<MemorySettingsBackend>()), settings(backend) {}
    SettingsStore Store() const { return settings; }
    void Fps(int fps) const { settings.WriteInt("AVI", "FPS", fps); }
    std::string Str(std::string_view key) const { return settings.GetString("AVI", key, "<none>"); }
    // Starts a recording of `path`; true when it runs.
    bool Start(const std::string& path = "/videos/take1.avi") {
        host.answer = path;
        recorder.ToggleRecording();
        return recorder.RecordState() == kRecordRunning;
    }

    std::shared_ptr<MemorySettingsBackend> backend;
    SettingsStore settings;
    FakeWriter writer;
    FakeHost host;
    Recorder recorder{host, writer, settings};
};

TEST(RecorderStart, CancelledDialogStaysIdleAndTouchesNothing) {
    Rig r;
    r.settings.WriteString("AVI", "LastDir", "/videos/");
    r.recorder.ToggleRecording();
    EXPECT_EQ(r.host.dialogs, 1);
    EXPECT_EQ(r.host.askedDir, "/videos/");
    EXPECT_EQ(r.recorder.RecordState(), kRecordIdle);
    EXPECT_EQ(r.writer.opens, 0);
    EXPECT_EQ(r.host.timer, 0);
    EXPECT_EQ(r.Str("Last"), "<none>");
}

TEST(RecorderStart, StartOpensTheFileAndRemembersTheNameAsChosen) {
    Rig r;
    ASSERT_TRUE(r.Start("/videos/clip"));
    EXPECT_EQ(r.writer.fileName, "/videos/clip.avi");
    EXPECT_EQ(r.Str("Last"), "/videos/clip");
    EXPECT_EQ(r.Str("LastDir"), "/videos/");
    EXPECT_EQ(r.host.timer, 200);

    const BitmapInfoHeader& f = r.writer.format;
    EXPECT_EQ(f.biSize, 40u);
    EXPECT_EQ(f.biWidth, 208);
    EXPECT_EQ(f.biHeight, 320);
    EXPECT_EQ(f.biPlanes, 1);
    EXPECT_EQ(f.biBitCount, 24);
    EXPECT_EQ(f.biCompression, 0u);
    EXPECT_EQ(f.biSizeImage, 624u * 320u);
    EXPECT_EQ(r.recorder.RecordFormat().biSizeImage, f.biSizeImage);

    // A name without ".avi" but with a number-less base offers nothing next time.
    r.recorder.StopRecording();
    r.host.answer.reset();
    r.recorder.ToggleRecording();
    EXPECT_EQ(r.host.askedName, "");
}

TEST(RecorderStart, NextStartOffersTheNextFreeNumber) {
    const auto dir = std::filesystem::temp_directory_path() / "velarix_recorder_names";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "take1.avi") << "x";
    std::ofstream(dir / "take2.avi") << "x";
    Rig r;
    ASSERT_TRUE(r.Start((dir / "take1.avi").string()));
    r.recorder.StopRecording();
    r.host.answer.reset();
    r.recorder.ToggleRecording();
    EXPECT_EQ(r.host.askedName, (dir / "take3.avi").string());
    EXPECT_EQ(r.host.askedDir, dir.string() + "/");
    std::filesystem::remove_all(dir);
}

TEST(RecorderStart, TimerPeriodFollowsTheFrameRateAndNeverDividesByZero) {
    Rig r;
    EXPECT_EQ(r.recorder.TimerPeriod(), 200);
    r.Fps(30);
    EXPECT_EQ(r.recorder.TimerPeriod(), 33);
    r.Fps(0);
    EXPECT_EQ(r.recorder.FramesPerSecond(), 1);
    EXPECT_EQ(r.recorder.TimerPeriod(), 1000);
    r.Fps(5000);
    EXPECT_EQ(r.recorder.TimerPeriod(), 1);
    ASSERT_TRUE(r.Start());
    EXPECT_EQ(r.host.timer, 1);
    r.Fps(0);
    r.recorder.OnRecordTimer();
    EXPECT_EQ(r.host.status.back(), "Recording ... 00:01 (1)");
}

TEST(RecorderStart, FailedOpenShowsTheReasonAndStaysIdle) {
    Rig r;
    r.writer.openResult = 5;
    r.writer.openError = "Failed to initialize AVI Engine (FILE OPEN ERROR).";
    EXPECT_FALSE(r.Start("/nowhere/a1.avi"));
    ASSERT_EQ(r.host.errors.size(), 1u);
    EXPECT_EQ(r.host.errors[0], "Failed to initialize AVI Engine (FILE OPEN ERROR).");
    EXPECT_EQ(r.writer.closes, 1);
    EXPECT_EQ(r.host.timer, 0);
    EXPECT_EQ(r.Str("Last"), "<none>");
    EXPECT_EQ(r.Str("LastDir"), "<none>");
}

TEST(RecorderStart, FailedOpenWithoutTextShowsNoBox) {
    Rig r;
    r.writer.openResult = 1;
    EXPECT_FALSE(r.Start());
    EXPECT_TRUE(r.host.errors.empty());
    EXPECT_EQ(r.writer.closes, 1);
}

TEST(RecorderTicks, UnchangedTicksSkipAndEveryTickIsOnePeriod) {
    Rig r;
    ASSERT_TRUE(r.Start());
    for (int tick = 0; tick < 10; ++tick) {
        if (tick == 4) r.host.ready = true;  // the screen changed before the fifth tick
        r.recorder.OnRecordTimer();
    }
    EXPECT_EQ(r.writer.frameCount, 10);
    EXPECT_EQ(r.writer.written, (std::vector<std::int32_t>{0, 4}));
    EXPECT_EQ(r.writer.lastFrameSize, std::size_t(208 * 320));
    EXPECT_FALSE(r.host.ready);
    EXPECT_EQ(r.host.status.back(), "Recording ... 00:02 (10)");
}

TEST(RecorderTicks, StatusTextShowsMinutesSecondsAndPeriods) {
    EXPECT_EQ(Recorder::StatusText(137, 5), "Recording ... 00:27 (137)");
    EXPECT_EQ(Recorder::StatusText(300, 5), "Recording ... 01:00 (300)");
    EXPECT_EQ(Recorder::StatusText(0, 0), "Recording ... 00:00 (0)");
    Rig r;
    ASSERT_TRUE(r.Start());
    for (int i = 0; i < 300; ++i) r.recorder.OnRecordTimer();
    EXPECT_EQ(r.host.status.back(), "Recording ... 01:00 (300)");
}

TEST(RecorderPause, StartAndPauseToggleBetweenRecordingAndPaused) {
    Rig r;
    ASSERT_TRUE(r.Start());
    r.recorder.OnRecordTimer();  // the start's frame
    r.recorder.ToggleRecording();
    EXPECT_EQ(r.recorder.RecordState(), kRecordPaused);
    r.host.ready = true;
    r.recorder.OnRecordTimer();
    r.recorder.OnRecordTimer();
    EXPECT_EQ(r.writer.frameCount, 1);  // paused ticks record nothing
    EXPECT_EQ(r.host.status.back(), "Recording ... 00:00 (1)");
    EXPECT_EQ(r.host.timer, 200);  // the timer keeps running
    r.recorder.ToggleRecording();
    EXPECT_EQ(r.recorder.RecordState(), kRecordRunning);
    r.recorder.TogglePause();
    EXPECT_EQ(r.recorder.RecordState(), kRecordPaused);
    r.host.ready = false;
    r.recorder.TogglePause();
    EXPECT_EQ(r.recorder.RecordState(), kRecordRunning);
    // A resume writes at its first tick even when the screen did not change.
    r.recorder.OnRecordTimer();
    EXPECT_EQ(r.writer.written, (std::vector<std::int32_t>{0, 1}));
    EXPECT_EQ(r.host.dialogs, 1);
}

TEST(RecorderPause, PauseAndStopWhileIdleChangeNothing) {
    Rig r;
    r.recorder.TogglePause();
    EXPECT_EQ(r.recorder.RecordState(), kRecordIdle);
    r.recorder.StopRecording();
    EXPECT_EQ(r.writer.closes, 0);
    r.recorder.OnRecordTimer();
    EXPECT_TRUE(r.host.status.empty());
    EXPECT_EQ(r.writer.frameCount, 0);
}

TEST(RecorderPause, StopClosesFromRecordingAndFromPaused) {
    Rig r;
    ASSERT_TRUE(r.Start());
    r.recorder.StopRecording();
    EXPECT_EQ(r.recorder.RecordState(), kRecordIdle);
    EXPECT_EQ(r.writer.closes, 1);
    EXPECT_EQ(r.host.timer, 0);
    EXPECT_EQ(r.host.status.back(), "");  // the idle text again
    ASSERT_TRUE(r.Start());
    r.recorder.TogglePause();
    r.recorder.StopRecording();
    EXPECT_EQ(r.writer.closes, 2);
    r.recorder.StopRecording();
    EXPECT_EQ(r.writer.closes, 2);
}

TEST(RecorderFailures, FailedFrameStopsWithTheFrameError) {
    Rig r;
    r.writer.failAfter = 2;
    ASSERT_TRUE(r.Start());
    r.recorder.OnRecordTimer();
    r.host.ready = true;
    r.recorder.OnRecordTimer();
    r.host.ready = true;
    const std::size_t statusBefore = r.host.status.size();
    r.recorder.OnRecordTimer();  // the third frame fails
    ASSERT_EQ(r.host.errors.size(), 1u);
    EXPECT_EQ(r.host.errors[0], "Failed to add another frame");
    EXPECT_EQ(r.recorder.RecordState(), kRecordIdle);
    EXPECT_EQ(r.writer.closes, 1);
    EXPECT_EQ(r.host.timer, 0);
    // No recording text on that tick, only the idle text from the stop.
    ASSERT_EQ(r.host.status.size(), statusBefore + 1);
    EXPECT_EQ(r.host.status.back(), "");
}

}  // namespace
}  // namespace velarix::test
