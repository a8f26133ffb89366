#include "setup/CCodecConfigDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>
#include <cmath>

namespace velarix {

namespace {

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

int ClampToInt(double value) {
    if (std::isnan(value)) return 0;
    return static_cast<int>(
        std::clamp(value, static_cast<double>(INT_MIN), static_cast<double>(INT_MAX)));
}

// At most this many rows are shown before the list scrolls.
constexpr int kVisibleHeight = 420;

}  // namespace

CCodecConfigDialog::CCodecConfigDialog(const CodecInfo& info, std::vector<CodecOption> options,
                                       CodecState state, QWidget* parent)
    : QDialog(parent), options_(std::move(options)), state_(std::move(state)) {
    setObjectName(QStringLiteral("CCodecConfigDialog"));
    setWindowTitle(QStringLiteral("Configure %1").arg(FromUtf8(info.description)));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto* body = new QWidget;
    auto* form = new QFormLayout(body);
    form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    rows_.resize(options_.size());
    for (std::size_t i = 0; i < options_.size(); ++i) {
        const CodecOption& option = options_[i];
        const auto stored = state_.find(option.name);
        QWidget* control = MakeControl(
            option, stored != state_.end() ? stored->second : option.defaultText, rows_[i]);
        control->setObjectName(QStringLiteral("option_%1").arg(FromUtf8(option.name)));
        control->setToolTip(FromUtf8(option.help));
        rows_[i].control = control;
        auto* label = new QLabel(FromUtf8(option.name) + QLatin1Char(':'));
        label->setToolTip(FromUtf8(option.help));
        form->addRow(label, control);
    }
    if (options_.empty()) form->addRow(new QLabel(QStringLiteral("This codec has no options.")));

    auto* scroll = new QScrollArea;
    scroll->setWidget(body);
    scroll->setWidgetResizable(true);
    scroll->setMinimumWidth(body->sizeHint().width() + 24);
    scroll->setMaximumHeight(std::min(kVisibleHeight, body->sizeHint().height() + 4));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &CCodecConfigDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CCodecConfigDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(scroll);
    layout->addWidget(buttons);
}

CCodecConfigDialog::~CCodecConfigDialog() = default;

QWidget* CCodecConfigDialog::MakeControl(const CodecOption& option, const std::string& stored,
                                         Row& row) {
    const double value = option.kind == CodecOptionKind::String ? 0 : OptionNumber(option, stored);
    switch (option.kind) {
        case CodecOptionKind::Integer: {
            row.spin = new QSpinBox;
            // The default stays reachable even where the range leaves it out.
            row.spin->setRange(ClampToInt(std::min(option.minimum, option.defaultNumber)),
                               ClampToInt(std::max(option.maximum, option.defaultNumber)));
            row.spin->setValue(ClampToInt(value));
            return row.spin;
        }
        case CodecOptionKind::Float: {
            row.doubleSpin = new QDoubleSpinBox;
            row.doubleSpin->setDecimals(3);
            row.doubleSpin->setRange(std::min(option.minimum, option.defaultNumber),
                                     std::max(option.maximum, option.defaultNumber));
            row.doubleSpin->setValue(value);
            return row.doubleSpin;
        }
        case CodecOptionKind::Boolean: {
            row.check = new QCheckBox;
            // A minimum of -1 offers "automatic" as the third state.
            row.check->setTristate(option.minimum < 0);
            row.check->setCheckState(value < 0   ? Qt::PartiallyChecked
                                     : value > 0 ? Qt::Checked
                                                 : Qt::Unchecked);
            return row.check;
        }
        case CodecOptionKind::Choice: {
            row.combo = new QComboBox;
            const auto current = static_cast<std::int64_t>(std::llround(value));
            bool listed = false;
            for (const CodecOptionConstant& constant : option.constants) {
                row.combo->addItem(FromUtf8(constant.name), QVariant::fromValue(constant.value));
                row.combo->setItemData(row.combo->count() - 1, FromUtf8(constant.help),
                                       Qt::ToolTipRole);
                listed = listed || constant.value == current;
            }
            if (!listed) {
                // A value without a name (often "automatic"): shown as its number.
                row.combo->insertItem(0, QString::number(current), QVariant::fromValue(current));
            }
            row.combo->setCurrentIndex(row.combo->findData(QVariant::fromValue(current)));
            return row.combo;
        }
        case CodecOptionKind::Flags: {
            auto* box = new QWidget;
            auto* layout = new QVBoxLayout(box);
            layout->setContentsMargins(0, 0, 0, 0);
            const auto bits = static_cast<std::int64_t>(std::llround(value));
            std::int64_t named = 0;
            for (const CodecOptionConstant& constant : option.constants) {
                auto* check = new QCheckBox(FromUtf8(constant.name), box);
                check->setObjectName(QStringLiteral("flag_%1").arg(FromUtf8(constant.name)));
                check->setToolTip(FromUtf8(constant.help));
                check->setChecked(constant.value != 0 && (bits & constant.value) == constant.value);
                layout->addWidget(check);
                row.bits.push_back(check);
                named |= constant.value;
            }
            row.otherBits = bits & ~named;
            return box;
        }
        case CodecOptionKind::String:
            row.edit = new QLineEdit(FromUtf8(stored));
            return row.edit;
    }
    return new QWidget;
}

std::string CCodecConfigDialog::ValueOf(const CodecOption& option, const Row& row) const {
    switch (option.kind) {
        case CodecOptionKind::Integer:
            return FormatOptionNumber(option, row.spin->value());
        case CodecOptionKind::Float:
            return FormatOptionNumber(option, row.doubleSpin->value());
        case CodecOptionKind::Boolean: {
            const Qt::CheckState s = row.check->checkState();
            return FormatOptionNumber(option, s == Qt::PartiallyChecked ? -1
                                              : s == Qt::Checked        ? 1
                                                                        : 0);
        }
        case CodecOptionKind::Choice:
            return FormatOptionNumber(option,
                                      static_cast<double>(row.combo->currentData().toLongLong()));
        case CodecOptionKind::Flags: {
            std::int64_t bits = row.otherBits;
            for (std::size_t i = 0; i < row.bits.size(); ++i)
                if (row.bits[i]->isChecked()) bits |= option.constants[i].value;
            return FormatOptionNumber(option, static_cast<double>(bits));
        }
        case CodecOptionKind::String:
            return row.edit->text().toStdString();
    }
    return {};
}

CodecState CCodecConfigDialog::ControlsState() const {
    // Pairs for options this encoder does not offer here pass through.
    CodecState state = state_;
    for (std::size_t i = 0; i < options_.size(); ++i) {
        const CodecOption& option = options_[i];
        state.erase(option.name);
        std::string value = ValueOf(option, rows_[i]);
        // Only what differs from the encoder's default is kept.
        if (value != option.defaultText) state[option.name] = std::move(value);
    }
    return state;
}

QWidget* CCodecConfigDialog::OptionControl(const std::string& name) const {
    for (std::size_t i = 0; i < options_.size(); ++i)
        if (options_[i].name == name) return rows_[i].control;
    return nullptr;
}

void CCodecConfigDialog::accept() {
    state_ = ControlsState();
    QDialog::accept();
}

}  // namespace velarix
