// The "Advanced" page: touch mode, edge enhancement, driver start and stop come here.
#pragma once

#include <QWidget>

namespace kv::controller {

class Kelvarin_Advanced final : public QWidget {
    Q_OBJECT
public:
    explicit Kelvarin_Advanced(QWidget* parent = nullptr);
};

}  // namespace kv::controller
