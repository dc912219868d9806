// CConfiguratorDlg: the Controller's main window. Caption, "Run as Daemon" and "Quit", the
// tab sheet with its three pages, the language list, the graph view on maximise, the presence
// timer and the tray icon (or minimising where the desktop has no tray).
#pragma once

#include <QDialog>
#include <functional>
#include <memory>

#include "controller/models/driver_view.h"
#include "controller/models/monitor_choice.h"
#include "protocol/registry.h"

class QComboBox;
class QPushButton;
class QSystemTrayIcon;
class QTimer;
class QAction;

namespace kv::controller {

class CTabSheet;
class DriverLauncher;
class GraphView;
class Kelvarin_Advanced;
class Kelvarin_Basic;
class Kelvarin_Copyright;
class OutputMapper;
class ProfileFile;

// What the window needs from the rest of the program: the records it shows and sends always,
// the rest where the program has it.
struct DialogContext {
    explicit DialogContext(Registry& records) : registry(records) {}

    Registry& registry;
    ProfileFile* profile = nullptr;  // CONTROLLER.INI, for the language list
    int language = 19;               // LANG as read at start-up
    int status = 1;                  // STATUS as read at start-up
    // Whether the desktop has a tray now (QSystemTrayIcon::isSystemTrayAvailable()); asked
    // each time, since a panel can come and go while the Controller runs.
    std::function<bool()> trayAvailable;
    // What the Controller has heard from the driver; the window makes one of its own on the
    // registry when none is given.
    DriverView* driver = nullptr;
    std::function<void()> sayHello;      // sends the hello datagram
    DriverLauncher* launcher = nullptr;  // starts Driver (the Advanced page's buttons)
    // The monitors and the desktop now; empty: QGuiApplication's screens (tests give theirs).
    std::function<DesktopLayout()> desktopLayout;
    // Ties the driver's devices to the chosen monitor in a Wayland compositor that places
    // them itself; none: the driver's region alone keeps the foil on its monitor.
    OutputMapper* outputMapper = nullptr;
};

// Presence and graph redraw periods.
inline constexpr int kPresencePeriodMs = 2000;
inline constexpr int kGraphPeriodMs = 30;

class CConfiguratorDlg final : public QDialog {
    Q_OBJECT
public:
    explicit CConfiguratorDlg(DialogContext context, QWidget* parent = nullptr);
    ~CConfiguratorDlg() override;

    // Shows the window the way STATUS asks: normal, the graph view (3), or hidden to the tray
    // (2), which is minimised where there is no tray.
    void ShowAtStart();

    bool GraphMode() const { return graphMode_; }
    bool HiddenToTray() const { return hiddenToTray_; }

    // "Run as Daemon" and the minimise command: off to the tray, or minimised without one.
    void HideToTray();
    // The tray click: the window comes back and the driver is asked for all its records.
    void ShowFromTray();
    // Another Controller asked this one to come to the front.
    void BringToFront();
    // One tick of the presence timer: the presence record, unless hidden to the tray.
    void PresenceTick();
    // "Quit": a running auto adaption or factory reset is cancelled (a driver the reset
    // stopped is started again), the driver is asked to save; it keeps running.
    void Quit();

    void ShowAboutBox();

signals:
    // The user ended the Controller.
    void QuitRequested();

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // Escape: back from the graph view; it never ends the Controller.
    void reject() override;
    void accept() override;

private:
    void EnterGraphMode();
    void LeaveGraphMode();
    void LanguageChosen(int index);
    QIcon AppIcon() const;

    DialogContext context_;
    std::unique_ptr<DriverView> ownDriver_;
    CTabSheet* tabs_ = nullptr;
    Kelvarin_Basic* basicPage_ = nullptr;
    Kelvarin_Advanced* advancedPage_ = nullptr;
    Kelvarin_Copyright* aboutPage_ = nullptr;
    QComboBox* languages_ = nullptr;
    QPushButton* daemonButton_ = nullptr;
    QPushButton* quitButton_ = nullptr;
    QPushButton* backButton_ = nullptr;  // leaves the graph view
    GraphView* graph_ = nullptr;
    QTimer* presenceTimer_ = nullptr;
    QTimer* driverTimer_ = nullptr;
    QTimer* graphTimer_ = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
    QAction* aboutAction_ = nullptr;
    bool graphMode_ = false;
    bool hiddenToTray_ = false;
    bool quitting_ = false;
};

}  // namespace kv::controller
