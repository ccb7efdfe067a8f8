// The port list from a fake sysfs tree: which devices, in which order, with which
// descriptions, and that nothing is opened to build it.
#include "deadpid.h"
#include "serial/comport.h"
#include "serial/portnames.h"
#include "ptypair.h"

#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// A folder laid out like /sys, /dev and /run/lock, set as the list's roots.
class FakeSystem {
public:
    FakeSystem()
    {
        ::chmod(QFile::encodeName(dir_.path()).constData(), 0755); // other users run in it too
        QDir(dir_.path()).mkpath(QStringLiteral("sys/class/tty"));
        QDir(dir_.path()).mkpath(QStringLiteral("dev"));
        QDir(dir_.path()).mkpath(QStringLiteral("lock"));
        qputenv("VELTO_SYSFS_ROOT", QFile::encodeName(path("sys")));
        qputenv("VELTO_DEV_ROOT", QFile::encodeName(path("dev")));
        qputenv("VELTO_LOCK_DIR", QFile::encodeName(path("lock")));
        qunsetenv("VELTO_SERIAL_PORTS");
    }
    ~FakeSystem()
    {
        for (const char *name : {"VELTO_SYSFS_ROOT", "VELTO_DEV_ROOT", "VELTO_LOCK_DIR", "VELTO_SERIAL_PORTS"})
            qunsetenv(name);
    }

    QString path(const QString &relative) const { return dir_.path() + QLatin1Char('/') + relative; }

    void file(const QString &relative, const QByteArray &content)
    {
        QDir().mkpath(QFileInfo(path(relative)).path());
        QFile f(path(relative));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    void link(const QString &relative, const QString &target)
    {
        QDir().mkpath(QFileInfo(path(relative)).path());
        QVERIFY(QFile::link(target, path(relative)));
    }
    void node(const QString &name, int maj, int min, mode_t mode = 0600)
    {
        const QByteArray p = QFile::encodeName(path(QStringLiteral("dev/") + name));
        QVERIFY2(::mknod(p.constData(), S_IFCHR | mode, makedev(maj, min)) == 0, strerror(errno));
        ::chmod(p.constData(), mode);
    }

    // A USB device at sys/devices/usb1/BUS with its attributes.
    void usbDevice(const QString &bus, const QStringList &attributes)
    {
        for (const QString &a : attributes) {
            const qsizetype eq = a.indexOf(QLatin1Char('='));
            file(QStringLiteral("sys/devices/usb1/%1/%2").arg(bus, a.left(eq)), a.mid(eq + 1).toUtf8() + '\n');
        }
    }
    // A USB serial adapter port: device link to the usb-serial port folder,
    // whose parent is the interface.
    void ttyUsb(const QString &name, const QString &bus, const QString &dev)
    {
        const QString port = QStringLiteral("sys/devices/usb1/%1/%1:1.0/%2").arg(bus, name);
        file(port + QStringLiteral("/tty/") + name + QStringLiteral("/dev"), dev.toLatin1() + '\n');
        link(port + QStringLiteral("/tty/") + name + QStringLiteral("/device"), QStringLiteral("../../../") + name);
        classLink(name, QStringLiteral("../../devices/usb1/%1/%1:1.0/%2/tty/%2").arg(bus, name));
    }
    // A USB modem (ACM): device link to the interface itself.
    void ttyAcm(const QString &name, const QString &bus, const QString &interface, const QString &dev)
    {
        const QString tty = QStringLiteral("sys/devices/usb1/%1/%1:%2/tty/%3").arg(bus, interface, name);
        file(tty + QStringLiteral("/dev"), dev.toLatin1() + '\n');
        link(tty + QStringLiteral("/device"), QStringLiteral("../../../%1:%2").arg(bus, interface));
        classLink(name, QStringLiteral("../../devices/usb1/%1/%1:%2/tty/%3").arg(bus, interface, name));
    }
    // An on-board port with its UART type (empty: no type file, as a console).
    void ttyBoard(const QString &name, const QByteArray &type, const QString &dev)
    {
        const QString tty = QStringLiteral("sys/devices/platform/serial8250/tty/") + name;
        file(tty + QStringLiteral("/dev"), dev.toLatin1() + '\n');
        if (!type.isEmpty())
            file(tty + QStringLiteral("/type"), type + '\n');
        link(tty + QStringLiteral("/device"), QStringLiteral("../../../serial8250"));
        classLink(name, QStringLiteral("../../devices/platform/serial8250/tty/") + name);
    }
    void classLink(const QString &name, const QString &target) { link(QStringLiteral("sys/class/tty/") + name, target); }

private:
    QTemporaryDir dir_;
};

// A process that runs until the test ends.
qint64 startSleeper(QProcess &p)
{
    p.start(QStringLiteral("sleep"), {QStringLiteral("60")});
    return p.waitForStarted() ? p.processId() : 0;
}

QStringList pathsOf(const QList<SerialPortInfo> &ports)
{
    QStringList paths;
    for (const SerialPortInfo &p : ports)
        paths << p.path;
    return paths;
}

} // namespace

