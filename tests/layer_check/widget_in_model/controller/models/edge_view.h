// A model that has taken a widget in: the layer check must name the include.
#pragma once

#include <QString>
#include <QWidget>
