// The recording engine over a fake writer and a fake host: the state machine
// of Start, Pause and Stop, the ticks that write or skip frames, the status
// text, the timer period, the names remembered after a start, and the error
// boxes of a failed start and a failed frame.
#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "capture/Recorder.h"
#include "capture/Screenshots.h"
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
        {
            std::unique_lock<std::mutex> lock(gate);
            gateChanged.wait(lock, [this] { return !holdOpen; });
        }
        ++opens;
        error = openResult == 0 ? std::string() : openError;
        if (openResult == 0) frameCount = 0;
        return openResult;
    }
    std::int32_t AddFrame(std::span<const std::uint32_t> pixels) override {
        {
            // A held writer stands for a slow encoder.
            std::unique_lock<std::mutex> lock(gate);
            ++entered;
            gateChanged.notify_all();
            gateChanged.wait(lock, [this] { return !hold; });
        }
        written.push_back(frameCount);
        lastFrameSize = pixels.size();
        firstPixels.push_back(pixels.empty() ? 0 : pixels[0]);
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
    std::vector<std::uint32_t> firstPixels;
    std::size_t lastFrameSize = 0;
    int opens = 0;
    int closes = 0;

    void Hold(bool on, bool open = false) {
        {
            const std::lock_guard<std::mutex> lock(gate);
            (open ? holdOpen : hold) = on;
        }
        gateChanged.notify_all();
    }
    // Waits until `frames` writes have begun.
    void WaitEntered(int frames) {
        std::unique_lock<std::mutex> lock(gate);
        gateChanged.wait(lock, [&] { return entered >= frames; });
    }
    std::mutex gate;
    std::condition_variable gateChanged;
    bool hold = false;
    bool holdOpen = false;  // an open that takes its time
    int entered = 0;
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
        period = 1'000'000'000 / recorder.FramesPerSecond();
        recorder.ToggleRecording();
        return recorder.RecordState() == kRecordRunning;
    }
    // A tick on time: the tick, the writer done with it, one period later.
    void Tick() {
        recorder.OnRecordTimer();
        recorder.WaitForWriter();
        now += period;
    }

    std::shared_ptr<MemorySettingsBackend> backend;
    SettingsStore settings;
    FakeWriter writer;
    FakeHost host;
    Recorder recorder{host, writer, settings};
    std::int64_t now = 0;  // the recording's clock, ns
    std::int64_t period = 200'000'000;
    bool clockSet = [this] {
        recorder.SetClock([this] { return now; });
        return true;
    }();
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
    // The folder as the platform writes one: with its own separator last.
    EXPECT_EQ(r.host.askedDir, dir.string() + kPathSeparator);
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
    r.Tick();
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
        r.Tick();
    }
    EXPECT_EQ(r.recorder.Periods(), 10);
    EXPECT_EQ(r.writer.written, (std::vector<std::int32_t>{0, 4}));
    EXPECT_EQ(r.writer.lastFrameSize, std::size_t(208 * 320));
    EXPECT_FALSE(r.host.ready);
    EXPECT_EQ(r.host.status.back(), "Recording ... 00:02 (10)");
    r.recorder.StopRecording();  // the periods after the last frame are the file's too
    EXPECT_EQ(r.writer.frameCount, 10);
}

TEST(RecorderTicks, StatusTextShowsMinutesSecondsAndPeriods) {
    EXPECT_EQ(Recorder::StatusText(137, 5), "Recording ... 00:27 (137)");
    EXPECT_EQ(Recorder::StatusText(300, 5), "Recording ... 01:00 (300)");
    EXPECT_EQ(Recorder::StatusText(0, 0), "Recording ... 00:00 (0)");
    Rig r;
    ASSERT_TRUE(r.Start());
    for (int i = 0; i < 300; ++i) r.Tick();
    EXPECT_EQ(r.host.status.back(), "Recording ... 01:00 (300)");
}

TEST(RecorderPause, StartAndPauseToggleBetweenRecordingAndPaused) {
    Rig r;
    ASSERT_TRUE(r.Start());
    r.Tick();  // the start's frame
    r.recorder.ToggleRecording();
    EXPECT_EQ(r.recorder.RecordState(), kRecordPaused);
    r.host.ready = true;
    r.Tick();
    r.Tick();
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
    r.Tick();
    EXPECT_EQ(r.writer.written, (std::vector<std::int32_t>{0, 1}));
    EXPECT_EQ(r.host.dialogs, 1);
}

