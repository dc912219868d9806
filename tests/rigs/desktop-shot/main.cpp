// Saves a rectangle of the X desktop the DISPLAY names, in desktop pixels, as a PNG file:
//   desktop-shot X Y WIDTH HEIGHT FILE
// The rectangle may span several monitors; it is cut to the desktop.
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QRect>
#include <QScreen>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

bool ParseInt(const char* text, int& value) {
    char* end = nullptr;
    const long parsed = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || parsed < 0 || parsed > 1 << 16) {
        return false;
    }
    value = static_cast<int>(parsed);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    if (argc != 6 || !ParseInt(argv[1], x) || !ParseInt(argv[2], y) || !ParseInt(argv[3], width) ||
        !ParseInt(argv[4], height) || width == 0 || height == 0) {
        std::fprintf(stderr, "usage: desktop-shot X Y WIDTH HEIGHT FILE\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    const QRect wanted(x, y, width, height);
    QImage picture(wanted.size(), QImage::Format_RGB32);
    picture.fill(Qt::black);
    QPainter painter(&picture);
    // Each monitor is a screen of its own; each paints its part of the rectangle.
    for (QScreen* screen : QGuiApplication::screens()) {
        const QRect part = screen->geometry().intersected(wanted);
        if (part.isEmpty()) {
            continue;
        }
        const QPoint inScreen = part.topLeft() - screen->geometry().topLeft();
        const QPixmap grabbed =
            screen->grabWindow(0, inScreen.x(), inScreen.y(), part.width(), part.height());
        painter.drawPixmap(part.topLeft() - wanted.topLeft(), grabbed);
    }
    painter.end();
    if (!picture.save(QString::fromLocal8Bit(argv[5]), "PNG")) {
        std::fprintf(stderr, "desktop-shot: cannot write %s\n", argv[5]);
        return 1;
    }
    return 0;
}
