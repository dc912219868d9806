// The tab control of the main dialog.
#include "controller/widgets/tab_sheet.h"

namespace kv::controller {

CTabSheet::CTabSheet(QWidget* parent) : QTabWidget(parent) {
    setObjectName(QStringLiteral("1000"));
}

bool CTabSheet::AddPage(QWidget* page, const QString& caption) {
    if (count() >= kMaxPages) {
        return false;
    }
    addTab(page, caption);
    return true;
}

}  // namespace kv::controller
