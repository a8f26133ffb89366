// Writes the phone screen into an AVI file through FFmpeg: the AVI muxer of
// libavformat, an encoder from the compressor table, and libswscale to bring
// the 24-bit bottom-up frames into the encoder's pixel format.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "capture/AviRepair.h"
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

// Result codes, by the numbers of the Windows AVI library (AVIERR_UNSUPPORTED
// and so on), so that a code reads the same on every platform.
inline constexpr std::int32_t kAviErrUnsupported = static_cast<std::int32_t>(0x80044065u);
inline constexpr std::int32_t kAviErrBadFormat = static_cast<std::int32_t>(0x80044066u);
inline constexpr std::int32_t kAviErrMemory = static_cast<std::int32_t>(0x80044067u);
inline constexpr std::int32_t kAviErrBadParam = static_cast<std::int32_t>(0x8004406Au);
inline constexpr std::int32_t kAviErrBadSize = static_cast<std::int32_t>(0x8004406Bu);
inline constexpr std::int32_t kAviErrBadHandle = static_cast<std::int32_t>(0x8004406Cu);
inline constexpr std::int32_t kAviErrFileRead = static_cast<std::int32_t>(0x8004406Du);
inline constexpr std::int32_t kAviErrFileWrite = static_cast<std::int32_t>(0x8004406Eu);
inline constexpr std::int32_t kAviErrFileOpen = static_cast<std::int32_t>(0x8004406Fu);
inline constexpr std::int32_t kAviErrCompressor = static_cast<std::int32_t>(0x80044070u);
inline constexpr std::int32_t kAviErrNoCompressor = static_cast<std::int32_t>(0x80044071u);
inline constexpr std::int32_t kAviErrReadOnly = static_cast<std::int32_t>(0x80044072u);
inline constexpr std::int32_t kRegdbClassNotReg = static_cast<std::int32_t>(0x80040154u);

// The compressor's quality when none is asked for (ICQUALITY_DEFAULT).
inline constexpr std::uint32_t kQualityDefault = 0xFFFFFFFFu;

// The quality handed to the compressor, 0..10000: "Quality" × 10000 / 100 in
// unsigned 32-bit arithmetic and at most 10000 when "QualityEnable" is 1,
// otherwise kQualityDefault.
std::uint32_t CompressorQuality(const SettingsStore& settings);

// How a quality of 0..10000 reaches an FFmpeg encoder, which has no common
// scale. The quality is spread linearly over the encoder's own range, best
// quality at 10000:
//  - libx264/libx264rgb: private option "crf" from 51 down to 0;
//    libvpx-vp9 and libaom-av1: "crf" 63..0; librav1e: "qp" 255..0;
//  - libvpx (VP8), whose quality mode is capped by a bit rate: the quantiser
//    itself, 63..0, as the lower and upper quantiser limit (and its "crf");
//  - libtheora: its quality 0..10 through the fixed-quality mode;
//  - every other lossy encoder: FFmpeg's fixed quantiser scale (qscale) from
//    31 down to 1, set as a fixed global quality; the MPEG family, MJPEG,
//    Windows Media, FLV, Xvid and Snow read it, the rest ignore it;
//  - lossless encoders: nothing to set.
// kQualityDefault leaves the encoder's own default alone.
struct EncoderQuality {
    enum class Kind {
        Default,         // leave the encoder as it is
        FixedQuantizer,  // global quality = value × FF_QP2LAMBDA, fixed-quality mode
        Quantizer,       // quantiser limits qmin = qmax = value
        Option,          // the private option `option` = value
    };
    Kind kind = Kind::Default;
    std::string option;
    double value = 0;
};
EncoderQuality MapQuality(std::string_view encoderName, std::uint32_t quality);

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
    // Open first mends the previous recording ("Last") when a crash left it
    // unfinished; a stop asked for on `stop` (from any thread) cuts that
    // short, leaving the file as it was, and the open goes on.
    void SetOpenStop(std::stop_token stop);

    // 0 on success; otherwise ErrorText() says why, and the code says what
    // failed:
    //  - "Failed to initialize AVI Engine (FILE OPEN ERROR).", kAviErrFileOpen:
    //    the file cannot be created (no such folder, a folder's name, no
    //    permission) or another recording is writing it; " (NO MEMORY)";
    //    " (CODEC ERROR)" when FFmpeg has no AVI muxer;
    //  - "Failed to create AVI Stream.", kAviErrBadParam: "FPS" is 0 or above
    //    1000;
    //  - "Failed to create compressed stream (NO CODEC FOUND).",
    //    kAviErrNoCompressor: no compressor record at all (none listed, or the
    //    list still being made after the wait), or the encoder is missing or
    //    does not open even for the screen it was listed for;
    //  - "Failed to create compressed stream (FORMAT NOT SUPPORTED).",
    //    kAviErrUnsupported: the format is not 24-bit bottom-up RGB, or the
    //    encoder refuses its size or the saved options;
    //  - "Failed to set format for compressed stream!": the file header cannot
    //    be written (kAviErrFileWrite, a full disk) or the muxer refuses the
    //    stream (kAviErrBadFormat).
    std::int32_t Open();
    // Writes the screen (width × height pixels 0x00RRGGBB, bottom-up) as the
    // next frame; the position advances whether or not the write succeeds.
    // 0 on success; kAviErrFileWrite when the disk refuses the data,
    // kAviErrCompressor when the encoder fails, kAviErrBadSize for a short
    // screen, kAviErrBadHandle when no file is open.
    std::int32_t AddFrame(std::span<const std::uint32_t> pixels);
    // The position advances; nothing is written.
    void SkipFrame();
    // Finishes the file (index and header) and releases everything; safe to
    // call more than once.
    void Close();

    const std::string& ErrorText() const;
    std::int32_t FrameCount() const;
    // The saved compressor state of the last Open, decoded from its hex text;
    // empty when none is saved.
    const std::vector<std::uint8_t>& CodecState() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace velarix
