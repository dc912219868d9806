// The graph view's drawing; the bar rule itself is in graph_bars.
#include "controller/widgets/graph_view.h"

#include <QPainter>

#include "controller/models/graph_bars.h"

namespace kv::controller {

namespace {

const QColor kBelowThreshold(0, 120, 215);
const QColor kAboveThreshold(220, 60, 40);
const QColor kThresholdLine(0, 150, 0);

// One half: a bar per value from top to bottom, the threshold line, each bar numbered.
void DrawHalf(QPainter& painter, QRect area, const Graph& graph, int count, int32_t threshold) {
    const int halfWidth = area.width();
    const int lineX = area.left() + ThresholdOffset(threshold, halfWidth);
    if (count > 0) {
        const double rowHeight = static_cast<double>(area.height()) / count;
        const int barHeight = std::max(1, static_cast<int>(rowHeight * 0.7));
        QFont font = painter.font();
        font.setPixelSize(std::clamp(static_cast<int>(rowHeight * 0.8), 6, 12));
        painter.setFont(font);
        for (int i = 0; i < count; ++i) {
            const int top = area.top() + static_cast<int>(i * rowHeight);
            const int length = BarLength(graph.Values[static_cast<size_t>(i)], halfWidth);
            const bool passes = PassesThreshold(length, lineX - area.left());
            painter.fillRect(QRect(area.left(), top, length, barHeight),
                             passes ? kAboveThreshold : kBelowThreshold);
            painter.setPen(Qt::black);
            painter.drawText(QRect(area.left() + 2, top, halfWidth - 4, barHeight + 2),
                             Qt::AlignRight | Qt::AlignVCenter, QString::number(i));
        }
    }
    painter.setPen(QPen(kThresholdLine, 1));
    painter.drawLine(lineX, area.top(), lineX, area.bottom());
}

}  // namespace

GraphView::GraphView(const Registry& registry, QWidget* parent)
    : QWidget(parent), registry_(registry) {
    setObjectName(QStringLiteral("Graph"));
    setAccessibleName(tr("Graph"));
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QImage GraphView::Render(QSize size) const {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    const int half = size.width() / 2;
    const int32_t threshold = registry_.senseState.PressThreshold;
    DrawHalf(painter, QRect(0, 0, half, size.height()), registry_.graphState0,
             LeftBarCount(registry_.splitState), threshold);
    DrawHalf(painter, QRect(half, 0, half, size.height()), registry_.graphState1,
             RightBarCount(registry_.splitState), threshold);
    return image;
}

void GraphView::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.drawImage(0, 0, Render(size()));
}

}  // namespace kv::controller
