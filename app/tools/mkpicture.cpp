// Draws the window's picture (a JPEG of 276 x 104) and the program's icon (a PNG of
// 64 x 64) at build time, and with a theme folder the icon at every size of the
// hicolor theme as well (<theme>/<N>x<N>/apps/<name>.png):
//   mkpicture <picture.jpg> <icon.png> [<theme folder> <icon name>]
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>

#include <jpeglib.h>

namespace {

const QColor ink(16, 40, 96);
const QColor accent(200, 24, 24);

QImage drawPicture()
{
    QImage image(276, 104, QImage::Format_RGB888);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    QFont name(QStringLiteral("Arial"));
    name.setPixelSize(58);
    name.setBold(true);
    name.setItalic(true);
    p.setFont(name);
    p.setPen(ink);
    p.drawText(QRect(0, 4, 276, 70), Qt::AlignCenter, QStringLiteral("Velto"));

    // A red stripe like a rising speed trace under the name.
    QPainterPath trace;
    trace.moveTo(34, 84);
    trace.cubicTo(110, 84, 170, 78, 242, 66);
    p.setPen(QPen(accent, 5, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(trace);

    QFont sub(QStringLiteral("Arial"));
    sub.setPixelSize(12);
    p.setFont(sub);
    p.setPen(QColor(90, 90, 90));
    p.drawText(QRect(0, 86, 276, 16), Qt::AlignCenter, QStringLiteral("Injeção Eletrônica"));
    return image;
}

const int themeSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

// Drawn on a grid of 64 and scaled, so that every size shows the same icon.
QImage drawIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.scale(size / 64.0, size / 64.0);
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(44);
    f.setBold(true);
    f.setItalic(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRect(0, 0, 64, 56), Qt::AlignCenter, QStringLiteral("V"));
    p.setPen(QPen(accent, 4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(14, 52, 50, 46);
    return image;
}

bool writeJpeg(const QImage &source, const char *path)
{
    const QImage image = source.convertToFormat(QImage::Format_RGB888);
    FILE *out = std::fopen(path, "wb");
    if (!out)
        return false;
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, out);
    cinfo.image_width = JDIMENSION(image.width());
    cinfo.image_height = JDIMENSION(image.height());
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 92, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(image.constScanLine(int(cinfo.next_scanline)));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return std::fclose(out) == 0;
}

bool writePng(const QImage &image, const QString &path)
{
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "mkpicture: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

bool writeTheme(const QString &theme, const QString &name)
{
    for (int size : themeSizes) {
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(theme, QString::number(size));
        if (!QDir().mkpath(folder)) {
            std::fprintf(stderr, "mkpicture: cannot create %s\n", qPrintable(folder));
            return false;
        }
        if (!writePng(drawIcon(size), folder + QLatin1Char('/') + name + QStringLiteral(".png")))
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 3 && argc != 5) {
        std::fputs("usage: mkpicture <picture.jpg> <icon.png> [<theme folder> <icon name>]\n", stderr);
        return 2;
    }
    // Drawing needs no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (!writeJpeg(drawPicture(), argv[1])) {
        std::fprintf(stderr, "mkpicture: cannot write %s\n", argv[1]);
        return 1;
    }
    if (!writePng(drawIcon(64), QString::fromLocal8Bit(argv[2])))
        return 1;
    if (argc == 5 && !writeTheme(QString::fromLocal8Bit(argv[3]), QString::fromLocal8Bit(argv[4])))
        return 1;
    return 0;
}
