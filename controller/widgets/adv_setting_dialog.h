// Kelvarin_AdvSetting, opened from the Advanced page: a non-standard sensor layout given by
// its electrode counts, the electrode numbers on the Setting page's graphs, and start of the
// Controller at login.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <optional>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace kv::controller {

struct DialogContext;

// Electrode counts the layout edits accept.
inline constexpr int kMinElectrodes = 8;
inline constexpr int kMaxElectrodes = 80;

// The autostart entry standing for the Controller's start-up value.
inline constexpr const char* kControllerAutostartName = "Kelvarin_Controller";

// The edit's text as an electrode count: an integer (blanks around it allowed) within
// kMinElectrodes .. kMaxElectrodes, else nothing.
std::optional<int> ParseElectrodeCount(const QString& text);

class Kelvarin_AdvSetting final : public QDialog {
    Q_OBJECT
public:
    Kelvarin_AdvSetting(DialogContext& context, QWidget* parent = nullptr);
    ~Kelvarin_AdvSetting() override;

    // The program the "Kelvarin_Controller" autostart entry starts; the running Controller
    // (QCoreApplication::applicationFilePath()) unless set.
    void SetProgramPath(const QString& path) { programPath_ = path; }
    // Shows the validation message; a warning box unless set (tests note it instead).
    void SetMessageShower(std::function<void(const QString&)> show) {
        showMessage_ = std::move(show);
    }

    // "Save": validates both edits, then sends the layout and the save request. False (nothing
    // sent) when an edit fails validation.
    bool SaveLayout();

signals:
    // "Show sensor index" changed: the Setting page's graphs show or drop the electrode
    // numbers from their next redraw (connect to Kelvarin_Basic::SetShowIndex).
    void ShowIndexChanged(bool show);

private:
    void ShowIndexToggled(bool show);
    void ControllerBootToggled(bool boot);
    void ShowMessage(const QString& text);

    DialogContext& context_;
    QString programPath_;
    std::function<void(const QString&)> showMessage_;
    QCheckBox* showIndex_ = nullptr;
    QCheckBox* controllerBoot_ = nullptr;
    QLineEdit* xEdit_ = nullptr;
    QLineEdit* yEdit_ = nullptr;
    QPushButton* saveButton_ = nullptr;
    QPushButton* okButton_ = nullptr;
};

}  // namespace kv::controller
