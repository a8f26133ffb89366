#include "capture/CodecTable.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <memory>
#include <system_error>
#include <vector>

#include "capture/CodecOptions.h"
#include "capture/CompressorState.h"
#include "capture/FfmpegHandles.h"
#include "capture/ThreadPriority.h"

namespace velarix {
namespace {

// The screen every listed compressor must take.
constexpr int kProbeWidth = 208;
constexpr int kProbeHeight = 320;
constexpr int kProbeFps = 5;

// Compressors that common players decode, in the order a user would try them.
// Microsoft Video 1 leads because the video page's hint names it; the rest of
// FFmpeg's encoders follow in FFmpeg's own order, so that the 32 places go to
// the useful ones first.
constexpr std::array<std::string_view, 29> kPreferred = {
    "msvideo1",  "mjpeg",    "mpeg4",      "libxvid",    "libx264",   "msmpeg4",
    "msmpeg4v2", "wmv2",     "wmv1",       "cinepak",    "huffyuv",   "ffvhuff",
    "utvideo",   "magicyuv", "ffv1",       "zlib",       "zmbv",      "png",
    "rawvideo",  "libvpx",   "libvpx-vp9", "libtheora",  "flashsv",   "mpeg2video",
    "flv",       "h263p",    "snow",       "libaom-av1", "libx264rgb"};

// Log lines of encoders that refuse the trial size or find no hardware would
// fill the terminal at every enumeration; a refusal is simply not listed.
constexpr int kQuietLogOffset = 32;

struct Candidate {
    const AVCodec* codec = nullptr;
    int walkIndex = 0;
};

int PreferenceRank(std::string_view name) {
    const auto found = std::find(kPreferred.begin(), kPreferred.end(), name);
    return static_cast<int>(found - kPreferred.begin());
}

// Every video encoder FFmpeg has, except those that need hardware or are
// marked experimental (their files are not meant to be kept), in list order.
std::vector<Candidate> WalkEncoders(const CodecTable::EncoderFilter& filter) {
    std::vector<Candidate> candidates;
    void* state = nullptr;
    int walkIndex = 0;
    const AVCodec* codec = nullptr;
    while ((codec = av_codec_iterate(&state)) != nullptr) {
        if (codec->type != AVMEDIA_TYPE_VIDEO || av_codec_is_encoder(codec) == 0) continue;
        const int index = walkIndex++;
        constexpr int kSkipped =
            AV_CODEC_CAP_HARDWARE | AV_CODEC_CAP_HYBRID | AV_CODEC_CAP_EXPERIMENTAL;
        if ((codec->capabilities & kSkipped) != 0) continue;
        if (filter && !filter(codec->name)) continue;
        candidates.push_back({codec, index});
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) {
                         return PreferenceRank(a.codec->name) < PreferenceRank(b.codec->name);
                     });
    return candidates;
}

char FlipCase(char c) {
    if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
    if (c >= 'A' && c <= 'Z') return static_cast<char>(c - 'A' + 'a');
    return c;
}

std::uint32_t MapTag(std::uint32_t tag, bool upper) {
    std::uint32_t mapped = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        auto c = static_cast<char>((tag >> shift) & 0xFF);
        const bool isUpper = c >= 'A' && c <= 'Z';
        const bool isLower = c >= 'a' && c <= 'z';
        if ((upper && isLower) || (!upper && isUpper)) c = FlipCase(c);
        mapped |= static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << shift;
    }
    return mapped;
}

// The AVI tag the entry writes. Two encoders of one format (libx264 and
// libx264rgb) would share a tag and so a label, and the second could never be
// chosen; the muxer and every reader compare tags without regard to case, so
// the second takes the tag in the other case. An encoder that finds no free
// spelling is left out. 0 (uncompressed rows) stays 0.
bool ChooseTag(const AVOutputFormat* avi, AVCodecID id, const std::vector<std::uint32_t>& used,
               std::uint32_t& tag) {
    unsigned int primary = 0;
    if (av_codec_get_tag2(avi->codec_tag, id, &primary) == 0) return false;
    for (const std::uint32_t spelling : {primary, MapTag(primary, false), MapTag(primary, true)}) {
        if (std::find(used.begin(), used.end(), spelling) != used.end()) continue;
        if (spelling != primary && av_codec_get_id(avi->codec_tag, spelling) != id) continue;
        tag = spelling;
        return true;
    }
    return false;
}

