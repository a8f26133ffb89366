#include "settings/RegistrySettingsBackend.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <climits>
#include <cstring>
#include <utility>

#include "settings/SettingsStore.h"

namespace velarix {
namespace {

// Larger string values are not ours; refusing them bounds the allocation.
constexpr DWORD kMaxStringBytes = 1u << 20;

// An open registry key, closed when it goes out of scope.
class UniqueHkey {
public:
    UniqueHkey() = default;
    explicit UniqueHkey(HKEY key) : key_(key) {}
    UniqueHkey(const UniqueHkey&) = delete;
    UniqueHkey& operator=(const UniqueHkey&) = delete;
    UniqueHkey(UniqueHkey&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
    UniqueHkey& operator=(UniqueHkey&& other) noexcept {
        if (this != &other) {
            Reset();
            key_ = std::exchange(other.key_, nullptr);
        }
        return *this;
    }
    ~UniqueHkey() { Reset(); }

    HKEY Get() const { return key_; }
    explicit operator bool() const { return key_ != nullptr; }

private:
    void Reset() {
        if (key_ != nullptr) ::RegCloseKey(key_);
        key_ = nullptr;
    }

    HKEY key_ = nullptr;
};

// UTF-8 to UTF-16; nothing for invalid UTF-8 or an embedded NUL, neither of
// which the registry can hold in a name or a REG_SZ without changing it.
std::optional<std::wstring> ToWide(std::string_view text) {
    if (text.empty()) return std::wstring();
    if (text.size() > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
    if (text.find('\0') != std::string_view::npos) return std::nullopt;
    const int inLength = static_cast<int>(text.size());
    const int outLength =
        ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), inLength, nullptr, 0);
    if (outLength <= 0) return std::nullopt;
    std::wstring wide(static_cast<std::size_t>(outLength), L'\0');
    if (::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), inLength, wide.data(),
                              outLength) != outLength) {
        return std::nullopt;
    }
    return wide;
}

// UTF-16 to UTF-8; nothing for unpaired surrogates, which have no UTF-8 form.
std::optional<std::string> ToUtf8(std::wstring_view text) {
    if (text.empty()) return std::string();
    if (text.size() > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
    const int inLength = static_cast<int>(text.size());
    const int outLength = ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(),
                                                inLength, nullptr, 0, nullptr, nullptr);
    if (outLength <= 0) return std::nullopt;
    std::string narrow(static_cast<std::size_t>(outLength), '\0');
    if (::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), inLength, narrow.data(),
                              outLength, nullptr, nullptr) != outLength) {
        return std::nullopt;
    }
    return narrow;
}

// Opens (creating where missing) the key of `section` under the base path.
UniqueHkey OpenSection(const std::string& basePath, std::string_view section, REGSAM access) {
    std::string path = basePath;
    if (!section.empty()) {
        path.push_back('\\');
        path.append(section);
    }
    const auto widePath = ToWide(path);
    if (!widePath) return {};
    HKEY key = nullptr;
    const LSTATUS status =
        ::RegCreateKeyExW(HKEY_CURRENT_USER, widePath->c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          access, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return {};
    return UniqueHkey(key);
}

}  // namespace

RegistrySettingsBackend::RegistrySettingsBackend()
    : baseKeyPath_("Software\\" + std::string(kCompanyKey) + "\\" + std::string(kApplicationKey)) {}

RegistrySettingsBackend::RegistrySettingsBackend(std::string baseKeyPath)
    : baseKeyPath_(std::move(baseKeyPath)) {}

std::optional<std::uint32_t> RegistrySettingsBackend::ReadInt(std::string_view section,
                                                              std::string_view key) {
    const auto name = ToWide(key);
    if (!name) return std::nullopt;
    const UniqueHkey sectionKey = OpenSection(baseKeyPath_, section, KEY_QUERY_VALUE);
    if (!sectionKey) return std::nullopt;
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof(value);
    const LSTATUS status = ::RegQueryValueExW(sectionKey.Get(), name->c_str(), nullptr, &type,
                                              reinterpret_cast<BYTE*>(&value), &size);
    if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(value)) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

std::optional<std::string> RegistrySettingsBackend::ReadString(std::string_view section,
                                                               std::string_view key) {
    const auto name = ToWide(key);
    if (!name) return std::nullopt;
    const UniqueHkey sectionKey = OpenSection(baseKeyPath_, section, KEY_QUERY_VALUE);
    if (!sectionKey) return std::nullopt;

    // Ask for the size, then the data; another program may change the value in
    // between, so a grown value is asked for again a few times.
    std::wstring buffer;
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD type = 0;
        DWORD size = 0;
        LSTATUS status =
            ::RegQueryValueExW(sectionKey.Get(), name->c_str(), nullptr, &type, nullptr, &size);
        if (status != ERROR_SUCCESS || type != REG_SZ || size > kMaxStringBytes) {
            return std::nullopt;
        }
        // Room for a terminator the stored data may lack.
        buffer.assign(size / sizeof(wchar_t) + 1, L'\0');
        DWORD got = size;
        status = ::RegQueryValueExW(sectionKey.Get(), name->c_str(), nullptr, &type,
                                    reinterpret_cast<BYTE*>(buffer.data()), &got);
        if (status == ERROR_MORE_DATA) continue;
        if (status != ERROR_SUCCESS || type != REG_SZ) return std::nullopt;
        buffer.resize(got / sizeof(wchar_t));
        // REG_SZ data normally carries its terminator, but need not; the
        // text ends at the first NUL either way.
        const std::size_t end = buffer.find(L'\0');
        if (end != std::wstring::npos) buffer.resize(end);
        return ToUtf8(buffer);
    }
    return std::nullopt;
}

void RegistrySettingsBackend::WriteInt(std::string_view section, std::string_view key,
                                       std::uint32_t value) {
    // The value read here is the registry's own, never a kept copy, so a
    // value already stored can be left alone.
    if (ReadInt(section, key) == value) return;
    const auto name = ToWide(key);
    if (!name) return;
    const UniqueHkey sectionKey = OpenSection(baseKeyPath_, section, KEY_SET_VALUE);
    if (!sectionKey) return;
    const DWORD data = value;
    ::RegSetValueExW(sectionKey.Get(), name->c_str(), 0, REG_DWORD,
                     reinterpret_cast<const BYTE*>(&data), sizeof(data));
}

void RegistrySettingsBackend::WriteString(std::string_view section, std::string_view key,
                                          std::string_view value) {
    if (const auto stored = ReadString(section, key); stored && *stored == value) return;
    const auto name = ToWide(key);
    const auto text = ToWide(value);
    if (!name || !text) return;
    // The stored size counts the terminator, as REG_SZ readers expect.
    const std::size_t bytes = (text->size() + 1) * sizeof(wchar_t);
    if (bytes > kMaxStringBytes) return;
    const UniqueHkey sectionKey = OpenSection(baseKeyPath_, section, KEY_SET_VALUE);
    if (!sectionKey) return;
    ::RegSetValueExW(sectionKey.Get(), name->c_str(), 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(text->c_str()), static_cast<DWORD>(bytes));
}

}  // namespace velarix
