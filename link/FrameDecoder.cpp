#include "link/FrameDecoder.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "link/JpegStrip.h"
#include "link/PhoneLink.h"
#include "link/PixelFormats.h"
#include "res/ClosedFlip.h"

namespace velarix {

namespace {

// Whatever the format, a line record is read only while this many bytes are left.
constexpr std::size_t kLineRecordMinimum = kScreenWidth / 2;

std::uint32_t* ScreenRow(std::span<std::uint32_t> screen, int line) {
    return screen.data() + std::size_t(kScreenHeight - 1 - line) * kScreenWidth;
}

}  // namespace

RecordStatus CheckRecordHeader(Bytes record) {
    if (record.size() < 5) return RecordStatus::TooShort;
    if (ReadBe16(record.data()) != kScreenWidth || ReadBe16(record.data() + 2) != kScreenHeight)
        return RecordStatus::WrongSize;
    return RecordStatus::Decoded;
}

RecordDecode DecodeRecordLines(Bytes record, std::span<std::uint32_t> screen) {
    RecordDecode out;
    out.status = CheckRecordHeader(record);
    if (out.status != RecordStatus::Decoded || screen.size() < kScreenPixels) return out;

    const PixelFormat& format = PixelFormatForMode(record[4]);
    const std::size_t lineBytes = static_cast<std::size_t>(format.bytesPerLine);
    const std::size_t length = record.size();
    const std::uint8_t* data = record.data();
    std::size_t pos = 5;
    while (pos + kLineRecordMinimum <= length) {
        const int line = ReadBe16(data + pos);
        pos += 2;
        if (line >= kScreenHeight) break;
        out.minLine = std::min(out.minLine, line);
        out.maxLine = std::max(out.maxLine, line);
        if (lineBytes > length - pos) break;
        format.decodeLine(data + pos, ScreenRow(screen, line));
        pos += lineBytes;
    }
    if (pos < length) {
        out.flipClosed = data[pos] == 1;
        pos += 1;
    }
    if (pos + 4 <= length) out.frameValue = ReadBe32(data + pos);
    return out;
}

void DrawClosedFlip(std::span<std::uint32_t> screen) {
    const auto picture = ClosedFlipPicture();
    for (int r = 0; r < kClosedFlipHeight; ++r) {
        std::memcpy(ScreenRow(screen, kFlipTopLine + r),
                    picture.data() + std::size_t(r) * kClosedFlipWidth,
                    kClosedFlipWidth * sizeof(std::uint32_t));
    }
}

void CPhoneLink::DecodeFrameMessage(PhoneMsg type, Bytes payload) {
    switch (type) {
        case PhoneMsg::FrameRaw:
            DecodeFrameRecord(payload);
            break;
        case PhoneMsg::FrameZlib: {
            if (!inflateBuffer_) inflateBuffer_.reset(new std::uint8_t[kInflateCapacity]);
            uLongf inflated = kInflateCapacity;
            const int rc = uncompress(inflateBuffer_.get(), &inflated, payload.data(),
                                      static_cast<uLong>(payload.size()));
            if (rc != Z_OK) {
                ResetSync();
                return;
            }
            CountWork(inflated);
            DecodeFrameRecord(Bytes(inflateBuffer_.get(), inflated));
            break;
        }
        case PhoneMsg::FrameJpeg:
            DecodeJpegFrame(payload);
            break;
        default:
            break;
    }
}

void CPhoneLink::DecodeFrameRecord(Bytes record) {
    if (record.size() < 5) {
        ResetSync();
        return;
    }
    if (!view_) return;
    if (CheckRecordHeader(record) != RecordStatus::Decoded) {
        ResetSync();
        return;
    }
    view_->SetScreenSize(kScreenWidth, kScreenHeight);
    const std::span<std::uint32_t> screen = view_->ScreenPixels();
    if (screen.size() < kScreenPixels) return;

    // Decoding writes about one screen pixel per record byte.
    CountWork(record.size());
    const RecordDecode d = DecodeRecordLines(record, screen);
    if (d.flipClosed) flipClosed_ = *d.flipClosed;
    int minLine = d.minLine;
    int maxLine = d.maxLine;
    if (flipClosed_) {
        // The picture goes into every record; repaint it too, or a record
        // that changes only lines above it would leave it off the screen.
        DrawClosedFlip(screen);
        minLine = std::min(minLine, kFlipTopLine);
        maxLine = std::max(maxLine, kScreenHeight - 1);
    }
    if (d.frameValue) lastFrameValue_ = *d.frameValue;
    if (minLine <= maxLine) {
        CountWork(std::size_t(maxLine - minLine + 1) * kScreenWidth * sizeof(std::uint32_t));
        view_->RepaintLines(0, minLine, kScreenWidth, maxLine);
    }
}

void CPhoneLink::DecodeJpegFrame(Bytes payload) {
    if (!view_) return;
    const StripDecode d = DecodeJpegStrip(payload, view_->ScreenPixels());
    if (d.frameValue) lastFrameValue_ = *d.frameValue;
    if (d.result != StripResult::Decoded) return;
    CountWork(std::size_t(d.width) * std::size_t(d.height) * sizeof(std::uint32_t) * 2);
    view_->RepaintLines(0, d.top, d.width, d.top + d.height);
}

}  // namespace velarix
