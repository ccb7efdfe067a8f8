// The port list from sysfs: no device is opened to build it.
#include "serial/comport.h"
#include "serial/porterror.h"
#include "serial/portnames.h"
#include "serial/uucplock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

QString sysfsRoot()
{
    const QString root = qEnvironmentVariable("VELTO_SYSFS_ROOT");
    return root.isEmpty() ? QStringLiteral("/sys") : root;
}

QString devRoot()
{
    const QString root = qEnvironmentVariable("VELTO_DEV_ROOT");
    return root.isEmpty() ? QStringLiteral("/dev") : root;
}

// A sysfs attribute, trimmed; empty when missing or unreadable.
QString attribute(const QString &folder, const char *name)
{
    QFile f(folder + QLatin1Char('/') + QLatin1String(name));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.read(256)).trimmed();
}

// "ttyUSB10" -> ("ttyUSB", 10): names compared with their numbers as numbers.
std::pair<QString, qint64> nameKey(const QString &name)
{
    qsizetype digits = name.size();
    while (digits > 0 && name.at(digits - 1).isDigit())
        --digits;
    return {name.left(digits), name.mid(digits).left(18).toLongLong()};
}

void sortByName(QStringList &names)
{
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const auto ka = nameKey(a), kb = nameKey(b);
        return ka != kb ? ka < kb : a < b;
    });
}

// The USB device above a tty's device folder: the first folder upwards that has
// idVendor (ttyUSB: port, interface, device; ttyACM: interface, device).
QString usbDeviceFolder(const QString &deviceFolder, const QString &root)
{
    QString folder = deviceFolder;
    for (int level = 0; level < 4 && folder.startsWith(root) && folder.size() > root.size(); ++level) {
        if (QFileInfo::exists(folder + QStringLiteral("/idVendor")))
            return folder;
        folder = QFileInfo(folder).path();
    }
    return {};
}

QString uartName(int type)
{
    switch (type) {
    case 1: return QStringLiteral("8250");
    case 2: return QStringLiteral("16450");
    case 3: return QStringLiteral("16550");
    case 4: return QStringLiteral("16550A");
    case 5: return QStringLiteral("Cirrus");
    case 6: return QStringLiteral("ST16650");
    case 7: return QStringLiteral("ST16650V2");
    case 8: return QStringLiteral("16750");
    case 9: return QStringLiteral("Startech");
    case 10: return QStringLiteral("16C950");
    case 11: return QStringLiteral("ST16654");
    case 12: return QStringLiteral("XR16850");
    case 13: return QStringLiteral("RSA");
    default: return {};
    }
}

// What sysfs says about /sys/class/tty/NAME.
struct SysfsTty {
    bool present = false; // the class entry exists
    bool usb = false;     // a USB device is behind it
    int uartType = -1;    // the "type" attribute, -1 without one
    QString devNumbers;   // "188:0"
    QString description;
};

SysfsTty readSysfs(const QString &name)
{
    SysfsTty tty;
    const QString root = QFileInfo(sysfsRoot()).canonicalFilePath();
    if (root.isEmpty())
        return tty;
    const QString entry = root + QStringLiteral("/class/tty/") + name;
    const QString folder = QFileInfo(entry).canonicalFilePath();
    if (folder.isEmpty())
        return tty; // a link to nothing
    tty.present = true;
    tty.devNumbers = attribute(folder, "dev");
    bool typed = false;
    const int type = attribute(folder, "type").toInt(&typed);
    if (typed)
        tty.uartType = type;
    const QString device = QFileInfo(folder + QStringLiteral("/device")).canonicalFilePath();
    const QString usb = device.isEmpty() ? QString() : usbDeviceFolder(device, root);
    if (!usb.isEmpty()) {
        tty.usb = true;
        const QString maker = attribute(usb, "manufacturer");
        const QString product = attribute(usb, "product");
        const QString serial = attribute(usb, "serial");
        QString text;
        if (product.isEmpty() || maker.isEmpty())
            text = maker + product;
        else if (product.startsWith(maker, Qt::CaseInsensitive))
            text = product;
        else
            text = maker + QLatin1Char(' ') + product;
        if (text.isEmpty())
            text = QStringLiteral("USB %1:%2").arg(attribute(usb, "idVendor"), attribute(usb, "idProduct"));
        if (!serial.isEmpty())
            text += QStringLiteral(", nº de série ") + serial;
        tty.description = text;
    } else if (tty.uartType > 0) {
        const QString uart = uartName(tty.uartType);
        tty.description = uart.isEmpty() ? QStringLiteral("Porta serial da placa")
                                         : QStringLiteral("Porta serial da placa (%1)").arg(uart);
    }
    return tty;
}

