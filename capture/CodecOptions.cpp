#include "capture/CodecOptions.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <charconv>
#include <cmath>
#include <cstddef>
#include <memory>
#include <set>
#include <span>
#include <system_error>

#include "capture/CompressorState.h"

namespace velarix {
namespace {

constexpr std::string_view kAviSection = "AVI";

struct ContextDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
using ContextPtr = std::unique_ptr<AVCodecContext, ContextDeleter>;

const AVCodec* FindEncoder(std::string_view name) {
    const std::string terminated(name);
    return avcodec_find_encoder_by_name(terminated.c_str());
}

std::string Text(const char* text) {
    return text != nullptr ? std::string(text) : std::string();
}

bool IsNumericType(AVOptionType type) {
    return type == AV_OPT_TYPE_INT || type == AV_OPT_TYPE_INT64 || type == AV_OPT_TYPE_UINT64 ||
           type == AV_OPT_TYPE_FLAGS;
}

// Options a dialog can offer: numbers, flags, switches and plain text that an
// encoder reads when it opens. Sizes, rates, pixel formats, dictionaries and
// binary blobs have no sensible control, and the recorder fixes them anyway;
// deprecated and read-only options would only mislead.
bool IsDialogOption(const AVOption& option) {
    switch (option.type) {
        case AV_OPT_TYPE_FLAGS:
        case AV_OPT_TYPE_INT:
        case AV_OPT_TYPE_INT64:
        case AV_OPT_TYPE_UINT64:
        case AV_OPT_TYPE_DOUBLE:
        case AV_OPT_TYPE_FLOAT:
        case AV_OPT_TYPE_STRING:
        case AV_OPT_TYPE_BOOL:
            break;
        default:
            return false;
    }
    if ((option.flags & AV_OPT_FLAG_ENCODING_PARAM) == 0) return false;
    return (option.flags & (AV_OPT_FLAG_DEPRECATED | AV_OPT_FLAG_READONLY)) == 0;
}

std::vector<CodecOptionConstant> ConstantsOf(const AVClass* const* cls, const char* unit) {
    std::vector<CodecOptionConstant> constants;
    if (unit == nullptr) return constants;
    const AVOption* option = nullptr;
    while ((option = av_opt_next(cls, option)) != nullptr) {
        if (option->type != AV_OPT_TYPE_CONST || option->unit == nullptr) continue;
        if (std::string_view(option->unit) != unit) continue;
        constants.push_back({Text(option->name), Text(option->help), option->default_val.i64});
    }
    return constants;
}

std::vector<CodecOption> ListFromCodec(const AVCodec* codec) {
    std::vector<CodecOption> options;
    if (codec == nullptr || codec->priv_class == nullptr) return options;
    const AVClass* cls = codec->priv_class;
    // Several names for one field (an old spelling kept for scripts) would
    // give the dialog two controls fighting over one value: the first wins.
    std::set<int> offsets;
    const AVOption* option = nullptr;
    while ((option = av_opt_next(&cls, option)) != nullptr) {
        if (!IsDialogOption(*option) || !offsets.insert(option->offset).second) continue;
        CodecOption entry;
        entry.name = Text(option->name);
        entry.help = Text(option->help);
        entry.minimum = option->min;
        entry.maximum = option->max;
        if (IsNumericType(option->type)) {
            entry.constants = ConstantsOf(&cls, option->unit);
            const bool named = !entry.constants.empty();
            if (option->type == AV_OPT_TYPE_FLAGS && named) {
                entry.kind = CodecOptionKind::Flags;
            } else if (named) {
                entry.kind = CodecOptionKind::Choice;
            } else {
                entry.kind = CodecOptionKind::Integer;
            }
            entry.defaultNumber = static_cast<double>(option->default_val.i64);
        } else if (option->type == AV_OPT_TYPE_BOOL) {
            entry.kind = CodecOptionKind::Boolean;
            entry.defaultNumber = static_cast<double>(option->default_val.i64);
        } else if (option->type == AV_OPT_TYPE_STRING) {
            entry.kind = CodecOptionKind::String;
            entry.defaultText = Text(option->default_val.str);
        } else {
            entry.kind = CodecOptionKind::Float;
            entry.defaultNumber = option->default_val.dbl;
        }
        if (entry.kind != CodecOptionKind::String)
            entry.defaultText = FormatOptionNumber(entry, entry.defaultNumber);
        options.push_back(std::move(entry));
    }
    return options;
}

// A whole-text number, or nothing.
bool ParseNumber(std::string_view text, double& value) {
    if (text.empty()) return false;
    const char* first = text.data();
    const char* last = first + text.size();
    if (*first == '+') ++first;
    const auto [end, error] = std::from_chars(first, last, value);
    return error == std::errc() && end == last;
}

const CodecOptionConstant* FindConstant(const CodecOption& option, std::string_view name) {
    for (const auto& constant : option.constants)
        if (constant.name == name) return &constant;
    return nullptr;
}

void AppendEscaped(std::string& out, std::string_view text) {
    for (const char c : text) {
        if (c == '\\' || c == ':' || c == '=') out.push_back('\\');
        out.push_back(c);
    }
}

struct LiveSetting {
    std::string_view encoder;
    const char* option;
    const char* value;
};
constexpr LiveSetting kLiveSettings[] = {
    {"libx264", "tune", "zerolatency"},   {"libx264rgb", "tune", "zerolatency"},
    {"libvpx", "deadline", "realtime"},   {"libvpx", "cpu-used", "8"},
    {"libvpx", "lag-in-frames", "0"},     {"libvpx-vp9", "deadline", "realtime"},
    {"libvpx-vp9", "cpu-used", "8"},      {"libvpx-vp9", "lag-in-frames", "0"},
    {"libaom-av1", "usage", "realtime"},  {"libaom-av1", "cpu-used", "8"},
    {"libaom-av1", "lag-in-frames", "0"},
};

// Full-range first: an encoder that offers both (MJPEG) wants JPEG's range.
const AVPixelFormat kPlanar420[] = {AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUV420P};

// The full-range ("J") formats are the limited-range layouts with another
// range; libswscale wants the layout and the range apart.
AVPixelFormat RangeFreeLayout(AVPixelFormat format, bool& fullRange) {
    fullRange = true;
    switch (format) {
        case AV_PIX_FMT_YUVJ420P:
            return AV_PIX_FMT_YUV420P;
        case AV_PIX_FMT_YUVJ422P:
            return AV_PIX_FMT_YUV422P;
        case AV_PIX_FMT_YUVJ444P:
            return AV_PIX_FMT_YUV444P;
        case AV_PIX_FMT_YUVJ440P:
            return AV_PIX_FMT_YUV440P;
        case AV_PIX_FMT_YUVJ411P:
            return AV_PIX_FMT_YUV411P;
        default:
            fullRange = false;
            return format;
    }
}

// Formats the recorder can feed from 8-bit RGB without making up bits: no
// alpha, no more than 8 bits a component, no hardware surfaces, and one that
// libswscale writes.
bool IsFeedable(AVPixelFormat format) {
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format);
    if (descriptor == nullptr) return false;
    if ((descriptor->flags & (AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_ALPHA |
                              AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_PAL)) != 0)
        return false;
    for (int i = 0; i < descriptor->nb_components; ++i)
        if (descriptor->comp[i].depth > 8) return false;
    return sws_isSupportedOutput(format) > 0;
}

}  // namespace

