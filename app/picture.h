#pragma once
// The window's picture: a JPEG decoded with libjpeg. Failures give a null image.
#include <QImage>
#include <QString>

namespace picture {
QImage loadJpeg(const QString &path);
QImage decodeJpeg(const QByteArray &data);
// Where the picture is looked for: beside the executable, then in the installed
// data folder, then in the data folder next to the executable's own folder.
QStringList searchPaths();
QString findPicture();
} // namespace picture
