#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <utility>
#include <vector>

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
    // Unknown options are no error here: they are ignored like any argument.
    parser.parse(arguments);
    // Qt's own --version would print the settings name; the program's version
    // is the line its about box shows.
    if (parser.isSet(version)) {
        std::printf("%s\n", CAboutBox::kVersionLine);
        return 0;
    }
    // Help, or with --help-all Qt's own options too: Qt prints and ends the
    // program, whatever else was given.
    for (const QString& name : {QStringLiteral("help"), QStringLiteral("help-all")}) {
        if (parser.isSet(name)) parser.process({arguments.value(0), QStringLiteral("--") + name});
    }
    if (arguments.size() > 1) {
        std::fprintf(stderr, "velarix: takes no arguments, ignoring: %s\n",
                     qPrintable(arguments.mid(1).join(QLatin1Char(' '))));
    }
    return std::nullopt;
}

namespace {

// A message Qt gave while the display was being opened.
struct HeldMessage {
    QtMsgType type;
    QByteArray file, function, category;
    int line;
    QString text;
};
std::vector<HeldMessage> held;
QtMessageHandler passOn = nullptr;

QString NoDisplayLine() {
    const QByteArray display = qgetenv("DISPLAY");
    return QStringLiteral("velarix: no display could be opened (%1)")
        .arg(display.isEmpty() ? QStringLiteral("DISPLAY is not set")
                               : QStringLiteral("DISPLAY=") + QString::fromLocal8Bit(display));
}

void HoldMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg) {
        // Qt would abort next; the held lines are its reasons, said shorter here.
        std::fprintf(stderr, "%s\n", qPrintable(NoDisplayLine()));
        std::_Exit(1);
    }
    held.push_back({type, context.file, context.function, context.category, context.line, text});
}

}  // namespace

DisplayOpening::DisplayOpening() {
    passOn = qInstallMessageHandler(HoldMessage);
}

DisplayOpening::~DisplayOpening() {
    Release();
}

void DisplayOpening::Release() {
    if (!active_) return;
    active_ = false;
    qInstallMessageHandler(passOn);
    for (const HeldMessage& m : std::exchange(held, {})) {
        const QMessageLogContext context(m.file.constData(), m.line, m.function.constData(),
                                         m.category.constData());
        if (passOn) passOn(m.type, context, m.text);
    }
}

}  // namespace velarix
