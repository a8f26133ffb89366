#include "capture/Recorder.h"

#include <algorithm>
#include <cstdio>

#include "capture/Screenshots.h"

namespace velarix {

Recorder::Recorder(IRecorderHost& host, IRecordWriter& writer, SettingsStore settings)
    : host_(host), writer_(&writer), settings_(std::move(settings)) {}

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

std::string Recorder::StatusText(std::int32_t frameCount, int fps) {
    const long frames = frameCount;
    const long seconds = frames / std::max(1, fps);
    char text[96];
    std::snprintf(text, sizeof text, "Recording ... %02d:%02d (%ld)",
                  static_cast<int>(seconds / 60), static_cast<int>(seconds % 60), frames);
    return text;
}

void Recorder::ToggleRecording() {
    frameReady_ = true;
    if (recordState_ == kRecordPaused) {
        recordState_ = kRecordRunning;
        return;
    }
    if (recordState_ == kRecordRunning) {
        recordState_ = kRecordPaused;
        return;
    }
    StartNew();
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
    if (writer_->Open() != 0) {
        const std::string error = writer_->ErrorText();
        if (!error.empty()) host_.ShowAviError(error);
        writer_->Close();
        return false;
    }

    // The name as chosen, before ".avi" may have been added: a name without a
    // number then offers nothing next time, as the screenshots do.
    settings_.WriteString(kSectionAvi, kKeyLast, path);
    const PathParts parts = SplitPath(path);
    settings_.WriteString(kSectionAvi, kKeyLastDir, parts.drive + parts.dir);

    recordState_ = kRecordRunning;
    host_.StartRecordTimer(TimerPeriod());
    return true;
}

void Recorder::TogglePause() {
    frameReady_ = true;
    if (recordState_ == kRecordRunning)
        recordState_ = kRecordPaused;
    else if (recordState_ == kRecordPaused)
        recordState_ = kRecordRunning;
}

void Recorder::StopRecording() {
    frameReady_ = true;
    if (recordState_ != kRecordRunning && recordState_ != kRecordPaused) return;
    recordState_ = kRecordIdle;
    host_.StopRecordTimer();
    writer_->Close();
    host_.SetStatusText(std::string());
}

void Recorder::OnRecordTimer() {
    if (recordState_ == kRecordRunning) {
        if (FrameDue()) {
            if (writer_->AddFrame(host_.ScreenPixels()) != 0) {
                host_.StopRecordTimer();
                host_.ShowAviError(std::string(kAviFrameFailed));
                StopRecording();
                return;
            }
        } else {
            writer_->SkipFrame();
        }
        frameReady_ = false;
        host_.ClearFrameReady();
    }
    if (recordState_ == kRecordIdle) return;
    host_.SetStatusText(StatusText(writer_->FrameCount(), FramesPerSecond()));
}

}  // namespace velarix
