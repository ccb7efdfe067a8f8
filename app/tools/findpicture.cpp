// Looks for the window's picture, pixel for pixel, in a PNG of the window:
//   velto-findpicture <window.png> <picture.jpg>
// Prints "picture at X,Y" for every place it is shown and ends with 0; 1 when it is
// shown nowhere; 2 when a file cannot be read. The picture is decoded as the window
// decodes it, and the window draws it unscaled, so every pixel must be equal.
#include "app/picture.h"

#include <QImage>

#include <cstdio>

namespace {

bool shownAt(const QImage &window, const QImage &picture, int x, int y)
{
    for (int py = 0; py < picture.height(); ++py) {
        const auto *w = reinterpret_cast<const QRgb *>(window.constScanLine(y + py)) + x;
        const auto *p = reinterpret_cast<const QRgb *>(picture.constScanLine(py));
        for (int px = 0; px < picture.width(); ++px)
            if (w[px] != p[px])
                return false;
    }
    return true;
}

// The first pixel that differs from the top-left one: few places of the window have
// its colour, so only those are compared in full.
QPoint anchorOf(const QImage &picture)
{
    const QRgb first = picture.pixel(0, 0);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            if (picture.pixel(x, y) != first)
                return {x, y};
    return {0, 0};
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 3) {
        std::fputs("usage: velto-findpicture <window.png> <picture.jpg>\n", stderr);
        return 2;
    }
    const QImage window = QImage(QString::fromLocal8Bit(argv[1]), "PNG").convertToFormat(QImage::Format_RGB32);
    const QImage picture = picture::loadJpeg(QString::fromLocal8Bit(argv[2])).convertToFormat(QImage::Format_RGB32);
    if (window.isNull() || picture.isNull()) {
        std::fprintf(stderr, "velto-findpicture: cannot read %s\n", window.isNull() ? argv[1] : argv[2]);
        return 2;
    }
    const QPoint anchor = anchorOf(picture);
    const QRgb colour = picture.pixel(anchor);
    int found = 0;
    for (int y = 0; y + picture.height() <= window.height(); ++y)
        for (int x = 0; x + picture.width() <= window.width(); ++x)
            if (window.pixel(x + anchor.x(), y + anchor.y()) == colour && shownAt(window, picture, x, y)) {
                std::printf("picture at %d,%d\n", x, y);
                ++found;
            }
    if (found == 0) {
        std::fprintf(stderr, "velto-findpicture: the picture is not shown in %s\n", argv[1]);
        return 1;
    }
    return 0;
}
