// Built with ThreadSanitizer: the recording's hand-over between the GUI
// thread and the writer's thread, with the real AVI writer. Ticks copy the
// screen into the queue while the worker encodes, the screen changes between
// ticks, a full queue skips, and stop, pause and destruction drain; any
// access to a frame buffer or to the writer from both sides without the
// queue's lock would be reported as a data race.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/AviWriter.h"
#include "capture/CodecTable.h"
#include "capture/Recorder.h"
#include "settings/MemorySettingsBackend.h"

namespace velarix {
namespace {

class Host final : public IRecorderHost {
public:
    std::optional<std::string> AskVideoFileName(const std::string&, const std::string&) override {
        return path;
    }
    void ShowAviError(const std::string& text) override { errors.push_back(text); }
    void StartRecordTimer(int) override {}
    void StopRecordTimer() override {}
    void SetStatusText(const std::string&) override {}
    std::span<const std::uint32_t> ScreenPixels() const override { return screen; }
    int ScreenWidth() const override { return 208; }
    int ScreenHeight() const override { return 320; }
    bool FrameReady() const override { return ready; }
    void ClearFrameReady() override { ready = false; }

    std::string path;
    std::vector<std::string> errors;
    std::vector<std::uint32_t> screen = std::vector<std::uint32_t>(208 * 320, 0x336699);
    bool ready = false;
};

TEST(RecordWorkerThreads, TicksHandFramesToTheWriterWhileTheScreenChanges) {
    std::string dir = (std::filesystem::temp_directory_path() / "velarix-tsan-XXXXXX").string();
    ASSERT_NE(::mkdtemp(dir.data()), nullptr);
    CodecTable codecs;
    SettingsStore settings(std::make_shared<MemorySettingsBackend>());
    settings.WriteInt("AVI", "FPS", 30);
    for (const std::string_view end : {"stop", "pause then stop", "destruction"}) {
        SCOPED_TRACE(end);
        Host host;
        host.path = dir + "/" + std::string(end.substr(0, 4)) + ".avi";
        CAviWriter writer(settings, codecs);
        AviWriterAdapter adapter(writer);
        std::int64_t now = 0;
        auto recorder = std::make_unique<Recorder>(host, adapter, settings);
        recorder->SetClock([&now] { return now; });
        recorder->ToggleRecording();
        ASSERT_EQ(recorder->RecordState(), kRecordRunning);
        // Ticks faster than the writer: some find the queue full.
        for (int tick = 0; tick < 60; ++tick) {
            now += 33'333'334;
            host.screen[std::size_t(tick) * 97] = std::uint32_t(tick);
            host.ready = true;
            recorder->OnRecordTimer();
        }
        if (end != "stop") recorder->TogglePause();
        if (end == "destruction")
            recorder.reset();
        else
            recorder->StopRecording();
        EXPECT_TRUE(host.errors.empty());
        EXPECT_EQ(writer.FrameCount(), 61);
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace velarix
