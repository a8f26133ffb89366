// Frame records, decoded directly and through the link, as they are and
// compressed. The input is one record. Directly decoded, it may change only
// the lines its line records name and only with real pixels; through the link
// it must give the same screen, repaint band and frame value as the direct
// decode, or lose the sync when the record is unusable.
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "FuzzChecks.h"
#include "LinkDoubles.h"
#include "StreamBuilder.h"
#include "link/FrameDecoder.h"
#include "link/PhoneLink.h"

namespace {

using namespace velarix;
using namespace velarix::fuzz;
using test::ByteVec;
using test::RecordingTransport;
using test::RecordingView;

// Screens are large: each is allocated once and refilled for every input.
struct Screens {
    std::vector<std::uint32_t> direct = std::vector<std::uint32_t>(kScreenPixels, kWhite);
    std::vector<std::uint32_t> expected = std::vector<std::uint32_t>(kScreenPixels, kWhite);
    std::vector<std::uint32_t> oneShort = std::vector<std::uint32_t>(kScreenPixels - 1, kWhite);
};

Screens& Scratch() {
    static Screens screens;
    return screens;
}

const std::vector<std::uint32_t>& White() {
    static const std::vector<std::uint32_t> white(kScreenPixels, kWhite);
    return white;
}

// White is all bits set, so one memset whitens screen lines.
void Whiten(std::span<std::uint32_t> screen) {
    if (!screen.empty()) std::memset(screen.data(), 0xFF, screen.size_bytes());
}

// Screen lines first .. last (0 = top) of a full screen, rows bottom-up.
std::span<std::uint32_t> Lines(std::vector<std::uint32_t>& screen, int first, int last) {
    if (first > last) return {};
    const std::size_t row = std::size_t(kScreenHeight - 1 - last) * kScreenWidth;
    return std::span(screen).subspan(row, std::size_t(last - first + 1) * kScreenWidth);
}

// Every line outside first .. last is still white.
bool WhiteOutside(std::vector<std::uint32_t>& screen, int first, int last) {
    const auto white = [](std::span<const std::uint32_t> lines) {
        return std::equal(lines.begin(), lines.end(), White().begin());
    };
    if (first > last) return white(screen);
    return white(Lines(screen, 0, first - 1)) && white(Lines(screen, last + 1, kScreenHeight - 1));
}

// test::Deflate with one zlib stream for every input: setting up a new one
// each time cost a quarter of the run.
ByteVec DeflateFast(const ByteVec& data) {
    static z_stream* stream = [] {
        auto* s = new z_stream{};
        if (deflateInit(s, 1) != Z_OK) __builtin_trap();
        return s;
    }();
    FUZZ_CHECK(deflateReset(stream) == Z_OK);
    ByteVec out(deflateBound(stream, static_cast<uLong>(data.size())));
    stream->next_in = const_cast<Bytef*>(data.data());
    stream->avail_in = static_cast<uInt>(data.size());
    stream->next_out = out.data();
    stream->avail_out = static_cast<uInt>(out.size());
    FUZZ_CHECK(deflate(stream, Z_FINISH) == Z_STREAM_END);
    out.resize(stream->total_out);
    return out;
}

// What a link that has just synced (flip open, no frame value yet) should
// make of a record, applied to `screen`.
struct Expected {
    bool keepsSync = false;
    std::vector<test::Repaint> repaints;
    std::uint32_t frameValue = 0;
    bool flipClosed = false;
};

Expected Expect(Bytes record, std::span<std::uint32_t> screen) {
    Expected e;
    if (CheckRecordHeader(record) != RecordStatus::Decoded) return e;
    e.keepsSync = true;
    const RecordDecode d = DecodeRecordLines(record, screen);
    int minLine = d.minLine;
    int maxLine = d.maxLine;
    e.flipClosed = d.flipClosed.value_or(false);
    if (e.flipClosed) {
        DrawClosedFlip(screen);
        minLine = std::min(minLine, kFlipTopLine);
        maxLine = kScreenHeight - 1;
    }
    if (minLine <= maxLine) e.repaints.push_back({0, minLine, kScreenWidth, maxLine});
    e.frameValue = d.frameValue.value_or(0);
    return e;
}

// One link takes every frame message of an input, each after a fresh sync,
// and its screen is compared with the direct decode after each.
//
// The view and the link are kept from input to input, since each holds a
// screen-sized buffer; a new connection leaves the link nothing of the last
// input that the checks could see (every frame also starts with a fresh sync).
class LinkCheck {
public:
    LinkCheck(RecordingView& view, CRelayLink& link) : view_(view), link_(link) {
        view_.Reset(false);  // its screen is still white from the last input
        link_.SetView(&view_);
        link_.AttachTransport(transport_);
        expected_ = &Scratch().expected;
    }