class TestEnumPorts : public QObject {
    Q_OBJECT
private slots:
    void listFromSysfs();
    void lockFiles_data();
    void lockFiles();
    void listedPortsComeFirst_data();
    void listedPortsComeFirst();
    void deviceTheUserMayNotOpenIsMarked();
    void kernelConsoleLeftOut_data();
    void kernelConsoleLeftOut();
    void returnFollowsTheByIdName_data();
    void returnFollowsTheByIdName();
};

// One tree with every kind of entry: the list's order, its descriptions, the
// entries it leaves out, and no device opened on the way.
void TestEnumPorts::listFromSysfs()
{
    FakeSystem sys;
    sys.usbDevice("1-1", {"idVendor=0403", "idProduct=6001", "manufacturer=FTDI", "product=FT232R USB UART",
                          "serial=A50285BI"});
    sys.ttyUsb("ttyUSB0", "1-1", "188:0");
    sys.node("ttyUSB0", 188, 0);
    sys.usbDevice("1-2", {"idVendor=2341", "idProduct=0043", "manufacturer=Arduino (www.arduino.cc)",
                          "product=Arduino Uno", "serial=85735313"});
    sys.ttyAcm("ttyACM2", "1-2", "1.0", "166:2");
    sys.node("ttyACM2", 166, 2);
    sys.usbDevice("1-3", {"idVendor=1a86", "idProduct=7523"}); // no strings at all
    sys.ttyUsb("ttyUSB1", "1-3", "188:1");
    sys.node("ttyUSB1", 188, 1);
    sys.usbDevice("1-4", {"idVendor=10c4", "idProduct=ea60", "manufacturer=Silicon Labs",
                          "product=Silicon Labs CP2102 USB to UART Bridge Controller", "serial=0001"});
    sys.ttyUsb("ttyUSB2", "1-4", "188:2");
    sys.node("ttyUSB2", 188, 2);
    sys.usbDevice("1-5", {"idVendor=0483", "idProduct=5740", "manufacturer=STMicroelectronics",
                          "product=STM32 Virtual ComPort", "serial=6D8A3E5F5151"});
    sys.ttyAcm("ttyACM10", "1-5", "1.0", "166:10");
    sys.node("ttyACM10", 166, 10);
    sys.ttyBoard("ttyS0", "4", "4:64");
    sys.node("ttyS0", 4, 64);
    sys.ttyBoard("ttyS10", "4", "4:74");
    sys.node("ttyS10", 4, 74);
    sys.ttyBoard("ttyAMA0", "83", "204:64");
    sys.node("ttyAMA0", 204, 64);
    // Left out:
    sys.ttyBoard("ttyS1", "0", "4:65"); // no UART behind the name
    sys.node("ttyS1", 4, 65);
    sys.ttyBoard("tty1", "", "4:1"); // a console, no type
    sys.node("tty1", 4, 1);
    sys.ttyUsb("ttyUSB5", "1-1", "188:5"); // sysfs entry without node
    sys.classLink("ttyUSB7", "../../devices/usb1/1-9/gone"); // a link to nothing
    sys.node("ttyUSB7", 188, 7);
    sys.ttyUsb("ttyUSB3", "1-1", "188:3"); // the node is another device's
    sys.node("ttyUSB3", 188, 9);
    sys.file("dev/ttyACM3", "not a device\n"); // a plain file where the node should be
    sys.ttyAcm("ttyACM3", "1-2", "1.2", "166:3");
    sys.ttyUsb("ttyUSB4", "1-1", "1:3"); // held with flock by another opener
    sys.node("ttyUSB4", 1, 3, 0666);     // the numbers of /dev/null: safe to lock here
    const int held = ::open(QFile::encodeName(sys.path("dev/ttyUSB4")).constData(), O_RDWR | O_CLOEXEC);
    QVERIFY(held >= 0);
    QCOMPARE(::flock(held, LOCK_EX | LOCK_NB), 0);
    // A by-id link listed by the user that leads to nothing, and a missing path.
    sys.link("dev/serial/by-id/usb-gone-port0", QStringLiteral("../../ttyUSB9"));
    PtyPair pty;
    QVERIFY(pty.isValid());
    qputenv("VELTO_SERIAL_PORTS",
            QFile::encodeName(QStringList({pty.slaveName(), sys.path("dev/serial/by-id/usb-gone-port0"),
                                           sys.path("dev/ttyUSB0"), "/dev/velto-no-such-tty"})
                                  .join(QLatin1Char(':'))));

    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    QVERIFY(watch >= 0);
    QVERIFY(::inotify_add_watch(watch, QFile::encodeName(sys.path("dev")).constData(), IN_OPEN) >= 0);

    const QList<SerialPortInfo> ports = listPorts();

    char events[4096];
    QCOMPARE(::read(watch, events, sizeof events), ssize_t(-1)); // nothing opened
    const auto dev = [&](const char *name) { return sys.path(QStringLiteral("dev/") + QLatin1String(name)); };
    const QList<SerialPortInfo> expected = {
        {pty.slaveName(), "Pseudo-terminal", true},
        {dev("ttyUSB0"), "FTDI FT232R USB UART, nº de série A50285BI", true},
        {dev("ttyACM2"), "Arduino (www.arduino.cc) Arduino Uno, nº de série 85735313", true},
        {dev("ttyACM10"), "STMicroelectronics STM32 Virtual ComPort, nº de série 6D8A3E5F5151", true},
        {dev("ttyUSB1"), "USB 1a86:7523", true},
        {dev("ttyUSB2"), "Silicon Labs CP2102 USB to UART Bridge Controller, nº de série 0001", true},
        {dev("ttyAMA0"), "Porta serial da placa", true},
        {dev("ttyS0"), "Porta serial da placa (16550A)", true},
        {dev("ttyS10"), "Porta serial da placa (16550A)", true},
    };
    QCOMPARE(pathsOf(ports), pathsOf(expected));
    QCOMPARE(ports, expected);
    QCOMPARE(EnumComPorts(), pathsOf(expected));

    // The watch does see an open: the check above can fail.
    ::close(::open(QFile::encodeName(dev("ttyUSB4")).constData(), O_RDONLY | O_CLOEXEC));
    QVERIFY(::read(watch, events, sizeof events) > 0);
    ::close(watch);
    ::close(held);
    QVERIFY(EnumComPorts().contains(dev("ttyUSB4")));
}

