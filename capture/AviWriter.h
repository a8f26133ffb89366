// Writes the phone screen into an AVI file through FFmpeg: the AVI muxer of
// libavformat, an encoder from the compressor table, and libswscale to bring
// the 24-bit bottom-up frames into the encoder's pixel format.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "settings/SettingsStore.h"

namespace velarix {

class CodecTable;

// The 40-byte frame format of a recording, as a BITMAPINFOHEADER.
struct BitmapInfoHeader {
    std::uint32_t biSize = 40;
    std::int32_t biWidth = 0;
    std::int32_t biHeight = 0;  // positive: rows bottom-up
    std::uint16_t biPlanes = 1;
    std::uint16_t biBitCount = 24;
    std::uint32_t biCompression = 0;  // BI_RGB
    std::uint32_t biSizeImage = 0;    // stride × height
    std::int32_t biXPelsPerMeter = 0;
    std::int32_t biYPelsPerMeter = 0;
    std::uint32_t biClrUsed = 0;
    std::uint32_t biClrImportant = 0;
};

// The format of a recording of a width × height screen: 24-bit, bottom-up,
// rows padded to a multiple of 4 bytes.
BitmapInfoHeader MakeRecordFormat(int width, int height);

// Error texts of a failed start.
inline constexpr std::string_view kAviErrorCaption = "AVI Error";
inline constexpr std::string_view kAviFrameFailed = "Failed to add another frame";

class CAviWriter {
public:
    explicit CAviWriter(SettingsStore settings);
    CAviWriter(SettingsStore settings, CodecTable& codecs);
    ~CAviWriter();
    CAviWriter(const CAviWriter&) = delete;
    CAviWriter& operator=(const CAviWriter&) = delete;

    void SetFormat(const BitmapInfoHeader& format);
    void SetFileName(std::string path);
    const std::string& FileName() const;
    // Appends ".avi" unless the name contains "avi" anywhere (case-sensitive).
    void EnsureAviExtension();

    // 0 on success; otherwise ErrorText() says why.
    std::int32_t Open();
    // Writes the screen (width × height pixels 0x00RRGGBB, bottom-up) as the
    // next frame; the position advances whether or not the write succeeds.
    // 0 on success.
    std::int32_t AddFrame(std::span<const std::uint32_t> pixels);
    // The position advances; nothing is written.
    void SkipFrame();
    // Finishes the file (index and header) and releases everything; safe to
    // call more than once.
    void Close();

    const std::string& ErrorText() const;
    std::int32_t FrameCount() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace velarix
