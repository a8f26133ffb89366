#include "setup/CGradientCaption.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <algorithm>
#include <cstdint>

namespace velarix {

namespace {

// Logo font: bold, 18 pixels.
constexpr int kLogoHeight = 18;
constexpr int kLogoWeight = 700;
// The logo and the caption keep this distance from the bar's ends.
constexpr int kTextInset = 5;

int Wrap8(std::int64_t value) {
    return static_cast<int>(((value % 256) + 256) % 256);
}

}  // namespace

CGradientCaption::CGradientCaption(QWidget* parent)
    : QWidget(parent), captionColor_(palette().color(QPalette::Button)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CGradientCaption::SetText(const QString& text) {
    text_ = text;
    update();
}

QFont CGradientCaption::MakeFont(int height, int weight) const {
    QFont font;
    if (faceName_.isEmpty()) {
        // No face: the dialog's own font.
        font = parentWidget() ? parentWidget()->font() : QWidget::font();
    } else {
        // Verdana where it is installed; a plain sans-serif face otherwise.
        font.setFamilies({faceName_, QStringLiteral("DejaVu Sans"), QStringLiteral("Arial")});
        font.setStyleHint(QFont::SansSerif);
    }
    font.setPixelSize(height);
    font.setWeight(static_cast<QFont::Weight>(weight));
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

QImage CGradientCaption::PaintGradient(int width, int height, const QColor& face) {
    QImage image(std::max(width, 1), std::max(height, 1), QImage::Format_RGB32);
    image.fill(face);
    const int right = width;
    const std::int64_t w = right - 1;  // the gradient starts at x = 1
    if (w <= 0 || height <= 0) return image;
    const std::int64_t r = face.red();
    const std::int64_t g = face.green();
    const std::int64_t b = face.blue();
    const std::int64_t w2 = w * w;
    const int strip = (w / 128) >= 2 ? static_cast<int>(w / 128) : 1;

    QPainter p(&image);
    int pos = right;
    while (pos > strip) {
        pos -= strip;
        const std::int64_t d = (w - pos) * (w - pos);
        const QColor color(Wrap8(r - r * d / w2), Wrap8(g - g * d / w2), Wrap8(255 - b * d / w2));
        p.fillRect(QRect(pos + 1, 0, strip, height), color);
    }
    p.fillRect(QRect(1, 0, pos, height), Qt::black);
    p.fillRect(QRect(0, 0, 1, height), face);
    return image;
}

void CGradientCaption::BuildBackground() {
    const QPalette pal = palette();
    background_ = PaintGradient(width(), height(), pal.color(QPalette::Button));
    if (!logoFont_) logoFont_ = MakeFont(kLogoHeight, kLogoWeight);
    if (logoText_.isEmpty()) return;

    QPainter p(&background_);
    p.setFont(*logoFont_);
    const QRect area(QPoint(1, 0), QPoint(width() - 1 - kTextInset, height() - 1));
    const int flags = Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine;
    // Engraved: a light copy one pixel down and right, the shadow colour on top.
    p.setPen(pal.color(QPalette::Light));
    p.drawText(area.translated(1, 1), flags, logoText_);
    p.setPen(pal.color(QPalette::Dark));
    p.drawText(area, flags, logoText_);
}

void CGradientCaption::paintEvent(QPaintEvent* event) {
    if (background_.isNull() || background_.size() != size()) BuildBackground();
    QPainter p(this);
    p.setClipRegion(event->region());
    p.drawImage(0, 0, background_);

    if (!captionFont_) captionFont_ = MakeFont(captionHeight_, captionWeight_);
    p.setFont(*captionFont_);
    p.setPen(captionColor_);
    const QRect area(QPoint(kTextInset, 0), QPoint(width() - 1, height() - 1));
    p.drawText(area, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text_);
}

}  // namespace velarix
