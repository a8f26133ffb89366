// Frame records, decoded directly and through the link, as they are and
// compressed. The input is one record. Directly decoded, it may change only
// the lines its line records name and only with real pixels; through the link
// it must give the same screen, repaint band and frame value as the direct
// decode, or lose the sync when the record is unusable.
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
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
    std::vector<std::uint32_t> direct = std::vector<std::uint32_t>(kScreenPixels);
    std::vector<std::uint32_t> expected = std::vector<std::uint32_t>(kScreenPixels);
    std::vector<std::uint32_t> oneShort = std::vector<std::uint32_t>(kScreenPixels - 1);
};

Screens& Scratch() {
    static Screens screens;
    return screens;
}

void Whiten(std::vector<std::uint32_t>& screen) {
    std::fill(screen.begin(), screen.end(), kWhite);
}

const std::vector<std::uint32_t>& White() {
    static const std::vector<std::uint32_t> white(kScreenPixels, kWhite);
    return white;
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
class LinkCheck {
public:
    LinkCheck() {
        link_.SetView(&view_);
        link_.AttachTransport(transport_);
        expected_ = &Scratch().expected;
        Whiten(*expected_);
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
    }

    void Finish() const { CheckPixels(view_.screen); }

private:
    RecordingTransport transport_;
    RecordingView view_;
    CRelayLink link_;
    std::vector<std::uint32_t>* expected_;
};

void CheckDirect(Bytes record) {
    const RecordStatus header = CheckRecordHeader(record);
    FUZZ_CHECK((record.size() < 5) == (header == RecordStatus::TooShort));

    std::vector<std::uint32_t>& screen = Scratch().direct;
    Whiten(screen);
    const std::vector<std::uint32_t>& white = White();
    const RecordDecode d = DecodeRecordLines(record, screen);
    FUZZ_CHECK(d.status == header);
    CheckPixels(screen);
    const std::vector<bool> changed = ChangedLines(white, screen);
    if (d.status != RecordStatus::Decoded || d.minLine > d.maxLine) {
        FUZZ_CHECK(screen == white);
    } else {
        FUZZ_CHECK(d.minLine >= 0 && d.maxLine < kScreenHeight);
        for (int line = 0; line < kScreenHeight; ++line) {
            if (changed[std::size_t(line)]) FUZZ_CHECK(line >= d.minLine && line <= d.maxLine);
        }
    }
    if (d.status != RecordStatus::Decoded) {
        FUZZ_CHECK(!d.flipClosed && !d.frameValue);
    }

    if (d.flipClosed.value_or(false)) {
        DrawClosedFlip(screen);
        CheckPixels(screen);
        const std::vector<bool> flipped = ChangedLines(white, screen);
        for (int line = 0; line < kScreenHeight; ++line) {
            if (flipped[std::size_t(line)] && !changed[std::size_t(line)])
                FUZZ_CHECK(line >= kFlipTopLine);
        }
    }

    // A screen one pixel short is not written at all.
    std::vector<std::uint32_t>& shortScreen = Scratch().oneShort;
    Whiten(shortScreen);
    const RecordDecode s = DecodeRecordLines(record, shortScreen);
    FUZZ_CHECK(s.minLine == kScreenHeight && s.maxLine == 0);
    FUZZ_CHECK(std::equal(shortScreen.begin(), shortScreen.end(), white.begin()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Bytes record(data, size);
    CheckDirect(record);

    LinkCheck link;
    const ByteVec bytes(data, data + size);
    link.Frame(static_cast<std::uint8_t>(PhoneMsg::FrameRaw), bytes, record);

    // Compressed, as long as it fits the link's inflate buffer.
    if (size <= kInflateCapacity) {
        link.Frame(static_cast<std::uint8_t>(PhoneMsg::FrameZlib), test::Deflate(bytes, 1), record);
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
