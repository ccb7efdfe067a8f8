#include "app/picture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

#ifndef VELTO_DATADIR
#define VELTO_DATADIR "/usr/local/share/velto"
#endif

namespace {

constexpr qint64 maxFileSize = 8 * 1024 * 1024;
constexpr unsigned maxSide = 4096;

// libjpeg's own error handler ends the process; this one jumps back to the decoder.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void errorExit(j_common_ptr cinfo)
{
    auto *manager = reinterpret_cast<ErrorManager *>(cinfo->err);
    std::longjmp(manager->jump, 1);
}

void quietMessage(j_common_ptr, int) {}

struct Decoded {
    unsigned char *pixels = nullptr; // RGB, width * 3 per line, malloc'd
    unsigned width = 0, height = 0;
};

// Plain C-style decoding: nothing with a destructor lives across setjmp.
bool decode(const unsigned char *data, unsigned long size, Decoded *out)
{
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = errorExit;
    err.pub.emit_message = quietMessage;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        std::free(out->pixels);
        out->pixels = nullptr;
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, size);
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    if (cinfo.output_components != 3 || cinfo.output_width == 0 || cinfo.output_height == 0 ||
        cinfo.output_width > maxSide || cinfo.output_height > maxSide) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    out->width = cinfo.output_width;
    out->height = cinfo.output_height;
    const std::size_t stride = std::size_t(out->width) * 3;
    out->pixels = static_cast<unsigned char *>(std::malloc(stride * out->height));
    if (!out->pixels) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = out->pixels + stride * cinfo.output_scanline;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

} // namespace

namespace picture {

QImage decodeJpeg(const QByteArray &data)
{
    if (data.isEmpty())
        return {};
    Decoded d;
    if (!decode(reinterpret_cast<const unsigned char *>(data.constData()), static_cast<unsigned long>(data.size()), &d))
        return {};
    QImage image(int(d.width), int(d.height), QImage::Format_RGB888);
    const std::size_t stride = std::size_t(d.width) * 3;
    if (!image.isNull()) {
        for (unsigned y = 0; y < d.height; ++y)
            std::memcpy(image.scanLine(int(y)), d.pixels + stride * y, stride);
    }
    std::free(d.pixels);
    return image;
}

QImage loadJpeg(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > maxFileSize)
        return {};
    return decodeJpeg(file.readAll());
}

QStringList searchPaths()
{
    QStringList paths;
    if (QCoreApplication::instance())
        paths << QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("velto.jpg"));
    paths << QDir(QStringLiteral(VELTO_DATADIR)).filePath(QStringLiteral("velto.jpg"));
    // An installation moved to another prefix.
    if (QCoreApplication::instance())
        paths << QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../share/velto/velto.jpg"));
    return paths;
}

QString findPicture()
{
    for (const QString &p : searchPaths())
        if (QFileInfo(p).isFile())
            return p;
    return {};
}

} // namespace picture
