#include "StreamBuilder.h"

#include <FreeImage.h>
#include <zlib.h>

#include <cstring>
#include <memory>
#include <stdexcept>

namespace velarix::test {

ByteVec Concat(std::initializer_list<ByteVec> parts) {
    ByteVec out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

ByteVec SyncBytes() {
    return {0x00, 0x00, 0x00, 0x0A, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55};
}

ByteVec Be32(std::uint32_t v) {
    return {std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)};
}

ByteVec Message(std::uint8_t type, const ByteVec& payload) {
    ByteVec out = Be32(static_cast<std::uint32_t>(payload.size() + 5));
    out.push_back(type);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

std::size_t LineBytes(int code) {
    switch (code) {
        case 4:
            return 52;
        case 2:
            return 104;
        case 1:
            return 208;
        case 3:
            return 416;
        default:
            return 312;
    }
}

ByteVec FrameRecord(std::uint8_t mode, const std::vector<LineRecord>& lines,
                    std::optional<std::uint8_t> flip, std::optional<std::uint32_t> frameValue,
                    int width, int height) {
    ByteVec out = {std::uint8_t(width >> 8), std::uint8_t(width), std::uint8_t(height >> 8),
                   std::uint8_t(height), mode};
    for (const auto& l : lines) {
        out.push_back(std::uint8_t(l.line >> 8));
        out.push_back(std::uint8_t(l.line));
        out.insert(out.end(), l.pixels.begin(), l.pixels.end());
    }
    if (flip) out.push_back(*flip);
    if (frameValue) {
        const ByteVec v = Be32(*frameValue);
        out.insert(out.end(), v.begin(), v.end());
    }
    return out;
}

ByteVec RepeatBytes(const ByteVec& unit, std::size_t times) {
    ByteVec out;
    out.reserve(unit.size() * times);
    for (std::size_t i = 0; i < times; ++i) out.insert(out.end(), unit.begin(), unit.end());
    return out;
}

ByteVec Deflate(const ByteVec& data, int level) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    ByteVec out(size);
    if (compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), level) != Z_OK)
        throw std::runtime_error("compress2 failed");
    out.resize(size);
    return out;
}

ByteVec ZlibBombPayload(int mode) {
    // Every byte of the lines is 1, so line 257 of 0x01 pixels repeats until
    // the buffer is full; lines 0 and 319 first stretch the band over the
    // whole screen.
    const ByteVec pixels(LineBytes(mode), 0x01);
    std::vector<LineRecord> lines = {{0, pixels}, {kScreenHeight - 1, pixels}};
    // Room for the header, the end marker, the flip byte and the frame value.
    const std::size_t room = kInflateCapacity - 5 - 2 - 1 - 4;
    for (std::size_t used = 2 * (2 + pixels.size()); used + 2 + pixels.size() <= room;
         used += 2 + pixels.size())
        lines.push_back({0x0101, pixels});
    lines.push_back({0xFFFF, {}});
    ByteVec record = FrameRecord(std::uint8_t(mode), lines, 0, 1);
    record.resize(kInflateCapacity);
    return Deflate(record, 9);
}

ByteVec EncodeJpeg(const std::vector<std::uint32_t>& pixels, int width, int height, int quality,
                   bool greyscale, int extraFlags) {
    struct Unload {
        void operator()(FIBITMAP* d) const { FreeImage_Unload(d); }
    };
    struct Close {
        void operator()(FIMEMORY* m) const { FreeImage_CloseMemory(m); }
    };
    std::unique_ptr<FIBITMAP, Unload> dib(FreeImage_Allocate(width, height, 24));
    for (int y = 0; y < height; ++y) {
        BYTE* row = FreeImage_GetScanLine(dib.get(), height - 1 - y);
        for (int x = 0; x < width; ++x) {
            const std::uint32_t p = pixels[std::size_t(y * width + x)];
            row[x * 3 + FI_RGBA_RED] = BYTE(p >> 16);
            row[x * 3 + FI_RGBA_GREEN] = BYTE(p >> 8);
            row[x * 3 + FI_RGBA_BLUE] = BYTE(p);
        }
    }
    if (greyscale) dib.reset(FreeImage_ConvertToGreyscale(dib.get()));
    std::unique_ptr<FIMEMORY, Close> mem(FreeImage_OpenMemory());
    if (!FreeImage_SaveToMemory(FIF_JPEG, dib.get(), mem.get(),
                                quality | JPEG_BASELINE | extraFlags))
        throw std::runtime_error("JPEG encode failed");
    BYTE* data = nullptr;
    DWORD size = 0;
    FreeImage_AcquireMemory(mem.get(), &data, &size);
    return ByteVec(data, data + size);
}

