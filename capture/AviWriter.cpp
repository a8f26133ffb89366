#include "capture/AviWriter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <utility>

#include "capture/CodecOptions.h"
#include "capture/CodecTable.h"
#include "capture/CompressorState.h"
#include "capture/FfmpegHandles.h"
#include "capture/FileHandle.h"
#include "settings/SettingsKeys.h"

namespace velarix {
namespace {

constexpr std::string_view kAviSection = "AVI";
constexpr std::string_view kUntitled = "untitled.avi";
// Beyond this the AVI muxer no longer keeps one tick per time unit.
constexpr std::uint32_t kMaxFps = 1000;
// Encoders announce themselves at every start ("using cpu capabilities ...");
// that chatter is pushed below the default log level, warnings and errors
// still show.
constexpr int kRecordingLogOffset = 8;
// The size every listed compressor was tried at.
constexpr int kReferenceWidth = 208;
constexpr int kReferenceHeight = 320;

struct OutputDeleter {
    void operator()(AVFormatContext* output) const {
        if (output->pb != nullptr && (output->oformat->flags & AVFMT_NOFILE) == 0)
            avio_closep(&output->pb);
        avformat_free_context(output);
    }
};
using OutputPtr = std::unique_ptr<AVFormatContext, OutputDeleter>;

std::string_view OpenFileReason(std::int32_t code) {
    switch (code) {
        case kAviErrBadFormat:
            return " (BAD FORMAT)";
        case kAviErrMemory:
            return " (NO MEMORY)";
        case kAviErrFileRead:
            return " (READ ERROR)";
        case kAviErrFileOpen:
            return " (FILE OPEN ERROR)";
        case kRegdbClassNotReg:
            return " (CODEC ERROR)";
        default:
            return "";
    }
}

std::string_view CreateStreamReason(std::int32_t code) {
    return code == kAviErrReadOnly ? " (FILE READONLY)" : "";
}

std::string_view CompressedStreamReason(std::int32_t code) {
    switch (code) {
        case kAviErrUnsupported:
            return " (FORMAT NOT SUPPORTED)";
        case kAviErrMemory:
            return " (NO MEMORY)";
        case kAviErrNoCompressor:
            return " (NO CODEC FOUND)";
        default:
            return "";
    }
}

// A failed write into the file: out of memory, or the disk refused it.
std::int32_t WriteFailure(int error) {
    return error == AVERROR(ENOMEM) ? kAviErrMemory : kAviErrFileWrite;
}

struct QualityOption {
    std::string_view encoder;
    std::string_view option;
    double worst;
    double best;
};
constexpr std::array<QualityOption, 6> kQualityOptions = {{
    {"libx264", "crf", 51, 0},
    {"libx264rgb", "crf", 51, 0},
    {"libvpx", "", 63, 0},  // VP8 caps the rate in its quality mode: fix the quantiser
    {"libvpx-vp9", "crf", 63, 0},
    {"libaom-av1", "crf", 63, 0},
    {"librav1e", "qp", 255, 0},
}};

// Returns the quality each frame must carry: encoders in fixed-quality mode
// take the quantiser from the frame, the context's value only switches the
// mode on.
int ApplyQuality(AVCodecContext* context, const EncoderQuality& quality) {
    switch (quality.kind) {
        case EncoderQuality::Kind::Default:
            break;
        case EncoderQuality::Kind::FixedQuantizer:
            context->flags |= AV_CODEC_FLAG_QSCALE;
            context->global_quality = static_cast<int>(std::lround(quality.value * FF_QP2LAMBDA));
            return context->global_quality;
        case EncoderQuality::Kind::Quantizer:
            context->qmin = static_cast<int>(std::lround(quality.value));
            context->qmax = context->qmin;
            // The encoder's constant-quality level must lie within the limits.
            if (context->priv_data != nullptr)
                av_opt_set_int(context->priv_data, "crf", context->qmin, 0);
            break;
        case EncoderQuality::Kind::Option:
            if (context->priv_data != nullptr)
                av_opt_set_double(context->priv_data, quality.option.c_str(), quality.value, 0);
            break;
    }
    return 0;
}

// Opens `codec` at the size every listed compressor was tried at, with no
// saved state: whether the encoder works at all, apart from the format and
// options a recording asks of it.
bool OpensAtReferenceSize(const AVCodec* codec, int fps, int pixelFormat) {
    const ContextPtr context(avcodec_alloc_context3(codec));
    if (!context) return false;
    PrepareEncoder(context.get(), kReferenceWidth, kReferenceHeight, fps, pixelFormat);
    context->log_level_offset = 32;
    const bool opened = avcodec_open2(context.get(), codec, nullptr) >= 0;
    if (opened) {
        // Some encoders must see the end of the stream before they are freed.
        avcodec_send_frame(context.get(), nullptr);
        const PacketPtr packet(av_packet_alloc());
        while (packet && avcodec_receive_packet(context.get(), packet.get()) >= 0)
            av_packet_unref(packet.get());
    }
    return opened;
}

}  // namespace

BitmapInfoHeader MakeRecordFormat(int width, int height) {
    BitmapInfoHeader format;
    format.biWidth = width;
    format.biHeight = height;
    const auto stride = static_cast<std::uint32_t>((24 * width + 31) / 32 * 4);
    format.biSizeImage = stride * static_cast<std::uint32_t>(height);
    return format;
}

std::uint32_t CompressorQuality(const SettingsStore& settings) {
    if (Read(settings, setting::kAviQualityEnable) != 1) return kQualityDefault;
    const std::uint32_t quality = Read(settings, setting::kAviQuality) * 10000u / 100u;
    return std::min(quality, 10000u);
}

EncoderQuality MapQuality(std::string_view encoderName, std::uint32_t quality) {
    EncoderQuality result;
    if (quality == kQualityDefault) return result;
    const double share = static_cast<double>(std::min(quality, 10000u)) / 10000.0;
    for (const QualityOption& entry : kQualityOptions) {
        if (entry.encoder != encoderName) continue;
        result.kind =
            entry.option.empty() ? EncoderQuality::Kind::Quantizer : EncoderQuality::Kind::Option;
        result.option = entry.option;
        result.value = entry.worst + (entry.best - entry.worst) * share;
        return result;
    }
    const std::string name(encoderName);
    const AVCodec* codec = avcodec_find_encoder_by_name(name.c_str());
    const AVCodecDescriptor* descriptor =
        codec != nullptr ? avcodec_descriptor_get(codec->id) : nullptr;
    if (descriptor == nullptr || (descriptor->props & AV_CODEC_PROP_LOSSY) == 0) return result;
    result.kind = EncoderQuality::Kind::FixedQuantizer;
    // Theora reads the fixed global quality as its own 0..10 quality.
    result.value = encoderName == "libtheora" ? 10.0 * share : 31.0 - 30.0 * share;
    return result;
}

struct CAviWriter::Impl {
    SettingsStore settings;
    CodecTable* codecs = nullptr;

