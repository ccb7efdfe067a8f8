// Port enumeration: the devices that can be opened now, in a stable order.
#include "serial/comport.h"

#include "serial/comport_backend.h"
#include "serial/portnames.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <tuple>

QStringList numberedSerialDevices(const QStringList &devEntries)
{
    const QRegularExpression pattern(QStringLiteral("^tty(S|USB|ACM)(\\d{1,9})$"));
    const QStringList families{QStringLiteral("S"), QStringLiteral("USB"), QStringLiteral("ACM")};
    QList<std::tuple<qsizetype, int, QString>> found;
    for (const QString &name : devEntries) {
        const QRegularExpressionMatch m = pattern.match(name);
        if (m.hasMatch())
            found.append({families.indexOf(m.captured(1)), m.captured(2).toInt(), name});
    }
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    QStringList paths;
    for (const auto &entry : found)
        paths.append(QStringLiteral("/dev/") + std::get<2>(entry));
    return paths;
}

QStringList EnumComPorts()
{
    QStringList candidates;
    const QString listed = qEnvironmentVariable("VELTO_SERIAL_PORTS");
    for (const QString &name : listed.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        candidates.append(TCustomComPort::devicePath(name));
    candidates.append(numberedSerialDevices(
        QDir(QStringLiteral("/dev")).entryList(QDir::System | QDir::Files)));

    QStringList ports;
    for (const QString &path : candidates) {
        if (ports.contains(path))
            continue;
        if (comProbeExclusive(QFile::encodeName(path)) == 0)
            ports.append(path);
    }
    return ports;
}
