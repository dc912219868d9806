// The "Setting" page; its controls come with the settings work.
#include "controller/basic_page.h"

namespace kv::controller {

Kelvarin_Basic::Kelvarin_Basic(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Kelvarin_Basic"));
    setAccessibleName(tr("Setting"));
}

}  // namespace kv::controller
