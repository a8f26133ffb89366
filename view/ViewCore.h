// Everything the screen view decides without a window: the link and the
// active link, the screen buffer, the phone options and the commands that
// change them, phone data and events, and the command states menus show.
// CChildView paints and routes window-system events into it; what needs the
// window system goes out through IViewHost.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/PhoneLink.h"
#include "settings/SettingsStore.h"
#include "view/CommandIds.h"
#include "view/InputTranslator.h"

namespace velarix {

// View timers.
inline constexpr int kTimerDisconnect = 1;    // 200 ms after Bye, the close
inline constexpr int kTimerTaskList = 2;      // 2000 ms after the task-list press, its release
inline constexpr int kTimerStatusPage = 3;    // 500 ms, retry loading the status page
inline constexpr int kTimerRecording = 4;     // 1000 / FPS ms
inline constexpr int kTimerConnectLater = 5;  // 200 ms, the status page's connect link

class IViewHost {
public:
    // Redraw this client rectangle now, without erasing.
    virtual void RepaintNow(int left, int top, int right, int bottom) = 0;
    // Redraw the whole view (the active link changed, the zoom changed), at
    // the latest when the current input is handled.
    virtual void RedrawAll() = 0;
    virtual void ShowStatusPage(bool show) = 0;
    virtual void RefreshStatusPage() = 0;
    virtual void StartTimer(int id, int milliseconds) = 0;
    virtual void KillTimer(int id) = 0;
    // The main frame's refresh of command states after a link change.
    virtual void StartFrameRefresh() = 0;
    // A newly active link: show the main window normally and bring it forward
    // if it is visible.
    virtual void ActivateMainWindow() = 0;
    // A phone event: raise the main window (out of the tray too).
    virtual void BringToFront() = 0;
    // The main window was brought forward in this turn of the event loop
    // already: a flood of events raises it once, without reading the event
    // settings for every one of them.
    virtual bool RaisedThisTurn() const { return false; }
    // The status pane's text changed (StatusPaneText).
    virtual void StatusPaneChanged() {}
    // PC clipboard text as 8-bit phone text (unmappable characters replaced),
    // or nothing when the clipboard holds no text.
    virtual std::optional<std::string> ClipboardText() = 0;
    virtual void SetClipboardText(const std::string& phoneText) = 0;
    virtual void CopyScreenToClipboard() = 0;
    virtual void SaveScreenshot() = 0;
    virtual void ZoomChanged() = 0;
    // Start a connection attempt to the relay.
    virtual void ConnectToRouter() = 0;
    // The link is gone: stop a running recording.
    virtual void LinkLost() {}
    // A note for the user in the status bar.
    virtual void ShowStatusMessage(const std::string& /*text*/) {}

protected:
    ~IViewHost() = default;
};

class ViewCore final : public ILinkView {
public:
    ViewCore(IViewHost& host, SettingsStore settings);
    ~ViewCore();
    // Says Bye on an active link and closes the link; the view hears
    // nothing more from it. Safe to call more than once.
    void Shutdown();
    ViewCore(const ViewCore&) = delete;
    ViewCore& operator=(const ViewCore&) = delete;

    CRelayLink& Link() { return link_; }
    CPhoneLink* ActiveLink() const { return activeLink_; }
    InputTranslator& Input() { return input_; }
    const SettingsStore& Settings() const { return settings_; }

    // The relay's port as last reported; 0 while none is known.
    std::uint16_t RouterPort() const { return routerPort_; }
    void SetRouterPort(std::uint16_t port) { routerPort_ = port; }

    int Zoom() const { return zoom_; }
    const PhoneOptions& Options() const { return options_; }
    std::span<const std::uint32_t> Screen() const { return screen_; }
    bool FrameReady() const { return frameReady_; }
    void ClearFrameReady() { frameReady_ = false; }

    void SetActiveLink(CPhoneLink* link);
    void ClearScreen();
    // Stores the six options and sends them when a link is active.
    void ApplyOptions();
    // Sends the options as they are; hidden in the tray, the phone samples
    // once a second at background priority. Nothing is stored.
    void SendPhoneOptions(bool hidden);
    // The main window went to the background (hidden in the tray, or
    // minimised in its place) or came back: sends the matching options once
    // when that changes. Options sent while in the background, at a sync
    // too, are the background ones; what is stored stays the user's.
    void SetInBackground(bool background);
    bool InBackground() const { return inBackground_; }
    // A recording needs every frame: while one is active, the window in the
    // background still gets the foreground options.
    void SetRecording(bool recording);
    // Whether the background options are what the phone gets now.
    bool SendsBackgroundOptions() const { return inBackground_ && !recording_; }
    // The options as they go to the phone, in the background or not.
    PhoneOptions SentOptions(bool hidden) const;
    // Drops an active link (Bye when synced) and starts a connection attempt.
    void Connect();

    // Commands of the view; false when the id is not one of them.
    bool OnCommand(int id);
    std::optional<cmd::CommandState> QueryCommand(int id) const;
    // The first toolbar button says Disconnect while no relay is known or a
    // link is active, Connect otherwise.
    bool ToolbarShowsDisconnect() const;
    void OnTimer(int id);
    // The status-bar note after a paste longer than the phone takes.
    static std::string ShortenedPasteText(std::size_t length);
    // Status-bar pane 101: the phone's status value in units of 1024.
    std::string StatusPaneText() const;

    // ILinkView
    void OnLinkSynced(CPhoneLink& link) override;
    void OnLinkLost(CPhoneLink& link) override;
    void SetScreenSize(int width, int height) override;
    std::span<std::uint32_t> ScreenPixels() override {
        screenWritten_ = true;
        return screen_;
    }
    void RepaintLines(int left, int top, int right, int bottom) override;
    void RefreshStatusPage() override;
    void OnPhoneClipboardText(Bytes text) override;
    void OnPhoneStatusValue(std::uint32_t value) override;
    void OnPhoneStatusWord(std::uint32_t word) override;
    void OnPhoneEvent(std::uint8_t code) override;

private:
    void SetOption(int PhoneOptions::*field, int value);
    void StoreOptions();

    IViewHost& host_;
    SettingsStore settings_;
    CRelayLink link_;
    CPhoneLink* activeLink_ = nullptr;
    InputTranslator input_;
    std::vector<std::uint32_t> screen_;
    int screenWidth_ = 0;
    int screenHeight_ = 0;
    PhoneOptions options_;
    int zoom_ = 1;
    std::uint16_t routerPort_ = 0;
    bool frameReady_ = false;
    bool screenWritten_ = false;  // false: every pixel is still white
    // The options as last stored, and the connection the window was last
    // brought forward for: a stream that keeps falling out of step re-syncs
    // the same connection again and again, and each time costs no more than
    // the messages the phone needs.
    std::optional<PhoneOptions> storedOptions_;
    std::optional<std::uint32_t> activatedConnection_;
    bool inBackground_ = false;
    bool recording_ = false;
    // While a new link is being set up, a change of the window's state only
    // decides which options the link's one Options message carries.
    bool settingUpLink_ = false;
    // The status value reported on the current connection, kept through its
    // re-syncs; 0 until one comes.
    std::uint32_t statusValue_ = 0;
};

}  // namespace velarix
