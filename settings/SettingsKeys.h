// Every integer setting with its one default, and the string settings, by
// section and key. Whoever reads a key reads it through this table, so a
// fresh profile sees the same value at every place that asks.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "settings/SettingsStore.h"

namespace velarix {

struct IntSetting {
    std::string_view section;
    std::string_view key;
    int def;
};

struct StringSetting {
    std::string_view section;
    std::string_view key;
};

namespace setting {

// Display options of the phone view, copied when the view is made.
inline constexpr IntSetting kCompression{kSectionGeneral, kKeyCompression, 1};
inline constexpr IntSetting kInterlaced{kSectionGeneral, kKeyInterlaced, 2};
inline constexpr IntSetting kColorMode{kSectionGeneral, kKeyColorMode, 0};
inline constexpr IntSetting kJpegQuality{kSectionGeneral, "JpegQuality", 50};
// Foreground, although the menu marks Medium (1) as the default.
inline constexpr IntSetting kPriority{kSectionGeneral, "Priority", 2};
inline constexpr IntSetting kTimerDiv{kSectionGeneral, "TimerDiv", 2};
inline constexpr IntSetting kZoom{kSectionGeneral, kKeyZoom, 1};

// Window modes of the main frame.
inline constexpr IntSetting kFrameless{"View", "Frameless", 0};
inline constexpr IntSetting kSystemTray{"View", "SystemTray", 0};
inline constexpr IntSetting kAlwaysOnTop{"View", "AlwaysOnTop", 0};
// Where the main frame was last, per screen: "Position <screen name>" holds
// "x,y" of the frame's outer top-left corner; "Screen" names the screen.
inline constexpr StringSetting kWindowScreen{"View", "Screen"};
inline constexpr std::string_view kWindowPositionPrefix = "Position ";

// Reactions to phone events.
inline constexpr IntSetting kIgnoreAllEvents{"Events", "IgnoreAllEvents", 0};
inline constexpr IntSetting kIncomingCall{"Events", "IncomingCall", 1};
inline constexpr IntSetting kIncomingSms{"Events", "IncomingSMS", 1};
inline constexpr IntSetting kIncomingMms{"Events", "IncomingMMS", 1};

// Screenshots and the toolbar's screenshot button.
inline constexpr IntSetting kShotPrompt{"Screenshot", "Prompt", 1};
inline constexpr IntSetting kShotFormat{"Screenshot", "Format", 0};
inline constexpr IntSetting kClipboardAction{"Screenshot", "ClipboardAction", 0};
inline constexpr IntSetting kShotIntervalEnable{"Screenshot", "IntervalEnable", 0};
inline constexpr IntSetting kShotInterval{"Screenshot", "Interval", 0};
inline constexpr StringSetting kShotPath{"Screenshot", "Path"};
inline constexpr StringSetting kShotPrefix{"Screenshot", "Prefix"};
inline constexpr StringSetting kShotSuffix{"Screenshot", "Suffix"};
inline constexpr StringSetting kShotLast{"Screenshot", "Last"};
inline constexpr StringSetting kShotLastDir{"Screenshot", "LastDir"};

// Recording.
inline constexpr IntSetting kAviFps{"AVI", "FPS", 5};
inline constexpr IntSetting kAviQualityEnable{"AVI", "QualityEnable", 0};
inline constexpr IntSetting kAviQuality{"AVI", "Quality", 80};
inline constexpr StringSetting kAviCodec{"AVI", "Codec"};
inline constexpr StringSetting kAviPath{"AVI", "Path"};
inline constexpr StringSetting kAviLast{"AVI", "Last"};
inline constexpr StringSetting kAviLastDir{"AVI", "LastDir"};

}  // namespace setting

// The integer keys, each once.
inline constexpr IntSetting kIntSettings[] = {
    setting::kCompression,  setting::kInterlaced,      setting::kColorMode,
    setting::kJpegQuality,  setting::kPriority,        setting::kTimerDiv,
    setting::kZoom,         setting::kFrameless,       setting::kSystemTray,
    setting::kAlwaysOnTop,  setting::kIgnoreAllEvents, setting::kIncomingCall,
    setting::kIncomingSms,  setting::kIncomingMms,     setting::kShotPrompt,
    setting::kShotFormat,   setting::kClipboardAction, setting::kShotIntervalEnable,
    setting::kShotInterval, setting::kAviFps,          setting::kAviQualityEnable,
    setting::kAviQuality,
};

// The default of an integer key, or nothing when the table has no such key.
constexpr std::optional<int> DefaultOf(std::string_view section, std::string_view key) {
    for (const IntSetting& s : kIntSettings)
        if (s.section == section && s.key == key) return s.def;
    return std::nullopt;
}

inline std::uint32_t Read(const SettingsStore& store, const IntSetting& s) {
    return store.GetInt(s.section, s.key, s.def);
}
inline bool IsSet(const SettingsStore& store, const IntSetting& s) {
    return Read(store, s) != 0;
}
inline void Write(const SettingsStore& store, const IntSetting& s, int value) {
    store.WriteInt(s.section, s.key, value);
}
// Toggle commands store the negation of the value read: always 0 or 1.
inline bool Toggle(const SettingsStore& store, const IntSetting& s) {
    const bool set = !IsSet(store, s);
    Write(store, s, set ? 1 : 0);
    return set;
}
inline std::string Read(const SettingsStore& store, const StringSetting& s) {
    return store.GetString(s.section, s.key, {});
}
inline void Write(const SettingsStore& store, const StringSetting& s, std::string_view value) {
    store.WriteString(s.section, s.key, value);
}

}  // namespace velarix