void TestEnumPorts::lockFiles_data()
{
    QTest::addColumn<QString>("content"); // "live", "dead", "self": that pid as text
    QTest::addColumn<bool>("listed");
    QTest::newRow("running program") << "live" << false;
    QTest::newRow("this program") << "self" << false;
    QTest::newRow("stale: pid ended") << "dead" << true;
    QTest::newRow("no pid in it") << "garbage" << true;
    QTest::newRow("binary pid of a running program") << "binary" << false;
    QTest::newRow("lock of another device") << "other" << true;
}

void TestEnumPorts::lockFiles()
{
    QFETCH(QString, content);
    QFETCH(bool, listed);
    FakeSystem sys;
    sys.usbDevice("1-1", {"idVendor=0403", "idProduct=6001"});
    sys.ttyUsb("ttyUSB0", "1-1", "188:0");
    sys.node("ttyUSB0", 188, 0);
    QProcess sleeper;
    const qint64 live = startSleeper(sleeper);
    QVERIFY(live > 0);
    QString name = QStringLiteral("LCK..ttyUSB0");
    QByteArray text;
    if (content == QLatin1String("live"))
        text = QByteArray::number(live).rightJustified(10, ' ') + '\n';
    else if (content == QLatin1String("self"))
        text = QByteArray::number(QCoreApplication::applicationPid()).rightJustified(10, ' ') + '\n';
    else if (content == QLatin1String("dead"))
        text = QByteArray::number(deadPid()).rightJustified(10, ' ') + '\n';
    else if (content == QLatin1String("binary")) {
        const int pid = int(live);
        text = QByteArray(reinterpret_cast<const char *>(&pid), sizeof pid);
    } else if (content == QLatin1String("other")) {
        name = QStringLiteral("LCK..ttyUSB1");
        text = QByteArray::number(live).rightJustified(10, ' ') + '\n';
    } else
        text = "ttyUSB0 is mine\n";
    sys.file(QStringLiteral("lock/") + name, text);

    QCOMPARE(EnumComPorts().contains(sys.path("dev/ttyUSB0")), listed);
    QVERIFY(QFileInfo::exists(sys.path(QStringLiteral("lock/") + name))); // listing removes nothing
    sleeper.kill();
    sleeper.waitForFinished();
}

