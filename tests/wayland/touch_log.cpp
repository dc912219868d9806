// wayland-touch-log LABEL: a plain window on whichever output the compositor gives it, which
// prints where presses and touches land in it (window pixels), for the compositor tests of
// the test machine:
//   LABEL shown OUTPUT WIDTH HEIGHT     once the window is on screen
//   LABEL size OUTPUT WIDTH HEIGHT      each new size the compositor gives the window
//   LABEL press OUTPUT X Y              a mouse button (the uinput pointer)
//   LABEL touch OUTPUT X Y              where a touch point went down (the uinput touchscreen),
//                                       also one Qt delivers along with an older point that
//                                       never ended (a compositor that sends no touch frames)
// Window positions are not printed: Wayland does not tell a client where its window is.
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QRasterWindow>
#include <QScreen>
#include <QTouchEvent>
#include <cstdio>

namespace {

class TouchLog final : public QRasterWindow {
public:
    explicit TouchLog(QString label) : label_(std::move(label)) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter(this).fillRect(QRect(0, 0, width(), height()), Qt::darkCyan);
    }
    void exposeEvent(QExposeEvent* event) override {
        QRasterWindow::exposeEvent(event);
        if (isExposed() && !shown_) {
            shown_ = true;
            Say(QStringLiteral("shown %1 %2").arg(width()).arg(height()));
        }
    }
    void resizeEvent(QResizeEvent* event) override {
        QRasterWindow::resizeEvent(event);
        Say(QStringLiteral("size %1 %2").arg(width()).arg(height()));
    }
    void mousePressEvent(QMouseEvent* event) override { Say(At("press", event->position())); }
    void touchEvent(QTouchEvent* event) override {
        for (const QEventPoint& point : event->points()) {
            if (point.state() == QEventPoint::Pressed) {
                Say(At("touch", point.position()));
            }
        }
        event->accept();
    }

private:
    static QString At(const char* kind, QPointF p) {
        return QStringLiteral("%1 %2 %3")
            .arg(QLatin1String(kind))
            .arg(qRound(p.x()))
            .arg(qRound(p.y()));
    }
    // "LABEL KIND OUTPUT ...": the output goes after the kind.
    void Say(const QString& what) {
        const qsizetype space = what.indexOf(QLatin1Char(' '));
        const QString line =
            QStringLiteral("%1 %2 %3 %4")
                .arg(label_, what.left(space), screen()->name(), what.mid(space + 1));
        std::printf("%s\n", qPrintable(line));
        std::fflush(stdout);
    }

    QString label_;
    bool shown_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    TouchLog window(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("client"));
    window.setTitle(QStringLiteral("wayland-touch-log"));
    // Not full screen: a full-screen request goes to the first output, whichever is focused.
    window.show();
    return app.exec();
}
