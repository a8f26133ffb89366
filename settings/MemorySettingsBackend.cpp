#include "settings/MemorySettingsBackend.h"

#include <utility>

namespace velarix {

const MemorySettingsBackend::Value* MemorySettingsBackend::Find(std::string_view section,
                                                                std::string_view key) const {
    const auto sectionIt = sections_.find(section);
    if (sectionIt == sections_.end()) return nullptr;
    const auto valueIt = sectionIt->second.find(key);
    if (valueIt == sectionIt->second.end()) return nullptr;
    return &valueIt->second;
}

void MemorySettingsBackend::Store(std::string_view section, std::string_view key, Value value) {
    auto sectionIt = sections_.find(section);
    if (sectionIt == sections_.end()) {
        sectionIt = sections_.emplace(std::string(section), Section{}).first;
    }
    Section& values = sectionIt->second;
    const auto valueIt = values.find(key);
    if (valueIt == values.end()) {
        values.emplace(std::string(key), std::move(value));
    } else {
        valueIt->second = std::move(value);
    }
}

std::optional<std::uint32_t> MemorySettingsBackend::ReadInt(std::string_view section,
                                                            std::string_view key) {
    const std::lock_guard lock(mutex_);
    const Value* value = Find(section, key);
    if (value == nullptr) return std::nullopt;
    if (const auto* number = std::get_if<std::uint32_t>(value)) return *number;
    return std::nullopt;
}

std::optional<std::string> MemorySettingsBackend::ReadString(std::string_view section,
                                                             std::string_view key) {
    const std::lock_guard lock(mutex_);
    const Value* value = Find(section, key);
    if (value == nullptr) return std::nullopt;
    if (const auto* text = std::get_if<std::string>(value)) return *text;
    return std::nullopt;
}

void MemorySettingsBackend::WriteInt(std::string_view section, std::string_view key,
                                     std::uint32_t value) {
    const std::lock_guard lock(mutex_);
    Store(section, key, Value(std::in_place_type<std::uint32_t>, value));
}

void MemorySettingsBackend::WriteString(std::string_view section, std::string_view key,
                                        std::string_view value) {
    const std::lock_guard lock(mutex_);
    Store(section, key, Value(std::in_place_type<std::string>, value));
}

std::size_t MemorySettingsBackend::Size() const {
    const std::lock_guard lock(mutex_);
    std::size_t count = 0;
    for (const auto& [name, values] : sections_) count += values.size();
    return count;
}

}  // namespace velarix