void TestEnumPorts::listedPortsComeFirst_data()
{
    // Letters stand for the test's pseudo-terminals a and b, as path ("a") or as
    // bare name ("a-bare"); "missing" is a path with no device behind it.
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<bool>("holdA");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("two ports around a missing path")
        << QStringList({"a", "missing", "b"}) << false << QStringList({"a", "b"});
    QTest::newRow("listed order kept") << QStringList({"b", "a"}) << false << QStringList({"b", "a"});
    QTest::newRow("duplicates once") << QStringList({"a", "b", "a", "b"}) << false
                                     << QStringList({"a", "b"});
    QTest::newRow("port held by this program left out") << QStringList({"a", "b"}) << true << QStringList({"b"});
    QTest::newRow("bare name means /dev") << QStringList({"a-bare", "b"}) << false
                                          << QStringList({"a", "b"});
    QTest::newRow("empty entries ignored") << QStringList({"", "a", ""}) << false
                                           << QStringList({"a"});
}

void TestEnumPorts::listedPortsComeFirst()
{
    QFETCH(QStringList, listed);
    QFETCH(bool, holdA);
    QFETCH(QStringList, expected);
    FakeSystem sys; // an empty sysfs: only the listed ports
    PtyPair a, b;
    QVERIFY(a.isValid() && b.isValid());
    const auto pathOf = [&](const QString &key) {
        if (key == QLatin1String("a"))
            return a.slaveName();
        if (key == QLatin1String("b"))
            return b.slaveName();
        if (key == QLatin1String("a-bare"))
            return a.slaveName().mid(int(qstrlen("/dev/")));
        if (key == QLatin1String("missing"))
            return QStringLiteral("/dev/velto-no-such-tty");
        return key;
    };
    QStringList entries;
    for (const QString &key : listed)
        entries << pathOf(key);
    QStringList wanted;
    for (const QString &key : expected)
        wanted << pathOf(key);

    TComPort holder;
    if (holdA) {
        holder.setPort(a.slaveName());
        holder.Open();
    }
    qputenv("VELTO_SERIAL_PORTS", entries.join(QLatin1Char(':')).toLocal8Bit());
    QCOMPARE(EnumComPorts(), wanted);
    QCOMPARE(a.exclusive(), holdA ? 1 : 0);
    QCOMPARE(b.exclusive(), 0);
}

// As another user: a device whose mode forbids it stays in the list, marked.
void TestEnumPorts::deviceTheUserMayNotOpenIsMarked()
{
    if (::geteuid() != 0)
        QSKIP("needs root to run the list as another user");
    FakeSystem sys;
    sys.usbDevice("1-1", {"idVendor=0403", "idProduct=6001", "manufacturer=FTDI", "product=FT232R USB UART"});
    sys.ttyUsb("ttyUSB0", "1-1", "188:0");
    sys.node("ttyUSB0", 188, 0, 0660);
    sys.ttyUsb("ttyUSB1", "1-1", "188:1");
    sys.node("ttyUSB1", 188, 1, 0666);
    QProcess list;
    list.start(QStringLiteral("runuser"), {"-u", "nobody", "--", VELTO_PORTTRY, "list"});
    QVERIFY(list.waitForFinished(20000));
    QCOMPARE(list.exitCode(), 0);
    const QString out = QString::fromUtf8(list.readAllStandardOutput());
    QCOMPARE(out, QStringLiteral("%1\tFTDI FT232R USB UART\tnão\n%2\tFTDI FT232R USB UART\tsim\n")
                      .arg(sys.path("dev/ttyUSB0"), sys.path("dev/ttyUSB1")));
    QCOMPARE(portListText({sys.path("dev/ttyUSB0"), "FTDI FT232R USB UART", false}),
             QStringLiteral("FTDI FT232R USB UART (sem permissão)"));
}


void TestEnumPorts::kernelConsoleLeftOut_data()
{
    QTest::addColumn<QByteArray>("active"); // sys/class/tty/console/active; "-": no such file
    QTest::addColumn<QStringList>("listed"); // VELTO_SERIAL_PORTS, names under dev/
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("no console file") << QByteArray("-") << QStringList{}
                                     << QStringList{"ttyUSB0", "ttyS0", "ttyS1"};
    QTest::newRow("virtual terminal only") << QByteArray("tty0\n") << QStringList{}
                                           << QStringList{"ttyUSB0", "ttyS0", "ttyS1"};
    QTest::newRow("console=ttyS0") << QByteArray("tty0 ttyS0\n") << QStringList{}
                                   << QStringList{"ttyUSB0", "ttyS1"};
    QTest::newRow("console on a USB adapter") << QByteArray("ttyUSB0\n") << QStringList{}
                                              << QStringList{"ttyS0", "ttyS1"};
    QTest::newRow("two serial consoles") << QByteArray("ttyS1 ttyS0\n") << QStringList{}
                                         << QStringList{"ttyUSB0"};
    // Named by the user, a console is theirs to choose.
    QTest::newRow("console named by the user") << QByteArray("ttyS0\n") << QStringList{"ttyS0"}
                                               << QStringList{"ttyS0", "ttyUSB0", "ttyS1"};
}

