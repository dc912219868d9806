// The About page.
#include "controller/widgets/about_page.h"

#include <QPlainTextEdit>
#include <QTimer>
#include <QVBoxLayout>

#include "controller/models/about_text.h"

namespace kv::controller {

Kelvarin_Copyright::Kelvarin_Copyright(const Registry& registry, std::function<bool()> connected,
                                       QWidget* parent)
    : QWidget(parent), registry_(registry), connected_(std::move(connected)) {
    setObjectName(QStringLiteral("Kelvarin_Copyright"));
    setAccessibleName(tr("About"));
    text_ = new QPlainTextEdit(this);
    text_->setObjectName(QStringLiteral("1060"));
    text_->setAccessibleName(tr("About"));
    text_->setReadOnly(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text_);

    timer_ = new QTimer(this);
    timer_->setInterval(kAboutRefreshMs);
    connect(timer_, &QTimer::timeout, this, &Kelvarin_Copyright::Refresh);
    timer_->start();
    Refresh();
}

void Kelvarin_Copyright::Refresh() {
    if (paused_) {
        return;
    }
    QString text = BuildAboutText(registry_, connected_ && connected_());
    if (!notice_.isEmpty()) {
        text.prepend(notice_ + QStringLiteral("\n\n"));
    }
    // Rewriting an unchanged text would reset the reader's selection and scroll position.
    if (text != text_->toPlainText()) {
        text_->setPlainText(text);
    }
}

void Kelvarin_Copyright::SetNotice(const QString& notice) {
    notice_ = notice;
    const bool wasPaused = paused_;
    paused_ = false;
    Refresh();
    paused_ = wasPaused;
}

QString Kelvarin_Copyright::Text() const {
    return text_->toPlainText();
}

}  // namespace kv::controller