// Opens the encoder as a recording would, feeds it one screen converted from
// 24-bit RGB and drains it. Draining also matters for encoders that must see
// the end of the stream before they are freed.
bool TryEncoder(const AVCodec* codec) {
    const int format = ChooseEncoderPixelFormat(codec);
    if (format < 0 || avcodec_find_decoder(codec->id) == nullptr) return false;
    const ScalerPtr scaler(CreateScreenScaler(kProbeWidth, kProbeHeight, format));
    const ContextPtr context(avcodec_alloc_context3(codec));
    const FramePtr frame(av_frame_alloc());
    const PacketPtr packet(av_packet_alloc());
    if (!scaler || !context || !frame || !packet) return false;
    PrepareEncoder(context.get(), kProbeWidth, kProbeHeight, kProbeFps, format);
    context->log_level_offset = kQuietLogOffset;
    if (avcodec_open2(context.get(), codec, nullptr) < 0) return false;

    frame->format = format;
    frame->width = kProbeWidth;
    frame->height = kProbeHeight;
    if (av_frame_get_buffer(frame.get(), 0) < 0) return false;
    std::vector<std::uint8_t> screen(static_cast<std::size_t>(kProbeWidth) * 3 * kProbeHeight,
                                     0x80);
    const std::uint8_t* source[1] = {screen.data()};
    const int sourceStride[1] = {kProbeWidth * 3};
    sws_scale(scaler.get(), source, sourceStride, 0, kProbeHeight, frame->data, frame->linesize);
    frame->pts = 0;

    // Packets may come out only once the end is announced.
    bool gotPacket = false;
    for (AVFrame* input : {frame.get(), static_cast<AVFrame*>(nullptr)}) {
        if (avcodec_send_frame(context.get(), input) < 0) return false;
        for (;;) {
            const int received = avcodec_receive_packet(context.get(), packet.get());
            if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) break;
            if (received < 0) return false;
            gotPacket = gotPacket || packet->size > 0;
            av_packet_unref(packet.get());
        }
    }
    return gotPacket;
}

}  // namespace

CodecTable::CodecTable() = default;

CodecTable::CodecTable(EncoderFilter filter) : filter_(std::move(filter)) {}

CodecTable::~CodecTable() {
    stopping_.store(true, std::memory_order_relaxed);
    if (worker_.joinable()) worker_.join();
}

CodecTable& CodecTable::Instance() {
    static CodecTable table;
    return table;
}

bool CodecTable::Done() const {
    return Count() > 0 && complete_.load(std::memory_order_acquire);
}

void CodecTable::StartEnumeration(Priority priority) {
    if (Done()) return;
    int idle = 0;
    if (!busy_.compare_exchange_strong(idle, 1, std::memory_order_acq_rel)) return;
    // A hand-over asked of a worker that had already finished is void.
    handOver_.store(false, std::memory_order_relaxed);
    // A worker that ran before found nothing or handed its work over, and has
    // finished (it cleared busy as its last act); collect it before starting
    // the next one.
    if (worker_.joinable()) worker_.join();
    const bool low = priority == Priority::Low;
    lowPriority_.store(low, std::memory_order_relaxed);
    try {
        worker_ = std::thread([this, low] {
            if (low) LowerThisThread(ThreadPriority::Low);
            Fill();
        });
    } catch (const std::system_error&) {
        // No thread to be had: LookupCodec enumerates on its own thread.
        busy_.store(0, std::memory_order_release);
    }
}

void CodecTable::EnumerateCodecs() {
    if (Done()) return;
    int idle = 0;
    if (!busy_.compare_exchange_strong(idle, 1, std::memory_order_acq_rel)) return;
    // A hand-over asked of a worker that had already finished is void.
    handOver_.store(false, std::memory_order_relaxed);
    lowPriority_.store(false, std::memory_order_relaxed);
    Fill();
}