    std::string fileName{kUntitled};
    BitmapInfoHeader format{};
    std::string errorText;
    std::int32_t frameCount = 0;
    std::vector<std::uint8_t> codecState;

    // Held for as long as the file is being recorded: a second recording into
    // the same file is refused, and the repair of unfinished files leaves it
    // alone.
    FileHandle lock;
    // Asked to give up the repair of the previous recording in Open.
    std::stop_token openStop;
    OutputPtr output;
    AVStream* stream = nullptr;  // owned by `output`
    ContextPtr encoder;
    ScalerPtr scaler;
    FramePtr frame;
    PacketPtr packet;
    std::vector<std::uint8_t> rows;  // the 24-bit bottom-up frame, as the format describes it
    std::size_t stride = 0;
    bool passthrough = false;  // uncompressed: the rows are the packet
    int frameQuality = 0;      // the quality every frame carries, 0 for none
    bool headerWritten = false;
    std::int64_t nextPosition = 0;  // the first tick the file does not cover yet

    std::int32_t Open();
    std::int32_t FailOpenFile(std::int32_t code);
    std::int32_t FailStream(std::int32_t code);
    std::int32_t FailCompressedStream(std::int32_t code);
    std::int32_t OpenEncoder(const CodecInfo& info, int fps, std::uint32_t quality);
    std::int32_t WriteHeader();
    std::int32_t AddFrame(std::span<const std::uint32_t> pixels, std::int64_t position);
    std::int32_t WritePacket(AVPacket* data);
    std::int32_t WriteEmpty(std::int64_t position);
    std::int32_t Drain();
    void RepairPrevious();
    void Close();
};

void CAviWriter::Impl::RepairPrevious() {
    RepairLastRecording(settings, fileName, openStop);
}

std::int32_t CAviWriter::Impl::FailOpenFile(std::int32_t code) {
    errorText = "Failed to initialize AVI Engine";
    errorText += OpenFileReason(code);
    errorText += ".";
    return code;
}

std::int32_t CAviWriter::Impl::FailStream(std::int32_t code) {
    errorText = "Failed to create AVI Stream";
    errorText += CreateStreamReason(code);
    errorText += ".";
    Close();
    return code;
}

std::int32_t CAviWriter::Impl::FailCompressedStream(std::int32_t code) {
    errorText = "Failed to create compressed stream";
    errorText += CompressedStreamReason(code);
    errorText += ".";
    Close();
    return code;
}

std::int32_t CAviWriter::Impl::Open() {
    Close();
    errorText.clear();
    RepairPrevious();

    const AVOutputFormat* avi = av_guess_format("avi", nullptr, nullptr);
    if (avi == nullptr) return FailOpenFile(kRegdbClassNotReg);
    // Create the file, and refuse one that another recording is writing.
    FileOpenError error = FileOpenError::None;
    // The lock is on the file FFmpeg then opens by the same name.
    lock = FileHandle::Open(fileName, FileAccess::CreateReadWrite, error, FileKind::Any);
    if (error != FileOpenError::None || lock.TryLock() != FileLockResult::Locked) {
        lock.Close();
        return FailOpenFile(kAviErrFileOpen);
    }
    AVFormatContext* created = nullptr;
    if (avformat_alloc_output_context2(&created, avi, nullptr, nullptr) < 0 || created == nullptr)
        return FailOpenFile(kAviErrMemory);
    output.reset(created);
    // The "file:" prefix keeps a name with a colon from being read as a protocol.
    const std::string url = "file:" + fileName;
    const int opened = avio_open(&output->pb, url.c_str(), AVIO_FLAG_WRITE);
    if (opened < 0)
        return FailOpenFile(opened == AVERROR(ENOMEM) ? kAviErrMemory : kAviErrFileOpen);

    const std::uint32_t fps = Read(settings, setting::kAviFps);
    if (fps == 0 || fps > kMaxFps) return FailStream(kAviErrBadParam);
    stream = avformat_new_stream(output.get(), nullptr);
    if (stream == nullptr) return FailStream(kAviErrMemory);
    stream->time_base = AVRational{1, static_cast<int>(fps)};

    const std::string label = settings.GetString(kAviSection, "Codec", "");
    const CodecInfo* info = codecs != nullptr ? codecs->LookupCodec(label) : nullptr;
    // No compressor at all (none installed, or the list still being made
    // after the wait): there is nothing to compress with.
    if (info == nullptr) return FailCompressedStream(kAviErrNoCompressor);
    const std::uint32_t quality = CompressorQuality(settings);
    codecState = HexToBytes(settings.GetString(kAviSection, label, ""));
    const std::int32_t compressed = OpenEncoder(*info, static_cast<int>(fps), quality);
    if (compressed != 0) return FailCompressedStream(compressed);

    const std::int32_t header = WriteHeader();
    if (header != 0) {
        errorText = "Failed to set format for compressed stream!";
        Close();
        return header;
    }
    frameCount = 0;
    nextPosition = 0;
    return 0;
}

std::int32_t CAviWriter::Impl::OpenEncoder(const CodecInfo& info, int fps, std::uint32_t quality) {
    const AVCodec* codec = avcodec_find_encoder_by_name(info.name.c_str());
    if (codec == nullptr) return kAviErrNoCompressor;
    const int pixelFormat = ChooseEncoderPixelFormat(codec);
    if (pixelFormat < 0) return kAviErrNoCompressor;
    // The compressor takes 24-bit rows, bottom-up, of a positive size.
    const int width = format.biWidth;
    const int height = format.biHeight;
    if (format.biBitCount != 24 || format.biCompression != 0 || format.biPlanes != 1 ||
        width <= 0 || height <= 0 || width > 16384 || height > 16384)
        return kAviErrUnsupported;
    stride = static_cast<std::size_t>((24 * width + 31) / 32 * 4);
    if (format.biSizeImage != 0 && format.biSizeImage < stride * static_cast<std::size_t>(height))
        return kAviErrUnsupported;
    if (avformat_query_codec(output->oformat, codec->id, FF_COMPLIANCE_NORMAL) != 1)
        return kAviErrUnsupported;

    encoder.reset(avcodec_alloc_context3(codec));
    frame.reset(av_frame_alloc());
    packet.reset(av_packet_alloc());
    if (!encoder || !frame || !packet) return kAviErrMemory;
    PrepareEncoder(encoder.get(), width, height, fps, pixelFormat);
    passthrough = codec->id == AV_CODEC_ID_RAWVIDEO;
    encoder->codec_tag = passthrough ? 0 : info.fccHandler;
    encoder->log_level_offset = kRecordingLogOffset;
    // The saved state first, then the quality: a quality switched on in the
    // video page is the user's latest word.
    ApplyCodecState(encoder.get(),
                    ParseCodecState(std::string(codecState.begin(), codecState.end())));
    frameQuality = ApplyQuality(encoder.get(), MapQuality(codec->name, quality));
    const int opened = avcodec_open2(encoder.get(), codec, nullptr);
    if (opened < 0) {
        encoder.reset();
        if (opened == AVERROR(ENOMEM)) return kAviErrMemory;
        // Encoders report a refused size or setting with assorted codes; what
        // tells the two cases apart is whether the encoder opens for the
        // screen it was listed for.
        return OpensAtReferenceSize(codec, fps, pixelFormat) ? kAviErrUnsupported
                                                             : kAviErrNoCompressor;
    }

    scaler.reset(CreateScreenScaler(width, height, pixelFormat));
    if (!scaler) return kAviErrUnsupported;
    frame->format = pixelFormat;
    frame->width = width;
    frame->height = height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) return kAviErrMemory;
    rows.assign(stride * static_cast<std::size_t>(height), 0);
    if (avcodec_parameters_from_context(stream->codecpar, encoder.get()) < 0) return kAviErrMemory;
    stream->codecpar->codec_tag = encoder->codec_tag;
    return 0;
}

