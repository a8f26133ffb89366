// Where menus, toolbars and the tray send commands, and where they ask for a
// command's enabled and checked state each time they show it.
#pragma once

#include <optional>

#include "view/CommandIds.h"

namespace velarix {

class ICommandTarget {
public:
    // True when the command was handled.
    virtual bool OnCommand(int id) = 0;
    // The state of a command this target knows, or nothing.
    virtual std::optional<cmd::CommandState> QueryCommand(int id) = 0;

protected:
    ~ICommandTarget() = default;
};

}  // namespace velarix
