#include "Session.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "PhoneMessages.h"

namespace phonesim {

namespace {

// While more than this is waiting for the socket, samples are skipped: the changes pile up
// into the next one instead of into the queue, as on a phone whose link is the bottleneck.
constexpr std::size_t kBacklogLimit = 256 * 1024;

// Before the first Options the phone checks the screen 20 times per second.
constexpr std::chrono::milliseconds kDefaultSamplePeriod{50};

std::string ModeLabel(ColourMode mode, int quality) {
    if (mode == ColourMode::kJpeg) return "JPEG q" + std::to_string(quality);
    return ModeName(mode);
}

}  // namespace

Session::Session(const SessionConfig& config, PhoneState& phone, const JpegEncoder& jpeg,
                 Transport& transport, const Log& log, Clock::time_point now)
    : config_(config),
      phone_(phone),
      jpeg_(jpeg),
      transport_(transport),
      log_(log),
      sent_(kScreenHeight),
      nextSample_(now),
      nextPing_(now + config.pingInterval) {
    if (!config_.noSync && config_.helloTimeout.count() >= 0) {
        helloDeadline_ = now + config_.helloTimeout;
    }
    phone_.screen.SetModeLabel("waiting for sync");
}

bool Session::CanSend() const {
    return !config_.noSync && phase_ != Phase::kWaitHello;
}

bool Session::SendMessage(Bytes message, const std::string& description) {
    if (!CanSend()) {
        log_.Info("not synced: " + description + " not sent");
        return false;
    }
    log_.Sent(description);
    transport_.Send(std::move(message), std::nullopt);
    return true;
}

bool Session::SendPing(Clock::time_point now) {
    if (!SendMessage(PingMessage(), "Ping")) return false;
    pingSentAt_ = now;
    return true;
}

void Session::OnReceived(std::span<const std::uint8_t> bytes, Clock::time_point now) {
    parser_.Feed(bytes);
    for (;;) {
        PcMessage message;
        std::string error;
        switch (parser_.Next(message, &error)) {
            case ParseResult::kMessage:
                Handle(message, now);
                break;
            case ParseResult::kNeedMore:
                return;
            case ParseResult::kError:
                log_.Info("closing the connection: " + error + ", the stream is out of step");
                transport_.Close(error);
                return;
        }
    }
}

void Session::Handle(const PcMessage& m, Clock::time_point now) {
    if (m.type == PcType::kPingReply && pingSentAt_) {
        const auto rtt = std::chrono::duration<double, std::milli>(now - *pingSentAt_).count();
        pingSentAt_.reset();
        char text[48];
        std::snprintf(text, sizeof text, "PingReply (%.2f ms after the Ping)", rtt);
        log_.Received(text);
        return;
    }
    log_.Received(Describe(m));
    switch (m.type) {
        case PcType::kHello:
            if (!config_.noSync) SendSync(now, "answering Hello");
            break;
        case PcType::kSyncAck:
            if (phase_ != Phase::kWaitAck) {
                log_.Info("SyncAck without a sync pattern before it; ignored");
                break;
            }
            phase_ = Phase::kStreaming;
            fullPending_ = true;
            // The viewer forgets the flip at sync; records carry it anyway, strips do not.
            flipDirty_ = phone_.flipClosed;
            nextSample_ = now;
            if (!everSynced_) {
                everSynced_ = true;
                if (onFirstSync) onFirstSync();
            }
            break;
        case PcType::kOptions:
            ApplyOptions(m.options);
            break;
        case PcType::kKeyEvent:
            phone_.screen.OnKey(m.action, m.key, now);
            break;
        case PcType::kCharEvent:
            phone_.screen.OnChar(m.charCode, now);
            break;
        case PcType::kPointerEvent:
            phone_.screen.OnPointer(m.action, m.x, m.y, now);
            break;
        case PcType::kPingReply:
            break;
        case PcType::kTypeText:
            phone_.screen.AppendText(m.text);
            break;
        case PcType::kSetPhoneClipboard:
            phone_.clipboard = m.text;
            break;
        case PcType::kGetPhoneClipboard:
            SendMessage(ClipboardTextMessage(phone_.clipboard),
                        "ClipboardText " + QuoteForLog(phone_.clipboard));
            break;
        case PcType::kBye:
            // The viewer closes the socket shortly after; nothing more is sent meanwhile.
            log_.Info("the viewer said Bye; quiet until it closes or says Hello");
            phase_ = Phase::kWaitHello;
            helloDeadline_.reset();
            break;
    }
}

void Session::SendSync(Clock::time_point now, const char* why) {
    log_.Sent(std::string("Sync pattern (") + why + ")");
    transport_.Send(SyncPattern(), std::nullopt);
    phase_ = Phase::kWaitAck;
    helloDeadline_.reset();
    nextPing_ = now + config_.pingInterval;
}

void Session::ApplyOptions(const StreamOptions& o) {
    const ColourMode mode = ModeFromOptionByte(o.colour);
    if (mode == ColourMode::k4096 && o.colour != 0) {
        log_.Info("colour byte " + std::to_string(o.colour) + " unknown; sending 4096 colours");
    }
    const bool qualityChanged = mode == ColourMode::kJpeg && o.quality != options_.quality;
    if (!haveOptions_ || mode != mode_ || qualityChanged) {
        // What the viewer holds is in another encoding: every line counts as changed.
        for (Bytes& line : sent_) line.clear();
    }
    options_ = o;
    haveOptions_ = true;
    mode_ = mode;
    phone_.screen.SetModeLabel(ModeLabel(mode_, options_.quality));
}

std::chrono::milliseconds Session::SamplePeriod() const {
    if (!haveOptions_) return kDefaultSamplePeriod;
    // 40 / timerDiv checks per second.
    return std::chrono::milliseconds(25 * std::max<int>(1, options_.timerDiv));
}

void Session::OnTimer(Clock::time_point now) {
    if (helloDeadline_ && now >= *helloDeadline_) {
        helloDeadline_.reset();
        if (phase_ == Phase::kWaitHello) {
            SendSync(now, config_.helloTimeout.count() == 0 ? "on connect" : "no Hello in time");
        }
    }
    if (CanSend() && config_.pingInterval.count() > 0 && now >= nextPing_) {
        nextPing_ = now + config_.pingInterval;
        // A ping behind a full backlog would only measure the backlog.
        if (transport_.Queued() <= kBacklogLimit) SendPing(now);
    }
    if (phase_ == Phase::kStreaming && now >= nextSample_) {
        const auto period = SamplePeriod();
        nextSample_ += period;
        if (nextSample_ <= now) nextSample_ = now + period;
        Sample(now);
    }
}

Clock::time_point Session::NextDeadline() const {
    Clock::time_point next = Clock::time_point::max();
    if (helloDeadline_) next = std::min(next, *helloDeadline_);
    if (CanSend() && config_.pingInterval.count() > 0) next = std::min(next, nextPing_);
    if (phase_ == Phase::kStreaming) next = std::min(next, nextSample_);
    return next;
}

void Session::Sample(Clock::time_point now) {
    if (!phone_.streaming) return;
    if (transport_.Queued() > kBacklogLimit) return;

    phone_.screen.Render(screen_, now);
    if (config_.benchFullscreen) {
        if (benchInverted_) screen_.Invert();
        benchInverted_ = !benchInverted_;
    }
    const bool all = std::exchange(fullPending_, false) || config_.benchFullscreen;
    const bool flipDirty = std::exchange(flipDirty_, false);
    const bool flipClosed = phone_.flipClosed;

    const std::size_t bpl = BytesPerLine(mode_);
    scratch_.resize(bpl * kScreenHeight);
    std::vector<bool> changed(kScreenHeight);
    for (int y = 0; y < kScreenHeight; ++y) {
        const auto i = static_cast<std::size_t>(y);
        std::uint8_t* encoded = scratch_.data() + i * bpl;
        EncodeLine(mode_, screen_.Line(y), encoded);
        changed[i] =
            all || sent_[i].size() != bpl || !std::equal(encoded, encoded + bpl, sent_[i].begin());
    }

    if (mode_ == ColourMode::kJpeg) {
        if (flipDirty) {
            // Strips carry no flip byte, so a small record in 4096 colours brings it. Closing
            // sends the lines under the flip so the viewer repaints them with its picture;
            // opening lets the next strip bring those lines back.
            std::vector<LineUpdate> lines;
            Bytes flipLines;
            if (flipClosed) {
                const std::size_t flipBpl = BytesPerLine(ColourMode::k4096);
                flipLines.resize(flipBpl * (kScreenHeight - kFlipTopLine));
                for (int y = kFlipTopLine; y < kScreenHeight; ++y) {
                    std::uint8_t* out =
                        flipLines.data() + static_cast<std::size_t>(y - kFlipTopLine) * flipBpl;
                    EncodeLine(ColourMode::k4096, screen_.Line(y), out);
                    lines.push_back({static_cast<std::uint16_t>(y), out});
                }
            } else {
                for (int y = kFlipTopLine; y < kScreenHeight; ++y) {
                    changed[static_cast<std::size_t>(y)] = true;
                }
            }
            SendRecords(lines, ColourMode::k4096);
        }
        // While the flip is closed the lines under it stay as the viewer drew them.
        const int limit = flipClosed ? kFlipTopLine : kScreenHeight;
        int top = -1, bottom = -1;
        for (int y = 0; y < limit; ++y) {
            if (!changed[static_cast<std::size_t>(y)]) continue;
            if (top < 0) top = y;
            bottom = y;
        }
        if (top < 0) return;
        auto frames =
            EncodeJpegStrips(jpeg_, screen_, top, bottom, options_.quality, &frameCounter_);
        if (frames.empty()) {
            log_.Info("JPEG encoding failed; lines " + std::to_string(top) + "-" +
                      std::to_string(bottom) + " not sent");
            return;
        }
        for (int y = top; y <= bottom; ++y) {
            const auto i = static_cast<std::size_t>(y);
            sent_[i].assign(scratch_.begin() + static_cast<std::ptrdiff_t>(i * bpl),
                            scratch_.begin() + static_cast<std::ptrdiff_t>((i + 1) * bpl));
        }
        SendFrames(std::move(frames));
        return;
    }

    if (flipDirty) {
        // The viewer repaints the lines under the flip only when a record names them.
        for (int y = kFlipTopLine; y < kScreenHeight; ++y)
            changed[static_cast<std::size_t>(y)] = true;
    }
    std::vector<LineUpdate> lines;
    for (int y = 0; y < kScreenHeight; ++y) {
        const auto i = static_cast<std::size_t>(y);
        if (!changed[i]) continue;
        lines.push_back({static_cast<std::uint16_t>(y), scratch_.data() + i * bpl});
        sent_[i].assign(scratch_.begin() + static_cast<std::ptrdiff_t>(i * bpl),
                        scratch_.begin() + static_cast<std::ptrdiff_t>((i + 1) * bpl));
    }
    if (!lines.empty()) SendRecords(lines, mode_);
}

void Session::SendRecords(const std::vector<LineUpdate>& lines, ColourMode mode) {
    const RecordSettings settings{mode, !config_.raw, options_.level, phone_.flipClosed};
    SendFrames(EncodeRecords(settings, lines, &frameCounter_));
}

void Session::SendFrames(std::vector<FrameMessage> frames) {
    for (FrameMessage& frame : frames) {
        log_.Sent(frame.summary);
        transport_.Send(std::move(frame.bytes),
                        Transport::FrameNote{frame.frameValue, std::move(frame.summary)});
    }
}

}  // namespace phonesim
