// The Advanced Setting dialog.
#include "controller/widgets/adv_setting_dialog.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "controller/models/profile_file.h"
#include "controller/models/sensor_models.h"
#include "controller/platform/autostart.h"
#include "controller/widgets/main_dialog.h"
#include "controller/widgets/named_widget.h"

namespace kv::controller {

std::optional<int> ParseElectrodeCount(const QString& text) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    if (!ok || value < kMinElectrodes || value > kMaxElectrodes) {
        return std::nullopt;
    }
    return value;
}

Kelvarin_AdvSetting::Kelvarin_AdvSetting(DialogContext& context, QWidget* parent)
    : QDialog(parent), context_(context) {
    setObjectName(QStringLiteral("Kelvarin_AdvSetting"));
    setWindowTitle(tr("Kelvarin Vyren - Advanced Setting"));
    setAccessibleName(windowTitle());

    auto* testing = new QGroupBox(tr("Testing"), this);
    testing->setAccessibleName(testing->title());
    showIndex_ =
        Named(new QCheckBox(tr("Show sensor index"), testing), "1001", tr("Show sensor index"));
    controllerBoot_ = Named(new QCheckBox(tr("Controller Boot with OS"), testing), "1064",
                            tr("Controller Boot with OS"));
    auto* testingLayout = new QVBoxLayout(testing);
    testingLayout->addWidget(showIndex_);
    testingLayout->addWidget(controllerBoot_);

    auto* layoutGroup = new QGroupBox(tr("Non Standard Setting"), this);
    layoutGroup->setAccessibleName(layoutGroup->title());
    auto* xLabel = new QLabel(tr("X:"), layoutGroup);
    auto* yLabel = new QLabel(tr("Y:"), layoutGroup);
    xEdit_ = Named(new QLineEdit(layoutGroup), "1045", tr("X:"));
    yEdit_ = Named(new QLineEdit(layoutGroup), "1046", tr("Y:"));
    xLabel->setBuddy(xEdit_);
    yLabel->setBuddy(yEdit_);
    saveButton_ = Named(new QPushButton(tr("Save"), layoutGroup), "1003", tr("Save"));
    saveButton_->setAutoDefault(false);
    auto* grid = new QGridLayout(layoutGroup);
    grid->addWidget(xLabel, 0, 0);
    grid->addWidget(xEdit_, 0, 1);
    grid->addWidget(yLabel, 1, 0);
    grid->addWidget(yEdit_, 1, 1);
    grid->addWidget(saveButton_, 2, 1, Qt::AlignRight);

    okButton_ = Named(new QPushButton(tr("OK"), this), "1", tr("OK"));
    okButton_->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(okButton_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(testing);
    layout->addWidget(layoutGroup);
    layout->addLayout(buttons);

    // Initial values: the layout the driver last published, the flags as CONTROLLER.INI has
    // them.
    xEdit_->setText(QString::number(2 * context_.registry.splitState.Split0));
    yEdit_->setText(QString::number(context_.registry.splitState.Split1));
    if (context_.profile != nullptr) {
        showIndex_->setChecked(context_.profile->ReadInt("GENERAL", "INDEX", 0) != 0);
    }
    // Whether the Controller starts at login is whether its autostart entry is there.
    controllerBoot_->setChecked(HasAutostartEntry(kControllerAutostartName));

    connect(showIndex_, &QCheckBox::toggled, this, &Kelvarin_AdvSetting::ShowIndexToggled);
    connect(controllerBoot_, &QCheckBox::toggled, this,
            &Kelvarin_AdvSetting::ControllerBootToggled);
    connect(saveButton_, &QPushButton::clicked, this, [this] { SaveLayout(); });
    connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);
}

Kelvarin_AdvSetting::~Kelvarin_AdvSetting() = default;

bool Kelvarin_AdvSetting::SaveLayout() {
    const std::optional<int> x = ParseElectrodeCount(xEdit_->text());
    const std::optional<int> y = ParseElectrodeCount(yEdit_->text());
    if (!x || !y) {
        QLineEdit* bad = x ? yEdit_ : xEdit_;
        ShowMessage(tr("Please enter an integer between 8 and 80."));
        bad->setFocus();
        bad->selectAll();
        return false;
    }
    // A frame of any other length is never read: the foil would stop working.
    if (!IsReadableMuxSize(*x + *y)) {
        ShowMessage(tr("X + Y is %1: the sensor board sends frames of 16 to 64 electrodes, or "
                       "of 128. Please change X or Y.")
                        .arg(*x + *y));
        xEdit_->setFocus();
        xEdit_->selectAll();
        return false;
    }
    if (context_.driver == nullptr) {
        return true;
    }
    // The first X segment holds half the X electrodes; the second, the rest, runs reversed.
    SensorLayout layout;
    layout.split0 = *x / 2;
    layout.split1 = *y;
    layout.flip0 = 0;
    layout.flip1 = 0;
    layout.flip2 = 1;
    layout.muxSize = *x + *y;
    SetSensorLayout(*context_.driver, layout);
    return true;
}

void Kelvarin_AdvSetting::ShowIndexToggled(bool show) {
    if (context_.profile != nullptr) {
        context_.profile->WriteString("GENERAL", "INDEX", show ? "1" : "0");
    }
    emit ShowIndexChanged(show);
}

void Kelvarin_AdvSetting::ControllerBootToggled(bool boot) {
    if (context_.profile != nullptr) {
        context_.profile->WriteString("BOOT", "CONTROLLER", boot ? "1" : "0");
    }
    if (boot) {
        const QString path =
            programPath_.isEmpty() ? QCoreApplication::applicationFilePath() : programPath_;
        WriteAutostartEntry(kControllerAutostartName, path.toStdString());
    } else {
        RemoveAutostartEntry(kControllerAutostartName);
    }
}

void Kelvarin_AdvSetting::ShowMessage(const QString& text) {
    if (showMessage_) {
        showMessage_(text);
        return;
    }
    QMessageBox::warning(this, windowTitle(), text);
}

}  // namespace kv::controller
