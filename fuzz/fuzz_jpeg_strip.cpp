// JPEG strips: the input is a strip message's payload (top line, frame value,
// JPEG). The header check must agree with itself on the cleaned copy it makes,
// a strip that is not decoded must leave every pixel alone, and a decoded one
// may change only the lines it claims.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "FuzzChecks.h"
#include "link/JpegStrip.h"

namespace {

using namespace velarix;
using namespace velarix::fuzz;

bool SameHeader(const std::optional<JpegFrameHeader>& a, const std::optional<JpegFrameHeader>& b) {
    if (a.has_value() != b.has_value()) return false;
    if (!a) return true;
    return a->precision == b->precision && a->height == b->height && a->width == b->width &&
           a->components == b->components;
}

// Returns the frame header, after checking that the copy without metadata
// describes the same image and has nothing left to remove.
std::optional<JpegFrameHeader> CheckHeader(Bytes jpeg) {
    const auto plain = ParseJpegFrameHeader(jpeg);
    std::vector<std::uint8_t> clean;
    const auto withClean = ParseJpegFrameHeader(jpeg, &clean);
    FUZZ_CHECK(SameHeader(plain, withClean));
    if (!plain) return plain;

    FUZZ_CHECK(plain->precision == 8);
    FUZZ_CHECK(plain->components == 1 || plain->components == 3);
    FUZZ_CHECK(clean.size() <= jpeg.size());
    std::vector<std::uint8_t> cleanAgain;
    FUZZ_CHECK(SameHeader(ParseJpegFrameHeader(clean, &cleanAgain), plain));
    FUZZ_CHECK(cleanAgain == clean);
    return plain;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Bytes payload(data, size);
    // The whole input as a JPEG too, so the header check also sees inputs
    // that start right at the SOI marker.
    CheckHeader(payload);
    const auto header = size >= 6 ? CheckHeader(payload.subspan(6)) : std::nullopt;

    // Screens are large: allocated once, and white between inputs; only the
    // lines a strip may have written are checked and whitened again.
    static std::vector<std::uint32_t> screen(kScreenPixels, kWhite);
    static std::vector<std::uint32_t> shortScreen(kScreenPixels - 1, kWhite);
    static const std::vector<std::uint32_t> white(kScreenPixels, kWhite);
    const StripDecode d = DecodeJpegStrip(payload, screen);

    if (size < 6) {
        FUZZ_CHECK(d.result == StripResult::TooShort && !d.frameValue);
    } else {
        FUZZ_CHECK(d.top == ReadBe16(data));
        FUZZ_CHECK(d.frameValue == ReadBe32(data + 2));
        if (!header) {
            FUZZ_CHECK(d.result == StripResult::BadHeader);
        } else if (header->width != kScreenWidth || header->height == 0 ||
                   d.top + header->height > kScreenHeight) {
            FUZZ_CHECK(d.result == StripResult::DoesNotFit);
        } else {
            FUZZ_CHECK(d.result != StripResult::TooShort && d.result != StripResult::BadHeader);
        }
    }

    if (d.result != StripResult::Decoded) {
        FUZZ_CHECK(screen == white);
    } else {
        FUZZ_CHECK(d.width == kScreenWidth && header && d.height == header->height);
        FUZZ_CHECK(d.height > 0 && d.top >= 0 && d.top + d.height <= kScreenHeight);
        // Rows are bottom-up: the strip's lines are rows [first, end).
        const std::size_t first = std::size_t(kScreenHeight - d.top - d.height) * kScreenWidth;
        const std::size_t end = std::size_t(kScreenHeight - d.top) * kScreenWidth;
        FUZZ_CHECK(
            std::equal(screen.begin(), screen.begin() + std::ptrdiff_t(first), white.begin()));
        FUZZ_CHECK(std::equal(screen.begin() + std::ptrdiff_t(end), screen.end(), white.begin()));
        const std::span<std::uint32_t> band(screen.data() + first, end - first);
        CheckPixels(band);
        std::memset(band.data(), 0xFF, band.size_bytes());  // white again
    }

    // A screen one pixel short is never written.
    const StripDecode s = DecodeJpegStrip(payload, shortScreen);
    FUZZ_CHECK(s.result != StripResult::Decoded);
    FUZZ_CHECK(std::equal(shortScreen.begin(), shortScreen.end(), white.begin()));
    return 0;
}
