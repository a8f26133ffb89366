// velarix-grab: saves what an X display shows, or a part of it, as a PNG, and
// finds one picture inside another. scripts/run takes the demo screenshot
// with it; the Windows run under Wine checks what the window painted.
//
//   velarix-grab OUT.png [X Y WIDTH HEIGHT]
//   velarix-grab --find NEEDLE.png HAYSTACK.png
//       prints "X Y" of the first place where every pixel of NEEDLE stands
//       in HAYSTACK (alpha ignored) and exits 0; exits 1 when there is none
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <utility>

namespace {

bool MatchesAt(const QImage& needle, const QImage& haystack, int left, int top) {
    for (int y = 0; y < needle.height(); ++y) {
        const auto* want = reinterpret_cast<const QRgb*>(needle.constScanLine(y));
        const auto* have = reinterpret_cast<const QRgb*>(haystack.constScanLine(top + y)) + left;
        for (int x = 0; x < needle.width(); ++x)
            if ((want[x] & 0xFFFFFFu) != (have[x] & 0xFFFFFFu)) return false;
    }
    return true;
}

std::optional<std::pair<int, int>> Find(const QImage& needle, const QImage& haystack) {
    for (int top = 0; top + needle.height() <= haystack.height(); ++top)
        for (int left = 0; left + needle.width() <= haystack.width(); ++left)
            if (MatchesAt(needle, haystack, left, top)) return std::make_pair(left, top);
    return std::nullopt;
}

int FindCommand(const char* needlePath, const char* haystackPath) {
    const QImage needle =
        QImage(QString::fromLocal8Bit(needlePath)).convertToFormat(QImage::Format_RGB32);
    const QImage haystack =
        QImage(QString::fromLocal8Bit(haystackPath)).convertToFormat(QImage::Format_RGB32);
    if (needle.isNull() || haystack.isNull()) {
        std::fprintf(stderr, "velarix-grab: cannot read %s or %s\n", needlePath, haystackPath);
        return 2;
    }
    const auto at = Find(needle, haystack);
    if (!at) return 1;
    std::printf("%d %d\n", at->first, at->second);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--find") == 0) return FindCommand(argv[2], argv[3]);
    QGuiApplication app(argc, argv);
    if (argc != 2 && argc != 6) {
        std::fprintf(stderr,
                     "usage: velarix-grab OUT.png [X Y WIDTH HEIGHT]\n"
                     "       velarix-grab --find NEEDLE.png HAYSTACK.png\n");
        return 2;
    }
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        std::fprintf(stderr, "velarix-grab: no screen\n");
        return 1;
    }
    QPixmap shot = argc == 6 ? screen->grabWindow(0, std::atoi(argv[2]), std::atoi(argv[3]),
                                                  std::atoi(argv[4]), std::atoi(argv[5]))
                             : screen->grabWindow(0);
    if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "velarix-grab: could not save %s\n", argv[1]);
        return 1;
    }
    return 0;
}
