#include "link/JpegStrip.h"

#include <FreeImage.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace velarix {

namespace {

constexpr std::uint8_t kMarkerSoi = 0xD8;
constexpr std::uint8_t kMarkerEoi = 0xD9;
constexpr std::uint8_t kMarkerSos = 0xDA;
constexpr std::uint8_t kMarkerCom = 0xFE;
constexpr std::uint8_t kMarkerApp0 = 0xE0;

bool IsRestart(std::uint8_t m) {
    return m >= 0xD0 && m <= 0xD7;
}
bool IsStandalone(std::uint8_t m) {
    return IsRestart(m) || m == 0x01;
}
bool IsSupportedFrame(std::uint8_t m) {
    return m == 0xC0 || m == 0xC1 || m == 0xC2;
}
// Every other SOFn: lossless, hierarchical, arithmetic-coded.
bool IsOtherFrame(std::uint8_t m) {
    return m >= 0xC3 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
}
bool IsMetadata(std::uint8_t m) {
    return (m >= kMarkerApp0 && m <= 0xEF) || m == kMarkerCom;
}

// An APP0 segment that is only the JFIF header, without a thumbnail; `seg`
// points at its length. libjpeg takes the colour layout from it, and FreeImage
// reads nothing else from it (an extension segment would carry a thumbnail
// image that FreeImage decodes as well).
bool IsPlainJfif(const std::uint8_t* seg, std::size_t len) {
    static constexpr std::uint8_t kJfif[] = {'J', 'F', 'I', 'F', 0};
    return len == 16 && std::memcmp(seg + 2, kJfif, sizeof kJfif) == 0 && seg[14] == 0 &&
           seg[15] == 0;
}

// What the scans of a strip may cost the decoder. A scan costs, for each of
// its components, the component's blocks times the coefficients of its band:
// a baseline image is one pass over the 64 coefficients of every block, and
// libjpeg's progressive script 2.7 passes in colour and 2.98 in grey, since it
// refines each coefficient once or twice. A strip may cost kPasses passes;
// beyond that a scan refines what is already there or repeats it, and only
// costs time.
class ScanBudget {
public:
    static constexpr int kPasses = 3;

    // Takes the frame header segment (`seg` points at its length, which was
    // checked); false for sampling factors the decoder refuses anyway.
    bool SetFrame(const std::uint8_t* seg, int components, bool progressive) {
        progressive_ = progressive;
        int weights = 0;
        for (int i = 0; i < components; ++i) {
            const std::uint8_t h = seg[9 + 3 * i] >> 4, v = seg[9 + 3 * i] & 0x0F;
            if (h < 1 || h > 4 || v < 1 || v > 4) return false;
            ids_[i] = seg[8 + 3 * i];
            weights_[i] = h * v;  // blocks per unit of image area
            weights += weights_[i];
        }
        components_ = components;
        left_ = long{kPasses} * 64 * weights;
        return true;
    }

    // Charges the scan header segment `seg` of `len` bytes; false when it is
    // malformed or the strip goes over its budget.
    bool Charge(const std::uint8_t* seg, std::size_t len) {
        if (len < 3) return false;
        const int count = seg[2];
        if (count < 1 || count > components_ || len != 6 + 2 * std::size_t(count)) return false;
        const int ss = seg[3 + 2 * count], se = seg[4 + 2 * count];
        if (progressive_ && (se < ss || se > 63)) return false;
        const long band = progressive_ ? se - ss + 1 : 64;
        for (int i = 0; i < count; ++i) {
            const std::uint8_t id = seg[3 + 2 * i];
            int c = 0;
            while (c < components_ && ids_[c] != id) ++c;
            if (c == components_) return false;
            left_ -= band * weights_[c];
        }
        return left_ >= 0;
    }

private:
    std::uint8_t ids_[3] = {};
    int weights_[3] = {};
    int components_ = 0;
    bool progressive_ = false;
    long left_ = 0;
};

// The end of the entropy-coded data that starts at `pos`: the first byte of
// the marker that follows it (or of the fill bytes before that marker), or
// the end of the data. A 0xFF in the data is followed by 0x00 (a stuffed
// 0xFF) or a restart marker; anything else is a marker that ends the scan.
std::size_t SkipEntropyCoded(Bytes jpeg, std::size_t pos) {
    const std::uint8_t* p = jpeg.data();
    const std::size_t size = jpeg.size();
    while (pos < size) {
        const void* ff = std::memchr(p + pos, 0xFF, size - pos);
        if (ff == nullptr) return size;
        const std::size_t at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(ff) - p);
        std::size_t next = at + 1;
        while (next < size && p[next] == 0xFF) ++next;
        if (next >= size) return size;
        if (p[next] != 0x00 && !IsRestart(p[next])) return at;
        pos = next + 1;
    }
    return size;
}

