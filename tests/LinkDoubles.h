// Test doubles for the link: a transport that records every block the link
// sends, and a view that records what the link asks of it.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "StreamBuilder.h"
#include "link/LinkTransport.h"
#include "link/LinkView.h"
#include "link/PhoneLink.h"

namespace velarix::test {

class RecordingTransport final : public ILinkTransport {
public:
    long Send(Bytes bytes) override {
        if (failSends) return -1;
        const std::size_t n = maxChunk > 0 && bytes.size() > maxChunk ? maxChunk : bytes.size();
        if (recordCalls) sendCalls.emplace_back(bytes.begin(), bytes.end());
        sent.insert(sent.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
        return static_cast<long>(n);
    }
    void Close() override { ++closes; }

    std::vector<std::uint8_t> TakeSent() {
        std::vector<std::uint8_t> out;
        out.swap(sent);
        sendCalls.clear();
        return out;
    }

    std::vector<std::uint8_t> sent;                    // every byte that went out
    std::vector<std::vector<std::uint8_t>> sendCalls;  // what each Send call was offered
    int closes = 0;
    bool failSends = false;
    std::size_t maxChunk = 0;  // > 0: accept at most this many bytes per call
    bool recordCalls = true;   // keep sendCalls (the fuzzers need only `sent`)
};

struct Repaint {
    int left, top, right, bottom;
    bool operator==(const Repaint&) const = default;
};

class RecordingView final : public ILinkView {
public:
    RecordingView() : screen(kScreenPixels, 0xFFFFFFFFu) {}

    void OnLinkSynced(CPhoneLink& link) override {
        events.push_back("synced");
        if (onSynced) onSynced(link);
    }
    void OnLinkLost(CPhoneLink&) override { events.push_back("lost"); }
    void SetScreenSize(int width, int height) override {
        ++setScreenSizeCalls;
        if (width * height != static_cast<int>(screen.size()))
            screen.assign(static_cast<std::size_t>(width * height), 0xFFFFFFFFu);
    }
    std::span<std::uint32_t> ScreenPixels() override { return screen; }
    void RepaintLines(int left, int top, int right, int bottom) override {
        repaints.push_back({left, top, right, bottom});
    }
    void RefreshStatusPage() override { events.push_back("refresh"); }
    void OnPhoneClipboardText(Bytes text) override {
        clipboard.emplace_back(text.begin(), text.end());
    }
    void OnPhoneStatusValue(std::uint32_t v) override { statusValues.push_back(v); }
    void OnPhoneStatusWord(std::uint32_t w) override { statusWords.push_back(w); }
    void OnPhoneEvent(std::uint8_t code) override { phoneEvents.push_back(code); }

    // Back to a new view's state, keeping the screen's memory: the fuzzers
    // reuse one view for every input. A caller that knows the screen is
    // still white can leave it alone.
    void Reset(bool whiten = true) {
        if (whiten || screen.size() != kScreenPixels) {
            // White is all bits set, so one memset whitens the screen.
            screen.resize(kScreenPixels);
            std::memset(screen.data(), 0xFF, screen.size() * sizeof(std::uint32_t));
        }
        events.clear();
        repaints.clear();
        clipboard.clear();
        statusValues.clear();
        statusWords.clear();
        phoneEvents.clear();
        setScreenSizeCalls = 0;
        onSynced = nullptr;
    }

    // Screen line y (0 = top), pixel x.
    std::uint32_t Pixel(int x, int y) const {
        return screen[std::size_t(kScreenHeight - 1 - y) * kScreenWidth + std::size_t(x)];
    }

    std::vector<std::uint32_t> screen;
    std::vector<std::string> events;
    std::vector<Repaint> repaints;
    std::vector<std::string> clipboard;
    std::vector<std::uint32_t> statusValues;
    std::vector<std::uint32_t> statusWords;
    std::vector<std::uint8_t> phoneEvents;
    int setScreenSizeCalls = 0;
    std::function<void(CPhoneLink&)> onSynced;
};

// A connected link that has found the sync pattern; what the sync sent and
// what the view heard of it are cleared.
struct SyncedLink {
    SyncedLink() {
        link.SetView(&view);
        link.AttachTransport(transport);
        link.BeginAttempt();
        Feed(SyncBytes());
        transport.TakeSent();
        view.events.clear();
    }
    void Feed(const ByteVec& bytes) { link.OnReceive(bytes); }
    void Raw(const ByteVec& record) { Feed(Message(0, record)); }
    void Zlib(const ByteVec& record) { Feed(Message(1, Deflate(record))); }
    void Strip(const ByteVec& payload) { Feed(Message(2, payload)); }
    // No pixel changed since the view whitened its screen.
    bool Untouched() const {
        return view.screen == std::vector<std::uint32_t>(kScreenPixels, 0xFFFFFFFFu);
    }

    RecordingTransport transport;
    RecordingView view;
    CRelayLink link;
};

}  // namespace velarix::test
