// The "Advanced" page; its controls come with the advanced settings work.
#include "controller/advanced_page.h"

namespace kv::controller {

Kelvarin_Advanced::Kelvarin_Advanced(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Kelvarin_Advanced"));
    setAccessibleName(tr("Advanced"));
}

}  // namespace kv::controller
