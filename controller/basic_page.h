// The "Setting" page: sensitivity, threshold, live graphs and auto adaption come here.
#pragma once

#include <QWidget>

namespace kv::controller {

class Kelvarin_Basic final : public QWidget {
    Q_OBJECT
public:
    explicit Kelvarin_Basic(QWidget* parent = nullptr);
};

}  // namespace kv::controller
