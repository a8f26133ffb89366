#include "capture/Recorder.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "capture/Screenshots.h"

namespace velarix {

namespace {

std::int64_t SteadyNow() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

constexpr double kNsPerSecond = 1e9;

}  // namespace

Recorder::Recorder(IRecorderHost& host, IRecordWriter& writer, SettingsStore settings)
    : host_(host), writer_(&writer), settings_(std::move(settings)), clock_(SteadyNow) {}

Recorder::~Recorder() {
    worker_.Close(periods_);
}

void Recorder::SetClock(Clock clock) {
    clock_ = clock ? std::move(clock) : Clock(SteadyNow);
}

std::int64_t Recorder::PeriodNow() const {
    const std::int64_t elapsed = clock_() - startNs_ - pausedNs_;
    if (elapsed <= 0) return 0;
    return std::llround(static_cast<double>(elapsed) * fps_ / kNsPerSecond);
}

void Recorder::SetWriter(IRecordWriter& writer) {
    if (recordState_ == kRecordIdle) writer_ = &writer;
}

int Recorder::FramesPerSecond() const {
    // The video page never stores 0, but the settings may have been edited by
    // hand: a rate below 1 would divide by zero.
    const std::uint32_t fps = settings_.GetInt(kSectionAvi, kKeyFps, kDefaultFps);
    if (fps < 1) return 1;
    return static_cast<int>(std::min<std::uint32_t>(fps, 1000000));
}

int Recorder::TimerPeriod() const {
    return std::max(1, 1000 / FramesPerSecond());
}

std::string Recorder::StatusText(std::int64_t frameCount, int fps) {
    const long frames = static_cast<long>(frameCount);
    const long seconds = frames / std::max(1, fps);
    char text[96];
    std::snprintf(text, sizeof text, "Recording ... %02d:%02d (%ld)",
                  static_cast<int>(seconds / 60), static_cast<int>(seconds % 60), frames);
    return text;
}

void Recorder::ToggleRecording() {
    frameReady_ = true;
    if (recordState_ == kRecordPaused) {
        Resume();
        return;
    }
    if (recordState_ == kRecordRunning) {
        Pause();
        return;
    }
    StartNew();
}

void Recorder::Pause() {
    recordState_ = kRecordPaused;
}

void Recorder::Resume() {
    recordState_ = kRecordRunning;
    // The clock goes on from the first period not recorded yet, and the
    // timer is restarted on it, so that the ticks fall on the periods again.
    const std::int64_t now = clock_();
    const auto recorded = static_cast<std::int64_t>(
        std::llround(static_cast<double>(periods_) * kNsPerSecond / fps_));
    pausedNs_ = now - startNs_ - recorded;
    host_.StartRecordTimer(TimerPeriod());
}

bool Recorder::StartNew() {
    const std::optional<std::string> suggested = SuggestNextName(settings_, kSectionAvi);
    const std::string lastDir = settings_.GetString(kSectionAvi, kKeyLastDir, "");
    const std::optional<std::string> chosen =
        host_.AskVideoFileName(suggested.value_or(std::string()), lastDir);
    if (!chosen || chosen->empty()) return false;
    const std::string& path = *chosen;

    recordFormat_ = MakeRecordFormat(host_.ScreenWidth(), host_.ScreenHeight());
    writer_->SetFormat(recordFormat_);
    writer_->SetFileName(path);
    writer_->EnsureAviExtension();
    // The writer opens (and on failure closes) on its own thread. An open
    // that takes longer than a moment (a compressor list still being made, a
    // slow encoder) does not hold the screen up: the recording runs, its
    // frames wait for the open, and a later tick shows a failure.
    const std::optional<RecordWorker::OpenResult> opened = worker_.Open(*writer_, kOpenWait);
    if (opened && opened->code != 0) {
        if (!opened->errorText.empty()) host_.ShowAviError(opened->errorText);
        return false;
    }
    chosenPath_ = path;
    openPending_ = !opened;
    if (opened) RememberPath();

    recordState_ = kRecordRunning;
    fps_ = FramesPerSecond();
    startNs_ = clock_();
    pausedNs_ = 0;
    periods_ = 0;
    host_.StartRecordTimer(TimerPeriod());
    return true;
}

void Recorder::RememberPath() {
    // The name as chosen, before ".avi" may have been added: a name without a
    // number then offers nothing next time, as the screenshots do.
    settings_.WriteString(kSectionAvi, kKeyLast, chosenPath_);
    const PathParts parts = SplitPath(chosenPath_);
    settings_.WriteString(kSectionAvi, kKeyLastDir, parts.drive + parts.dir);
}

bool Recorder::CheckOpen() {
    if (!openPending_) return true;
    const std::optional<RecordWorker::OpenResult> opened = worker_.TakeOpenResult();
    if (!opened) return true;
    openPending_ = false;
    if (opened->code == 0) {
        RememberPath();
        return true;
    }
    // A failed start, only later: idle again, and the reason in the box.
    recordState_ = kRecordIdle;
    host_.StopRecordTimer();
    host_.SetStatusText(std::string());
    if (!opened->errorText.empty()) host_.ShowAviError(opened->errorText);
    return false;
}

void Recorder::TogglePause() {
    frameReady_ = true;
    if (recordState_ == kRecordRunning)
        Pause();
    else if (recordState_ == kRecordPaused)
        Resume();
}

void Recorder::StopRecording() {
    frameReady_ = true;
    if (recordState_ != kRecordRunning && recordState_ != kRecordPaused) return;
    recordState_ = kRecordIdle;
    host_.StopRecordTimer();
    // Waits for the queued frames and the file's index: the file is whole
    // when this returns.
    worker_.Close(periods_);
    if (openPending_) {
        openPending_ = false;
        const std::optional<RecordWorker::OpenResult> opened = worker_.TakeOpenResult();
        if (opened && opened->code == 0) RememberPath();
    }
    host_.SetStatusText(std::string());
}

void Recorder::OnRecordTimer() {
    if (recordState_ == kRecordIdle) return;
    if (!CheckOpen()) return;
    if (worker_.Failed()) {
        host_.StopRecordTimer();
        host_.ShowAviError(std::string(kAviFrameFailed));
        StopRecording();
        return;
    }
    if (recordState_ == kRecordRunning) {
        // A tick in a period already recorded (a timer a little early, a
        // second tick asked for by a resume) has nothing to do.
        const std::int64_t period = PeriodNow();
        if (period >= periods_) {
            // A full queue leaves the period skipped and the screen due: the
            // next tick with room writes the screen as it is then.
            if (FrameDue() && worker_.Submit(host_.ScreenPixels(), period)) {
                frameReady_ = false;
                host_.ClearFrameReady();
            }
            periods_ = period + 1;
        }
    }
    host_.SetStatusText(StatusText(periods_, FramesPerSecond()));
}

}  // namespace velarix