std::int32_t CAviWriter::Impl::WriteHeader() {
    AVDictionary* options = nullptr;
    // Uncompressed frames keep the bottom-up rows of the format, as the
    // header's positive height says.
    if (passthrough) av_dict_set(&options, "flipped_raw_rgb", "1", 0);
    // Every packet goes to the disk at once, so that a recording cut off by
    // a crash keeps all frames written before it.
    output->flags |= AVFMT_FLAG_FLUSH_PACKETS;
    const int written = avformat_write_header(output.get(), &options);
    av_dict_free(&options);
    if (written < 0) return output->pb->error < 0 ? WriteFailure(written) : kAviErrBadFormat;
    avio_flush(output->pb);
    if (output->pb->error < 0) return WriteFailure(output->pb->error);
    headerWritten = true;
    return 0;
}

std::int32_t CAviWriter::Impl::WriteEmpty(std::int64_t position) {
    AVPacket* empty = av_packet_alloc();
    if (empty == nullptr) return kAviErrMemory;
    empty->pts = position;
    empty->dts = position;
    empty->duration = 1;
    empty->stream_index = stream->index;
    av_packet_rescale_ts(empty, encoder->time_base, stream->time_base);
    const int written = av_write_frame(output.get(), empty);
    av_packet_free(&empty);
    if (written < 0) return WriteFailure(written);
    return 0;
}

