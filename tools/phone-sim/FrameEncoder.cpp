#include "FrameEncoder.h"

#include <FreeImage.h>
#include <zlib.h>

#include <algorithm>

namespace phonesim {

namespace {

// The viewer only decodes a line record that starts at least this many bytes before the end
// of the record.
constexpr std::size_t kDecodeWindow = kScreenWidth / 2;
constexpr std::size_t kTailSize = 5;  // flip byte and frame value

std::string Plural(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

Bytes WithPrefix(std::uint8_t type, const Bytes& payload) {
    Bytes out;
    out.reserve(5 + payload.size());
    PutBe32(out, static_cast<std::uint32_t>(5 + payload.size()));
    out.push_back(type);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

std::optional<Bytes> Deflate(const Bytes& in, int level) {
    uLongf size = compressBound(static_cast<uLong>(in.size()));
    Bytes out(5 + size);
    if (compress2(out.data() + 5, &size, in.data(), static_cast<uLong>(in.size()),
                  std::clamp(level, 0, 9)) != Z_OK) {
        return std::nullopt;
    }
    out.resize(5 + size);
    const auto length = static_cast<std::uint32_t>(out.size());
    out[0] = static_cast<std::uint8_t>(length >> 24);
    out[1] = static_cast<std::uint8_t>(length >> 16);
    out[2] = static_cast<std::uint8_t>(length >> 8);
    out[3] = static_cast<std::uint8_t>(length);
    out[4] = kFrameZlib;
    return out;
}

void EncodeRange(const RecordSettings& s, std::span<const LineUpdate> lines, std::uint32_t* counter,
                 std::vector<FrameMessage>* out) {
    const std::uint32_t value = *counter + 1;
    const Bytes record = BuildFrameRecord(s.mode, lines, s.flipClosed, value);
    std::optional<Bytes> message;
    const char* kind = "FrameZlib";
    if (s.compress) message = Deflate(record, s.level);
    if (!message) {
        kind = "FrameRaw";
        message = WithPrefix(kFrameRaw, record);
    }
    if (message->size() > kMaxMessageLength && lines.size() > 1) {
        const std::size_t half = lines.size() / 2;
        EncodeRange(s, lines.first(half), counter, out);
        EncodeRange(s, lines.subspan(half), counter, out);
        return;
    }
    *counter = value;
    std::string summary =
        std::string(kind) + " " + ModeName(s.mode) + ", " + Plural(lines.size(), "line", "lines");
    if (!lines.empty()) {
        const auto [lo, hi] = std::minmax_element(
            lines.begin(), lines.end(),
            [](const LineUpdate& a, const LineUpdate& b) { return a.index < b.index; });
        summary += " (" + std::to_string(lo->index) + "-" + std::to_string(hi->index) + ")";
    }
    summary += ", " + std::to_string(message->size()) + " bytes";
    if (s.compress) summary += " (record " + std::to_string(record.size()) + ")";
    summary += ", flip " + std::string(s.flipClosed ? "closed" : "open") + ", frame " +
               std::to_string(value);
    out->push_back({std::move(*message), value, std::move(summary)});
}

struct BitmapDeleter {
    void operator()(FIBITMAP* bitmap) const { FreeImage_Unload(bitmap); }
};
struct MemoryDeleter {
    void operator()(FIMEMORY* memory) const { FreeImage_CloseMemory(memory); }
};

void EncodeBand(const JpegEncoder& encoder, const Framebuffer& fb, int top, int bottom, int quality,
                std::uint32_t* counter, std::vector<FrameMessage>* out) {
    const int height = bottom - top + 1;
    const std::optional<Bytes> jpeg = encoder.Encode(fb, top, height, quality);
    if (!jpeg) return;
    if (jpeg->size() + 11 > kMaxMessageLength && height > 1) {
        const int middle = top + height / 2;
        EncodeBand(encoder, fb, top, middle - 1, quality, counter, out);
        EncodeBand(encoder, fb, middle, bottom, quality, counter, out);
        return;
    }
    const std::uint32_t value = ++*counter;
    Bytes payload;
    payload.reserve(6 + jpeg->size());
    PutBe16(payload, static_cast<std::uint16_t>(top));
    PutBe32(payload, value);
    payload.insert(payload.end(), jpeg->begin(), jpeg->end());
    Bytes message = WithPrefix(kFrameJpeg, payload);
    std::string summary = "FrameJpeg quality " + std::to_string(quality) + ", lines " +
                          std::to_string(top) + "-" + std::to_string(bottom) + ", " +
                          std::to_string(message.size()) + " bytes, frame " + std::to_string(value);
    out->push_back({std::move(message), value, std::move(summary)});
}

}  // namespace

Bytes BuildFrameRecord(ColourMode mode, std::span<const LineUpdate> lines, bool flipClosed,
                       std::uint32_t frameValue) {
    const std::size_t bpl = BytesPerLine(mode);
    const std::size_t lineRecord = 2 + bpl;
    // Bytes needed after the last line record so that it still starts inside the window.
    const std::size_t padding = lines.empty() || lineRecord + kTailSize >= kDecodeWindow
                                    ? 0
                                    : kDecodeWindow - lineRecord - kTailSize;
    Bytes record;
    record.reserve(5 + lines.size() * lineRecord + kTailSize + padding);
    PutBe16(record, static_cast<std::uint16_t>(kScreenWidth));
    PutBe16(record, static_cast<std::uint16_t>(kScreenHeight));
    record.push_back(static_cast<std::uint8_t>(mode));
    for (const LineUpdate& line : lines) {
        PutBe16(record, line.index);
        record.insert(record.end(), line.bytes, line.bytes + bpl);
    }
    record.push_back(flipClosed ? 1 : 0);
    PutBe32(record, frameValue);
    record.insert(record.end(), padding, std::uint8_t{0});
    return record;
}

std::vector<FrameMessage> EncodeRecords(const RecordSettings& settings,
                                        std::span<const LineUpdate> lines,
                                        std::uint32_t* frameCounter) {
    std::vector<FrameMessage> out;
    EncodeRange(settings, lines, frameCounter, &out);
    return out;
}

JpegEncoder::JpegEncoder() {
    FreeImage_Initialise(FALSE);
}

JpegEncoder::~JpegEncoder() {
    FreeImage_DeInitialise();
}

std::optional<Bytes> JpegEncoder::Encode(const Framebuffer& fb, int top, int height,
                                         int quality) const {
    if (top < 0 || height < 1 || top + height > Framebuffer::kHeight) return std::nullopt;
    std::unique_ptr<FIBITMAP, BitmapDeleter> bitmap(FreeImage_Allocate(
        Framebuffer::kWidth, height, 24, FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK));
    if (!bitmap) return std::nullopt;
    for (int row = 0; row < height; ++row) {
        // FreeImage keeps its rows bottom-up.
        BYTE* bits = FreeImage_GetScanLine(bitmap.get(), height - 1 - row);
        const Rgb* src = fb.Line(top + row);
        for (int x = 0; x < Framebuffer::kWidth; ++x, bits += 3) {
            bits[FI_RGBA_RED] = src[x].r;
            bits[FI_RGBA_GREEN] = src[x].g;
            bits[FI_RGBA_BLUE] = src[x].b;
        }
    }
    std::unique_ptr<FIMEMORY, MemoryDeleter> memory(FreeImage_OpenMemory(nullptr, 0));
    if (!memory) return std::nullopt;
    // The low seven bits of the JPEG save flags are the quality.
    if (!FreeImage_SaveToMemory(FIF_JPEG, bitmap.get(), memory.get(),
                                std::clamp(quality, 1, 100))) {
        return std::nullopt;
    }
    BYTE* data = nullptr;
    DWORD size = 0;
    if (!FreeImage_AcquireMemory(memory.get(), &data, &size) || !data) return std::nullopt;
    return Bytes(data, data + size);
}

std::vector<FrameMessage> EncodeJpegStrips(const JpegEncoder& encoder, const Framebuffer& fb,
                                           int top, int bottom, int quality,
                                           std::uint32_t* frameCounter) {
    std::vector<FrameMessage> out;
    if (top <= bottom) EncodeBand(encoder, fb, top, bottom, quality, frameCounter, &out);
    return out;
}

}  // namespace phonesim
