// The settings file's text: what a reader finds in any file, and what one
// write makes of it. The input layout is in SettingsFuzzInput.h.
//
// A write sets its key so that it reads back exactly, and changes no other
// value a reader finds; writing it again changes nothing, and the file is seen
// to hold the value already; a write skipped as unchanged would have changed
// nothing a reader sees; the file ends in a line end, stays valid UTF-8 when
// it was, and grows by little more than the new line; and the written file cut
// short anywhere reads the key as the new value or as missing, never as
// anything else.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzChecks.h"
#include "SettingsFuzzInput.h"
#include "settings/SettingsFileFormat.h"

namespace {

using namespace velarix::settings_format;
using velarix::fuzz::SettingsFuzzInput;

bool IsUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto b = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
        const unsigned char lead = b(i);
        std::size_t length = 1;
        unsigned char low = 0x80, high = 0xBF;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            return false;
        }
        if (text.size() - i < length || b(i + 1) < low || b(i + 1) > high) return false;
        for (std::size_t k = 2; k < length; ++k)
            if (b(i + k) < 0x80 || b(i + k) > 0xBF) return false;
        i += length;
    }
    return true;
}

// A value text read from the file, whatever it holds, reads the same once
// written back the way the writer writes it.
void CheckValueText(const std::string& text) {
    if (const auto n = ParseIntValue(text)) FUZZ_CHECK(ParseIntValue(IntValueText(*n)) == n);
    if (const auto s = ParseStringValue(text)) {
        const std::string written = StringValueText(*s);
        FUZZ_CHECK(ParseStringValue(written) == s);
        FUZZ_CHECK(IsUtf8(written));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto in =
        SettingsFuzzInput::Decode(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!in) return 0;

    const SettingsEntries before = ParseEntries(in->file);
    for (const auto& entry : before) CheckValueText(entry.second);

    std::uint32_t number = 0;
    for (std::size_t i = 0; i < 4 && i < in->value.size(); ++i)
        number = number << 8 | static_cast<unsigned char>(in->value[i]);
    const std::string valueText = in->number ? IntValueText(number) : StringValueText(in->value);
    const std::string written = UpdateContent(in->file, in->section, in->key, valueText);

    FUZZ_CHECK(!written.empty() && written.back() == '\n');
    FUZZ_CHECK(written.size() <= in->file.size() + 3 * (in->section.size() + in->key.size()) +
                                     valueText.size() + 128);
    FUZZ_CHECK(!IsUtf8(in->file) || IsUtf8(written));

    // The key reads back; every other value is as it was.
    SettingsEntries expected = before;
    expected[{in->section, in->key}] = valueText;
    const SettingsEntries after = ParseEntries(written);
    FUZZ_CHECK(after == expected);
    if (in->number) {
        FUZZ_CHECK(ParseIntValue(after.at({in->section, in->key})) == number);
    } else {
        FUZZ_CHECK(ParseStringValue(after.at({in->section, in->key})) == in->value);
    }

    // The same write again changes nothing, and is known to: it is skipped.
    FUZZ_CHECK(UpdateContent(written, in->section, in->key, valueText) == written);
    FUZZ_CHECK(HoldsValue(written, in->section, in->key, valueText));

    // A write skipped because the file holds the value already loses nothing
    // a reader of either type would see.
    if (HoldsValue(in->file, in->section, in->key, valueText)) {
        const std::string& stored = before.at({in->section, in->key});
        FUZZ_CHECK(ParseIntValue(stored) == ParseIntValue(valueText));
        FUZZ_CHECK(ParseStringValue(stored) == ParseStringValue(valueText));
    }

    // Cut short, the file never holds a wrong value for the key.
    const std::string cut = written.substr(0, in->cut % (written.size() + 1));
    const SettingsEntries damaged = ParseEntries(cut);
    const auto found = damaged.find({in->section, in->key});
    FUZZ_CHECK(found == damaged.end() || found->second == valueText);
    return 0;
}
