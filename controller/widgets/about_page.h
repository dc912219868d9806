// Kelvarin_Copyright, the "About" page: live driver information rebuilt every 300 ms, then
// the product block.
#pragma once

#include <QWidget>
#include <functional>

#include "protocol/registry.h"

class QPlainTextEdit;
class QTimer;

namespace kv::controller {

inline constexpr int kAboutRefreshMs = 300;

class Kelvarin_Copyright final : public QWidget {
    Q_OBJECT
public:
    Kelvarin_Copyright(const Registry& registry, std::function<bool()> connected,
                       QWidget* parent = nullptr);

    // The graph view pauses the refresh while it is shown.
    void SetPaused(bool paused) { paused_ = paused; }
    // One refresh tick: the text is rebuilt from the records unless paused.
    void Refresh();
    QString Text() const;
    // A line shown above the driver's information until replaced (empty: none), for news
    // the user did not ask for, such as a chosen monitor that was disconnected.
    void SetNotice(const QString& notice);
    const QString& Notice() const { return notice_; }

private:
    const Registry& registry_;
    std::function<bool()> connected_;
    QPlainTextEdit* text_ = nullptr;
    QTimer* timer_ = nullptr;
    bool paused_ = false;
    QString notice_;
};

}  // namespace kv::controller
