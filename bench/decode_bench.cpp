// Decoding a full-screen frame (all 320 lines), each figure beside the
// baseline it is judged against, measured in the same run:
//   raw records      against a memcpy of the 266,240-byte screen buffer
//   zlib records     against zlib's uncompress alone on the same payload
//   the JPEG strip   against FreeImage's decode alone of the same strip
//   hostile strips   against the normal full-screen strip: the costliest strips
//                    that fit one message (the most scans the filter lets
//                    through, the most entropy-coded data, a scan bomb and a
//                    strip buried in metadata)
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
            case 4:
                out[ux / 4] |= std::uint8_t((grey(x) / 64) << (2 * (ux % 4)));
                break;
            case 2:
                out[ux / 2] |= std::uint8_t((grey(x) / 16) << (4 * (ux % 2)));
                break;
            case 1:
                out[ux] = std::uint8_t((r(x) / 64) << 6 | (g(x) / 32) << 3 | b(x) / 32);
                break;
            case 3: {
                const unsigned v =
                    unsigned(r(x) >> 3) << 11 | unsigned(g(x) >> 2) << 5 | unsigned(b(x) >> 3);
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
    for (int y = 0; y < 320; ++y)
        lines.push_back({y, EncodeLine(code, &screen[std::size_t(y) * 208])});
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

// Positions of the scans (their SOS markers) of an encoded JPEG.
std::vector<std::size_t> ScanStarts(const ByteVec& jpeg) {
    std::vector<std::size_t> out;
    for (std::size_t i = 2; i + 1 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) out.push_back(i);
    return out;
}

// `jpeg` with its last scan repeated as often as fits one message, or, when
// `accepted`, as long as the strip filter still lets it through.
ByteVec RepeatLastScan(const ByteVec& jpeg, bool accepted) {
    const std::vector<std::size_t> scans = ScanStarts(jpeg);
    const ByteVec last(jpeg.begin() + std::ptrdiff_t(scans.back()), jpeg.end() - 2);
    const ByteVec eoi = {0xFF, 0xD9};
    ByteVec out(jpeg.begin(), jpeg.end() - 2);
    while (out.size() + last.size() + 16 < velarix::kMaxMessageLength) {
        ByteVec longer = out;
        longer.insert(longer.end(), last.begin(), last.end());
        if (accepted && !velarix::ParseJpegFrameHeader(velarix::test::Concat({longer, eoi}))) break;
        out = std::move(longer);
    }
    return velarix::test::Concat({out, eoi});
}

std::vector<std::uint32_t> Noise() {
    std::vector<std::uint32_t> px(velarix::kScreenPixels);
    std::uint32_t seed = 99;
    for (std::uint32_t& p : px) {
        seed = seed * 1103515245u + 12345u;
        p = seed >> 8;
    }
    return px;
}

// The largest strip of noise that fits one message: the most entropy-coded data.
ByteVec LargestNoise(int flags) {
    for (int quality = 100;; quality -= 5) {
        ByteVec jpeg = velarix::test::EncodeJpeg(Noise(), 208, 320, quality, false, flags);
        if (jpeg.size() + 16 < velarix::kMaxMessageLength || quality <= 5) return jpeg;
    }
}

ByteVec HostileStrip(int which) {
    switch (which) {
        case 0:  // the most whole-screen scans the filter accepts
            return RepeatLastScan(
                velarix::test::EncodeJpeg(PhoneScreen(), 208, 320, 50, false, JPEG_PROGRESSIVE),
                true);
        case 1:  // baseline, full of entropy-coded data
            return LargestNoise(0);
        case 2:  // progressive, full of entropy-coded data, with the most scans accepted
            return RepeatLastScan(LargestNoise(JPEG_PROGRESSIVE), true);
        case 3:  // one scan repeated as often as fits: refused
            return RepeatLastScan(
                velarix::test::EncodeJpeg(PhoneScreen(), 208, 320, 50, false, JPEG_PROGRESSIVE),
                false);
        default: {  // a normal strip behind a message's worth of comments
            const ByteVec jpeg = FullScreenJpeg();
            ByteVec out(jpeg.begin(), jpeg.begin() + 2);
            const ByteVec comment = {0xFF, 0xFE, 0xFF, 0xFF};
            while (out.size() + jpeg.size() + 0x10000 < velarix::kMaxMessageLength) {
                out.insert(out.end(), comment.begin(), comment.end());
                out.resize(out.size() + 0xFFFD, 'x');
            }
            out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
            return out;
        }
    }
}

constexpr const char* kHostileNames[] = {"most scans", "baseline noise", "progressive noise",
                                         "scan bomb", "metadata padding"};

void BM_JpegStripHostile(benchmark::State& state) {
    const ByteVec jpeg = HostileStrip(int(state.range(0)));
    const ByteVec payload = velarix::test::JpegPayload(0, 1, jpeg);
    std::vector<std::uint32_t> screen(velarix::kScreenPixels);
    for (auto _ : state) {
        benchmark::DoNotOptimize(velarix::DecodeJpegStrip(payload, screen));
        benchmark::ClobberMemory();
    }
    state.SetLabel(std::string(kHostileNames[state.range(0)]) + ", " +
                   std::to_string(payload.size()) + " bytes");
}

BENCHMARK(BM_Memcpy);
BENCHMARK(BM_RawDecode)->DenseRange(0, 4);
BENCHMARK(BM_Uncompress)->DenseRange(0, 4);
BENCHMARK(BM_ZlibFrame)->DenseRange(0, 4);
BENCHMARK(BM_FreeImageJpeg);
BENCHMARK(BM_JpegStrip);
BENCHMARK(BM_JpegStripHostile)->DenseRange(0, 4);

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
    for (int i = 0; i < 5; ++i) {
        PrintRatio(reporter, "BM_JpegStripHostile/" + std::to_string(i), "BM_JpegStrip", 10.0);
    }
    benchmark::Shutdown();
    return 0;
}
