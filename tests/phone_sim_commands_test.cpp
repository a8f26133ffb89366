// The simulator's command language: text typed on the terminal reaches the
// phone in its own 8-bit code page, Windows-1252.
#include <gtest/gtest.h>

#include "Commands.h"

namespace phonesim {
namespace {

TEST(PhoneSimulatorCommands, ClipAndTextCarryWindows1252) {
    const struct {
        const char* line;
        std::string bytes;
    } cases[] = {
        {"clip plain", "plain"},
        {"clip \"  5 \xE2\x82\xAC \"", "  5 \x80 "},                         // euro sign
        {"text caf\xC3\xA9 \xE2\x80\x93 \xC5\xB8", "caf\xE9 \x96 \x9F"},     // é – Ÿ
        {"text \xC2\x81\xC2\x9D\xC2\xA0", "\x81\x9D\xA0"},                   // undefined bytes
        {"clip \xC4\x81\xF0\x9F\x98\x80.", "??."},                           // not in the page
        {"clip \xC3 \xE2\x82 \xC0\xAF \xED\xA0\x80 \xFF", "? ?? ?? ??? ?"},  // malformed
    };
    for (const auto& c : cases) {
        std::string error;
        const std::optional<Command> command = ParseCommand(c.line, &error);
        ASSERT_TRUE(command.has_value()) << c.line << ": " << error;
        EXPECT_EQ(command->text, c.bytes) << c.line;
    }
}

}  // namespace
}  // namespace phonesim
