// The Setting page's level bar, electrode bars and trace.
#include "controller/widgets/basic_graph.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

#include "controller/models/graph_bars.h"

namespace kv::controller {

namespace {

bool InUnitRange(float value) {
    return std::isfinite(value) && value >= 0.0f && value <= 1.0f;
}

// One half of the graph view: a row per electrode, top to bottom.
void DrawHalf(QPainter& painter, QRect area, const Graph& graph, int count, int32_t threshold,
              bool showIndex) {
    const int width = area.width();
    const int mark = ThresholdOffset(threshold, width);
    const double rowHeight = static_cast<double>(area.height()) / count;
    QFont font = painter.font();
    font.setPixelSize(std::clamp(static_cast<int>(rowHeight * 0.8), 6, 12));
    painter.setFont(font);
    for (int i = 0; i < count; ++i) {
        const int top = area.top() + static_cast<int>(i * rowHeight);
        const int bottom = area.top() + static_cast<int>((i + 1) * rowHeight);
        const int length = BarLength(graph.Values[static_cast<size_t>(i)], width);
        painter.fillRect(QRect(area.left(), top, length, std::max(1, bottom - top)),
                         PassesThreshold(length, mark) ? kPageGreen : kPageRed);
        painter.setPen(QPen(kPageGrey, 1));
        painter.drawLine(area.left(), bottom, area.right(), bottom);
        if (showIndex) {
            painter.drawText(QRect(area.left() + 2, top, width - 4, bottom - top),
                             Qt::AlignRight | Qt::AlignVCenter, QString::number(i));
        }
    }
    painter.setPen(QPen(kPageRed, 1));
    painter.drawLine(area.left() + mark, area.top(), area.left() + mark, area.bottom());
}

}  // namespace

int LevelBarLength(float level, int width) {
    if (!(level >= 0.0f && level <= kLevelFullScale)) {
        level = kLevelFullScale;
    }
    return static_cast<int>(level / kLevelFullScale * static_cast<float>(std::max(0, width)));
}

std::vector<QPolygonF> TraceLines(const MonitorQueue& queue, QSizeF area) {
    std::vector<QPolygonF> lines;
    QPolygonF line;
    const int32_t newest = queue.last;
    for (int32_t i = 1; i <= MonitorQueue::kEntries; ++i) {
        const MonitorEntry& entry =
            queue.entries[static_cast<size_t>((newest + i) % MonitorQueue::kEntries)];
        if (InUnitRange(entry.Value6) && InUnitRange(entry.Value7)) {
            line << QPointF(entry.Value6 * area.width(), entry.Value7 * area.height());
            continue;
        }
        if (line.size() > 1) {
            lines.push_back(line);
        }
        line.clear();
    }
    if (line.size() > 1) {
        lines.push_back(line);
    }
    return lines;
}

LevelBar::LevelBar(const Registry& registry, QWidget* parent)
    : QWidget(parent), registry_(registry) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumHeight(16);
}

QImage LevelBar::Render(QSize size) const {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    const int width = size.width();
    const int length = LevelBarLength(registry_.senseStatus.Value, width);
    const int mark = ThresholdOffset(registry_.senseState.PressThreshold, width);
    painter.fillRect(QRect(0, 0, length, size.height()),
                     PassesThreshold(length, mark) ? kPageGreen : kPageRed);
    painter.setPen(QPen(kPageGrey, 1));
    painter.drawLine(mark, 0, mark, size.height());
    return image;
}

void LevelBar::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.drawImage(0, 0, Render(size()));
}

BasicGraphArea::BasicGraphArea(const Registry& registry, QWidget* parent)
    : QWidget(parent), registry_(registry) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(160, 160);
}

QImage BasicGraphArea::Render(QSize size) const {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    if (view_ == kTrace) {
        painter.setPen(QPen(kPageGrey, 2));
        for (const QPolygonF& line : TraceLines(registry_.monitorQueue, QSizeF(size))) {
            painter.drawPolyline(line);
        }
        return image;
    }
    const Split& split = registry_.splitState;
    if (split.Split0 == 0 || split.Split1 == 0) {
        return image;
    }
    const int left = LeftBarCount(split);
    const int right = RightBarCount(split);
    if (left == 0 || right == 0) {
        return image;
    }
    const int half = size.width() / 2;
    const int32_t threshold = registry_.senseState.PressThreshold;
    DrawHalf(painter, QRect(0, 0, half, size.height()), registry_.graphState0, left, threshold,
             showIndex_);
    DrawHalf(painter, QRect(half, 0, size.width() - half, size.height()), registry_.graphState1,
             right, threshold, showIndex_);
    return image;
}

void BasicGraphArea::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.drawImage(0, 0, Render(size()));
}

}  // namespace kv::controller
