// One viewer connection as the phone server sees it, without sockets: received bytes come in
// through OnReceived(), time through OnTimer(), and everything the phone sends leaves through
// the Transport. The relay owns the socket and drives this object from its poll loop.
//
// Phases:
//   waiting for Hello   after accept; the sync pattern goes out when the viewer's Hello
//                       arrives (or when the Hello timeout passes)
//   waiting for SyncAck the pattern is out; pings flow, frames do not yet
//   streaming           SyncAck received: the whole screen once, then changed lines at the
//                       sampling rate of the last Options
// A Hello in any phase means the viewer is searching for the pattern: it is sent again and
// the session waits for SyncAck, after which the whole screen goes out again.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "FrameEncoder.h"
#include "Framebuffer.h"
#include "Log.h"
#include "PcMessages.h"
#include "PhoneScreen.h"
#include "Wire.h"

namespace phonesim {

struct SessionConfig {
    bool noSync = false;           // never send anything: a relay with no phone behind it
    bool raw = false;              // FrameRaw instead of FrameZlib
    bool benchFullscreen = false;  // every sample changes every line
    std::chrono::milliseconds pingInterval{5000};  // 0 = no pings
    std::chrono::milliseconds helloTimeout{1000};  // negative = wait for Hello forever
};

// The phone itself, which outlives connections.
struct PhoneState {
    PhoneState(bool animated, Clock::time_point now) : screen(animated, now) {}
    PhoneScreen screen;
    std::string clipboard = "Hello from the phone";
    bool flipClosed = false;
    bool streaming = true;  // "stream off" pauses frame updates
};

class Transport {
public:
    virtual ~Transport() = default;
    // Queues a whole message. frameNote is set for frame messages, for --timestamps.
    struct FrameNote {
        std::uint32_t frameValue = 0;
        std::string summary;
    };
    virtual void Send(Bytes bytes, std::optional<FrameNote> frameNote) = 0;
    // Ends the connection once the current call returns.
    virtual void Close(const std::string& reason) = 0;
    // Bytes queued but not yet accepted by the kernel.
    virtual std::size_t Queued() const = 0;
};

class Session {
public:
    Session(const SessionConfig& config, PhoneState& phone, const JpegEncoder& jpeg,
            Transport& transport, const Log& log, Clock::time_point now);

    void OnReceived(std::span<const std::uint8_t> bytes, Clock::time_point now);
    void OnTimer(Clock::time_point now);
    Clock::time_point NextDeadline() const;

    // Called once per connection, when the first SyncAck arrives.
    std::function<void()> onFirstSync;

    // What the commands reach. Each returns false (and logs why) when nothing can be sent.
    bool SendMessage(Bytes message, const std::string& description);
    bool CanSend() const;
    void RequestFullScreen() { fullPending_ = true; }
    void OnFlipChanged() { flipDirty_ = true; }
    // Stops sending until the viewer says Hello again (after a Bye).
    void Quiesce() { phase_ = Phase::kWaitHello; }
    // A Ping now; the reply is logged with the round-trip time.
    bool SendPing(Clock::time_point now);

private:
    enum class Phase { kWaitHello, kWaitAck, kStreaming };

    void Handle(const PcMessage& message, Clock::time_point now);
    void SendSync(Clock::time_point now, const char* why);
    void ApplyOptions(const StreamOptions& options);
    void Sample(Clock::time_point now);
    void SendRecords(const std::vector<LineUpdate>& lines, ColourMode mode);
    void SendFrames(std::vector<FrameMessage> frames);
    std::chrono::milliseconds SamplePeriod() const;

    const SessionConfig& config_;
    PhoneState& phone_;
    const JpegEncoder& jpeg_;
    Transport& transport_;
    const Log& log_;
    PcParser parser_;

    Phase phase_ = Phase::kWaitHello;
    std::optional<Clock::time_point> helloDeadline_;
    bool everSynced_ = false;

    StreamOptions options_;
    bool haveOptions_ = false;
    ColourMode mode_ = ColourMode::k4096;

    Framebuffer screen_;
    // What the viewer holds of each line, in mode_'s encoding; empty = unknown.
    std::vector<Bytes> sent_;
    bool fullPending_ = true;
    bool flipDirty_ = true;
    bool benchInverted_ = false;
    std::uint32_t frameCounter_ = 0;
    Bytes scratch_;  // every line of the current sample, encoded

    Clock::time_point nextSample_;
    Clock::time_point nextPing_;
    std::optional<Clock::time_point> pingSentAt_;
};

}  // namespace phonesim
