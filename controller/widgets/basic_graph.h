// The Setting page's drawing: the signal level bar and the drawing area, which shows either
// the electrode bars of both axes or the trace of recent touch points. Both widgets draw into
// an off-screen image and copy it to the screen in one piece, so a 30 ms refresh never flickers.
#pragma once

#include <QImage>
#include <QPolygonF>
#include <QWidget>
#include <vector>

#include "protocol/registry.h"

namespace kv::controller {

// The level bar's full scale, in scaled counts.
inline constexpr float kLevelFullScale = 50.0f;

// Length of the level bar in pixels: level / 50 of the width; a level above 50 or below 0
// (or not a number) is drawn as 50, a full bar.
int LevelBarLength(float level, int width);

// The trace: the Monitor ring walked from the entry after the newest; each run of valid
// points (x and y within 0 .. 1) scaled to the area is one line, an invalid entry breaks it.
std::vector<QPolygonF> TraceLines(const MonitorQueue& queue, QSizeF area);

// The colours and pens of the page.
inline const QColor kPageRed(200, 90, 90);
inline const QColor kPageGreen(90, 200, 90);
inline const QColor kPageGrey(90, 90, 90);

// The "Sense RealTime Value" frame.
class LevelBar final : public QWidget {
    Q_OBJECT
public:
    explicit LevelBar(const Registry& registry, QWidget* parent = nullptr);
    QImage Render(QSize size) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const Registry& registry_;
};

// The "Graph" frame: view 1 the electrode bars, view 2 the trace.
class BasicGraphArea final : public QWidget {
    Q_OBJECT
public:
    enum View { kGraphs = 1, kTrace = 2 };

    explicit BasicGraphArea(const Registry& registry, QWidget* parent = nullptr);
    void SetView(View view) { view_ = view; }
    View CurrentView() const { return view_; }
    // Electrode numbers beside the rows (the "Show sensor index" option).
    void SetShowIndex(bool show) { showIndex_ = show; }
    QImage Render(QSize size) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const Registry& registry_;
    View view_ = kGraphs;
    bool showIndex_ = false;
};

}  // namespace kv::controller
