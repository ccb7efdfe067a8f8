#pragma once
// The 256-byte parameter image of the start-up screen, worked out here from the
// default map tables and the start-up texts of the correction fields, on its own
// arithmetic (floating-point thirds, hand-read digits), so that the tests do not
// compare the image code with itself.
#include "common/controls.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

namespace defaultimage {

inline QString startText(const QString &name)
{
    const ControlSpec *c = findControl(name);
    if (!c)
        throw std::logic_error("no control " + name.toStdString());
    return c->text;
}

// "-2" -> -2 (start-up texts are plain decimal integers).
inline int wholeOf(const QString &text) { return std::stoi(text.toStdString()); }

// "3,5" -> 35, "8" -> 80 (start-up injection cells carry at most one decimal).
inline int tenthsOf(const QString &text)
{
    const QStringList parts = text.split(',');
    int t = wholeOf(parts[0]) * 10;
    if (parts.size() > 1)
        t += parts[1].at(0).digitValue();
    return t;
}

// Typed points every third place, the two between them at a third and two thirds of
// the way, cut toward zero.
inline std::vector<int> curve(const QStringList &fields, int points)
{
    std::vector<int> c(points, 0);
    for (int i = 0; i < fields.size(); ++i)
        c[3 * i] = wholeOf(startText(fields[i]));
    for (int p = 0; p + 3 < points; p += 3) {
        const double a = c[p], b = c[p + 3];
        c[p + 1] = int(a + std::trunc((b - a) / 3.0));
        c[p + 2] = int(a + std::trunc(2.0 * (b - a) / 3.0));
    }
    return c;
}

inline QStringList temperatureFields(const QString &prefix)
{
    QStringList l;
    for (const char *t : {"0", "15", "30", "45", "60", "75", "90", "105"})
        l << prefix + t;
    return l;
}

inline QByteArray image()
{
    QByteArray img;
    for (const QString &cell : defaultIgnitionMap())
        img += char(wholeOf(cell));
    for (const QString &cell : defaultInjectionMap())
        img += char(tenthsOf(cell));
    for (const char *prefix : {"eCorrecaoTi", "eCorrecaoIg", "eCorrecaoMl"}) {
        for (int v : curve(temperatureFields(prefix), 22))
            img += char(v & 0xFF);
        img += QByteArray(2, '\0');
    }
    const std::vector<int> atm = curve({"eAtm820", "eAtm880", "eAtm940", "eAtm1000"}, 10);
    for (int v : atm)
        img += char(v & 0xFF);
    // Rest of block 29 and blocks 30 to 32: the bytes the start-up texts and
    // selections stand for (lambda targets in tens of mV, codes, RPM in hundreds, ...).
    const int singles[] = {55, 70, 82, 5, 5, 30,                  // 29.2 .. 29.7
                           5, 5, 30, 5, 3, 3, 8, 60,              // 30
                           5, 6, 0, 144, 0, 130, 230, 0,          // 31
                           22, 15, 87, 80, 7, 20, 10, 70};        // 32
    for (int v : singles)
        img += char(v & 0xFF);
    if (img.size() != 256)
        throw std::logic_error("default image is not 256 bytes");
    return img;
}

// The frame of block n (1..32) of an image.
inline QByteArray frame(const QByteArray &img, int n) { return char(n) + img.mid(8 * (n - 1), 8); }

inline QByteArray fromHex(const char *spaced) { return QByteArray::fromHex(QByteArray(spaced).replace(' ', "")); }

} // namespace defaultimage
