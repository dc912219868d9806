// The Controller's main window.
#include "controller/widgets/main_dialog.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindowStateChangeEvent>

#include "controller/models/profile_file.h"
#include "controller/widgets/about_page.h"
#include "controller/widgets/advanced_page.h"
#include "controller/widgets/basic_page.h"
#include "controller/widgets/calibrate_dialog.h"
#include "controller/widgets/graph_view.h"
#include "controller/widgets/tab_sheet.h"

namespace kv::controller {

namespace {

constexpr int kLangEnglish = 19;
constexpr int kLangChinese = 17;

QPushButton* MakeButton(const QString& text, const QString& id, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(id);
    button->setAccessibleName(QString(text).remove(QLatin1Char('&')));
    return button;
}

}  // namespace

CConfiguratorDlg::CConfiguratorDlg(DialogContext context, QWidget* parent)
    : QDialog(parent), context_(std::move(context)) {
    if (context_.driver == nullptr) {
        ownDriver_ = std::make_unique<DriverView>(context_.registry);
        ownDriver_->SetHello(context_.sayHello);
        context_.driver = ownDriver_.get();
    }
    setObjectName(QStringLiteral("CConfiguratorDlg"));
    setWindowTitle(tr("Kelvarin Vyren - Controller"));
    setAccessibleName(windowTitle());
    setWindowIcon(AppIcon());
    setWindowFlags(windowFlags() | Qt::WindowMinMaxButtonsHint);
    setSizeGripEnabled(true);

    // The window's menu entry for the About box (the dialog's context menu on this desktop).
    auto* separator = new QAction(this);
    separator->setSeparator(true);
    aboutAction_ = new QAction(tr("About Kelvarin Vyren Controller (&A)..."), this);
    aboutAction_->setObjectName(QStringLiteral("16"));
    connect(aboutAction_, &QAction::triggered, this, &CConfiguratorDlg::ShowAboutBox);
    if (!aboutAction_->text().isEmpty()) {
        addAction(separator);
        addAction(aboutAction_);
        setContextMenuPolicy(Qt::ActionsContextMenu);
    }

    languages_ = new QComboBox(this);
    // No identifier of its own; "1001" is the Setting page's "Enable" box.
    languages_->setObjectName(QStringLiteral("LanguageList"));
    languages_->addItem(QStringLiteral("English"));
    languages_->addItem(QStringLiteral("中文简体"));
    languages_->setCurrentIndex(context_.language == kLangChinese ? 1 : 0);
    languages_->setAccessibleName(languages_->currentText());
    connect(languages_, &QComboBox::activated, this, &CConfiguratorDlg::LanguageChosen);

    tabs_ = new CTabSheet(this);
    tabs_->setAccessibleName(tr("Setting"));
    // The About page first: it takes the notices the other pages leave while they are built.
    DriverView* driver = context_.driver;
    aboutPage_ = new Kelvarin_Copyright(
        context_.registry, [driver] { return driver->Answering(); }, tabs_);
    basicPage_ = new Kelvarin_Basic(*context_.driver, tabs_);
    // The page opens the calibration dialog (its button and the end of auto adaption).
    basicPage_->SetCalibrationRunner(
        [this] { return RunCalibration(context_, this) == QDialog::Accepted; });
    basicPage_->SetShowIndex(context_.profile != nullptr &&
                             context_.profile->ReadInt("GENERAL", "INDEX", 0) != 0);
    advancedPage_ = new Kelvarin_Advanced(context_, tabs_);
    tabs_->AddPage(basicPage_, tr("Setting"));
    tabs_->AddPage(advancedPage_, tr("Advanced"));
    tabs_->AddPage(aboutPage_, tr("About"));
    // One long operation at a time: each page keeps off what would upset the other's.
    connect(basicPage_, &Kelvarin_Basic::BusyChanged, advancedPage_,
            &Kelvarin_Advanced::SetOtherBusy);
    connect(advancedPage_, &Kelvarin_Advanced::BusyChanged, basicPage_,
            &Kelvarin_Basic::SetOtherBusy);
    // The pages rest while the window shows the graph view or is hidden to the tray.
    const auto paused = [this] { return graphMode_ || hiddenToTray_; };
    basicPage_->SetRefreshPaused(paused);
    advancedPage_->SetRefreshPaused(paused);
    // The Advanced page's notices on the About page, from the one it left while it was built.
    if (!advancedPage_->Notice().isEmpty()) {
        aboutPage_->SetNotice(advancedPage_->Notice());
    }
    connect(advancedPage_, &Kelvarin_Advanced::NoticeChanged, aboutPage_,
            &Kelvarin_Copyright::SetNotice);
    connect(advancedPage_, &Kelvarin_Advanced::DriverStartedOrStopped, basicPage_,
            &Kelvarin_Basic::ShowGraphs);
    connect(advancedPage_, &Kelvarin_Advanced::ShowIndexChanged, basicPage_,
            &Kelvarin_Basic::SetShowIndex);
    connect(tabs_, &QTabWidget::currentChanged, this,
            [this](int index) { tabs_->setAccessibleName(tabs_->tabText(index)); });

    graph_ = new GraphView(context_.registry, this);
    graph_->hide();

    daemonButton_ = MakeButton(tr("Run as Daemon"), QStringLiteral("1"), this);
    quitButton_ = MakeButton(tr("Quit"), QStringLiteral("2"), this);
    backButton_ = MakeButton(tr("Back to the settings"), QStringLiteral("GraphBack"), this);
    backButton_->hide();
    connect(daemonButton_, &QPushButton::clicked, this, &CConfiguratorDlg::accept);
    connect(quitButton_, &QPushButton::clicked, this, &CConfiguratorDlg::close);
    connect(backButton_, &QPushButton::clicked, this, &QWidget::showNormal);

    auto* top = new QHBoxLayout;
    top->addStretch(1);
    top->addWidget(languages_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(backButton_);
    buttons->addWidget(daemonButton_);
    buttons->addWidget(quitButton_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(tabs_, 1);
    layout->addWidget(graph_, 1);
    layout->addLayout(buttons);
    resize(560, 420);

    presenceTimer_ = new QTimer(this);
    presenceTimer_->setInterval(kPresencePeriodMs);
    connect(presenceTimer_, &QTimer::timeout, this, &CConfiguratorDlg::PresenceTick);
    presenceTimer_->start();

    driverTimer_ = new QTimer(this);
    driverTimer_->setInterval(kDriverViewPollMs);
    connect(driverTimer_, &QTimer::timeout, this, [driver] { driver->Poll(); });
    driverTimer_->start();

    graphTimer_ = new QTimer(this);
    graphTimer_->setInterval(kGraphPeriodMs);
    connect(graphTimer_, &QTimer::timeout, graph_, qOverload<>(&QWidget::update));
}

CConfiguratorDlg::~CConfiguratorDlg() = default;

QIcon CConfiguratorDlg::AppIcon() const {
    // A drawn icon: the foil's crossed electrodes on a blue square.
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(30, 90, 180));
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);
    painter.setPen(QPen(Qt::white, 2));
    for (int i = 8; i <= 24; i += 8) {
        painter.drawLine(i, 6, i, 26);
        painter.drawLine(6, i, 26, i);
    }
    return QIcon(pixmap);
}

void CConfiguratorDlg::ShowAtStart() {
    if (context_.status == 3) {
        showMaximized();
        EnterGraphMode();
    } else if (context_.status == 2) {
        HideToTray();
    } else {
        show();
    }
}

void CConfiguratorDlg::HideToTray() {
    if (!context_.trayAvailable || !context_.trayAvailable()) {
        // No tray to come back from: a hidden window would be lost to the user.
        if (!isMinimized() || !isVisible()) {
            showMinimized();
        }
        return;
    }
    if (tray_ == nullptr) {
        tray_ = new QSystemTrayIcon(AppIcon(), this);
        tray_->setObjectName(QStringLiteral("tray"));
        tray_->setToolTip(tr("Kelvarin Vyren driver - Controller"));
        connect(tray_, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    if (reason != QSystemTrayIcon::Unknown) {
                        ShowFromTray();
                    }
                });
    }
    hide();
    tray_->show();
    hiddenToTray_ = true;
}

