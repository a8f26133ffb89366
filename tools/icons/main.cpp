// velarix-icons: writes the program icon, drawn by the program's own code,
// for installation:
//   velarix-icons OUTDIR NAME  ->  OUTDIR/hicolor/<n>x<n>/apps/NAME.png
//   velarix-icons --ico FILE   ->  one Windows icon file holding every side
// for every side the program draws. Needs no display.
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QString>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "app/Icons.h"

namespace {

void PutLe16(QByteArray& out, unsigned value) {
    out.append(static_cast<char>(value & 0xFF));
    out.append(static_cast<char>((value >> 8) & 0xFF));
}

void PutLe32(QByteArray& out, std::uint32_t value) {
    PutLe16(out, value & 0xFFFF);
    PutLe16(out, value >> 16);
}

// An .ico file whose images are PNG streams, which Windows reads since Vista:
// a 6-byte header, a 16-byte entry per image, then the images. A side of 256
// is written as 0 in the entry's one-byte width and height.
bool WriteIco(const QString& path) {
    std::vector<QByteArray> images;
    std::vector<int> sides;
    for (int side : velarix::kProgramIconSides) {
        if (side > 256) continue;
        QByteArray png;
        QBuffer buffer(&png);
        if (!buffer.open(QIODevice::WriteOnly) ||
            !velarix::ProgramIconImage(side).save(&buffer, "PNG"))
            return false;
        images.push_back(png);
        sides.push_back(side);
    }
    QByteArray out;
    PutLe16(out, 0);  // reserved
    PutLe16(out, 1);  // icon
    PutLe16(out, static_cast<unsigned>(images.size()));
    auto offset = static_cast<std::uint32_t>(6 + 16 * images.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
        const auto side = static_cast<char>(sides[i] == 256 ? 0 : sides[i]);
        out.append(side);
        out.append(side);
        out.append('\0');  // no palette
        out.append('\0');  // reserved
        PutLe16(out, 1);   // colour planes
        PutLe16(out, 32);  // bits per pixel
        PutLe32(out, static_cast<std::uint32_t>(images[i].size()));
        PutLe32(out, offset);
        offset += static_cast<std::uint32_t>(images[i].size());
    }
    for (const QByteArray& image : images) out.append(image);
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(out) == out.size();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && QString::fromLatin1(argv[1]) == QLatin1String("--ico")) {
        if (WriteIco(QString::fromLocal8Bit(argv[2]))) return 0;
        std::fprintf(stderr, "velarix-icons: cannot write %s\n", argv[2]);
        return 1;
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: velarix-icons OUTDIR NAME | velarix-icons --ico FILE\n");
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
