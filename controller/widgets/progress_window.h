// The small window a long operation shows while it runs (auto adaption, factory reset): a bar,
// a line of text and "Cancel". Its page owns it and hides it, never deletes it, so a step that
// comes after the user closed it finds it still there; closing it in any way (Cancel, Escape,
// the window's close button) asks the operation to cancel.
#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

namespace kv::controller {

class ProgressWindow final : public QDialog {
    Q_OBJECT
public:
    ProgressWindow(const QString& objectName, QWidget* parent);

    // Shows the window over its page with this text and the bar at 0.
    void Begin(const QString& text);
    void SetProgress(int percent);
    int Progress() const;
    // The operation ended: the window goes without a cancel.
    void Finish();

signals:
    // The user closed the window or pressed "Cancel".
    void Cancelled();

protected:
    void reject() override;

private:
    QProgressBar* bar_ = nullptr;
    QLabel* label_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

}  // namespace kv::controller
