// Decoding a full-screen frame (all 320 lines), each figure beside the
// baseline it is judged against, measured in the same run:
//   raw records      against a memcpy of the 266,240-byte screen buffer
//   zlib records     against zlib's uncompress alone on the same payload
//   the JPEG strip   against FreeImage's decode alone of the same strip
// The ratios, of CPU time per iteration, are printed after the table.
#include <FreeImage.h>
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "StreamBuilder.h"
#include "link/FrameDecoder.h"
#include "link/JpegStrip.h"
#include "link/PhoneLink.h"

namespace {

using velarix::test::ByteVec;

// A phone-like screen: a title bar, a gradient, rows of "text" and some noise,
// so the compressors see what they would see on a phone.
std::vector<std::uint32_t> PhoneScreen() {
    std::vector<std::uint32_t> px(velarix::kScreenPixels);
    std::uint32_t noise = 12345;
    for (int y = 0; y < 320; ++y) {
        for (int x = 0; x < 208; ++x) {
            noise = noise * 1103515245u + 12345u;
            std::uint32_t r, g, b;
            if (y < 20) {
                r = 30, g = 60, b = 150 + std::uint32_t(y * 4);
            } else {
                r = 255 - std::uint32_t(y / 3), g = 250 - std::uint32_t(x / 4), b = 230;
            }
            const bool glyph = y > 30 && (y % 18) < 11 && ((x * 7 + y * 3) % 11 < 4) && x > 8;
            if (glyph) r = g = b = 20;
            if ((noise >> 28) == 0) b ^= 8;
            px[std::size_t(y * 208 + x)] = (r << 16) | (g << 8) | b;
        }
    }
    return px;
}

// One line of `px` (screen line y) in a pixel format, by nearest level.
ByteVec EncodeLine(int code, const std::uint32_t* line) {
    auto r = [&](int x) { return int(line[x] >> 16 & 255); };
    auto g = [&](int x) { return int(line[x] >> 8 & 255); };
    auto b = [&](int x) { return int(line[x] & 255); };
    auto grey = [&](int x) { return (r(x) * 3 + g(x) * 6 + b(x)) / 10; };
    ByteVec out(velarix::test::LineBytes(code));
    for (int x = 0; x < 208; ++x) {
        const auto ux = std::size_t(x);
        switch (code) {
            case 4: out[ux / 4] |= std::uint8_t((grey(x) / 64) << (2 * (ux % 4))); break;
            case 2: out[ux / 2] |= std::uint8_t((grey(x) / 16) << (4 * (ux % 2))); break;
            case 1: out[ux] = std::uint8_t((r(x) / 64) << 6 | (g(x) / 32) << 3 | b(x) / 32); break;
            case 3: {
                const unsigned v = unsigned(r(x) >> 3) << 11 | unsigned(g(x) >> 2) << 5 |
                                   unsigned(b(x) >> 3);
                out[ux * 2] = std::uint8_t(v);
                out[ux * 2 + 1] = std::uint8_t(v >> 8);
                break;
            }
            default: {
                const std::size_t grp = ux / 2 * 3;
                const std::uint8_t bg = std::uint8_t((g(x) >> 4) << 4 | (b(x) >> 4));
                out[grp + ux % 2] = bg;
                out[grp + 2] |= std::uint8_t(ux % 2 ? (r(x) >> 4) : (r(x) >> 4) << 4);
            }
        }
    }
    return out;
}

ByteVec FullScreenRecord(int code) {
    static const std::vector<std::uint32_t> screen = PhoneScreen();
    std::vector<velarix::test::LineRecord> lines;
    for (int y = 0; y < 320; ++y) lines.push_back({y, EncodeLine(code, &screen[std::size_t(y) * 208])});
    return velarix::test::FrameRecord(std::uint8_t(code), lines, 0, 1);
}

// A view that only holds the screen, as cheap as the real one's bookkeeping.
class ScreenOnlyView final : public velarix::ILinkView {
public:
    ScreenOnlyView() : screen(velarix::kScreenPixels, 0xFFFFFFFFu) {}
    void OnLinkSynced(velarix::CPhoneLink&) override {}
    void OnLinkLost(velarix::CPhoneLink&) override { lost = true; }
    void SetScreenSize(int, int) override {}
    std::span<std::uint32_t> ScreenPixels() override { return screen; }
    void RepaintLines(int, int, int, int) override {}
    void RefreshStatusPage() override {}
    std::vector<std::uint32_t> screen;
    bool lost = false;
};

class NullTransport final : public velarix::ILinkTransport {
public:
    long Send(velarix::Bytes b) override { return static_cast<long>(b.size()); }
    void Close() override {}
};

const char* kFormatNames[] = {"4096", "256", "16grey", "65536", "4grey"};

void BM_Memcpy(benchmark::State& state) {
    std::vector<std::uint32_t> src(velarix::kScreenPixels, 0x123456), dst(velarix::kScreenPixels);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size() * 4);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
}