// FreeImage reads the strip through these four routines over a block of memory.

// Copies whole blocks only and returns how many it copied, as fread does, so
// the decoder is never told about bytes that are not there.
unsigned DLL_CALLCONV MemRead(void* buffer, unsigned size, unsigned count, fi_handle handle) {
    auto* src = static_cast<MemoryCursor*>(handle);
    if (size == 0) return 0;
    const auto left = static_cast<std::size_t>(src->end - src->current);
    const unsigned blocks = static_cast<unsigned>(std::min<std::size_t>(count, left / size));
    const std::size_t bytes = std::size_t{blocks} * size;
    if (bytes > 0) std::memcpy(buffer, src->current, bytes);
    src->current += bytes;
    return blocks;
}

unsigned DLL_CALLCONV MemWrite(void*, unsigned size, unsigned, fi_handle) {
    return size;
}

int DLL_CALLCONV MemSeek(fi_handle handle, long offset, int origin) {
    return SeekMemory(*static_cast<MemoryCursor*>(handle), offset, origin);
}

long DLL_CALLCONV MemTell(fi_handle handle) {
    auto* src = static_cast<MemoryCursor*>(handle);
    return static_cast<long>(src->current - src->start);
}

struct DibDeleter {
    void operator()(FIBITMAP* dib) const { FreeImage_Unload(dib); }
};
using DibPtr = std::unique_ptr<FIBITMAP, DibDeleter>;

DibPtr LoadJpeg(Bytes jpeg) {
    FreeImageIO io{MemRead, MemWrite, MemSeek, MemTell};
    MemoryCursor src{jpeg.data(), jpeg.data(), jpeg.data() + jpeg.size()};
    // Always as JPEG: FreeImage never guesses the format of network bytes.
    return DibPtr(FreeImage_LoadFromHandle(FIF_JPEG, &io, &src, JPEG_DEFAULT));
}

// Writes image line `line` (0 = top) of a decoded strip as 0x00RRGGBB.
void CopyLine(FIBITMAP* dib, unsigned bpp, int line, int height, std::uint32_t* dst, int width) {
    const BYTE* src = FreeImage_GetScanLine(dib, height - 1 - line);  // FreeImage is bottom-up
    if (bpp == 24) {
        for (int x = 0; x < width; ++x, src += 3) {
            dst[x] = (std::uint32_t{src[FI_RGBA_RED]} << 16) |
                     (std::uint32_t{src[FI_RGBA_GREEN]} << 8) | src[FI_RGBA_BLUE];
        }
    } else if (bpp == 8) {
        const RGBQUAD* pal = FreeImage_GetPalette(dib);
        for (int x = 0; x < width; ++x) {
            const RGBQUAD& c = pal[src[x]];
            dst[x] = (std::uint32_t{c.rgbRed} << 16) | (std::uint32_t{c.rgbGreen} << 8) | c.rgbBlue;
        }
    } else {  // 32
        for (int x = 0; x < width; ++x, src += 4) {
            dst[x] = (std::uint32_t{src[FI_RGBA_RED]} << 16) |
                     (std::uint32_t{src[FI_RGBA_GREEN]} << 8) | src[FI_RGBA_BLUE];
        }
    }
}

}  // namespace

int SeekMemory(MemoryCursor& cursor, long offset, int origin) {
    const std::ptrdiff_t size = cursor.end - cursor.start;
    std::ptrdiff_t base = 0;
    switch (origin) {
        case SEEK_SET:
            break;
        case SEEK_CUR:
            base = cursor.current - cursor.start;
            break;
        case SEEK_END:
            base = size;
            break;
        default:
            return -1;
    }
    // Compared without adding, so no offset can overflow.
    if (offset < -base || offset > size - base) return -1;
    cursor.current = cursor.start + base + offset;
    return 0;
}