TEST(RecorderPause, PauseAndStopWhileIdleChangeNothing) {
    Rig r;
    r.recorder.TogglePause();
    EXPECT_EQ(r.recorder.RecordState(), kRecordIdle);
    r.recorder.StopRecording();
    EXPECT_EQ(r.writer.closes, 0);
    r.Tick();
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
    r.Tick();
    r.host.ready = true;
    r.Tick();
    r.host.ready = true;
    r.Tick();  // the third frame fails on the writer's thread
    EXPECT_TRUE(r.host.errors.empty());
    r.host.ready = true;
    const std::size_t statusBefore = r.host.status.size();
    r.Tick();  // and the next tick reports it
    ASSERT_EQ(r.host.errors.size(), 1u);
    EXPECT_EQ(r.host.errors[0], "Failed to add another frame");
    EXPECT_EQ(r.recorder.RecordState(), kRecordIdle);
    EXPECT_EQ(r.writer.closes, 1);
    EXPECT_EQ(r.host.timer, 0);
    // No recording text on that tick, only the idle text from the stop.
    ASSERT_EQ(r.host.status.size(), statusBefore + 1);
    EXPECT_EQ(r.host.status.back(), "");
}

// ---- The clock and the writer's thread ----

TEST(RecorderClock, PositionsFollowTheClockNotTheTicks) {
    struct Case {
        const char* what;
        int fps;
        std::vector<int> tickMs;  // every tick sees a changed screen
        std::vector<std::int32_t> written;
        std::int64_t periods;
    };
    const std::vector<Case> cases = {
        {"late ticks leave skipped periods", 5, {0, 200, 1000, 1200}, {0, 1, 5, 6}, 7},
        {"a tick a little early keeps its period", 5, {0, 190, 410}, {0, 1, 2}, 3},
        {"a second tick in one period waits", 5, {0, 190, 195, 400}, {0, 1, 2}, 3},
        {"a modal dialog of 3 s", 10, {0, 100, 3150, 3200}, {0, 1, 32}, 33},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig r;
        r.Fps(c.fps);
        ASSERT_TRUE(r.Start());
        for (const int ms : c.tickMs) {
            r.now = std::int64_t(ms) * 1'000'000;
            r.host.ready = true;
            r.recorder.OnRecordTimer();
            r.recorder.WaitForWriter();  // the queue never fills here
        }
        r.recorder.StopRecording();
        EXPECT_EQ(r.writer.written, c.written);
        EXPECT_EQ(r.writer.frameCount, c.periods);
    }
}

TEST(RecorderClock, TimerOfWholeMillisecondsKeepsTheRateAndPausesAreLeftOut) {
    Rig r;
    r.Fps(30);
    ASSERT_TRUE(r.Start());
    // 33 ms ticks run ahead of 30 periods a second: 301 ticks span 9.9 s.
    for (int tick = 0; tick <= 300; ++tick) {
        r.now = std::int64_t(tick) * 33'000'000;
        r.recorder.OnRecordTimer();
    }
    EXPECT_EQ(r.recorder.Periods(), 298);  // 9.9 s at 30 fps, and the period it is in
    EXPECT_EQ(r.host.status.back(), "Recording ... 00:09 (298)");
    // 60 s paused count nothing; the resume goes on at the next period.
    r.recorder.TogglePause();
    r.now += 60'000'000'000;
    r.recorder.OnRecordTimer();
    r.recorder.TogglePause();
    r.host.ready = true;
    r.recorder.OnRecordTimer();
    r.now += 1'000'000'000;
    r.recorder.OnRecordTimer();
    r.recorder.StopRecording();
    EXPECT_EQ(r.writer.written, (std::vector<std::int32_t>{0, 298}));
    EXPECT_EQ(r.writer.frameCount, 298 + 31);
}

