// CTabSheet: the main dialog's tab control, holding up to 16 pages.
#pragma once

#include <QTabWidget>

namespace kv::controller {

class CTabSheet final : public QTabWidget {
    Q_OBJECT
public:
    static constexpr int kMaxPages = 16;

    explicit CTabSheet(QWidget* parent = nullptr);
    // Adds a page under its caption; false once the sheet is full.
    bool AddPage(QWidget* page, const QString& caption);
};

}  // namespace kv::controller
