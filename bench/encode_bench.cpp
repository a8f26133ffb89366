// What recording costs with each listed compressor: the time to write one
// 208 × 320 frame (conversion, compression and the write, median of many),
// the size of a 10-second recording at 5 frames per second of a phone-like
// screen (a clock ticking every second, a list that scrolls for a while), and
// the share of one core that recording at 30 frames per second with Microsoft
// Video 1 takes: in the worst case of a new screen at every tick, and for the
// phone screen, which changes only now and then.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "capture/AviWriter.h"
#include "capture/CodecTable.h"
#include "settings/MemorySettingsBackend.h"
#include "settings/SettingsStore.h"

namespace {

using velarix::CAviWriter;
using velarix::CodecTable;
using velarix::SettingsStore;

constexpr int kWidth = 208;
constexpr int kHeight = 320;
constexpr int kTimedFrames = 41;
constexpr int kWarmupFrames = 4;

// A phone screen drawn top-down into the bottom-up buffer.
class PhoneScreen {
public:
    PhoneScreen() : pixels_(static_cast<std::size_t>(kWidth) * kHeight) {}

    // The screen `tick` ticks after the start at `fps`: the clock shows the
    // seconds, the list scrolls during the second and third second.
    const std::vector<std::uint32_t>& Draw(int tick, int fps) {
        const int seconds = tick / fps;
        const int scrolling = std::clamp(tick - 2 * fps, 0, 2 * fps);
        Fill(0, 0, kWidth, kHeight, 0xF4F4F4);
        Fill(0, 0, kWidth, 18, 0x202830);  // status bar
        DrawClock(150, 4, 9 * 3600 + 41 * 60 + seconds);
        Fill(6, 5, 14, 8, 0x60C060);  // signal and battery
        for (int y = 0; y < 40; ++y)  // title bar, a soft gradient
            Fill(0, 18 + y, kWidth, 1, 0x3060A0 + static_cast<std::uint32_t>(y) * 0x010102);
        Text(10, 34, "Messages", 0xFFFFFF);
        const int offset = scrolling * 96 / (2 * fps) * 3;
        for (int row = 0; row < 12; ++row) {
            const int top = 58 + row * 36 - offset % 36;
            if (top >= kHeight) break;
            const int item = row + offset / 36;
            Fill(0, top, kWidth, 35, item % 2 != 0 ? 0xFFFFFF : 0xECEFF4);
            Fill(8, top + 6, 22, 22, 0x204080 + static_cast<std::uint32_t>(item) * 0x1F3B17);
            Text(38, top + 6, item % 3 == 0 ? "Anna Lindqvist" : "Meeting at 10:30", 0x101010);
            Text(38, top + 20, "See you tomorrow, bring the notes", 0x707070);
        }
        return pixels_;
    }

private:
    void Put(int x, int y, std::uint32_t colour) {
        if (x < 0 || y < 0 || x >= kWidth || y >= kHeight) return;
        pixels_[static_cast<std::size_t>(kHeight - 1 - y) * kWidth + static_cast<std::size_t>(x)] =
            colour;
    }
    void Fill(int x, int y, int w, int h, std::uint32_t colour) {
        for (int j = y; j < y + h; ++j)
            for (int i = x; i < x + w; ++i) Put(i, j, colour);
    }
    // Letters as 4 × 7 dot patterns derived from the character: not legible,
    // but with the edges and detail of small text.
    void Text(int x, int y, const char* text, std::uint32_t colour) {
        for (; *text != '\0'; ++text, x += 5) {
            if (*text == ' ') continue;
            const auto bits = static_cast<std::uint32_t>(*text) * 2654435761u;
            for (int j = 0; j < 7; ++j)
                for (int i = 0; i < 4; ++i)
                    if ((bits >> ((j * 4 + i) % 31)) & 1u) Put(x + i, y + j, colour);
        }
    }
    // HH:MM:SS in seven-segment digits.
    void DrawClock(int x, int y, int seconds) {
        static constexpr std::uint8_t kSegments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66,
                                                       0x6D, 0x7D, 0x07, 0x7F, 0x6F};
        const int digits[6] = {seconds / 36000 % 10, seconds / 3600 % 10, seconds / 600 % 6,
                               seconds / 60 % 10,    seconds / 10 % 6,    seconds % 10};
        for (int d = 0; d < 6; ++d, x += d % 2 == 0 ? 8 : 6) {
            const std::uint8_t s = kSegments[digits[d]];
            const std::uint32_t c = 0xFFFFFF;
            if (s & 0x01) Fill(x, y, 4, 1, c);
            if (s & 0x02) Fill(x + 4, y, 1, 5, c);
            if (s & 0x04) Fill(x + 4, y + 5, 1, 5, c);
            if (s & 0x08) Fill(x, y + 9, 4, 1, c);
            if (s & 0x10) Fill(x, y + 5, 1, 5, c);
            if (s & 0x20) Fill(x, y, 1, 5, c);
            if (s & 0x40) Fill(x, y + 4, 4, 1, c);
        }
    }

    std::vector<std::uint32_t> pixels_;
};

// CPU time of the whole process, so that encoders working on threads of
// their own (libx264) are counted in full.
double CpuMs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

struct Timing {
    bool ok = false;
    double wallMs = 0;  // median wall time of one written frame
    double cpuMs = 0;   // median thread CPU time of one written frame
};