TEST(RecorderWorker, FullQueueSkipsAndTheNextTickWritesTheScreenAsItIs) {
    Rig r;
    r.writer.Hold(true);
    ASSERT_TRUE(r.Start());
    r.recorder.OnRecordTimer();  // period 0: the writer takes it and is held
    r.writer.WaitEntered(1);
    for (int tick = 1; tick <= 4; ++tick) {
        r.now = std::int64_t(tick) * r.period;
        r.host.screen[0] = 100 + std::uint32_t(tick);
        r.host.ready = true;
        r.recorder.OnRecordTimer();  // 1..3 queued, 4 finds the queue full
    }
    EXPECT_TRUE(r.host.ready);  // the screen is still due
    EXPECT_EQ(r.host.status.back(), "Recording ... 00:01 (5)");
    r.writer.Hold(false);
    r.recorder.WaitForWriter();
    r.now = 5 * r.period;
    r.host.screen[0] = 555;
    r.recorder.OnRecordTimer();
    r.recorder.StopRecording();
    EXPECT_EQ(r.writer.written, (std::vector<std::int32_t>{0, 1, 2, 3, 5}));
    EXPECT_EQ(r.writer.firstPixels, (std::vector<std::uint32_t>{0xFFFFFF, 101, 102, 103, 555}));
    EXPECT_EQ(r.writer.frameCount, 6);
}

TEST(RecorderWorker, SlowOpenRecordsMeanwhileAndReportsAtALaterTick) {
    for (const bool fails : {false, true}) {
        SCOPED_TRACE(fails ? "the open fails" : "the open succeeds");
        Rig r;
        r.writer.Hold(true, true);
        if (fails) {
            r.writer.openResult = 5;
            r.writer.openError = "Failed to initialize AVI Engine (FILE OPEN ERROR).";
        }
        ASSERT_TRUE(r.Start("/videos/slow1.avi"));  // the screen is not held up
        EXPECT_EQ(r.host.timer, 200);
        EXPECT_EQ(r.Str("Last"), "<none>");
        r.recorder.OnRecordTimer();  // the frame waits for the open
        r.writer.Hold(false, true);
        r.recorder.WaitForWriter();
        r.now += r.period;
        r.recorder.OnRecordTimer();
        if (fails) {
            EXPECT_EQ(r.recorder.RecordState(), kRecordIdle);
            EXPECT_EQ(r.host.errors, std::vector<std::string>{
                                         "Failed to initialize AVI Engine (FILE OPEN ERROR)."});
            EXPECT_EQ(r.host.timer, 0);
            EXPECT_EQ(r.Str("Last"), "<none>");
            EXPECT_TRUE(r.writer.written.empty());
        } else {
            EXPECT_EQ(r.recorder.RecordState(), kRecordRunning);
            EXPECT_TRUE(r.host.errors.empty());
            EXPECT_EQ(r.Str("Last"), "/videos/slow1.avi");
            EXPECT_EQ(r.writer.written, std::vector<std::int32_t>{0});
        }
        r.recorder.StopRecording();
        EXPECT_EQ(r.writer.closes, 1);
    }
}

TEST(RecorderWorker, StopPauseAndDestructionWaitForEveryQueuedFrame) {
    for (const std::string_view end : {"stop", "pause then stop", "destruction"}) {
        SCOPED_TRACE(end);
        Rig r;
        auto recorder = std::make_unique<Recorder>(r.host, r.writer, r.settings);
        recorder->SetClock([&r] { return r.now; });
        r.writer.Hold(true);
        r.host.answer = "/videos/take1.avi";
        recorder->ToggleRecording();
        for (int tick = 0; tick < 4; ++tick) {
            r.now = std::int64_t(tick) * r.period;
            r.host.ready = true;
            recorder->OnRecordTimer();
            r.writer.WaitEntered(1);  // the first is being written, three wait
        }
        r.now = 9 * r.period;
        recorder->OnRecordTimer();  // periods 4..9 unchanged
        if (end != "stop") recorder->TogglePause();
        // The writer is let go while the GUI thread waits for the file.
        std::thread release([&r] { r.writer.Hold(false); });
        if (end == "destruction")
            recorder.reset();
        else
            recorder->StopRecording();
        release.join();
        EXPECT_EQ(r.writer.written, (std::vector<std::int32_t>{0, 1, 2, 3}));
        EXPECT_EQ(r.writer.frameCount, 10);
        EXPECT_EQ(r.writer.closes, 1);
    }
}

}  // namespace
}  // namespace velarix::test
