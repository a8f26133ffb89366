// The program's command line: --help and --version. Qt's own options
// (-platform, -style, -geometry, ...) keep working; QApplication takes them
// out of the arguments before these are read. The program takes no other
// arguments: it says in one line that it ignores them and starts as usual.
#pragma once

#include <QStringList>
#include <optional>

namespace velarix {

// True when the arguments ask only for help or the version, which needs no
// display: the caller then starts Qt on the offscreen platform.
bool AsksOnlyForInformation(int argc, const char* const* argv);

// Reads the arguments left after Qt's own (the first is the program). Help is
// printed by Qt, which then ends the program; the version is the about box's
// version line on standard output. Any other argument is named on one line of
// standard error and otherwise ignored. Returns the exit code when the
// program should end at once, nothing when it should run.
std::optional<int> HandleCommandLine(const QStringList& arguments);

// Lives from before the application object is made until it has its display.
// Qt ends the program with an abort and a page about plugins when it cannot
// open a display (over ssh, say); meanwhile this holds Qt's messages back and
// turns that end into one line on standard error and exit status 1. Released
// or destroyed, it passes the held messages on as they came.
class DisplayOpening {
public:
    DisplayOpening();
    ~DisplayOpening();
    DisplayOpening(const DisplayOpening&) = delete;
    DisplayOpening& operator=(const DisplayOpening&) = delete;

    void Release();

private:
    bool active_ = true;
};

}  // namespace velarix
