// The program's command line: --help and --version. Qt's own options
// (-platform, -style, -geometry, ...) keep working; QApplication takes them
// out of the arguments before these are read. The program takes no other
// arguments.
#pragma once

#include <QStringList>
#include <optional>

namespace velarix {

// True when the arguments ask only for help or the version, which needs no
// display: the caller then starts Qt on the offscreen platform.
bool AsksOnlyForInformation(int argc, const char* const* argv);

// Reads the arguments left after Qt's own (the first is the program). Help
// and usage errors are printed by Qt, which then ends the program; the
// version is the about box's version line on standard output. Returns the exit
// code when the program should end at once, nothing when it should run.
std::optional<int> HandleCommandLine(const QStringList& arguments);

}  // namespace velarix