// Writes one compressed frame at its tick. Ticks skipped since the last
// frame become empty chunks first: a player repeats the previous frame there,
// and every tick keeps its own place in the timeline.
std::int32_t CAviWriter::Impl::WritePacket(AVPacket* data) {
    std::int64_t position = data->pts == AV_NOPTS_VALUE ? nextPosition : data->pts;
    position = std::max(position, nextPosition);
    for (; nextPosition < position; ++nextPosition) {
        const std::int32_t gap = WriteEmpty(nextPosition);
        if (gap != 0) {
            av_packet_unref(data);
            return gap;
        }
    }
    data->pts = position;
    data->dts = position;
    data->duration = 1;
    data->stream_index = stream->index;
    av_packet_rescale_ts(data, encoder->time_base, stream->time_base);
    const int written = av_write_frame(output.get(), data);
    av_packet_unref(data);
    nextPosition = position + 1;
    if (written < 0) return WriteFailure(written);
    avio_flush(output->pb);
    if (output->pb->error < 0) return WriteFailure(output->pb->error);
    return 0;
}

std::int32_t CAviWriter::Impl::Drain() {
    for (;;) {
        const int received = avcodec_receive_packet(encoder.get(), packet.get());
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) return 0;
        if (received < 0) return received == AVERROR(ENOMEM) ? kAviErrMemory : kAviErrCompressor;
        const std::int32_t written = WritePacket(packet.get());
        if (written != 0) return written;
    }
}

