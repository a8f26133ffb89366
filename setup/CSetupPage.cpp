#include "setup/CSetupPage.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

#include "setup/CFolderBrowser.h"

namespace velarix {

namespace {

// The characters whose average width the platform takes as a dialog's base width.
constexpr char kAverageSample[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

int MulDiv(int value, int mul, int div) {
    const long long product = static_cast<long long>(value) * mul;
    return static_cast<int>((product + (product >= 0 ? div / 2 : -div / 2)) / div);
}

}  // namespace

QFont DialogFont() {
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("Tahoma"), font.family()});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(8);
    return font;
}

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics fm(font);
    baseX_ = std::max(1, (fm.horizontalAdvance(QString::fromLatin1(kAverageSample)) / 26 + 1) / 2);
    baseY_ = std::max(1, fm.height());
}

int DialogUnits::MapX(int x) const {
    return MulDiv(x, baseX_, 4);
}

int DialogUnits::MapY(int y) const {
    return MulDiv(y, baseY_, 8);
}

QRect DialogUnits::Map(int x, int y, int w, int h) const {
    const int left = MapX(x);
    const int top = MapY(y);
    return QRect(left, top, MapX(x + w) - left, MapY(y + h) - top);
}

CSetupPage::CSetupPage(SetupContext context, QWidget* parent)
    : QWidget(parent), context_(std::move(context)), units_(DialogFont()) {
    setFont(DialogFont());
    // No window yet: the page stays hidden until the dialog shows it.
    hide();
}

void CSetupPage::CreatePage() {
    if (hasWindow_) return;
    BuildControls();
    hasWindow_ = true;
    UpdateData(false);
}

void CSetupPage::DestroyPage() {
    if (!hasWindow_) return;
    hide();
    for (QWidget* child : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        delete child;
    hasWindow_ = false;
}

void CSetupPage::UpdateData(bool save) {
    if (!hasWindow_) return;
    DoDataExchange(save);
}

QWidget* CSetupPage::Control(int id) const {
    const QString number = QString::number(id);
    for (QWidget* child : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        const QString name = child->objectName();
        // The name is a kind followed by the id: "edit1033", "check1032".
        if (name.size() > number.size() && name.endsWith(number) &&
            !name.at(name.size() - number.size() - 1).isDigit())
            return child;
    }
    return nullptr;
}

void CSetupPage::Place(QWidget* w, int x, int y, int width, int height) const {
    QRect r = units_.Map(x, y, width, height);
    if (qobject_cast<QAbstractButton*>(w)) {
        const int extra = w->sizeHint().height() - r.height();
        if (extra > 0) r.adjust(0, -extra / 2, 0, extra - extra / 2);
    }
    // A static text keeps its whole text where the font runs wider than the
    // template's.
    if (qobject_cast<QLabel*>(w)) {
        r.setWidth(std::max(r.width(), w->sizeHint().width()));
        r.setHeight(std::max(r.height(), w->sizeHint().height()));
    }
    w->setGeometry(r);
}

QWidget* CSetupPage::AddStatic(const QString& text, int x, int y, int width, int height,
                               bool visible) {
    auto* label = new QLabel(text, this);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Place(label, x, y, width, height);
    label->setVisible(visible);
    return label;
}

QWidget* CSetupPage::AddGroup(const QString& text, int x, int y, int width, int height,
                              bool visible) {
    auto* group = new QGroupBox(text, this);
    Place(group, x, y, width, height);
    group->lower();
    group->setVisible(visible);
    return group;
}

void CSetupPage::BrowseFolder(QString& folder, QLineEdit* edit) {
    UpdateData(true);
    CFolderBrowser browser;
    browser.initialFolder = folder;
    browser.title = QString::fromLatin1(kBrowseFolderTitle);
    if (!browser.Browse()) return;
    folder = browser.folder;
    edit->setText(folder);
    UpdateData(true);
}

}  // namespace velarix