std::vector<CodecOption> ListCodecOptions(const CodecInfo& info) {
    return ListEncoderOptions(info.name);
}

std::vector<CodecOption> ListEncoderOptions(std::string_view encoderName) {
    return ListFromCodec(FindEncoder(encoderName));
}

bool EncoderHasOptions(const AVCodec* codec) {
    return !ListFromCodec(codec).empty();
}

std::string FormatOptionNumber(const CodecOption& option, double value) {
    if (option.kind == CodecOptionKind::Float) {
        char buffer[32];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
        return std::string(buffer, result.ptr);
    }
    return std::to_string(std::llround(value));
}

double OptionNumber(const CodecOption& option, std::string_view text) {
    double value = 0;
    if (ParseNumber(text, value)) return value;
    if (option.kind == CodecOptionKind::Boolean) {
        if (text == "auto") return -1;
        if (text == "true" || text == "on" || text == "yes") return 1;
        if (text == "false" || text == "off" || text == "no") return 0;
    }
    if (option.kind == CodecOptionKind::Choice) {
        if (const auto* constant = FindConstant(option, text))
            return static_cast<double>(constant->value);
    }
    if (option.kind == CodecOptionKind::Flags) {
        // "a+b", as FFmpeg's own command line writes flags.
        std::int64_t bits = 0;
        std::size_t start = text.empty() || text[0] != '+' ? 0 : 1;
        while (start <= text.size()) {
            const std::size_t plus = text.find('+', start);
            const std::string_view name =
                text.substr(start, plus == std::string_view::npos ? text.npos : plus - start);
            const auto* constant = FindConstant(option, name);
            if (constant == nullptr) return option.defaultNumber;
            bits |= constant->value;
            if (plus == std::string_view::npos) break;
            start = plus + 1;
        }
        return static_cast<double>(bits);
    }
    return option.defaultNumber;
}