// Writes a frame at every tick, each one different, and times every write.
Timing TimeFrames(const SettingsStore& settings, const std::string& file, int fps) {
    settings.WriteInt("AVI", "FPS", fps);
    CAviWriter writer(settings);
    writer.SetFormat(velarix::MakeRecordFormat(kWidth, kHeight));
    writer.SetFileName(file);
    Timing timing;
    if (writer.Open() != 0) return timing;
    PhoneScreen screen;
    std::vector<double> wall;
    std::vector<double> cpu;
    for (int tick = 0; tick < kWarmupFrames + kTimedFrames; ++tick) {
        // The list scrolls all the time here: every frame differs.
        const auto& pixels = screen.Draw(2 * fps + tick % (2 * fps), fps);
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = CpuMs();
        if (writer.AddFrame(pixels) != 0) return timing;
        const double cpuEnd = CpuMs();
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        if (tick < kWarmupFrames) continue;
        wall.push_back(took.count());
        cpu.push_back(cpuEnd - cpuStart);
    }
    writer.Close();
    timing.ok = true;
    timing.wallMs = Median(wall);
    timing.cpuMs = Median(cpu);
    return timing;
}

struct Recording {
    std::uintmax_t bytes = 0;  // 0 when the recording failed
    double cpuMs = 0;          // CPU time of all writes together
};

// Ten seconds of the phone screen, as the view records: a frame when the
// screen changed since the last tick, otherwise a skipped tick.
Recording TenSeconds(const SettingsStore& settings, const std::string& file, int fps) {
    settings.WriteInt("AVI", "FPS", fps);
    CAviWriter writer(settings);
    writer.SetFormat(velarix::MakeRecordFormat(kWidth, kHeight));
    writer.SetFileName(file);
    Recording recording;
    if (writer.Open() != 0) return recording;
    PhoneScreen screen;
    std::vector<std::uint32_t> last;
    for (int tick = 0; tick < 10 * fps; ++tick) {
        const auto& pixels = screen.Draw(tick, fps);
        const double cpuStart = CpuMs();
        if (pixels != last) {
            if (writer.AddFrame(pixels) != 0) return recording;
            last = pixels;
        } else {
            writer.SkipFrame();
        }
        recording.cpuMs += CpuMs() - cpuStart;
    }
    const double cpuStart = CpuMs();
    writer.Close();
    recording.cpuMs += CpuMs() - cpuStart;
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(file, error);
    recording.bytes = error ? 0 : size;
    return recording;
}

}  // namespace

int main() {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path dir = fs::temp_directory_path() / "velarix-encode-bench";
    fs::create_directories(dir, error);

    CodecTable& table = CodecTable::Instance();
    const auto enumStart = std::chrono::steady_clock::now();
    table.EnumerateCodecs();
    const std::chrono::duration<double, std::milli> enumTook =
        std::chrono::steady_clock::now() - enumStart;
    std::printf("Compressor table: %d entries, enumerated in %.0f ms\n\n", table.Count(),
                enumTook.count());
    std::printf("Writing one %d x %d frame (median of %d) and a 10 s recording at 5 fps\n\n",
                kWidth, kHeight, kTimedFrames);
    std::printf("%-3s %-12s %-14s %14s %14s %16s\n", "#", "encoder", "label", "wall ms/frame",
                "cpu ms/frame", "10 s file (KiB)");

    SettingsStore settings(std::make_shared<velarix::MemorySettingsBackend>());
    double msvideo1Cpu = -1;
    Recording msvideo1Phone;
    for (int i = 0; i < table.Count(); ++i) {
        const velarix::CodecInfo& entry = table.Entry(i);
        const std::string label = CodecTable::FormatCodecLabel(entry);
        settings.WriteString("AVI", "Codec", label);
        const Timing timing = TimeFrames(settings, (dir / "timed.avi").string(), 5);
        const std::uintmax_t size = TenSeconds(settings, (dir / "ten.avi").string(), 5).bytes;
        if (!timing.ok || size == 0) {
            std::printf("%-3d %-12s %-14s %14s\n", i, entry.name.c_str(), label.c_str(), "failed");
            continue;
        }
        std::printf("%-3d %-12s %-14s %14.2f %14.2f %16.1f\n", i, entry.name.c_str(), label.c_str(),
                    timing.wallMs, timing.cpuMs, static_cast<double>(size) / 1024.0);
        if (entry.name == "msvideo1") {
            const Timing at30 = TimeFrames(settings, (dir / "thirty.avi").string(), 30);
            if (at30.ok) msvideo1Cpu = at30.cpuMs;
            msvideo1Phone = TenSeconds(settings, (dir / "phone30.avi").string(), 30);
        }
    }

    std::printf("\n");
    if (msvideo1Cpu < 0) {
        std::printf("msvideo1 is not listed: no 30 fps figure\n");
    } else {
        // Every tick writing a new frame: the worst case of a recording.
        const double share = msvideo1Cpu * 30.0 / 1000.0 * 100.0;
        std::printf(
            "msvideo1 at 30 fps, every tick a new frame: %.2f ms CPU/frame x 30 = %.1f%% "
            "of one core (target: under 10%%)\n",
            msvideo1Cpu, share);
        if (msvideo1Phone.bytes != 0)
            std::printf(
                "msvideo1 at 30 fps, 10 s of the phone screen (frames only when it "
                "changed): %.0f ms CPU in 10 s = %.1f%% of one core\n",
                msvideo1Phone.cpuMs, msvideo1Phone.cpuMs / 10000.0 * 100.0);
    }
    fs::remove_all(dir, error);
    return 0;
}
