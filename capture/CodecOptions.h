// What a compressor can be told besides the frame format: the options of its
// own that the configure dialog offers, and the "compressor state" that keeps
// the user's choices between runs.
//
// The state is the text of the chosen option values, `key=value` pairs joined
// by ':' in key order; inside a key or a value the characters '\', ':' and '='
// are written with a backslash before them, so any value survives, the
// encoders' own option strings ("x264-params=keyint=1:bframes=0") included:
//   {preset: fast, x264-params: keyint=1:bframes=0}
//   -> preset=fast:x264-params=keyint\=1\:bframes\=0
// The settings keep that text's bytes as hex (BytesToHex) under the
// compressor's label in section "AVI"; a recording decodes it again
// (HexToBytes) and hands each pair to the encoder. Values are stored the way
// the encoder parses them: numbers for numeric options, named constants and
// flags included, and the text itself for string options.
//
// Besides the dialog's needs, this file holds how an encoder is set up for the
// phone screen (pixel format, size, rate, key frames), shared by the
// compressor table's trial and by the recorder so that what the table lists is
// exactly what a recording opens.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "capture/CodecTable.h"
#include "settings/SettingsStore.h"

struct AVCodec;
struct AVCodecContext;
struct SwsContext;

namespace velarix {

enum class CodecOptionKind {
    Integer,  // a number edit limited to minimum..maximum
    Float,    // the same, with a fractional part
    Boolean,  // a check box; minimum -1 means "automatic" is a third state
    Choice,   // a combo box of named constants
    Flags,    // one check box per named bit
    String,   // a line edit
};

// A named constant of a choice or a bit of a flags option.
struct CodecOptionConstant {
    std::string name;
    std::string help;
    std::int64_t value = 0;
};

struct CodecOption {
    std::string name;
    std::string help;
    CodecOptionKind kind = CodecOptionKind::String;
    double minimum = 0;
    double maximum = 0;
    double defaultNumber = 0;                    // numeric kinds; the bits of a flags option
    std::string defaultText;                     // the default as the state would store it
    std::vector<CodecOptionConstant> constants;  // Choice and Flags only
};

// The encoder's own options that make sense in a dialog, in the encoder's
// order; empty for an encoder without any (or unknown to this FFmpeg).
std::vector<CodecOption> ListCodecOptions(const CodecInfo& info);
std::vector<CodecOption> ListEncoderOptions(std::string_view encoderName);
// Whether ListEncoderOptions would offer anything: the "configurable" mark.
bool EncoderHasOptions(const AVCodec* codec);

// The text a numeric option's value is stored as ("12", "0.5", "-1").
std::string FormatOptionNumber(const CodecOption& option, double value);
// The number a stored value stands for: a number, a constant's name, or bits
// joined with '+' for flags; the option's default when the text is none of
// these.
double OptionNumber(const CodecOption& option, std::string_view text);
// Whether the encoder accepts `value` for its option `name`.
bool AcceptsOptionValue(std::string_view encoderName, std::string_view name,
                        std::string_view value);

std::string SerializeCodecState(const std::map<std::string, std::string>& options);
// Never fails: a pair without '=' or with an empty key is skipped, a trailing
// backslash is dropped, and the last of two equal keys wins.
std::map<std::string, std::string> ParseCodecState(std::string_view text);

// The state under `label` in section "AVI", decoded; empty when none is saved.
std::map<std::string, std::string> ReadCodecState(const SettingsStore& settings,
                                                  std::string_view label);
void WriteCodecState(const SettingsStore& settings, std::string_view label,
                     const std::map<std::string, std::string>& options);
// Hands every pair to the encoder's own options, before it is opened; pairs it
// refuses (an option this version lacks, a value out of range) are skipped,
// since the state comes from settings the user may have edited. Returns how
// many were taken.
int ApplyCodecState(AVCodecContext* context, const std::map<std::string, std::string>& options);

// The pixel format (an AVPixelFormat value) the encoder gets the screen in:
// 4:2:0 for lossy encoders that offer it, because that is what players
// expect; otherwise the format that keeps most of 24-bit RGB. -1 when the
// encoder takes nothing libswscale can produce from 8-bit RGB without
// inventing depth or alpha.
int ChooseEncoderPixelFormat(const AVCodec* codec);
// Size, rate, pixel format, the request for a key frame at every frame
// (one-frame groups, no B-frames) and real-time settings for encoders that
// would otherwise hold frames back, on a context not yet opened.
void PrepareEncoder(AVCodecContext* context, int width, int height, int fps, int pixelFormat);
// A converter from width × height 24-bit rows (blue, green, red) to the
// encoder's pixel format at the same size; null when libswscale has none.
// The caller frees it with sws_freeContext.
SwsContext* CreateScreenScaler(int width, int height, int pixelFormat);

}  // namespace velarix
