#include "view/ViewCore.h"

#include <algorithm>

#include "settings/SettingsKeys.h"

namespace velarix {

namespace {

struct OptionCommand {
    int id;
    int PhoneOptions::*field;
    int value;
};

// The option commands: each sets one field (JPEG items set two).
constexpr OptionCommand kOptionCommands[] = {
    {cmd::kCompression1 + 0, &PhoneOptions::compression, 1},
    {cmd::kCompression1 + 1, &PhoneOptions::compression, 2},
    {cmd::kCompression1 + 2, &PhoneOptions::compression, 3},
    {cmd::kCompression1 + 3, &PhoneOptions::compression, 4},
    {cmd::kCompression1 + 4, &PhoneOptions::compression, 5},
    {cmd::kInterlaceOff, &PhoneOptions::interlaced, 0},
    {cmd::kInterlaceOn, &PhoneOptions::interlaced, 1},
    {cmd::kInterlaceAuto, &PhoneOptions::interlaced, 2},
    {cmd::kColor64K, &PhoneOptions::colorMode, kColorMode64K},
    {cmd::kColor4096, &PhoneOptions::colorMode, kColorMode4096},
    {cmd::kColor256, &PhoneOptions::colorMode, kColorMode256},
    {cmd::kGrey16, &PhoneOptions::colorMode, kColorMode16Grey},
    {cmd::kGrey4, &PhoneOptions::colorMode, kColorMode4Grey},
    {cmd::kPriorityLow + 0, &PhoneOptions::priority, 0},
    {cmd::kPriorityLow + 1, &PhoneOptions::priority, 1},
    {cmd::kPriorityLow + 2, &PhoneOptions::priority, 2},
    {cmd::kPriorityLow + 3, &PhoneOptions::priority, 3},
    {cmd::kRate40Hz, &PhoneOptions::timerDiv, 1},
    {cmd::kRate20Hz, &PhoneOptions::timerDiv, 2},
    {cmd::kRate10Hz, &PhoneOptions::timerDiv, 4},
    {cmd::kRate5Hz, &PhoneOptions::timerDiv, 8},
    {cmd::kRate2Hz, &PhoneOptions::timerDiv, 20},
    {cmd::kRate1Hz, &PhoneOptions::timerDiv, 40},
};

struct JpegCommand {
    int id;
    int quality;
};
constexpr JpegCommand kJpegCommands[] = {
    {cmd::kJpeg70, 70}, {cmd::kJpeg50, 50}, {cmd::kJpeg30, 30}, {cmd::kJpeg10, 10}};

struct KeyCommand {
    int id;
    std::uint32_t key;
    bool alwaysEnabled;  // '#' and 'On/Off' check the link themselves
};
constexpr KeyCommand kKeyCommands[] = {
    {cmd::kKeyAbc, phonekey::kAbc, false},    {cmd::kKeyClear, phonekey::kClear, false},
    {cmd::kKeyStar, phonekey::kStar, false},  {cmd::kKeyHash, phonekey::kHash, true},
    {cmd::kKeyOnOff, phonekey::kOnOff, true},
};

struct EventCommand {
    int id;
    IntSetting setting;
};
constexpr EventCommand kEventCommands[] = {
    {cmd::kEventIgnoreAll, setting::kIgnoreAllEvents},
    {cmd::kEventIncomingCall, setting::kIncomingCall},
    {cmd::kEventIncomingSms, setting::kIncomingSms},
    {cmd::kEventIncomingMms, setting::kIncomingMms},
};

}  // namespace

ViewCore::ViewCore(IViewHost& host, SettingsStore settings)
    : host_(host), settings_(std::move(settings)) {
    options_.compression = settings_.GetCompression(setting::kCompression.def);
    options_.interlaced = settings_.GetInterlaced(setting::kInterlaced.def);
    options_.colorMode = settings_.GetColorMode(setting::kColorMode.def);
    options_.jpegQuality = static_cast<int>(Read(settings_, setting::kJpegQuality));
    options_.priority = static_cast<int>(Read(settings_, setting::kPriority));
    options_.timerDiv = static_cast<int>(Read(settings_, setting::kTimerDiv));
    zoom_ = settings_.GetZoom(setting::kZoom.def) == 2 ? 2 : 1;
    input_.SetZoom(zoom_);
    link_.SetView(this);
    SetScreenSize(kScreenWidth, kScreenHeight);
}

ViewCore::~ViewCore() {
    Shutdown();
}

void ViewCore::Shutdown() {
    link_.SetView(nullptr);
    if (activeLink_ && link_.Synced()) link_.SendBye();
    link_.Close();
    activeLink_ = nullptr;
    input_.SetLink(nullptr);
}

void ViewCore::SetScreenSize(int width, int height) {
    if (width == screenWidth_ && height == screenHeight_) return;
    screenWidth_ = width;
    screenHeight_ = height;
    screen_.assign(static_cast<std::size_t>(std::max(0, width * height)), 0xFFFFFFFFu);
    screenWritten_ = false;
}

void ViewCore::ClearScreen() {
    if (!screenWritten_) return;
    std::fill(screen_.begin(), screen_.end(), 0xFFFFFFFFu);
    screenWritten_ = false;
}

void ViewCore::RepaintLines(int left, int top, int right, int bottom) {
    host_.RepaintNow(left * zoom_, top * zoom_, right * zoom_ + 4, bottom * zoom_ + 4);
    frameReady_ = true;
}

void ViewCore::RefreshStatusPage() {
    host_.RefreshStatusPage();
}

void ViewCore::OnLinkSynced(CPhoneLink& link) {
    SetActiveLink(&link);
}

void ViewCore::OnLinkLost(CPhoneLink& link) {
    if (&link == activeLink_) SetActiveLink(nullptr);
    host_.StartFrameRefresh();
}

void ViewCore::SetActiveLink(CPhoneLink* link) {
    host_.StartFrameRefresh();
    if (link == activeLink_) return;
    ClearScreen();
    activeLink_ = link;
    // The status value lives as long as the connection: a re-sync of the
    // same one keeps it, a new one starts from nothing.
    const bool resync = link && activatedConnection_ == link->Connection();
    if (link && !resync) statusValue_ = 0;
    host_.StatusPaneChanged();
    input_.SetLink(link);
    if (link) {
        host_.ShowStatusPage(false);
        if (!resync || storedOptions_ != options_) StoreOptions();
        // The window comes forward first (from a minimised state too), so the
        // one Options message fits the state the window ends up in.
        if (!resync) {
            settingUpLink_ = true;
            host_.ActivateMainWindow();
            settingUpLink_ = false;
            if (activeLink_ != link) return;
        }
        link->SendOptions(SentOptions(SendsBackgroundOptions()));
        // A failed send of the options has already dropped the link again.
        if (activeLink_ != link) return;
        activatedConnection_ = link->Connection();
    } else {
        host_.ShowStatusPage(true);
        host_.RefreshStatusPage();
        host_.LinkLost();
    }
    host_.RedrawAll();
}

void ViewCore::ApplyOptions() {
    StoreOptions();
    if (activeLink_) activeLink_->SendOptions(SentOptions(SendsBackgroundOptions()));
}

void ViewCore::StoreOptions() {
    storedOptions_ = options_;
    settings_.SetCompression(options_.compression);
    settings_.SetInterlaced(options_.interlaced);
    settings_.SetColorMode(options_.colorMode);
    Write(settings_, setting::kJpegQuality, options_.jpegQuality);
    Write(settings_, setting::kPriority, options_.priority);
    Write(settings_, setting::kTimerDiv, options_.timerDiv);
}

PhoneOptions ViewCore::SentOptions(bool hidden) const {
    PhoneOptions sent = options_;
    if (hidden) {
        sent.interlaced = 1;
        sent.priority = 1;
        sent.timerDiv = 40;
    }
    return sent;
}

void ViewCore::SendPhoneOptions(bool hidden) {
    if (!activeLink_) return;
    activeLink_->SendOptions(SentOptions(hidden));
}

void ViewCore::SetInBackground(bool background) {
    const bool before = SendsBackgroundOptions();
    inBackground_ = background;
    if (SendsBackgroundOptions() != before && !settingUpLink_)
        SendPhoneOptions(SendsBackgroundOptions());
}

void ViewCore::SetRecording(bool recording) {
    const bool before = SendsBackgroundOptions();
    recording_ = recording;
    if (SendsBackgroundOptions() != before) SendPhoneOptions(SendsBackgroundOptions());
}

void ViewCore::Connect() {
    if (activeLink_) {
        if (activeLink_->Synced()) activeLink_->SendBye();
        activeLink_->ResetSync();
        SetActiveLink(nullptr);
    }
    host_.ConnectToRouter();
}

void ViewCore::SetOption(int PhoneOptions::*field, int value) {
    options_.*field = value;
    ApplyOptions();
}

bool ViewCore::ToolbarShowsDisconnect() const {
    return routerPort_ == 0 || activeLink_;
}

bool ViewCore::OnCommand(int id) {
    for (const auto& c : kOptionCommands) {
        if (c.id == id) {
            SetOption(c.field, c.value);
            return true;
        }
    }
    for (const auto& c : kJpegCommands) {
        if (c.id == id) {
            options_.colorMode = kColorModeJpeg;
            options_.jpegQuality = c.quality;
            ApplyOptions();
            return true;
        }
    }
    for (const auto& c : kKeyCommands) {
        if (c.id == id) {
            if (activeLink_) activeLink_->SendKey(c.key, KeyAction::Click);
            return true;
        }
    }
    for (const auto& c : kEventCommands) {
        if (c.id == id) {
            Toggle(settings_, c.setting);
            return true;
        }
    }
    switch (id) {
        case cmd::kTaskList:
            if (activeLink_ && activeLink_->SendKey(phonekey::kTaskList, KeyAction::Press))
                host_.StartTimer(kTimerTaskList, 2000);
            return true;
        case cmd::kDisconnect:
        case cmd::kTrayDisconnect:
            if (activeLink_ && activeLink_->SendBye()) host_.StartTimer(kTimerDisconnect, 200);
            return true;
        case cmd::kConnect:
        case cmd::kTrayConnect:
            Connect();
            return true;
        case cmd::kZoom:
            zoom_ = zoom_ == 2 ? 1 : 2;
            settings_.SetZoom(zoom_);
            input_.SetZoom(zoom_);
            host_.ZoomChanged();
            return true;
        case cmd::kEditPaste:
        case cmd::kPasteToPhoneClipboard: {
            if (!activeLink_) return true;
            const auto text = host_.ClipboardText();
            if (!text) return true;
            // The phone takes at most kMaxTextLength bytes; the rest is cut
            // off, which keeps the stream in step, and the user is told.
            const bool sent = id == cmd::kEditPaste ? activeLink_->SendText(*text)
                                                    : activeLink_->SendPhoneClipboard(*text);
            if (sent && text->size() > kMaxTextLength)
                host_.ShowStatusMessage(ShortenedPasteText(text->size()));
            return true;
        }
        case cmd::kEditCopy:
            if (activeLink_) activeLink_->RequestPhoneClipboard();
            return true;
        case cmd::kCopyScreenshot:
            if (activeLink_) host_.CopyScreenToClipboard();
            return true;
        case cmd::kSaveScreenshot:
            if (activeLink_) host_.SaveScreenshot();
            return true;
        default:
            return false;
    }
}

std::optional<cmd::CommandState> ViewCore::QueryCommand(int id) const {
    const bool connected = activeLink_ != nullptr;
    for (const auto& c : kOptionCommands) {
        if (c.id != id) continue;
        cmd::CommandState s{true, options_.*(c.field) == c.value};
        if (id == cmd::kColor64K)
            s.enabled = !connected || (activeLink_->StatusWord() & kStatusCan64K) != 0;
        return s;
    }
    for (const auto& c : kJpegCommands) {
        if (c.id == id)
            return cmd::CommandState{
                true, options_.colorMode == kColorModeJpeg && options_.jpegQuality == c.quality};
    }
    for (const auto& c : kKeyCommands) {
        if (c.id == id) return cmd::CommandState{c.alwaysEnabled || connected, false};
    }
    for (const auto& c : kEventCommands) {
        if (c.id != id) continue;
        const bool checked = IsSet(settings_, c.setting);
        const bool enabled =
            id == cmd::kEventIgnoreAll || Read(settings_, setting::kIgnoreAllEvents) != 1;
        return cmd::CommandState{enabled, checked};
    }
    switch (id) {
        case cmd::kTaskList:
        case cmd::kEditCopy:
        case cmd::kCopyScreenshot:
        case cmd::kSaveScreenshot:
        case cmd::kTrayDisconnect:
            return cmd::CommandState{connected, false};
        case cmd::kEditPaste:
        case cmd::kPasteToPhoneClipboard:
            return cmd::CommandState{connected && host_.ClipboardText().has_value(), false};
        case cmd::kDisconnect:
            return cmd::CommandState{ToolbarShowsDisconnect() && connected, false};
        case cmd::kConnect:
            return cmd::CommandState{!ToolbarShowsDisconnect(), false};
        case cmd::kTrayConnect:
            return cmd::CommandState{!connected, false};
        case cmd::kZoom:
            return cmd::CommandState{true, zoom_ == 2};
        default:
            return std::nullopt;
    }
}

void ViewCore::OnTimer(int id) {
    switch (id) {
        case kTimerDisconnect:
            host_.KillTimer(kTimerDisconnect);
            link_.Close();
            link_.ResetSync();
            OnLinkLost(link_);
            break;
        case kTimerTaskList:
            host_.KillTimer(kTimerTaskList);
            if (activeLink_) activeLink_->SendKey(phonekey::kTaskList, KeyAction::Release);
            break;
        default:
            break;
    }
}

std::string ViewCore::ShortenedPasteText(std::size_t length) {
    return "The text was shortened to its first " + std::to_string(kMaxTextLength) + " of " +
           std::to_string(length) + " characters: the phone takes no more at once.";
}

std::string ViewCore::StatusPaneText() const {
    // Only what this connection reported: a value of an earlier one is stale.
    return activeLink_ ? std::to_string(statusValue_ >> 10) : std::string();
}

void ViewCore::OnPhoneStatusValue(std::uint32_t value) {
    statusValue_ = value;
    host_.StatusPaneChanged();
}

void ViewCore::OnPhoneClipboardText(Bytes text) {
    host_.SetClipboardText(std::string(text.begin(), text.end()));
}

void ViewCore::OnPhoneStatusWord(std::uint32_t word) {
    // A phone that cannot send 65536 colours gets 4096 instead.
    if ((word & kStatusCan64K) == 0 &&
        settings_.GetColorMode(setting::kColorMode.def) == kColorMode64K) {
        settings_.SetColorMode(kColorMode4096);
        options_.colorMode = kColorMode4096;
        ApplyOptions();
    }
}

void ViewCore::OnPhoneEvent(std::uint8_t code) {
    if (host_.RaisedThisTurn()) return;
    if (IsSet(settings_, setting::kIgnoreAllEvents)) return;
    if (code == kEventIncomingCall) {
        if (!IsSet(settings_, setting::kIncomingCall)) return;
    } else if (code == kEventIncomingSms) {
        if (!IsSet(settings_, setting::kIncomingSms)) return;
    } else {
        return;
    }
    host_.BringToFront();
}

}  // namespace velarix
