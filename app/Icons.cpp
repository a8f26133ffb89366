// The pictures are drawn on the pixel grid of their smallest size (coordinates
// in pixels of that size) and rendered again at twice the resolution for dense
// screens, so edges stay crisp. Shapes are flat fills with a one-pixel darker
// rim rather than stroked outlines, which keeps the rims on whole pixels.
#include "app/Icons.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRectF>
#include <algorithm>
#include <array>
#include <cmath>

#include "view/CommandIds.h"

namespace velarix {
namespace {

// The program's palette.
constexpr QRgb kInk = 0xFF1F2D3A;          // rims, dark details
constexpr QRgb kBody = 0xFF3D5166;         // phone body, dark glyph parts
constexpr QRgb kBodyLight = 0xFF566D85;    // highlight on the body
constexpr QRgb kScreen = 0xFF3FA9E0;       // phone screen
constexpr QRgb kScreenRim = 0xFF1C5F8C;    // edge of the screen
constexpr QRgb kScreenSheen = 0xFF79C6EE;  // light band across the screen
constexpr QRgb kFlip = 0xFFD6DEE6;         // flip keypad, key caps, sockets
constexpr QRgb kFlipRim = 0xFF7E8B98;      // edge of light parts
constexpr QRgb kKey = 0xFF6B7B8C;          // keys on the flip
constexpr QRgb kKeyShade = 0xFFB7C2CC;     // lower lip of a key cap
constexpr QRgb kPaper = 0xFFFBFCFD;        // paper, labels
constexpr QRgb kBoard = 0xFFC48A45;        // clipboard board
constexpr QRgb kBoardRim = 0xFF7D5322;     // its edge
constexpr QRgb kClip = 0xFF98A4B0;         // clipboard clip, disk shutter
constexpr QRgb kDisk = 0xFF2F6DB5;         // floppy disk
constexpr QRgb kDiskRim = 0xFF1B467A;      // its edge
constexpr QRgb kGreen = 0xFF2EA44F;        // connected, confirmed
constexpr QRgb kGreenRim = 0xFF1B6E33;
constexpr QRgb kRed = 0xFFDA3B32;  // disconnected, recording
constexpr QRgb kRedRim = 0xFF9A231C;
constexpr QRgb kWhite = 0xFFFFFFFF;

QColor C(QRgb rgb) {
    return QColor::fromRgba(rgb);
}

using DrawFn = void (*)(QPainter&);

// Renders a drawing made for `size` pixels at `scale` times that resolution.
QPixmap Render(QSize size, int scale, DrawFn draw) {
    QImage image(size * scale, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::TextAntialiasing);
        p.scale(scale, scale);
        p.setPen(Qt::NoPen);
        draw(p);
    }
    image.setDevicePixelRatio(scale);
    return QPixmap::fromImage(image);
}

QIcon RenderIcon(QSize size, DrawFn draw) {
    QIcon icon;
    icon.addPixmap(Render(size, 1, draw));
    icon.addPixmap(Render(size, 2, draw));
    return icon;
}

void Fill(QPainter& p, const QRectF& r, qreal radius, QRgb colour) {
    p.setBrush(C(colour));
    if (radius > 0)
        p.drawRoundedRect(r, radius, radius);
    else
        p.drawRect(r);
}

// A filled shape with a one-pixel rim of another colour.
void Rimmed(QPainter& p, const QRectF& r, qreal radius, QRgb fill, QRgb rim) {
    Fill(p, r, radius, rim);
    Fill(p, r.adjusted(1, 1, -1, -1), radius > 1 ? radius - 1 : 0, fill);
}

void Disc(QPainter& p, QPointF centre, qreal radius, QRgb colour) {
    p.setBrush(C(colour));
    p.drawEllipse(centre, radius, radius);
}

void Line(QPainter& p, QPointF a, QPointF b, qreal width, QRgb colour,
          Qt::PenCapStyle cap = Qt::RoundCap) {
    p.setPen(QPen(C(colour), width, Qt::SolidLine, cap, Qt::RoundJoin));
    p.drawLine(a, b);
    p.setPen(Qt::NoPen);
}

// The phone of the program: a slate body, the screen with a light band, the
// earpiece slot and the flip keypad with two rows of three keys. `body` should
// be about 3 : 5; the parts follow its size.
void Phone(QPainter& p, const QRectF& body) {
    const qreal w = body.width();
    const qreal h = body.height();
    const qreal radius = w >= 16 ? 3.5 : 2.5;
    Rimmed(p, body, radius, kBody, kInk);
    // A lighter strip down the left side gives the body some volume.
    Fill(p, QRectF(body.left() + 1, body.top() + radius, 1, h - 2 * radius), 0, kBodyLight);

    const qreal side = w >= 16 ? 2 : 1.5;
    const qreal top = h >= 28 ? 4 : 3;
    const QRectF screen(body.left() + side, body.top() + top, w - 2 * side, h * 0.52);
    Rimmed(p, screen, 0, kScreen, kScreenRim);
    // The light band crosses the screen from its upper left corner.
    p.save();
    p.setClipRect(screen.adjusted(1, 1, -1, -1));
    p.setBrush(C(kScreenSheen));
    const qreal band = screen.width() * 0.45;
    p.drawPolygon(QPolygonF{{screen.left(), screen.top() + band},
                            {screen.left() + band, screen.top()},
                            {screen.left() + band + band * 0.55, screen.top()},
                            {screen.left(), screen.top() + band + band * 0.55}});
    p.restore();

    if (h >= 28) {
        const qreal slot = std::max(4.0, w * 0.3);
        Fill(p, QRectF(body.center().x() - slot / 2, body.top() + 1.5, slot, 1), 0.5, kInk);
    }

    const qreal flipTop = screen.bottom() + (h >= 28 ? 1.5 : 1);
    const QRectF flip(screen.left(), flipTop, screen.width(), body.bottom() - 1.5 - flipTop);
    Rimmed(p, flip, 1.5, kFlip, kFlipRim);
    const qreal keyW = flip.width() / 5.2;
    const qreal keyH = std::min(flip.height() / 5.0, keyW * 0.7);
    for (int row = 0; row < 2; ++row) {
        for (int col = 0; col < 3; ++col) {
            const qreal x = flip.left() + flip.width() * (0.2 + 0.3 * col) - keyW / 2;
            const qreal y = flip.top() + flip.height() * (0.36 + 0.32 * row) - keyH / 2;
            Fill(p, QRectF(x, y, keyW, keyH), keyH / 2, kKey);
        }
    }
}

// The phone at 16 pixels, placed pixel by pixel.
void Phone16(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing, false);
    Fill(p, QRectF(4, 0, 8, 16), 0, kInk);
    Fill(p, QRectF(3, 1, 10, 14), 0, kInk);
    Fill(p, QRectF(4, 1, 8, 14), 0, kBody);
    Fill(p, QRectF(4, 2, 1, 12), 0, kBodyLight);
    Fill(p, QRectF(5, 2, 6, 7), 0, kScreenRim);
    Fill(p, QRectF(6, 3, 4, 5), 0, kScreen);
    Fill(p, QRectF(6, 3, 2, 1), 0, kScreenSheen);
    Fill(p, QRectF(6, 4, 1, 1), 0, kScreenSheen);
    Fill(p, QRectF(5, 10, 6, 4), 0, kFlip);
    for (int x : {6, 8}) {
        Fill(p, QRectF(x, 11, 2, 1), 0, kKey);
    }
    Fill(p, QRectF(6, 12, 4, 1), 0, kKeyShade);
    Fill(p, QRectF(5, 13, 6, 1), 0, kFlipRim);
}

