// The layout of a fuzz_settings_file input, shared by the fuzzer and the seed
// generator:
//
//   byte 0       bit 0: the value written is a number (else a string)
//   bytes 1-2    BE16: where the written file is cut short, modulo its size + 1
//   byte 3       n, then n bytes: the section written
//   byte         n, then n bytes: the key written
//   bytes        BE16 n, then n bytes: the value (a number: its first 4 bytes, BE)
//   the rest     the file as found
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velarix::fuzz {

struct SettingsFuzzInput {
    bool number = false;
    std::uint16_t cut = 0;
    std::string section;
    std::string key;
    std::string value;
    std::string file;

    std::string Encode() const {
        std::string out;
        out.push_back(number ? '\1' : '\0');
        out.push_back(static_cast<char>(cut >> 8));
        out.push_back(static_cast<char>(cut & 0xFF));
        out.push_back(static_cast<char>(section.size()));
        out += section;
        out.push_back(static_cast<char>(key.size()));
        out += key;
        out.push_back(static_cast<char>(value.size() >> 8));
        out.push_back(static_cast<char>(value.size() & 0xFF));
        out += value;
        return out + file;
    }

    static std::optional<SettingsFuzzInput> Decode(std::string_view in) {
        SettingsFuzzInput d;
        std::size_t pos = 0;
        const auto byte = [&]() -> std::optional<std::size_t> {
            if (pos >= in.size()) return std::nullopt;
            return static_cast<unsigned char>(in[pos++]);
        };
        const auto take = [&](std::size_t n, std::string& out) {
            if (in.size() - pos < n) return false;
            out.assign(in.substr(pos, n));
            pos += n;
            return true;
        };
        const auto flags = byte(), hi = byte(), lo = byte();
        if (!flags || !lo) return std::nullopt;
        d.number = (*flags & 1) != 0;
        d.cut = static_cast<std::uint16_t>(*hi << 8 | *lo);
        const auto sectionSize = byte();
        if (!sectionSize || !take(*sectionSize, d.section)) return std::nullopt;
        const auto keySize = byte();
        if (!keySize || !take(*keySize, d.key)) return std::nullopt;
        const auto vhi = byte(), vlo = byte();
        if (!vlo || !take(*vhi << 8 | *vlo, d.value)) return std::nullopt;
        d.file.assign(in.substr(pos));
        return d;
    }
};

}  // namespace velarix::fuzz
