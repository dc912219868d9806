// The first-run dialog.
#include "controller/widgets/initial_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "controller/models/sensor_models.h"

namespace kv::controller {

namespace {

QLabel* MakeLabel(const QString& text, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    label->setAccessibleName(text);
    buddy->setAccessibleName(text);
    return label;
}

}  // namespace

initialDlg::initialDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("initialDlg"));
    setWindowTitle(tr("Initial Setting for first running..."));
    setAccessibleName(windowTitle());

    models_ = new QComboBox(this);
    models_->setObjectName(QStringLiteral("1002"));
    for (const SensorModel& model : kSensorModels) {
        models_->addItem(
            QString::fromLatin1(model.name.data(), static_cast<qsizetype>(model.name.size())),
            model.code);
    }
    models_->setCurrentText(QString::fromLatin1(
        kDefaultSensorModel.data(), static_cast<qsizetype>(kDefaultSensorModel.size())));

    languages_ = new QComboBox(this);
    languages_->setObjectName(QStringLiteral("1003"));
    languages_->addItem(QStringLiteral("English"));
    languages_->addItem(QStringLiteral("中文简体"));
    languages_->setCurrentIndex(0);

    auto* form = new QFormLayout;
    form->addRow(MakeLabel(tr("Driver version"), models_, this), models_);
    form->addRow(MakeLabel(tr("Language"), languages_, this), languages_);

    auto* ok = new QPushButton(tr("OK"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setAccessibleName(ok->text());
    ok->setDefault(true);
    auto* cancel = new QPushButton(tr("Cancel"), this);
    cancel->setObjectName(QStringLiteral("2"));
    cancel->setAccessibleName(cancel->text());
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
}

int32_t initialDlg::ModelCode() const {
    return models_->currentData().toInt();
}

int initialDlg::Language() const {
    return languages_->currentIndex() == 1 ? 17 : 19;
}

}  // namespace kv::controller