void BM_RawDecode(benchmark::State& state) {
    const ByteVec record = FullScreenRecord(int(state.range(0)));
    std::vector<std::uint32_t> screen(velarix::kScreenPixels);
    for (auto _ : state) {
        benchmark::DoNotOptimize(velarix::DecodeRecordLines(record, screen));
        benchmark::ClobberMemory();
    }
    state.SetLabel(kFormatNames[state.range(0)]);
}

void BM_Uncompress(benchmark::State& state) {
    const ByteVec record = FullScreenRecord(int(state.range(0)));
    const ByteVec packed = velarix::test::Deflate(record);
    std::vector<std::uint8_t> out(velarix::kInflateCapacity);
    for (auto _ : state) {
        uLongf n = out.size();
        uncompress(out.data(), &n, packed.data(), uLong(packed.size()));
        benchmark::DoNotOptimize(out.data());
    }
    state.SetLabel(kFormatNames[state.range(0)]);
}

// The whole path of a FrameZlib message through the link: receive, frame,
// inflate, decode into the view's screen.
void BM_ZlibFrame(benchmark::State& state) {
    const ByteVec record = FullScreenRecord(int(state.range(0)));
    const ByteVec message = velarix::test::Message(1, velarix::test::Deflate(record));
    ScreenOnlyView view;
    NullTransport transport;
    velarix::CRelayLink link;
    link.SetView(&view);
    link.AttachTransport(transport);
    const ByteVec sync = velarix::test::SyncBytes();
    link.OnReceive(sync);
    for (auto _ : state) {
        link.OnReceive(message);
        benchmark::ClobberMemory();
    }
    if (view.lost) state.SkipWithError("the link lost its sync");
    state.SetLabel(kFormatNames[state.range(0)]);
}

ByteVec FullScreenJpeg() {
    return velarix::test::EncodeJpeg(PhoneScreen(), 208, 320, 50);
}

void BM_FreeImageJpeg(benchmark::State& state) {
    ByteVec jpeg = FullScreenJpeg();
    for (auto _ : state) {
        FIMEMORY* mem = FreeImage_OpenMemory(jpeg.data(), DWORD(jpeg.size()));
        FIBITMAP* dib = FreeImage_LoadFromMemory(FIF_JPEG, mem, JPEG_DEFAULT);
        benchmark::DoNotOptimize(dib);
        FreeImage_Unload(dib);
        FreeImage_CloseMemory(mem);
    }
}

void BM_JpegStrip(benchmark::State& state) {
    const ByteVec payload = velarix::test::JpegPayload(0, 1, FullScreenJpeg());
    std::vector<std::uint32_t> screen(velarix::kScreenPixels);
    for (auto _ : state) {
        const auto d = velarix::DecodeJpegStrip(payload, screen);
        if (d.result != velarix::StripResult::Decoded) state.SkipWithError("strip not decoded");
        benchmark::ClobberMemory();
    }
}

BENCHMARK(BM_Memcpy);
BENCHMARK(BM_RawDecode)->DenseRange(0, 4);
BENCHMARK(BM_Uncompress)->DenseRange(0, 4);
BENCHMARK(BM_ZlibFrame)->DenseRange(0, 4);
BENCHMARK(BM_FreeImageJpeg);
BENCHMARK(BM_JpegStrip);

// Keeps each run's time per iteration so the ratios can be printed after.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (!r.error_occurred && r.iterations > 0)
                times[r.benchmark_name()] = r.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

void PrintRatio(const RatioReporter& rep, const std::string& name, const std::string& base,
                double target) {
    const auto a = rep.times.find(name), b = rep.times.find(base);
    if (a == rep.times.end() || b == rep.times.end() || b->second <= 0) return;
    const double ratio = a->second / b->second;
    std::printf("  %-22s %6.2fx %-18s (target <= %.1fx) %s\n", name.c_str(), ratio, base.c_str(),
                target, ratio <= target ? "ok" : "OVER");
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nRatios (same run):\n");
    for (int i = 0; i < 5; ++i) {
        const std::string arg = "/" + std::to_string(i);
        PrintRatio(reporter, "BM_RawDecode" + arg, "BM_Memcpy", 15.0);
    }
    for (int i = 0; i < 5; ++i) {
        const std::string arg = "/" + std::to_string(i);
        PrintRatio(reporter, "BM_ZlibFrame" + arg, "BM_Uncompress" + arg, 1.3);
    }
    PrintRatio(reporter, "BM_JpegStrip", "BM_FreeImageJpeg", 1.2);
    benchmark::Shutdown();
    return 0;
}
