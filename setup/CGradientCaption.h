// The setup dialog's caption bar: a blue gradient that fades into the button
// face, an engraved logo text at its right end, and the current page's caption
// at its left in the caption font.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QString>
#include <QWidget>
#include <optional>

namespace velarix {

class CGradientCaption final : public QWidget {
    Q_OBJECT
public:
    explicit CGradientCaption(QWidget* parent = nullptr);

    // The page caption; setting it repaints the whole bar.
    void SetText(const QString& text);
    QString Text() const { return text_; }

    void SetFaceName(const QString& face) { faceName_ = face; }
    void SetCaptionHeight(int pixels) { captionHeight_ = pixels; }
    void SetCaptionWeight(int weight) { captionWeight_ = weight; }
    void SetCaptionColor(const QColor& color) { captionColor_ = color; }
    void SetLogoText(const QString& text) { logoText_ = text; }

    QString FaceName() const { return faceName_; }
    int CaptionHeight() const { return captionHeight_; }
    int CaptionWeight() const { return captionWeight_; }
    QColor CaptionColor() const { return captionColor_; }
    QString LogoText() const { return logoText_; }

    // The cached background (gradient and logo); built at the first paint.
    const QImage& Background() const { return background_; }
    // Builds the background for the current size now, as the first paint does.
    void BuildBackground();

    // The gradient strips alone (no logo) for a client `width` × `height` and
    // the button-face colour `face`, as the bar paints them.
    static QImage PaintGradient(int width, int height, const QColor& face);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QFont MakeFont(int height, int weight) const;

    QString text_;
    QString faceName_;
    int captionHeight_ = 12;
    int captionWeight_ = 400;
    QColor captionColor_;
    QString logoText_;
    std::optional<QFont> captionFont_;
    std::optional<QFont> logoFont_;
    QImage background_;
};

}  // namespace velarix
