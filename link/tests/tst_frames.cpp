// Commands to the ECU and the recognition of what it sends, also out of step.
#include "link/frames.h"
#include "linktest.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace linktest;

Q_DECLARE_METATYPE(frames::Command)

class TestFrames : public QObject {
    Q_OBJECT
private slots:
    void command_data();
    void command();
    void recognise_data();
    void recognise();
    void otherLengths_data();
    void otherLengths();
    void randomStrings();
};

void TestFrames::command_data()
{
    QTest::addColumn<frames::Command>("command");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("read request") << frames::ReadRequest << raw({0x00, 0x33, 0x61, 0x61, 0x61, 0x61});
    QTest::newRow("end of upload") << frames::EndOfUpload << raw({0x00, 0x48, 0x61, 0x61, 0x61, 0x61});
    QTest::newRow("scanner poll") << frames::ScannerPoll << raw({0x00, 0x7F, 0x61, 0x61, 0x61, 0x61});
    QTest::newRow("scanner stop") << frames::ScannerStop << raw({0x00, 0xD9, 0x61, 0x61, 0x61, 0x61});
}

void TestFrames::command()
{
    QFETCH(frames::Command, command);
    QFETCH(QByteArray, bytes);
    QCOMPARE(frames::command(command), bytes);
}

void TestFrames::recognise_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("hasPayload");
    QTest::addColumn<QByteArray>("payload"); // 8 bytes when hasPayload

    const Payload p = payload({10, 20, 30, 40, 50, 60, 70, 80});
    const QByteArray pb = raw({10, 20, 30, 40, 50, 60, 70, 80});
    const QByteArray none(8, '\0');

    QTest::newRow("whole frame") << frame(1, p) << 1 << true << pb;
    QTest::newRow("one byte late") << shiftedByOne(1, p) << 1 << true << pb;
    QTest::newRow("two bytes late") << shiftedByTwo(1, p) << 1 << true << pb;
    QTest::newRow("kind 255") << frame(255, p) << 255 << true << pb;
    QTest::newRow("HP without F") << (frame(1, p).left(11) + 'X') << 0 << false << none;
    QTest::newRow("one late without blank") << (frame(1, p).mid(1) + 'X') << 0 << false << none;
    QTest::newRow("two late, one blank") << (frame(1, p).mid(2) + " X") << 0 << false << none;
    QTest::newRow("all zero") << QByteArray(12, '\0') << 0 << false << none;
    QTest::newRow("all blanks") << QByteArray(12, ' ') << 0 << false << none;
    // "F" and blanks inside the payload are payload.
    QTest::newRow("payload holding F and blank")
        << raw({'H', 'P', 5, 1, 2, 3, 4, 5, 6, 'F', ' ', 'F'}) << 5 << true << raw({1, 2, 3, 4, 5, 6, 'F', ' '});
    // Two bytes late: the first byte is the kind, whatever it is.
    QTest::newRow("two late, kind untested")
        << raw({0x1D, 1, 2, 3, 4, 5, 6, 7, 8, 'F', ' ', ' '}) << 0x1D << true << raw({1, 2, 3, 4, 5, 6, 7, 8});
    QTest::newRow("two late, kind H") << raw({'H', 1, 2, 3, 4, 5, 6, 7, 8, 'F', ' ', ' '}) << int('H') << true
                                      << raw({1, 2, 3, 4, 5, 6, 7, 8});

    QTest::newRow("9 bytes whole") << raw({'H', 'P', 7, 1, 2, 3, 4, 5, 'F'}) << 7 << false << none;
    QTest::newRow("9 bytes one late") << raw({'P', 8, 1, 2, 3, 4, 5, 'F', ' '}) << 8 << false << none;
    QTest::newRow("9 bytes two late") << raw({9, 1, 2, 3, 4, 5, 'F', ' ', ' '}) << 9 << false << none;
    QTest::newRow("9 bytes no match") << raw({'H', 'P', 7, 1, 2, 3, 4, 5, 'X'}) << 0 << false << none;
    QTest::newRow("9 bytes of a 12-byte frame") << frame(1, p).left(9) << 0 << false << none;
}

void TestFrames::recognise()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, kind);
    QFETCH(bool, hasPayload);
    QFETCH(QByteArray, payload);
    const frames::Frame f = frames::recognise(bytes);
    QCOMPARE(f.kind, kind);
    QCOMPARE(f.hasPayload, hasPayload);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(f.p.data()), 8), payload);
}

void TestFrames::otherLengths_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray whole = frame(3, payload({1, 2, 3, 4, 5, 6, 7, 8}));
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("1") << whole.left(1);
    QTest::newRow("3") << whole.left(3);
    QTest::newRow("8") << whole.left(8);
    QTest::newRow("10") << whole.left(10);
    QTest::newRow("11") << whole.left(11);
    QTest::newRow("13") << (whole + ' ');
    QTest::newRow("24") << (whole + whole);
}

void TestFrames::otherLengths()
{
    QFETCH(QByteArray, bytes);
    const frames::Frame f = frames::recognise(bytes);
    QCOMPARE(f.kind, 0);
    QVERIFY(!f.hasPayload);
}

// Random strings of every length: the result follows the three tests, and a payload
// comes only from a 12-byte read, copied from just after the kind.
void TestFrames::randomStrings()
{
    QRandomGenerator rng(20240611);
    const char alphabet[] = {'H', 'P', 'F', ' ', 0, 1, 26, char(0xFF)};
    for (int round = 0; round < 5000; ++round) {
        const int n = rng.bounded(0, 14);
        QByteArray s;
        for (int i = 0; i < n; ++i)
            s.append(rng.bounded(2) ? alphabet[rng.bounded(8)] : char(rng.bounded(256)));
        const frames::Frame f = frames::recognise(s);
        int expectedIndex = -1;
        if (n == 12 || n == 9) {
            const int last = n - 1;
            if (s[0] == 'H' && s[1] == 'P' && s[last] == 'F')
                expectedIndex = 2;
            else if (s[0] == 'P' && s[last - 1] == 'F' && s[last] == ' ')
                expectedIndex = 1;
            else if (s[last - 2] == 'F' && s[last - 1] == ' ' && s[last] == ' ')
                expectedIndex = 0;
        }
        const int expectedKind = expectedIndex < 0 ? 0 : quint8(s[expectedIndex]);
        QCOMPARE(f.kind, expectedKind);
        QCOMPARE(f.hasPayload, expectedIndex >= 0 && n == 12);
        if (f.hasPayload) {
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(f.p.data()), 8), s.mid(expectedIndex + 1, 8));
        } else {
            for (std::uint8_t b : f.p)
                QCOMPARE(int(b), 0);
        }
    }
}

QTEST_GUILESS_MAIN(TestFrames)
#include "tst_frames.moc"
