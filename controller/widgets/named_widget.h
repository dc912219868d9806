// Controls as the pages make them: with the object name the tests find them by, and with
// their text as the accessible name a screen reader says (without the padding some texts
// carry).
#pragma once

#include <QPushButton>
#include <QString>

namespace kv::controller {

template <class W>
W* Named(W* widget, const char* id, const QString& text) {
    widget->setObjectName(QString::fromLatin1(id));
    widget->setAccessibleName(text.trimmed());
    return widget;
}

inline QPushButton* NamedButton(const QString& text, const char* id, QWidget* parent) {
    return Named(new QPushButton(text, parent), id, text);
}

}  // namespace kv::controller
