// initialDlg: the first-run dialog, asking for the sensor model and the language.
#pragma once

#include <QDialog>
#include <cstdint>

class QComboBox;

namespace kv::controller {

class initialDlg final : public QDialog {
    Q_OBJECT
public:
    explicit initialDlg(QWidget* parent = nullptr);

    // The model code of the chosen list entry.
    int32_t ModelCode() const;
    // LANG for the chosen language: 17 for the second entry, else 19.
    int Language() const;

private:
    QComboBox* models_ = nullptr;
    QComboBox* languages_ = nullptr;
};

}  // namespace kv::controller