void CConfiguratorDlg::ShowFromTray() {
    const Qt::WindowStates state = windowState() & ~Qt::WindowMinimized;
    setWindowState(graphMode_ ? (state | Qt::WindowMaximized) : state);
    show();
    raise();
    activateWindow();
    hiddenToTray_ = false;
    if (tray_ != nullptr) {
        tray_->hide();
    }
    // The driver answers a hello with all its records; until they are in, nothing it said
    // before counts (it may have changed meanwhile).
    if (context_.sayHello) {
        context_.driver->ForgetDriver();
        context_.sayHello();
    }
}

void CConfiguratorDlg::BringToFront() {
    if (hiddenToTray_ || !isVisible()) {
        ShowFromTray();
        return;
    }
    if (isMinimized()) {
        setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    }
    raise();
    activateWindow();
}

void CConfiguratorDlg::PresenceTick() {
    if (hiddenToTray_) {
        return;
    }
    ClientHereMessage& presence = context_.registry.clientClient;
    presence.Present = true;
    presence.Publish();
}

void CConfiguratorDlg::Quit() {
    if (quitting_) {
        return;
    }
    quitting_ = true;
    // Nothing is left half done: a search puts the old sensitivity back, a reset starts the
    // driver it stopped.
    basicPage_->CancelAdaption();
    advancedPage_->CancelFactoryReset();
    context_.driver->Poll();
    presenceTimer_->stop();
    graphTimer_->stop();
    driverTimer_->stop();
    context_.registry.storeDoSave.RaiseCounted();
    if (tray_ != nullptr) {
        tray_->hide();
    }
    emit QuitRequested();
}

