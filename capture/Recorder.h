// The recording engine of the screen view, without a window system: the
// recording state, the Start, Pause and Stop commands, and the timer tick that
// hands a frame to the encoding thread or skips it. The file dialog, the
// message box, the timer and the status-bar text are the host's; the file
// itself is the writer's, which works on the recording's own thread.
//
// The timeline follows a monotonic clock, not the ticks: a frame's period is
// the number of periods elapsed since the start, paused time excluded, so a
// late tick (a busy machine, a modal dialog) leaves skipped periods behind it
// and the video is as long as the time it recorded.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>

#include "capture/AviWriter.h"
#include "capture/RecordWorker.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"

namespace velarix {

inline constexpr std::string_view kSectionAvi = setting::kAviFps.section;
inline constexpr std::string_view kKeyFps = setting::kAviFps.key;
inline constexpr int kDefaultFps = setting::kAviFps.def;

// recordState values.
inline constexpr int kRecordIdle = 0;
inline constexpr int kRecordRunning = 1;
inline constexpr int kRecordPaused = 2;

// The save dialog's file types, in the "|"-separated form of the platform.
inline constexpr std::string_view kVideoFilter = "Video files (*.avi)|*.avi||";

// What a recording writes to; CAviWriter in the program, a fake in tests.
class IRecordWriter {
public:
    virtual ~IRecordWriter() = default;
    virtual void SetFormat(const BitmapInfoHeader& format) = 0;
    virtual void SetFileName(std::string path) = 0;
    virtual void EnsureAviExtension() = 0;
    // Open may do work that can wait (mending the previous recording); a stop
    // asked for on `stop`, from any thread, makes it skip that.
    virtual void SetOpenStop(std::stop_token /*stop*/) {}
    virtual std::int32_t Open() = 0;
    virtual std::int32_t AddFrame(std::span<const std::uint32_t> pixels) = 0;
    virtual void SkipFrame() = 0;
    virtual void Close() = 0;
    virtual std::string ErrorText() const = 0;
    virtual std::int32_t FrameCount() const = 0;
};

// IRecordWriter over the real writer.
class AviWriterAdapter final : public IRecordWriter {
public:
    explicit AviWriterAdapter(CAviWriter& writer) : writer_(writer) {}
    void SetFormat(const BitmapInfoHeader& format) override { writer_.SetFormat(format); }
    void SetFileName(std::string path) override { writer_.SetFileName(std::move(path)); }
    void EnsureAviExtension() override { writer_.EnsureAviExtension(); }
    void SetOpenStop(std::stop_token stop) override { writer_.SetOpenStop(std::move(stop)); }
    std::int32_t Open() override { return writer_.Open(); }
    std::int32_t AddFrame(std::span<const std::uint32_t> pixels) override {
        return writer_.AddFrame(pixels);
    }
    void SkipFrame() override { writer_.SkipFrame(); }
    void Close() override { writer_.Close(); }
    std::string ErrorText() const override { return writer_.ErrorText(); }
    std::int32_t FrameCount() const override { return writer_.FrameCount(); }

private:
    CAviWriter& writer_;
};

// What the recorder needs from the view and its window.
class IRecorderHost {
public:
    // The save dialog: no default extension, overwrite confirmation, the
    // video file type only. `initialName` (a full path) and `initialDir` may be
    // empty. The full path chosen, or nothing when the user cancels.
    virtual std::optional<std::string> AskVideoFileName(const std::string& initialName,
                                                        const std::string& initialDir) = 0;
    // A modal message box captioned "AVI Error" with an OK button only.
    virtual void ShowAviError(const std::string& text) = 0;
    // The view's recording timer (id 4). A start or a restart also asks for
    // a tick right away, so that the first frame is written at once.
    virtual void StartRecordTimer(int milliseconds) = 0;
    virtual void StopRecordTimer() = 0;
    // The main frame's status-bar message; the empty text restores the idle text.
    virtual void SetStatusText(const std::string& text) = 0;
    // The screen: width × height pixels 0x00RRGGBB, rows bottom-up.
    virtual std::span<const std::uint32_t> ScreenPixels() const = 0;
    virtual int ScreenWidth() const = 0;
    virtual int ScreenHeight() const = 0;
    // Set whenever decoded screen lines were repainted.
    virtual bool FrameReady() const = 0;
    virtual void ClearFrameReady() = 0;

protected:
    ~IRecorderHost() = default;
};

class Recorder {
public:
    // A monotonic clock in nanoseconds; steady_clock unless a test sets one.
    using Clock = std::function<std::int64_t()>;

    Recorder(IRecorderHost& host, IRecordWriter& writer, SettingsStore settings);
    // Closes a recording still running, so that its file is whole.
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    void SetClock(Clock clock);
    // Waits until the writer has taken every frame handed over so far.
    void WaitForWriter() { worker_.WaitIdle(); }
    // Periods recorded so far: the status text's count.
    std::int64_t Periods() const { return periods_; }

    // Records into `writer` from the next start on; ignored while recording.
    void SetWriter(IRecordWriter& writer);

    int RecordState() const { return recordState_; }
    bool Active() const { return recordState_ != kRecordIdle; }
    const BitmapInfoHeader& RecordFormat() const { return recordFormat_; }

    // Start command: idle asks for a file and starts; recording pauses;
    // paused resumes.
    void ToggleRecording();
    // Pause command: recording pauses, paused resumes, idle stays idle.
    void TogglePause();
    // Stop command; also on a lost link, a failed frame and before the view goes.
    void StopRecording();
    // The recording timer's tick: a failed write reported by the writer's
    // thread ends the recording here, with the "AVI Error" box.
    void OnRecordTimer();

    // "FPS", read as at least 1.
    int FramesPerSecond() const;
    // The timer period: 1000 / FPS ms, at least 1 ms.
    int TimerPeriod() const;
    // "Recording ... mm:ss (frames)" for `frameCount` periods at `fps`.
    static std::string StatusText(std::int64_t frameCount, int fps);

private:
    bool StartNew();
    bool FrameDue() const { return frameReady_ || host_.FrameReady(); }
    void Pause();
    void Resume();
    // "Last" and "LastDir" after a successful open.
    void RememberPath();
    // Takes the result of an open still running at the start; false when it
    // failed and the recording is over.
    bool CheckOpen();
    // The period the clock is in: elapsed recording time / period, rounded,
    // so that a timer firing a little early or late lands on its own period.
    std::int64_t PeriodNow() const;

    IRecorderHost& host_;
    IRecordWriter* writer_;
    SettingsStore settings_;
    int recordState_ = kRecordIdle;
    BitmapInfoHeader recordFormat_{};
    // Set by every command, so that the first tick after a start or a resume
    // writes a frame; the view's own flag marks repainted screen lines.
    bool frameReady_ = false;

    Clock clock_;
    RecordWorker worker_;
    // How long a start waits for the writer to open before it goes on.
    static constexpr std::chrono::milliseconds kOpenWait{30};
    std::string chosenPath_;
    bool openPending_ = false;
    int fps_ = kDefaultFps;  // fixed at the start
    // The start by the clock, and the paused time left out since.
    std::int64_t startNs_ = 0;
    std::int64_t pausedNs_ = 0;
    std::int64_t periods_ = 0;  // periods recorded: the next frame's period at least
};

}  // namespace velarix