// The devices the kernel writes its console to ("tty0 ttyS0"): a serial console
// carries the system's messages and logins, and bytes sent there reach the shell of
// whoever is logged in on it, so the list never offers it.
QStringList activeConsoles()
{
    return attribute(sysfsRoot() + QStringLiteral("/class/tty/console"), "active")
        .split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

class PortLister {
public:
    // A candidate device path; tty is what sysfs says about it (may be absent).
    void consider(const QString &path, const SysfsTty &tty)
    {
        struct stat st {};
        const QByteArray encoded = QFile::encodeName(path);
        if (::stat(encoded.constData(), &st) != 0 || !S_ISCHR(st.st_mode))
            return; // no node, a link to nothing, or gone meanwhile
        if (!tty.devNumbers.isEmpty() &&
            tty.devNumbers != QStringLiteral("%1:%2").arg(major(st.st_rdev)).arg(minor(st.st_rdev)))
            return; // the node belongs to another device
        const QString real = QFileInfo(path).canonicalFilePath();
        if (real.isEmpty() || seen_.contains(real))
            return;
        if (uucplock::holder(path) != 0 || procLocksHolder(st.st_dev, st.st_ino) != 0)
            return;
        seen_ << real;
        SerialPortInfo port;
        port.path = path;
        port.description = tty.description;
        if (port.description.isEmpty() && real.startsWith(QLatin1String("/dev/pts/")))
            port.description = QStringLiteral("Pseudo-terminal");
        port.accessible = ::faccessat(AT_FDCWD, encoded.constData(), R_OK | W_OK, AT_EACCESS) == 0;
        ports_ << port;
    }
    QList<SerialPortInfo> ports() const { return ports_; }

private:
    QStringList seen_;
    QList<SerialPortInfo> ports_;
};

} // namespace

QList<SerialPortInfo> listPorts()
{
    PortLister lister;
    const QString listed = qEnvironmentVariable("VELTO_SERIAL_PORTS");
    for (const QString &name : listed.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        const QString path = TCustomComPort::devicePath(name);
        const QString real = QFileInfo(path).canonicalFilePath();
        SysfsTty tty;
        if (!real.isEmpty() && !real.startsWith(QLatin1String("/dev/pts/")))
            tty = readSysfs(QFileInfo(real).fileName());
        if (!tty.present)
            tty = SysfsTty();
        lister.consider(path, tty);
    }

    const QStringList names = QDir(sysfsRoot() + QStringLiteral("/class/tty"))
                                  .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    static const QRegularExpression usbName(QStringLiteral("^tty(USB|ACM)\\d{1,9}$"));
    QStringList usb, onBoard;
    const QStringList consoles = activeConsoles();
    for (const QString &name : names) {
        if (consoles.contains(name))
            continue;
        if (usbName.match(name).hasMatch())
            usb << name;
        else if (name.startsWith(QLatin1String("tty")) && !name.contains(QLatin1Char('/')))
            onBoard << name;
    }
    sortByName(usb);
    sortByName(onBoard);
    for (const QString &name : usb) {
        const SysfsTty tty = readSysfs(name);
        if (tty.present)
            lister.consider(devRoot() + QLatin1Char('/') + name, tty);
    }
    for (const QString &name : onBoard) {
        const SysfsTty tty = readSysfs(name);
        if (tty.present && tty.uartType > 0)
            lister.consider(devRoot() + QLatin1Char('/') + name, tty);
    }
    return lister.ports();
}

QStringList EnumComPorts()
{
    QStringList paths;
    for (const SerialPortInfo &port : listPorts())
        paths << port.path;
    return paths;
}

QString portListText(const SerialPortInfo &port)
{
    if (port.accessible)
        return port.description;
    if (port.description.isEmpty())
        return QStringLiteral("(sem permissão)");
    return port.description + QStringLiteral(" (sem permissão)");
}

QString byIdFolder() { return devRoot() + QStringLiteral("/serial/by-id"); }

QString byIdNameOf(const QString &device)
{
    const QString target = QFileInfo(device).canonicalFilePath();
    if (target.isEmpty())
        return {};
    const QDir dir(byIdFolder());
    for (const QString &name : dir.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
        if (QFileInfo(dir.filePath(name)).canonicalFilePath() == target)
            return name;
    return {};
}

QString returningDevice(const QString &oldPath, const QString &byIdName)
{
    if (!byIdName.isEmpty()) {
        const QFileInfo link(QDir(byIdFolder()).filePath(byIdName));
        return link.exists() ? link.canonicalFilePath() : QString();
    }
    if (!oldPath.isEmpty() && QFileInfo::exists(oldPath))
        return oldPath;
    return {};
}