std::int32_t CAviWriter::Impl::AddFrame(std::span<const std::uint32_t> pixels,
                                        std::int64_t position) {
    if (!headerWritten) return kAviErrBadHandle;
    const auto width = static_cast<std::size_t>(format.biWidth);
    const auto height = static_cast<std::size_t>(format.biHeight);
    if (pixels.size() < width * height) return kAviErrBadSize;

    // Blue, green and red of every pixel, in buffer order: bottom row first.
    for (std::size_t y = 0; y < height; ++y) {
        const std::uint32_t* source = pixels.data() + y * width;
        std::uint8_t* target = rows.data() + y * stride;
        for (std::size_t x = 0; x < width; ++x) {
            const std::uint32_t pixel = source[x];
            target[3 * x] = static_cast<std::uint8_t>(pixel);
            target[3 * x + 1] = static_cast<std::uint8_t>(pixel >> 8);
            target[3 * x + 2] = static_cast<std::uint8_t>(pixel >> 16);
        }
    }

    if (passthrough) {
        if (av_new_packet(packet.get(), static_cast<int>(rows.size())) < 0) return kAviErrMemory;
        std::memcpy(packet->data, rows.data(), rows.size());
        packet->pts = position;
        packet->flags |= AV_PKT_FLAG_KEY;
        return WritePacket(packet.get());
    }

    if (av_frame_make_writable(frame.get()) < 0) return kAviErrMemory;
    // Reading the rows from the last to the first turns the bottom-up
    // picture upright, as encoders expect it.
    const std::uint8_t* source[1] = {rows.data() + (height - 1) * stride};
    const int sourceStride[1] = {-static_cast<int>(stride)};
    sws_scale(scaler.get(), source, sourceStride, 0, static_cast<int>(height), frame->data,
              frame->linesize);
    frame->pts = position;
    frame->quality = frameQuality;
    // Ask for a key frame every time; the packet says what the encoder made.
    frame->pict_type = AV_PICTURE_TYPE_I;
    const int sent = avcodec_send_frame(encoder.get(), frame.get());
    if (sent < 0) return sent == AVERROR(ENOMEM) ? kAviErrMemory : kAviErrCompressor;
    return Drain();
}

void CAviWriter::Impl::Close() {
    if (encoder) {
        // Frames an encoder still holds go into the file; an encoder that has
        // not seen the end of the stream may also refuse to be freed.
        if (avcodec_send_frame(encoder.get(), nullptr) >= 0) {
            if (headerWritten) {
                Drain();
            } else {
                while (avcodec_receive_packet(encoder.get(), packet.get()) >= 0)
                    av_packet_unref(packet.get());
            }
        }
    }
    if (headerWritten) {
        // Ticks after the last frame belong to the recording too.
        for (; nextPosition < frameCount; ++nextPosition)
            if (WriteEmpty(nextPosition) != 0) break;
        av_write_trailer(output.get());
    }
    headerWritten = false;
    scaler.reset();
    frame.reset();
    packet.reset();
    encoder.reset();
    stream = nullptr;
    output.reset();
    lock.Close();
}

CAviWriter::CAviWriter(SettingsStore settings)
    : CAviWriter(std::move(settings), CodecTable::Instance()) {}

CAviWriter::CAviWriter(SettingsStore settings, CodecTable& codecs) : impl_(new Impl) {
    impl_->settings = std::move(settings);
    impl_->codecs = &codecs;
    impl_->format = BitmapInfoHeader{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
}

CAviWriter::~CAviWriter() {
    impl_->Close();
}

void CAviWriter::SetFormat(const BitmapInfoHeader& format) {
    impl_->format = format;
}

void CAviWriter::SetFileName(std::string path) {
    impl_->fileName = std::move(path);
}

void CAviWriter::SetOpenStop(std::stop_token stop) {
    impl_->openStop = std::move(stop);
}

const std::string& CAviWriter::FileName() const {
    return impl_->fileName;
}

void CAviWriter::EnsureAviExtension() {
    // Byte search: in UTF-8 the bytes of "avi" never occur inside another
    // character, so this is the multibyte-aware search as well.
    if (impl_->fileName.find("avi") == std::string::npos) impl_->fileName += ".avi";
}

std::int32_t CAviWriter::Open() {
    return impl_->Open();
}

std::int32_t CAviWriter::AddFrame(std::span<const std::uint32_t> pixels) {
    const std::int32_t result = impl_->AddFrame(pixels, impl_->frameCount);
    ++impl_->frameCount;
    return result;
}

void CAviWriter::SkipFrame() {
    ++impl_->frameCount;
}

void CAviWriter::Close() {
    impl_->Close();
}

const std::string& CAviWriter::ErrorText() const {
    return impl_->errorText;
}

std::int32_t CAviWriter::FrameCount() const {
    return impl_->frameCount;
}

const std::vector<std::uint8_t>& CAviWriter::CodecState() const {
    return impl_->codecState;
}

}  // namespace velarix
