// The "Advanced" page's driver control: start and stop, start at login, the advanced settings
// dialog and the factory reset.
#include "controller/widgets/advanced_page.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "common/file_locations.h"
#include "controller/models/factory_reset.h"
#include "controller/models/profile_file.h"
#include "controller/platform/autostart.h"
#include "controller/platform/driver_launcher.h"
#include "controller/widgets/adv_setting_dialog.h"
#include "controller/widgets/main_dialog.h"
#include "controller/widgets/progress_window.h"

namespace kv::controller {

QString Kelvarin_Advanced::DriverFolder() const {
    if (context_.launcher != nullptr) {
        return QFileInfo(context_.launcher->Program()).absolutePath();
    }
    return QCoreApplication::applicationDirPath();
}

QString Kelvarin_Advanced::DriverSettingsFolder() const {
    // The Driver's own rule, applied to its folder.
    return QString::fromStdString(SettingsFolder(DriverFolder().toStdString()));
}

void Kelvarin_Advanced::StartDriver() {
    // A driver that is still ending holds its lock; the new one starts once it is free.
    if (context_.launcher != nullptr) {
        context_.launcher->StartWhenOldEnded();
    }
    emit DriverStartedOrStopped();
}

void Kelvarin_Advanced::StopDriver() {
    registry_.driverDoStop.RaiseCounted();
    driver_.ForgetDriver();
    emit DriverStartedOrStopped();
}

void Kelvarin_Advanced::BootToggled(bool on) {
    if (context_.profile != nullptr) {
        context_.profile->WriteInt("BOOT", "DRIVER", on ? 1 : 0);
    }
    if (on) {
        const QString driver = QDir(DriverFolder()).filePath(QStringLiteral("Driver"));
        WriteAutostartEntry(kDriverAutostartName, driver.toStdString());
    } else {
        RemoveAutostartEntry(kDriverAutostartName);
    }
}

void Kelvarin_Advanced::OpenSetting() {
    Kelvarin_AdvSetting dialog(context_, this);
    // "Show sensor index": the Setting page's graph labels follow at its next redraw.
    connect(&dialog, &Kelvarin_AdvSetting::ShowIndexChanged, this,
            &Kelvarin_Advanced::ShowIndexChanged);
    dialog.exec();
}

bool Kelvarin_Advanced::FactoryResetRunning() const {
    return reset_->Running();
}

void Kelvarin_Advanced::StartFactoryReset() {
    if (reset_->Running() || otherBusy_) {
        return;
    }
    progress_->Begin(tr("Factory Reset progress"));
    reset_->Start();
    resetTimer_->start();
    UpdateDriverButtons();
    emit BusyChanged(true);
}

void Kelvarin_Advanced::CancelFactoryReset() {
    reset_->Cancel();
}

void Kelvarin_Advanced::FactoryResetFinished() {
    resetTimer_->stop();
    progress_->Finish();
    UpdateDriverButtons();
    emit BusyChanged(false);
}

void Kelvarin_Advanced::SetOtherBusy(bool busy) {
    otherBusy_ = busy;
    UpdateDriverButtons();
}

void Kelvarin_Advanced::UpdateDriverButtons() {
    const bool idle = !reset_ || !reset_->Running();
    const bool free = idle && !otherBusy_;
    resetButton_->setEnabled(free);
    startButton_->setEnabled(idle);
    stopButton_->setEnabled(free);
    settingButton_->setEnabled(custom_ && free);
}

bool Kelvarin_Advanced::Confirm(const QString& title, const QString& question) {
    if (confirm_) {
        return confirm_(title, question);
    }
    QMessageBox box(QMessageBox::Question, title, question, QMessageBox::Yes | QMessageBox::No,
                    this);
    box.setObjectName(QStringLiteral("Confirm"));
    box.setAccessibleName(title);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

}  // namespace kv::controller