std::optional<JpegFrameHeader> ParseJpegFrameHeader(Bytes jpeg, std::vector<std::uint8_t>* clean) {
    const std::size_t size = jpeg.size();
    const std::uint8_t* p = jpeg.data();
    if (size < 4 || p[0] != 0xFF || p[1] != kMarkerSoi) return std::nullopt;
    if (clean) {
        clean->assign(p, p + 2);  // SOI
        clean->reserve(size);
    }
    const auto keep = [clean, p](std::size_t from, std::size_t to) {
        if (clean) clean->insert(clean->end(), p + from, p + to);
    };
    std::optional<JpegFrameHeader> header;
    int scans = 0;
    ScanBudget budget;
    // Once a scan has begun, the strip may be cut short anywhere: what came
    // before the cut is decoded, a segment cut in half is left out.
    const auto cutShort = [&header, &scans]() {
        return scans > 0 ? header : std::optional<JpegFrameHeader>();
    };
    std::size_t pos = 2;
    for (;;) {
        if (pos >= size) return cutShort();
        if (p[pos] != 0xFF) return std::nullopt;
        const std::size_t markerStart = pos;
        while (pos < size && p[pos] == 0xFF) ++pos;  // fill bytes
        if (pos >= size) return cutShort();
        const std::uint8_t m = p[pos++];
        if (m == kMarkerEoi) {
            if (scans == 0) return std::nullopt;
            keep(markerStart, pos);  // anything after the image is left out
            return header;
        }
        if (m == kMarkerSoi || m == 0x00) return std::nullopt;
        if (IsStandalone(m)) {
            keep(markerStart, pos);
            continue;
        }
        if (pos + 2 > size) return cutShort();
        const std::size_t len = ReadBe16(p + pos);
        if (len < 2) return std::nullopt;
        if (pos + len > size) return cutShort();
        if (m == kMarkerSos) {
            if (!header || ++scans > kMaxJpegScans || !budget.Charge(p + pos, len)) {
                return std::nullopt;
            }
            const std::size_t dataStart = pos + len;
            keep(markerStart, dataStart);
            pos = SkipEntropyCoded(jpeg, dataStart);
            keep(dataStart, pos);
            continue;
        }
        if (IsOtherFrame(m)) return std::nullopt;
        if (IsSupportedFrame(m)) {
            if (header || len < 8) return std::nullopt;
            JpegFrameHeader h;
            h.precision = p[pos + 2];
            h.height = ReadBe16(p + pos + 3);
            h.width = ReadBe16(p + pos + 5);
            h.components = p[pos + 7];
            if (len != 8 + 3 * std::size_t(h.components)) return std::nullopt;
            if (h.precision != 8 || (h.components != 1 && h.components != 3)) return std::nullopt;
            if (!budget.SetFrame(p + pos, h.components, m == 0xC2)) return std::nullopt;
            header = h;
        }
        if (!IsMetadata(m) || (m == kMarkerApp0 && IsPlainJfif(p + pos, len))) {
            keep(markerStart, pos + len);
        }
        pos += len;
    }
}

StripDecode DecodeJpegStrip(Bytes payload, std::span<std::uint32_t> screen) {
    StripDecode out;
    if (payload.size() < 6) return out;
    out.top = ReadBe16(payload.data());
    out.frameValue = ReadBe32(payload.data() + 2);

    std::vector<std::uint8_t> clean;
    const auto header = ParseJpegFrameHeader(payload.subspan(6), &clean);
    if (!header) {
        out.result = StripResult::BadHeader;
        return out;
    }
    // Height 0 in the frame header defers the height to a later marker; we
    // need to know it before anything is decoded.
    if (header->width != kScreenWidth || header->height == 0 ||
        out.top + header->height > kScreenHeight || screen.size() < kScreenPixels) {
        out.result = StripResult::DoesNotFit;
        return out;
    }

    DibPtr dib = LoadJpeg(clean);
    if (!dib) {
        out.result = StripResult::DecodeFailed;
        return out;
    }
    unsigned bpp = FreeImage_GetBPP(dib.get());
    if (bpp != 8 && bpp != 24 && bpp != 32) {
        dib.reset(FreeImage_ConvertTo32Bits(dib.get()));
        if (!dib) {
            out.result = StripResult::DecodeFailed;
            return out;
        }
        bpp = 32;
    }
    const int w = static_cast<int>(FreeImage_GetWidth(dib.get()));
    const int h = static_cast<int>(FreeImage_GetHeight(dib.get()));
    if (w != kScreenWidth || h <= 0 || out.top + h > kScreenHeight ||
        (bpp == 8 && FreeImage_GetPalette(dib.get()) == nullptr)) {
        out.result = StripResult::DoesNotFit;
        return out;
    }
    out.width = w;
    out.height = h;
    for (int line = 0; line < h; ++line) {
        const int row = kScreenHeight - 1 - (out.top + line);
        CopyLine(dib.get(), bpp, line, h, screen.data() + std::size_t(row) * kScreenWidth, w);
    }
    out.result = StripResult::Decoded;
    return out;
}

}  // namespace velarix
