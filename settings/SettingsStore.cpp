#include "settings/SettingsStore.h"

#include <utility>

namespace velarix {

SettingsStore::SettingsStore(std::shared_ptr<ISettingsBackend> backend)
    : backend_(std::move(backend)) {}

std::uint32_t SettingsStore::GetInt(std::string_view section, std::string_view key, int def) const {
    // Callers hand in signed defaults; the stored form is a 32-bit unsigned
    // word, so a negative default comes back as its two's-complement pattern.
    const auto fallback = static_cast<std::uint32_t>(def);
    if (!backend_) return fallback;
    return backend_->ReadInt(section, key).value_or(fallback);
}

// A write that would store what is already there changes nothing (the file
// keeps its bytes and its timestamp); the backend decides that against the
// store as it is at that moment, which a read here could not: it may answer
// from values kept since an earlier read. Re-syncs and dialogs write unchanged
// values often.
void SettingsStore::WriteInt(std::string_view section, std::string_view key, int value) const {
    if (backend_) backend_->WriteInt(section, key, static_cast<std::uint32_t>(value));
}

std::string SettingsStore::GetString(std::string_view section, std::string_view key,
                                     std::string_view def) const {
    if (backend_) {
        if (auto stored = backend_->ReadString(section, key)) return std::move(*stored);
    }
    return std::string(def);
}

void SettingsStore::WriteString(std::string_view section, std::string_view key,
                                std::string_view value) const {
    if (backend_) backend_->WriteString(section, key, value);
}

int SettingsStore::GetCompression(int def) const {
    return static_cast<int>(GetInt(kSectionGeneral, kKeyCompression, def));
}

void SettingsStore::SetCompression(int value) const {
    WriteInt(kSectionGeneral, kKeyCompression, value);
}

int SettingsStore::GetInterlaced(int def) const {
    return static_cast<int>(GetInt(kSectionGeneral, kKeyInterlaced, def));
}

void SettingsStore::SetInterlaced(int value) const {
    WriteInt(kSectionGeneral, kKeyInterlaced, value);
}

int SettingsStore::GetColorMode(int def) const {
    return static_cast<int>(GetInt(kSectionGeneral, kKeyColorMode, def));
}

void SettingsStore::SetColorMode(int value) const {
    WriteInt(kSectionGeneral, kKeyColorMode, value);
}

int SettingsStore::GetZoom(int def) const {
    return static_cast<int>(GetInt(kSectionGeneral, kKeyZoom, def));
}

void SettingsStore::SetZoom(int value) const {
    WriteInt(kSectionGeneral, kKeyZoom, value);
}

}  // namespace velarix