    void Frame(std::uint8_t type, const ByteVec& payload, Bytes record) {
        if (payload.size() + kMinMessageLength > kMaxMessageLength) return;
        // A new sync opens the flip and forgets the last frame value.
        link_.ResetSync();
        link_.OnReceive(test::SyncBytes());
        FUZZ_CHECK(link_.Synced());
        view_.repaints.clear();
        link_.OnReceive(test::Message(type, payload));

        const Expected e = Expect(record, *expected_);
        FUZZ_CHECK(link_.Synced() == e.keepsSync);
        FUZZ_CHECK(link_.IsOpen());
        FUZZ_CHECK(view_.screen == *expected_);
        FUZZ_CHECK(view_.repaints == e.repaints);
        if (e.keepsSync) {
            FUZZ_CHECK(link_.LastFrameValue() == e.frameValue);
            FUZZ_CHECK(link_.FlipClosed() == e.flipClosed);
            FUZZ_CHECK(link_.RxCount() == 0);
        }
        CheckRepaints(view_.repaints);
        for (const test::Repaint& r : e.repaints) {
            dirtyFirst_ = std::min(dirtyFirst_, r.top);
            dirtyLast_ = std::max(dirtyLast_, r.bottom);
        }
    }

    ~LinkCheck() { link_.Close(); }

    // Only the repainted lines can differ from white (the screen equals the
    // expected one, which the decoder changed only there); they are checked
    // and whitened for the next input.
    void Finish() {
        CheckPixels(Lines(view_.screen, dirtyFirst_, dirtyLast_));
        Whiten(Lines(view_.screen, dirtyFirst_, dirtyLast_));
        Whiten(Lines(*expected_, dirtyFirst_, dirtyLast_));
    }

private:
    RecordingTransport transport_;
    RecordingView& view_;
    CRelayLink& link_;
    std::vector<std::uint32_t>* expected_;
    int dirtyFirst_ = kScreenHeight;
    int dirtyLast_ = -1;
};

// The direct screens stay white between inputs: only the lines a record
// may have written are checked and whitened again.
void CheckDirect(Bytes record) {
    const RecordStatus header = CheckRecordHeader(record);
    FUZZ_CHECK((record.size() < 5) == (header == RecordStatus::TooShort));

    std::vector<std::uint32_t>& screen = Scratch().direct;
    const RecordDecode d = DecodeRecordLines(record, screen);
    FUZZ_CHECK(d.status == header);
    if (d.status != RecordStatus::Decoded || d.minLine > d.maxLine) {
        FUZZ_CHECK(WhiteOutside(screen, 1, 0));
    } else {
        FUZZ_CHECK(d.minLine >= 0 && d.maxLine < kScreenHeight);
        FUZZ_CHECK(WhiteOutside(screen, d.minLine, d.maxLine));
        CheckPixels(Lines(screen, d.minLine, d.maxLine));
    }
    if (d.status != RecordStatus::Decoded) {
        FUZZ_CHECK(!d.flipClosed && !d.frameValue);
    }

    int first = d.minLine, last = d.maxLine;
    if (d.flipClosed.value_or(false)) {
        DrawClosedFlip(screen);
        // The picture covers the lines from kFlipTopLine down.
        first = std::min(first, kFlipTopLine);
        last = kScreenHeight - 1;
        FUZZ_CHECK(WhiteOutside(screen, first, last));
        CheckPixels(Lines(screen, kFlipTopLine, kScreenHeight - 1));
    }
    Whiten(Lines(screen, std::max(first, 0), std::min(last, kScreenHeight - 1)));

    // A screen one pixel short is not written at all.
    std::vector<std::uint32_t>& shortScreen = Scratch().oneShort;
    const RecordDecode s = DecodeRecordLines(record, shortScreen);
    FUZZ_CHECK(s.minLine == kScreenHeight && s.maxLine == 0);
    FUZZ_CHECK(std::equal(shortScreen.begin(), shortScreen.end(), White().begin()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Bytes record(data, size);
    CheckDirect(record);

    static RecordingView view;
    static CRelayLink& relay = *new CRelayLink;
    LinkCheck link(view, relay);
    const ByteVec bytes(data, data + size);
    link.Frame(static_cast<std::uint8_t>(PhoneMsg::FrameRaw), bytes, record);

    // Compressed, as long as it fits the link's inflate buffer.
    if (size <= kInflateCapacity) {
        link.Frame(static_cast<std::uint8_t>(PhoneMsg::FrameZlib), DeflateFast(bytes), record);
    }

    // The input itself as compressed data: the link must inflate it as zlib
    // does, and drop the sync where zlib fails.
    static std::vector<std::uint8_t> inflated(kInflateCapacity);
    uLongf inflatedSize = kInflateCapacity;
    const int rc = uncompress(inflated.data(), &inflatedSize, data, static_cast<uLong>(size));
    // Too short to be a record: the link drops the sync as for any bad record.
    const Bytes unusable;
    link.Frame(static_cast<std::uint8_t>(PhoneMsg::FrameZlib), bytes,
               rc == Z_OK ? Bytes(inflated.data(), inflatedSize) : unusable);
    link.Finish();
    return 0;
}
