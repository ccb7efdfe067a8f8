// Port enumeration: listed devices first, then the numbered families, only
// those that can be opened now.
#include "serial/comport.h"
#include "serial/portnames.h"
#include "ptypair.h"

#include <QtTest>

class TestEnumPorts : public QObject {
    Q_OBJECT
private slots:
    void listedPortsComeFirst_data();
    void listedPortsComeFirst();
    void numberedFamiliesFollowInOrder_data();
    void numberedFamiliesFollowInOrder();
};

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
    QTest::newRow("held port left out") << QStringList({"a", "b"}) << true << QStringList({"b"});
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
    const QStringList ports = EnumComPorts();
    qunsetenv("VELTO_SERIAL_PORTS");

    QCOMPARE(ports.mid(0, int(wanted.size())), wanted);
    for (const QString &path : ports.mid(int(wanted.size())))
        QVERIFY2(!path.startsWith(QLatin1String("/dev/pts/")), qPrintable(path));
    // The probe leaves every device as it found it.
    QCOMPARE(a.exclusive(), holdA ? 1 : 0);
    QCOMPARE(b.exclusive(), 0);
    TComPort port;
    port.setPort(b.slaveName());
    port.Open();
    QVERIFY(port.Connected());
}

void TestEnumPorts::numberedFamiliesFollowInOrder_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("by number, not by text")
        << QStringList({"ttyS10", "ttyS2", "ttyS1", "ttyS9"})
        << QStringList({"/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS9", "/dev/ttyS10"});
    QTest::newRow("by family: S, USB, ACM")
        << QStringList({"ttyACM0", "ttyUSB1", "ttyS3", "ttyUSB0", "ttyACM10", "ttyACM2"})
        << QStringList({"/dev/ttyS3", "/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyACM0",
                        "/dev/ttyACM2", "/dev/ttyACM10"});
    QTest::newRow("other devices left out")
        << QStringList({"tty1", "ttyS", "ttySX1", "ttyUSB0.1", "pts", "ttyprintk", "console",
                        "ttyS0"})
        << QStringList({"/dev/ttyS0"});
}

void TestEnumPorts::numberedFamiliesFollowInOrder()
{
    QFETCH(QStringList, entries);
    QFETCH(QStringList, expected);
    QCOMPARE(numberedSerialDevices(entries), expected);
}

QTEST_GUILESS_MAIN(TestEnumPorts)
#include "tst_enumports.moc"
