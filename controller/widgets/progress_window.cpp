// The progress window of long operations.
#include "controller/widgets/progress_window.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace kv::controller {

ProgressWindow::ProgressWindow(const QString& objectName, QWidget* parent) : QDialog(parent) {
    setObjectName(objectName);
    setModal(false);
    bar_ = new QProgressBar(this);
    bar_->setObjectName(QStringLiteral("1011"));
    bar_->setRange(0, 100);
    label_ = new QLabel(this);
    label_->setObjectName(QStringLiteral("1057"));
    label_->setAlignment(Qt::AlignCenter);
    cancel_ = new QPushButton(tr("Cancel"), this);
    cancel_->setObjectName(QStringLiteral("Cancel"));
    cancel_->setAccessibleName(cancel_->text());
    connect(cancel_, &QPushButton::clicked, this, &ProgressWindow::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cancel_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(bar_);
    layout->addWidget(label_);
    layout->addLayout(buttons);
}

void ProgressWindow::Begin(const QString& text) {
    setWindowTitle(text);
    setAccessibleName(text);
    label_->setText(text);
    label_->setAccessibleName(text);
    bar_->setAccessibleName(text);
    bar_->setValue(0);
    resize(340, sizeHint().height());
    show();
    if (QWidget* page = parentWidget()) {
        move(page->mapToGlobal(page->rect().center()) - rect().center());
    }
}

void ProgressWindow::SetProgress(int percent) {
    bar_->setValue(percent);
}

int ProgressWindow::Progress() const {
    return bar_->value();
}

void ProgressWindow::Finish() {
    hide();
}

void ProgressWindow::reject() {
    const bool shown = isVisible();
    QDialog::reject();
    if (shown) {
        emit Cancelled();
    }
}

}  // namespace kv::controller
