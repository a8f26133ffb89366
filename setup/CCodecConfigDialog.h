// The configuration dialog of a video compressor, built from the encoder's
// own options: numbers with their ranges, named constants as a list, flags
// as check boxes and strings as edits. Its state is the set of option values
// that differ from the encoder's defaults, as the compressor state keeps them.
#pragma once

#include <QDialog>
#include <QString>
#include <map>
#include <string>
#include <vector>

#include "capture/CodecOptions.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLineEdit;
class QSpinBox;

namespace velarix {

using CodecState = std::map<std::string, std::string>;

class CCodecConfigDialog final : public QDialog {
    Q_OBJECT
public:
    // `state` is the saved state (empty: the encoder's defaults).
    CCodecConfigDialog(const CodecInfo& info, std::vector<CodecOption> options, CodecState state,
                       QWidget* parent = nullptr);
    ~CCodecConfigDialog() override;

    // The compressor's state: what it was given, or what OK took from the
    // controls. Pairs for options this encoder does not list are kept.
    const CodecState& State() const { return state_; }
    // What the controls show now, as a state.
    CodecState ControlsState() const;
    // The control of option `name` (object name "option_<name>"), or null. A
    // flags option's control holds one check box per bit ("flag_<constant>").
    QWidget* OptionControl(const std::string& name) const;
    int OptionCount() const { return static_cast<int>(options_.size()); }

public slots:
    void accept() override;

private:
    struct Row {
        QSpinBox* spin = nullptr;
        QDoubleSpinBox* doubleSpin = nullptr;
        QCheckBox* check = nullptr;
        QComboBox* combo = nullptr;
        std::vector<QCheckBox*> bits;
        std::int64_t otherBits = 0;  // flag bits no check box stands for
        QLineEdit* edit = nullptr;
        QWidget* control = nullptr;
    };
    QWidget* MakeControl(const CodecOption& option, const std::string& stored, Row& row);
    // The option's value in the controls, in its stored form.
    std::string ValueOf(const CodecOption& option, const Row& row) const;

    std::vector<CodecOption> options_;
    std::vector<Row> rows_;
    CodecState state_;
};

}  // namespace velarix