bool AcceptsOptionValue(std::string_view encoderName, std::string_view name,
                        std::string_view value) {
    const AVCodec* codec = FindEncoder(encoderName);
    if (codec == nullptr || codec->priv_class == nullptr) return false;
    const ContextPtr context(avcodec_alloc_context3(codec));
    if (context == nullptr || context->priv_data == nullptr) return false;
    const std::string key(name);
    const std::string text(value);
    return av_opt_set(context->priv_data, key.c_str(), text.c_str(), 0) >= 0;
}

std::string SerializeCodecState(const std::map<std::string, std::string>& options) {
    std::string text;
    for (const auto& [key, value] : options) {
        if (key.empty()) continue;
        if (!text.empty()) text.push_back(':');
        AppendEscaped(text, key);
        text.push_back('=');
        AppendEscaped(text, value);
    }
    return text;
}

std::map<std::string, std::string> ParseCodecState(std::string_view text) {
    std::map<std::string, std::string> options;
    std::string key;
    std::string value;
    bool inValue = false;
    const auto finish = [&] {
        if (inValue && !key.empty()) options[key] = value;
        key.clear();
        value.clear();
        inValue = false;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\\') {
            if (++i == text.size()) break;
            c = text[i];
        } else if (c == ':') {
            finish();
            continue;
        } else if (c == '=' && !inValue) {
            inValue = true;
            continue;
        }
        (inValue ? value : key).push_back(c);
    }
    finish();
    return options;
}

std::map<std::string, std::string> ReadCodecState(const SettingsStore& settings,
                                                  std::string_view label) {
    const std::vector<std::uint8_t> bytes = HexToBytes(settings.GetString(kAviSection, label, ""));
    return ParseCodecState(std::string(bytes.begin(), bytes.end()));
}

void WriteCodecState(const SettingsStore& settings, std::string_view label,
                     const std::map<std::string, std::string>& options) {
    const std::string text = SerializeCodecState(options);
    const std::vector<std::uint8_t> bytes(text.begin(), text.end());
    settings.WriteString(kAviSection, label, BytesToHex(bytes));
}

int ApplyCodecState(AVCodecContext* context, const std::map<std::string, std::string>& options) {
    if (context == nullptr || context->codec == nullptr || context->codec->priv_class == nullptr ||
        context->priv_data == nullptr)
        return 0;
    int taken = 0;
    for (const auto& [key, value] : options)
        if (av_opt_set(context->priv_data, key.c_str(), value.c_str(), 0) >= 0) ++taken;
    return taken;
}