void CConfiguratorDlg::ShowAboutBox() {
    QMessageBox box(this);
    box.setObjectName(QStringLiteral("100"));
    box.setWindowTitle(tr("Kelvarin Vyren Controller"));
    box.setIconPixmap(AppIcon().pixmap(32, 32));
    box.setText(tr("Kelvarin Vyren Controller，10.3.3") + QStringLiteral("\n") +
                tr("Copyright (C) Kelvarin Vyren. All rights reserved."));
    box.setAccessibleName(box.windowTitle());
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

void CConfiguratorDlg::LanguageChosen(int index) {
    const int language = index == 1 ? kLangChinese : kLangEnglish;
    languages_->setAccessibleName(languages_->currentText());
    if (context_.profile != nullptr) {
        context_.profile->WriteInt("GENERAL", "LANG", language);
    }
    QMessageBox box(this);
    box.setObjectName(QStringLiteral("languageChanged"));
    box.setWindowTitle(windowTitle());
    box.setText(tr("Language changed, please close this program and restart"));
    box.setAccessibleName(box.text());
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

void CConfiguratorDlg::EnterGraphMode() {
    if (graphMode_) {
        return;
    }
    graphMode_ = true;
    aboutPage_->SetPaused(true);
    tabs_->hide();
    languages_->hide();
    daemonButton_->hide();
    quitButton_->hide();
    backButton_->show();
    graph_->show();
    graphTimer_->start();
}

void CConfiguratorDlg::LeaveGraphMode() {
    if (!graphMode_) {
        return;
    }
    graphMode_ = false;
    graphTimer_->stop();
    graph_->hide();
    backButton_->hide();
    tabs_->show();
    languages_->show();
    daemonButton_->show();
    quitButton_->show();
    aboutPage_->SetPaused(false);
}

void CConfiguratorDlg::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || quitting_) {
        return;
    }
    const Qt::WindowStates state = windowState();
    if (state & Qt::WindowMinimized) {
        // Minimise sends the window to the tray; without a tray it just stays minimised.
        if (!hiddenToTray_ && context_.trayAvailable && context_.trayAvailable()) {
            QTimer::singleShot(0, this, [this] {
                if (isMinimized() && !hiddenToTray_) {
                    HideToTray();
                }
            });
        }
        return;
    }
    if (state & Qt::WindowMaximized) {
        EnterGraphMode();
    } else {
        LeaveGraphMode();
    }
}

void CConfiguratorDlg::closeEvent(QCloseEvent* event) {
    Quit();
    event->accept();
}

void CConfiguratorDlg::keyPressEvent(QKeyEvent* event) {
    // Enter presses the button that has the focus and nothing else: the dialog's own rule
    // would press a default button, sending the window to the tray.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
            button->click();
        }
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CConfiguratorDlg::reject() {
    if (graphMode_) {
        showNormal();
    }
}

void CConfiguratorDlg::accept() {
    HideToTray();
}

}  // namespace kv::controller
