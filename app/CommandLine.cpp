#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <cstdio>
#include <string_view>

#include "app/CAboutBox.h"

namespace velarix {

bool AsksOnlyForInformation(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") break;
        if (arg == "-h" || arg == "--help" || arg == "--help-all" || arg == "-?" || arg == "-v" ||
            arg == "--version")
            return true;
    }
    return false;
}

std::optional<int> HandleCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Shows the screen of a phone attached through its PC suite's relay, live, and lets you "
        "work the phone with the PC's keyboard and mouse."));
    parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    // Qt's own --version would print the settings name; the program's version
    // is the line its about box shows.
    if (parser.parse(arguments) && parser.isSet(version)) {
        std::printf("%s\n", CAboutBox::kVersionLine);
        return 0;
    }
    // Help, --help-all (with Qt's own options) and unknown options: Qt prints
    // and ends the program.
    parser.process(arguments);
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "velarix: takes no arguments: %s\nTry 'velarix --help'.\n",
                     qPrintable(parser.positionalArguments().join(QLatin1Char(' '))));
        return 2;
    }
    return std::nullopt;
}

}  // namespace velarix