int ChooseEncoderPixelFormat(const AVCodec* codec) {
    if (codec == nullptr) return AV_PIX_FMT_NONE;
    // Uncompressed frames go into the file as the 24-bit rows they are.
    if (codec->id == AV_CODEC_ID_RAWVIDEO) return AV_PIX_FMT_BGR24;
    if (codec->pix_fmts == nullptr) return AV_PIX_FMT_NONE;
    std::vector<AVPixelFormat> feedable;
    for (const AVPixelFormat* format = codec->pix_fmts; *format != AV_PIX_FMT_NONE; ++format)
        if (IsFeedable(*format)) feedable.push_back(*format);
    if (feedable.empty()) return AV_PIX_FMT_NONE;
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(codec->id);
    if (descriptor != nullptr && (descriptor->props & AV_CODEC_PROP_LOSSY) != 0) {
        for (const AVPixelFormat preferred : kPlanar420)
            for (const AVPixelFormat format : feedable)
                if (format == preferred) return format;
    }
    feedable.push_back(AV_PIX_FMT_NONE);
    return avcodec_find_best_pix_fmt_of_list(feedable.data(), AV_PIX_FMT_BGR24, 0, nullptr);
}

void PrepareEncoder(AVCodecContext* context, int width, int height, int fps, int pixelFormat) {
    context->width = width;
    context->height = height;
    context->time_base = AVRational{1, fps};
    context->framerate = AVRational{fps, 1};
    context->pix_fmt = static_cast<AVPixelFormat>(pixelFormat);
    // Every written frame stands alone: a group of one frame and no frames
    // predicted from later ones. The key-frame distance below which no new
    // key frame may come is 1; Microsoft Video 1 counts from 0 after a key
    // frame and so needs 0, while Cinepak and ZMBV read the same field as
    // their key-frame interval, where 0 would mean "never again".
    context->gop_size = 1;
    context->max_b_frames = 0;
    const std::string_view name = context->codec != nullptr ? context->codec->name : "";
    context->keyint_min = name == "msvideo1" ? 0 : 1;
    if (context->codec_id == AV_CODEC_ID_RAWVIDEO) context->bits_per_coded_sample = 24;
    // A live screen, not a film: encoders that would hold frames back to
    // look ahead, or that default to slow offline modes, get their real-time
    // settings. A saved state, applied later, may still change them.
    if (context->priv_data == nullptr || context->codec->priv_class == nullptr) return;
    for (const LiveSetting& setting : kLiveSettings)
        if (setting.encoder == name)
            av_opt_set(context->priv_data, setting.option, setting.value, 0);
}

SwsContext* CreateScreenScaler(int width, int height, int pixelFormat) {
    bool fullRange = false;
    const AVPixelFormat target =
        RangeFreeLayout(static_cast<AVPixelFormat>(pixelFormat), fullRange);
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(target);
    if (descriptor == nullptr) return nullptr;
    // Same size, so only the colour conversion and chroma subsampling
    // matter. Into RGB formats the plain path is exact; the default would ask
    // for full chroma interpolation, which some RGB outputs lack (and say so
    // in the log at every start).
    const bool rgb = (descriptor->flags & AV_PIX_FMT_FLAG_RGB) != 0;
    SwsContext* scaler =
        sws_getContext(width, height, AV_PIX_FMT_BGR24, width, height, target,
                       rgb ? SWS_FAST_BILINEAR : SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (scaler != nullptr && fullRange) {
        const int* coefficients = sws_getCoefficients(SWS_CS_DEFAULT);
        sws_setColorspaceDetails(scaler, coefficients, 1, coefficients, 1, 0, 1 << 16, 1 << 16);
    }
    return scaler;
}

}  // namespace velarix