void TestEnumPorts::kernelConsoleLeftOut()
{
    QFETCH(QByteArray, active);
    QFETCH(QStringList, listed);
    QFETCH(QStringList, expected);
    FakeSystem sys;
    sys.usbDevice("1-1", {"idVendor=0403", "idProduct=6001", "manufacturer=FTDI", "product=FT232R USB UART"});
    sys.ttyUsb("ttyUSB0", "1-1", "188:0");
    sys.node("ttyUSB0", 188, 0);
    sys.ttyBoard("ttyS0", "4", "4:64");
    sys.node("ttyS0", 4, 64);
    sys.ttyBoard("ttyS1", "4", "4:65");
    sys.node("ttyS1", 4, 65);
    // The console's class entry, as the kernel lays it out.
    sys.classLink("console", QStringLiteral("../../devices/virtual/tty/console"));
    sys.file("sys/devices/virtual/tty/console/dev", "5:1\n");
    if (active != "-")
        sys.file("sys/devices/virtual/tty/console/active", active);
    QStringList paths;
    for (const QString &name : listed)
        paths << sys.path(QStringLiteral("dev/") + name);
    qputenv("VELTO_SERIAL_PORTS", QFile::encodeName(paths.join(QLatin1Char(':'))));
    for (QString &name : expected)
        name = sys.path(QStringLiteral("dev/") + name);
    QCOMPARE(EnumComPorts(), expected);
}

// The device opened again after it went away: the adapter's by-id name, once known,
// wins over whatever device now sits at the old path; the old path only without a name.
void TestEnumPorts::returnFollowsTheByIdName_data()
{
    QTest::addColumn<QString>("byIdTarget"); // where the adapter's link leads now ("": no link)
    QTest::addColumn<bool>("nameKnown");     // the link named the device when it was opened
    QTest::addColumn<QString>("expected");   // relative to the fake root ("": wait)
    QTest::newRow("adapter back under another number") << "../../ttyUSB1" << true << "dev/ttyUSB1";
    QTest::newRow("adapter back at its old number") << "../../ttyUSB0" << true << "dev/ttyUSB0";
    QTest::newRow("adapter not back, another device at the old path") << "" << true << "";
    QTest::newRow("no by-id name: the old path") << "" << false << "dev/ttyUSB0";
}

void TestEnumPorts::returnFollowsTheByIdName()
{
    QFETCH(QString, byIdTarget);
    QFETCH(bool, nameKnown);
    QFETCH(QString, expected);
    FakeSystem sys;
    const QString adapter = QStringLiteral("usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0");
    sys.file("dev/ttyUSB0", "");
    sys.file("dev/ttyUSB1", "");
    // When the port was opened the adapter was ttyUSB0 and its link said so.
    sys.link("dev/serial/by-id/" + adapter, "../../ttyUSB0");
    const QString oldPath = sys.path("dev/ttyUSB0");
    QCOMPARE(byIdFolder(), sys.path("dev/serial/by-id"));
    QCOMPARE(byIdNameOf(oldPath), adapter);
    QCOMPARE(byIdNameOf(sys.path("dev/ttyUSB1")), QString());
    const QString name = nameKnown ? byIdNameOf(oldPath) : QString();

    // Unplugged: the link goes; plugged again, udev makes it anew where the adapter is.
    QVERIFY(QFile::remove(sys.path("dev/serial/by-id/" + adapter)));
    if (!byIdTarget.isEmpty())
        sys.link("dev/serial/by-id/" + adapter, byIdTarget);
    const QString want = expected.isEmpty() ? QString() : QFileInfo(sys.path(expected)).canonicalFilePath();
    QCOMPARE(QFileInfo(returningDevice(oldPath, name)).canonicalFilePath(), want);
    QCOMPARE(returningDevice(oldPath, name).isEmpty(), expected.isEmpty());
}

QTEST_GUILESS_MAIN(TestEnumPorts)
#include "tst_enumports.moc"