ByteVec JpegPayload(int top, std::uint32_t frameValue, const ByteVec& jpeg) {
    ByteVec out = {std::uint8_t(top >> 8), std::uint8_t(top)};
    const ByteVec v = Be32(frameValue);
    out.insert(out.end(), v.begin(), v.end());
    out.insert(out.end(), jpeg.begin(), jpeg.end());
    return out;
}

namespace {

// Where each JPEG marker segment starts, as (offset, marker); an SOS segment
// runs on over its entropy-coded data to the next marker.
std::vector<std::pair<std::size_t, std::uint8_t>> JpegSegments(const ByteVec& jpeg) {
    std::vector<std::pair<std::size_t, std::uint8_t>> out;
    std::size_t i = 2;  // after SOI
    while (i + 4 <= jpeg.size() && jpeg[i] == 0xFF) {
        const std::uint8_t marker = jpeg[i + 1];
        out.emplace_back(i, marker);
        if (marker == 0xD9) break;
        std::size_t next = i + 2 + ReadBe16(&jpeg[i + 2]);
        if (marker == 0xDA) {
            while (next + 1 < jpeg.size() && !(jpeg[next] == 0xFF && jpeg[next + 1] != 0 &&
                                               (jpeg[next + 1] < 0xD0 || jpeg[next + 1] > 0xD7)))
                ++next;
        }
        i = next;
    }
    return out;
}

}  // namespace

ByteVec JpegScanBomb(std::size_t bytes) {
    // A flat grey picture: its refinement scans are a few bytes each.
    const std::vector<std::uint32_t> pixels(kScreenPixels, 0x808080u);
    const ByteVec jpeg =
        EncodeJpeg(pixels, kScreenWidth, kScreenHeight, 90, false, JPEG_PROGRESSIVE);
    const auto segments = JpegSegments(jpeg);
    // The smallest scan, repeated right after itself.
    std::size_t best = segments.size();
    std::size_t bestSize = SIZE_MAX;
    for (std::size_t s = 0; s + 1 < segments.size(); ++s) {
        const std::size_t size = segments[s + 1].first - segments[s].first;
        if (segments[s].second == 0xDA && size < bestSize) {
            best = s;
            bestSize = size;
        }
    }
    if (best == segments.size()) return jpeg;
    const std::size_t from = segments[best].first;
    const std::size_t to = segments[best + 1].first;
    const ByteVec scan(jpeg.begin() + std::ptrdiff_t(from), jpeg.begin() + std::ptrdiff_t(to));
    const std::size_t room = bytes > jpeg.size() ? bytes - jpeg.size() : 0;
    ByteVec out(jpeg.begin(), jpeg.begin() + std::ptrdiff_t(to));
    const ByteVec copies = RepeatBytes(scan, room / scan.size());
    out.insert(out.end(), copies.begin(), copies.end());
    out.insert(out.end(), jpeg.begin() + std::ptrdiff_t(to), jpeg.end());
    return out;
}

ByteVec RandomBytes(std::size_t n, std::uint32_t seed) {
    ByteVec out(n);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = std::uint8_t(x >> 24);
    }
    return out;
}

}  // namespace velarix::test