void Phone32(QPainter& p) {
    Phone(p, QRectF(7, 1, 18, 30));
}

// The 32-pixel phone on a 16-pixel canvas, for the tray at twice the density.
void Phone32Half(QPainter& p) {
    p.scale(0.5, 0.5);
    Phone32(p);
}

// A sheet of a clipboard showing a small copy of the phone screen.
void Clipboard(QPainter& p, const QRectF& board) {
    Rimmed(p, board, 2, kBoard, kBoardRim);
    const QRectF paper = board.adjusted(2, 3, -2, -2);
    Rimmed(p, paper, 0.5, kPaper, kFlipRim);
    const QRectF shot = paper.adjusted(2, 2.5, -2, -2);
    Rimmed(p, shot, 0, kScreen, kScreenRim);
    Fill(p, QRectF(shot.left() + 1, shot.top() + 1, shot.width() - 2, 1.5), 0, kScreenSheen);
    // The clip holds the sheet at the top edge of the board.
    const qreal clipW = board.width() * 0.5;
    Rimmed(p, QRectF(board.center().x() - clipW / 2, board.top() - 2, clipW, 4.5), 1.5, kClip,
           kInk);
}

// A floppy disk seen from the front: shutter at the top, label below.
QPainterPath CutCorner(const QRectF& r, qreal cut) {
    QPainterPath path;
    path.moveTo(r.left(), r.top());
    path.lineTo(r.right() - cut, r.top());
    path.lineTo(r.right(), r.top() + cut);
    path.lineTo(r.right(), r.bottom());
    path.lineTo(r.left(), r.bottom());
    path.closeSubpath();
    return path;
}

