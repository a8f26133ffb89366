// The simulator's command language: one command per line on standard input, or several
// separated by ';' in a --after-sync argument. See CommandHelp() for the list.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace phonesim {

enum class CommandKind {
    kCall,         // PhoneEvent 0
    kSms,          // PhoneEvent 1
    kEvent,        // PhoneEvent <number>
    kStatusWord,   // StatusWord <number>
    kStatusValue,  // StatusValue <number>
    kFlip,         // on = closed
    kBye,          // Bye without payload
    kByePayload,   // Bye with one payload byte
    kGarbage,      // an oversized length prefix
    kClip,         // set the phone clipboard to <text> and send it
    kFull,         // resend the whole screen
    kStream,       // on = frame updates flow
    kPing,         // a Ping now
    kSleep,        // wait <number> ms before the next command
    kText,         // type <text> on the phone itself
    kClear,        // wipe stylus ink and the echoed text
    kDisconnect,   // close the viewer's connection
    kQuit,         // end the simulator
    kHelp,         // list the commands
};

struct Command {
    CommandKind kind = CommandKind::kHelp;
    std::uint32_t number = 0;
    bool on = false;
    std::string text;
};

// Parses one command. Returns nothing for a blank line or a '#' comment (error left empty),
// and nothing with *error set for a line that is not a command.
std::optional<Command> ParseCommand(std::string_view line, std::string* error);

// Splits a command list at ';'; "\;" stands for a ';' inside a command.
std::vector<std::string> SplitCommandList(std::string_view list);

// The command reference, as printed by "help" and --help.
const char* CommandHelp();

}  // namespace phonesim
