// The "Graph" panel: the live electrode signals of both axes as horizontal bars, drawn on an
// off-screen image and copied to the panel.
#pragma once

#include <QImage>
#include <QWidget>

#include "protocol/registry.h"

namespace kv::controller {

class GraphView final : public QWidget {
    Q_OBJECT
public:
    explicit GraphView(const Registry& registry, QWidget* parent = nullptr);

    // Draws both halves into an image of the given size.
    QImage Render(QSize size) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const Registry& registry_;
};

}  // namespace kv::controller
