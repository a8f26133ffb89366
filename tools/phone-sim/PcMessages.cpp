#include "PcMessages.h"

#include <algorithm>
#include <cstdio>

#include "Log.h"

namespace phonesim {

namespace {

constexpr std::size_t kHelloSize = 16;

// Size of the message that starts with this byte, 0 for an unknown byte. TypeText and
// SetPhoneClipboard report their 3-byte head; the text follows.
std::size_t FixedSize(std::uint8_t type) {
    switch (static_cast<PcType>(type)) {
        case PcType::kHello:
            return kHelloSize;
        case PcType::kSyncAck:
        case PcType::kPingReply:
        case PcType::kGetPhoneClipboard:
        case PcType::kBye:
            return 1;
        case PcType::kKeyEvent:
        case PcType::kPointerEvent:
            return 6;
        case PcType::kCharEvent:
            return 14;
        case PcType::kOptions:
            return 8;
        case PcType::kTypeText:
        case PcType::kSetPhoneClipboard:
            return 3;
    }
    return 0;
}

std::string Hex(std::uint8_t b) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", b);
    return text;
}

}  // namespace

void PcParser::Feed(std::span<const std::uint8_t> bytes) {
    if (failed_) return;
    // Compact before growing so the buffer stays as small as the unparsed tail.
    if (pos_ > 0 && pos_ == buffer_.size()) {
        buffer_.clear();
        pos_ = 0;
    } else if (pos_ > 4096) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(pos_));
        pos_ = 0;
    }
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

ParseResult PcParser::Next(PcMessage& out, std::string* error) {
    if (failed_) return ParseResult::kError;
    const std::size_t avail = buffer_.size() - pos_;
    if (avail == 0) return ParseResult::kNeedMore;
    const std::uint8_t* p = buffer_.data() + pos_;
    const std::size_t head = FixedSize(p[0]);
    if (head == 0) {
        failed_ = true;
        if (error) *error = "unknown message type " + Hex(p[0]);
        return ParseResult::kError;
    }
    if (avail < head) {
        // A Hello that already shows a byte other than 0x55 cannot become one.
        if (p[0] == 0x55 && std::any_of(p, p + avail, [](std::uint8_t b) { return b != 0x55; })) {
            failed_ = true;
            if (error) *error = "0x55 that does not start a 16-byte Hello";
            return ParseResult::kError;
        }
        return ParseResult::kNeedMore;
    }
    out = PcMessage{};
    out.type = static_cast<PcType>(p[0]);
    std::size_t size = head;
    switch (out.type) {
        case PcType::kHello:
            if (std::any_of(p, p + kHelloSize, [](std::uint8_t b) { return b != 0x55; })) {
                failed_ = true;
                if (error) *error = "0x55 that does not start a 16-byte Hello";
                return ParseResult::kError;
            }
            break;
        case PcType::kKeyEvent:
            out.action = p[1];
            out.key = GetBe32(p + 2);
            break;
        case PcType::kCharEvent:
            out.charCode = GetBe16(p + 8);
            out.charLayoutUsual =
                GetBe16(p + 1) == 0 && GetBe32(p + 3) == 0x400 && p[7] == 3 && GetBe32(p + 10) == 0;
            break;
        case PcType::kOptions:
            out.options = StreamOptions{p[1], p[2], p[3], p[4], p[5], p[6], p[7]};
            break;
        case PcType::kPointerEvent:
            out.action = p[1];
            out.x = GetBe16(p + 2);
            out.y = GetBe16(p + 4);
            break;
        case PcType::kTypeText:
        case PcType::kSetPhoneClipboard: {
            const std::size_t n = GetBe16(p + 1);
            if (avail < head + n) return ParseResult::kNeedMore;
            out.text.assign(reinterpret_cast<const char*>(p + head), n);
            size = head + n;
            break;
        }
        case PcType::kSyncAck:
        case PcType::kPingReply:
        case PcType::kGetPhoneClipboard:
        case PcType::kBye:
            break;
    }
    pos_ += size;
    return ParseResult::kMessage;
}

std::string Describe(const PcMessage& m) {
    switch (m.type) {
        case PcType::kHello:
            return "Hello";
        case PcType::kSyncAck:
            return "SyncAck";
        case PcType::kPingReply:
            return "PingReply";
        case PcType::kGetPhoneClipboard:
            return "GetPhoneClipboard";
        case PcType::kBye:
            return "Bye";
        case PcType::kKeyEvent: {
            static const char* const kActions[] = {"release", "press", "click"};
            const std::string action =
                m.action < 3 ? kActions[m.action] : "action " + std::to_string(m.action);
            return "KeyEvent " + action + " " + std::to_string(m.key);
        }
        case PcType::kCharEvent: {
            std::string text = "CharEvent " + std::to_string(m.charCode);
            if (m.charCode >= 0x20 && m.charCode < 0x7F) {
                text += " '" + std::string(1, static_cast<char>(m.charCode)) + "'";
            }
            if (!m.charLayoutUsual) text += " (unusual fixed fields)";
            return text;
        }
        case PcType::kOptions: {
            const StreamOptions& o = m.options;
            return "Options level " + std::to_string(o.level) + " interlace " +
                   std::to_string(o.interlace) + " auto " + std::to_string(o.interlaceAuto) +
                   " colour " + std::to_string(o.colour) + " quality " + std::to_string(o.quality) +
                   " priority " + std::to_string(o.priority) + " timerdiv " +
                   std::to_string(o.timerDiv);
        }
        case PcType::kPointerEvent: {
            static const char* const kActions[] = {"drag", "down", "up"};
            const std::string action =
                m.action < 3 ? kActions[m.action] : "action " + std::to_string(m.action);
            return "PointerEvent " + action + " " + std::to_string(m.x) + "," + std::to_string(m.y);
        }
        case PcType::kTypeText:
            return "TypeText " + QuoteForLog(m.text);
        case PcType::kSetPhoneClipboard:
            return "SetPhoneClipboard " + QuoteForLog(m.text);
    }
    return "?";
}

}  // namespace phonesim