void CodecTable::Fill() {
    const AVOutputFormat* avi = av_guess_format("avi", nullptr, nullptr);
    // Goes on where an enumeration that handed its work over stopped.
    int filled = Count();
    bool finished = true;
    if (avi != nullptr) {
        std::vector<std::uint32_t>& usedTags = usedTags_;
        const std::vector<Candidate> candidates = WalkEncoders(filter_);
        for (; resumeAt_ < candidates.size(); ++resumeAt_) {
            if (filled == kMaxEntries) break;
            if (stopping_.load(std::memory_order_relaxed) ||
                handOver_.exchange(false, std::memory_order_relaxed)) {
                finished = false;
                break;
            }
            const Candidate& candidate = candidates[resumeAt_];
            const AVCodec* codec = candidate.codec;
            std::uint32_t tag = 0;
            if (avformat_query_codec(avi, codec->id, FF_COMPLIANCE_NORMAL) != 1) continue;
            if (!ChooseTag(avi, codec->id, usedTags, tag)) continue;
            if (!TryEncoder(codec)) continue;
            CodecInfo& entry = entries_[static_cast<std::size_t>(filled)];
            entry.fccType = kCodecTypeVideo;
            // Uncompressed frames carry no tag in the file; the label names
            // them as the platform's own "DIB " handler does.
            entry.fccHandler = tag != 0 ? tag : 0x20424944;
            entry.version = avcodec_version();
            entry.name = codec->name;
            entry.description = codec->long_name != nullptr ? codec->long_name : codec->name;
            entry.enumerationIndex = candidate.walkIndex;
            entry.configurable = EncoderHasOptions(codec);
            usedTags.push_back(tag);
            // The entry first, then the count that makes it visible.
            count_.store(++filled, std::memory_order_release);
            Notify();
        }
    }
    if (finished) resumeAt_ = 0;  // a table left empty may be tried again
    complete_.store(finished, std::memory_order_release);
    busy_.store(0, std::memory_order_release);
    Notify();
}

void CodecTable::Notify() {
    // Taking the lock orders the change before a waiter's check of it.
    { const std::lock_guard<std::mutex> lock(progressMutex_); }
    progress_.notify_all();
}

int CodecTable::FindPublished(std::string_view label) const {
    const int count = Count();
    for (int i = 0; i < count; ++i)
        if (FormatCodecLabel(Entry(i)) == label) return i;
    return -1;
}

bool CodecTable::Busy() const {
    return busy_.load(std::memory_order_acquire) != 0;
}

int CodecTable::Count() const {
    return count_.load(std::memory_order_acquire);
}

const CodecInfo& CodecTable::Entry(int index) const {
    return entries_[static_cast<std::size_t>(index)];
}

std::string CodecTable::FormatCodecLabel(const CodecInfo& info) {
    return CodecLabel(info.fccHandler, info.version);
}

int CodecTable::FindCodecByLabel(std::string_view label) const {
    const int count = Count();
    for (int i = 0; i < count; ++i)
        if (FormatCodecLabel(Entry(i)) == label) return i;
    return 0;
}

const CodecInfo* CodecTable::LookupCodec(std::string_view label) {
    // No label matches an empty one: the first entry is the answer then.
    const auto known = [&] {
        return !Busy() || (label.empty() ? Count() > 0 : FindPublished(label) >= 0);
    };
    // A worker at low priority may be starved on a busy machine: it
    // hands the rest over at the next encoder, and this thread goes on.
    if (!known() && lowPriority_.load(std::memory_order_relaxed))
        handOver_.store(true, std::memory_order_relaxed);
    {
        std::unique_lock<std::mutex> lock(progressMutex_);
        progress_.wait_for(lock, std::chrono::seconds(2), known);
    }
    if (Busy()) {
        if (label.empty() && Count() > 0) return &Entry(0);
        const int found = FindPublished(label);
        return found >= 0 ? &Entry(found) : nullptr;
    }
    if (!Done()) EnumerateCodecs();
    if (Count() == 0) return nullptr;
    return &Entry(FindCodecByLabel(label));
}

}  // namespace velarix
