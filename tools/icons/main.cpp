// velarix-icons: writes the program icon, drawn by the program's own code,
// into a hicolor icon theme tree for installation:
//   velarix-icons OUTDIR NAME  ->  OUTDIR/hicolor/<n>x<n>/apps/NAME.png
// for every side the program draws. Needs no display.
#include <QDir>
#include <QImage>
#include <QString>
#include <cstdio>

#include "app/Icons.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: velarix-icons OUTDIR NAME\n");
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    const QString name = QString::fromLocal8Bit(argv[2]);
    for (int side : velarix::kProgramIconSides) {
        const QString dir = QStringLiteral("%1/hicolor/%2x%2/apps").arg(root).arg(side);
        const QString file = QStringLiteral("%1/%2.png").arg(dir, name);
        if (!QDir().mkpath(dir) || !velarix::ProgramIconImage(side).save(file, "PNG")) {
            std::fprintf(stderr, "velarix-icons: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