void Floppy(QPainter& p, const QRectF& disk) {
    const qreal cut = std::round(disk.width() * 0.18);
    p.setBrush(C(kDiskRim));
    p.drawPath(CutCorner(disk, cut));
    p.setBrush(C(kDisk));
    p.drawPath(CutCorner(disk.adjusted(1, 1, -1, -1), cut - 0.5));

    const qreal w = disk.width();
    const QRectF shutter(disk.left() + w * 0.25, disk.top() + 1, w * 0.48, disk.height() * 0.34);
    Fill(p, shutter, 0, kClip);
    Fill(p,
         QRectF(shutter.left() + shutter.width() * 0.58, shutter.top() + 1, shutter.width() * 0.24,
                shutter.height() - 2),
         0, kDiskRim);
    const QRectF label(disk.left() + 2, disk.top() + disk.height() * 0.5, w - 4,
                       disk.height() * 0.5 - 1);
    Fill(p, label, 0.5, kPaper);
    Fill(p, QRectF(label.left() + 2, label.top() + 2, label.width() - 4, 1), 0, kFlipRim);
    Fill(p, QRectF(label.left() + 2, label.top() + 4, label.width() - 6, 1), 0, kFlipRim);
}

// A round badge with a tick (green) or a cross (red), for the link state.
void Badge(QPainter& p, QPointF centre, qreal radius, bool ok) {
    Disc(p, centre, radius, ok ? kGreenRim : kRedRim);
    Disc(p, centre, radius - 1, ok ? kGreen : kRed);
    const qreal s = radius * 0.42;
    const qreal pen = radius >= 6 ? 2 : 1.6;
    if (ok) {
        p.setPen(QPen(C(kWhite), pen, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPolyline(QPolygonF{{centre.x() - s * 1.1, centre.y() + s * 0.05},
                                 {centre.x() - s * 0.25, centre.y() + s * 0.9},
                                 {centre.x() + s * 1.15, centre.y() - s * 0.75}});
        p.setPen(Qt::NoPen);
    } else {
        Line(p, {centre.x() - s, centre.y() - s}, {centre.x() + s, centre.y() + s}, pen, kWhite);
        Line(p, {centre.x() - s, centre.y() + s}, {centre.x() + s, centre.y() - s}, pen, kWhite);
    }
}

// A wall socket with two slots, and a plug whose prongs point up at it. With
// `plugged` the prongs are inside the socket.
void PlugAndSocket(QPainter& p, bool plugged) {
    Rimmed(p, QRectF(5, 2, 17, 11), 2.5, kFlip, kFlipRim);
    Fill(p, QRectF(9, 5, 2, 5), 1, kInk);
    Fill(p, QRectF(16, 5, 2, 5), 1, kInk);
    const qreal plugTop = plugged ? 13 : 19;
    if (!plugged) {
        Fill(p, QRectF(9, plugTop - 5, 2, 5.5), 0, kClip);
        Fill(p, QRectF(16, plugTop - 5, 2, 5.5), 0, kClip);
    }
    QPainterPath plug;
    plug.addRoundedRect(QRectF(7, plugTop, 13, 7), 1.5, 1.5);
    plug.addRoundedRect(QRectF(9.5, plugTop + 4, 8, 6), 2, 2);
    p.setBrush(C(kInk));
    p.drawPath(plug.simplified());
    Fill(p, QRectF(8, plugTop + 1, 11, 5), 1, kBody);
    Fill(p, QRectF(10.5, plugTop + 5, 6, 4), 1.5, kBody);
    Fill(p, QRectF(8, plugTop + 1, 11, 1), 0, kBodyLight);
    // The cable leaves the plug downwards.
    Line(p, {13.5, plugTop + 10}, {13.5, 32}, 3, kInk, Qt::FlatCap);
    Line(p, {13.5, plugTop + 10}, {13.5, 32}, 1, kBody, Qt::FlatCap);
}

void ToolbarConnect(QPainter& p) {
    PlugAndSocket(p, true);
    Badge(p, {20.5, 25.5}, 6, true);
}

void ToolbarDisconnect(QPainter& p) {
    PlugAndSocket(p, false);
    Badge(p, {20.5, 25.5}, 6, false);
}

void ToolbarCopyScreenshot(QPainter& p) {
    Phone(p, QRectF(1, 2, 14, 23));
    Clipboard(p, QRectF(10, 12, 15, 19));
}

void ToolbarSaveScreenshot(QPainter& p) {
    Phone(p, QRectF(1, 2, 14, 23));
    Floppy(p, QRectF(10, 15, 16, 16));
}

// A film camera: two reels on the body, the lens cone at the front, and the
// red dot of a running recording.
void ToolbarRecord(QPainter& p) {
    Disc(p, {8, 9.5}, 4.5, kInk);
    Disc(p, {8, 9.5}, 3.5, kBody);
    Disc(p, {8, 9.5}, 1, kFlip);
    Disc(p, {16.5, 9.5}, 4.5, kInk);
    Disc(p, {16.5, 9.5}, 3.5, kBody);
    Disc(p, {16.5, 9.5}, 1, kFlip);
    p.setBrush(C(kInk));
    p.drawPolygon(QPolygonF{{19, 17.5}, {26, 14}, {26, 25}, {19, 21.5}});
    p.setBrush(C(kBody));
    p.drawPolygon(QPolygonF{{20, 18}, {25, 15.6}, {25, 23.4}, {20, 21}});
    Rimmed(p, QRectF(2, 14, 18, 12), 2, kBody, kInk);
    Fill(p, QRectF(3, 15, 16, 1), 0, kBodyLight);
    Disc(p, {7.5, 20}, 3.2, kRedRim);
    Disc(p, {7.5, 20}, 2.4, kRed);
    Fill(p, QRectF(13, 18, 4, 4), 0.5, kScreen);
}

// A key cap: light top, darker lower lip, rounded corners.
void KeyCap(QPainter& p, const QRectF& r) {
    Rimmed(p, r, 3, kKeyShade, kFlipRim);
    Fill(p, r.adjusted(1, 1, -1, -3), 2, 0xFFEEF2F5);
}

void KeyCapText(QPainter& p, const QString& text, qreal pixelSize) {
    const QRectF cap(3, 8, 21, 17);
    KeyCap(p, cap);
    QFont font;
    font.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")});
    font.setPixelSize(static_cast<int>(pixelSize));
    font.setBold(true);
    p.setFont(font);
    p.setPen(C(kBody));
    p.drawText(cap.adjusted(1, 1, -1, -3), Qt::AlignCenter, text);
    p.setPen(Qt::NoPen);
}

void ToolbarKeyAbc(QPainter& p) {
    KeyCapText(p, QStringLiteral("ABC"), 7);
}
void ToolbarKeyClear(QPainter& p) {
    KeyCapText(p, QStringLiteral("C"), 10);
}

void ToolbarNeutral(QPainter& p) {
    KeyCap(p, QRectF(3, 8, 21, 17));
    Disc(p, {13.5, 15.5}, 1.5, kFlipRim);
}

// The flip keypad: four rows of three keys.
void ToolbarSimulateKeys(QPainter& p) {
    Rimmed(p, QRectF(5, 2, 17, 29), 3, kFlip, kFlipRim);
    for (int row = 0; row < 4; ++row) {
        for (int col = 0; col < 3; ++col) {
            const QRectF key(8 + col * 4, 6 + row * 6, 3, 4);
            Fill(p, key, 1, kKey);
        }
    }
}

// The phone's task list: three rows, each a small program picture and a name.
void ToolbarTaskList(QPainter& p) {
    Rimmed(p, QRectF(3, 5, 21, 23), 2, kPaper, kFlipRim);
    for (int row = 0; row < 3; ++row) {
        const qreal y = 8 + row * 6.5;
        Fill(p, QRectF(6, y, 4, 4), 1, row == 0 ? kScreen : kKey);
        Fill(p, QRectF(12, y + 1.5, row == 1 ? 7 : 9, 1.5), 0.5, kBody);
    }
}

void ScreenshotCopy32(QPainter& p) {
    Phone(p, QRectF(2, 1, 16, 27));
    Clipboard(p, QRectF(14, 10, 16, 21));
}

void ScreenshotSave32(QPainter& p) {
    Phone(p, QRectF(2, 1, 16, 27));
    Floppy(p, QRectF(13, 13, 18, 18));
}

// The recording toolbar, on an 18 × 17 cell.
void RecordStart(QPainter& p) {
    Disc(p, {9, 8.5}, 5.5, kRedRim);
    Disc(p, {9, 8.5}, 4.5, kRed);
    Disc(p, {7.5, 7}, 1.2, 0xFFF08A84);
}

void RecordPause(QPainter& p) {
    Rimmed(p, QRectF(4, 3, 4, 11), 1, kBody, kInk);
    Rimmed(p, QRectF(10, 3, 4, 11), 1, kBody, kInk);
}

void RecordStop(QPainter& p) {
    Rimmed(p, QRectF(4, 3, 10, 11), 1.5, kBody, kInk);
}

}  // namespace

QImage ProgramIconImage(int side) {
    // Below 32 pixels the 16-pixel drawing, from 32 up the 32-pixel one, each
    // scaled to the side: the 48-pixel icon is the 32-pixel drawing at 1.5.
    const bool small = side < 32;
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    const qreal scale = side / (small ? 16.0 : 32.0);
    p.scale(scale, scale);
    if (small)
        Phone16(p);
    else
        Phone32(p);
    return image;
}

QIcon ProgramIcon() {
    QIcon icon;
    for (int side : kProgramIconSides) icon.addPixmap(QPixmap::fromImage(ProgramIconImage(side)));
    return icon;
}

QPixmap TrayIcon() {
    return Render({16, 16}, 1, Phone16);
}

QPixmap ScreenshotCopyIcon() {
    return Render({32, 32}, 1, ScreenshotCopy32);
}

QPixmap ScreenshotSaveIcon() {
    return Render({32, 32}, 1, ScreenshotSave32);
}

QIcon ToolbarIcon(int imageIndex) {
    static constexpr std::array<DrawFn, kToolbarImageCount> kDraw = {
        ToolbarDisconnect,      // 0: 32786 disconnect
        ToolbarCopyScreenshot,  // 1: 32800 copy screenshot
        ToolbarRecord,          // 2: 32818 record a movie
        ToolbarSimulateKeys,    // 3: 32813 simulate keys
        ToolbarTaskList,        // 4: 32773 task list
        ToolbarKeyAbc,          // 5: 32772 'ABC' key
        ToolbarKeyClear,        // 6: 32783 'C' key
        ToolbarSaveScreenshot,  // 7: 32806 save screenshot
        ToolbarNeutral,         // 8
        ToolbarConnect,         // 9: 32841 connect
        ToolbarNeutral,         // 10
        ToolbarNeutral,         // 11
        ToolbarNeutral,         // 12
        ToolbarNeutral,         // 13
        ToolbarCopyScreenshot,  // 14: 32807 choose copying
        ToolbarSaveScreenshot,  // 15: 32808 choose saving
        ToolbarNeutral,         // 16
        ToolbarNeutral,         // 17
        ToolbarNeutral,         // 18
    };
    if (imageIndex < 0 || imageIndex >= kToolbarImageCount)
        return RenderIcon(kToolbarImageSize, ToolbarNeutral);
    return RenderIcon(kToolbarImageSize, kDraw[static_cast<std::size_t>(imageIndex)]);
}

QIcon RecordBarIcon(int index) {
    switch (index) {
        case record_image::kStart:
            return RenderIcon(kRecordBarImageSize, RecordStart);
        case record_image::kPause:
            return RenderIcon(kRecordBarImageSize, RecordPause);
        case record_image::kStop:
            return RenderIcon(kRecordBarImageSize, RecordStop);
        default:
            return {};
    }
}

QIcon IconForResource(int id) {
    switch (id) {
        case cmd::kIconProgram:
            return ProgramIcon();
        case cmd::kIconTray: {
            QIcon icon(TrayIcon());
            icon.addPixmap(Render({16, 16}, 2, Phone32Half));
            return icon;
        }
        case cmd::kIconScreenshotCopy: {
            QIcon icon(ScreenshotCopyIcon());
            icon.addPixmap(Render({32, 32}, 2, ScreenshotCopy32));
            return icon;
        }
        case cmd::kIconScreenshotSave: {
            QIcon icon(ScreenshotSaveIcon());
            icon.addPixmap(Render({32, 32}, 2, ScreenshotSave32));
            return icon;
        }
        default:
            return {};
    }
}

}  // namespace velarix
