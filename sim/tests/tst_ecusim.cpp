// The ECU simulator driven through its pseudo-terminal, as the program would.
#include "ptyline.h"
#include "simprocess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray b;
    for (int v : values)
        b.append(char(v));
    return b;
}

QByteArray hexBytes(const char *hex) { return QByteArray::fromHex(QByteArray(hex)); }

QByteArray command(int cmd) { return bytes({0x00, cmd, 'a', 'a', 'a', 'a'}); }

QByteArray uploadFrame(int block, const QByteArray &eight)
{
    return QByteArray(1, char(block)) + eight;
}

QByteArray frame(int kind, const QByteArray &payload)
{
    return QByteArray("HP") + char(kind) + payload + 'F';
}

QList<QByteArray> split(const QByteArray &data, int size)
{
    QList<QByteArray> out;
    for (qsizetype i = 0; i + size <= data.size(); i += size)
        out << data.mid(i, size);
    return out;
}

// The image of the tool's start-up screen, written out block by block.
QByteArray expectedDefaultImage()
{
    const int ignition[72] = {
        10, 10, 6,  6,  6,  6,  6,  6,  10, 10, 12, 12, 12, 12, 13, 14, 11, 15,
        18, 21, 24, 28, 26, 25, 32, 32, 32, 32, 30, 28, 27, 25, 33, 33, 32, 32,
        30, 29, 28, 26, 33, 33, 32, 32, 30, 29, 28, 26, 34, 34, 33, 33, 31, 30,
        29, 27, 34, 34, 33, 33, 31, 30, 29, 27, 34, 34, 33, 33, 31, 30, 29, 27};
    const int injection[72] = {
        35, 52, 58, 64, 74, 78, 80, 81, 31, 43, 53, 62, 73, 76, 78, 81, 28, 40,
        50, 62, 72, 74, 78, 81, 25, 38, 44, 62, 72, 74, 80, 82, 24, 33, 42, 66,
        74, 82, 82, 83, 24, 31, 42, 68, 76, 87, 86, 86, 23, 29, 40, 67, 77, 82,
        83, 85, 23, 28, 39, 66, 78, 78, 83, 83, 22, 28, 38, 65, 78, 78, 81, 81};
    const int rest[112] = {
        // blocks 19 to 28: the four correction curves
        55, 50, 45, 40, 37, 34, 30, 27, 24, 20, 18, 15, 12, 10, 8, 5, 4, 2, 0, 0, 0, 0, 0, 0,
        5, 5, 5, 4, 4, 4, 3, 3, 3, 2, 2, 2, 1, 1, 1, 0, 0, 0, 0, 0, 255, 254, 0, 0,
        70, 64, 57, 50, 47, 44, 40, 37, 34, 30, 27, 24, 20, 19, 17, 15, 10, 5, 0, 0, 0, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0, 0,
        // blocks 29 to 32: the single parameters
        0, 0, 55, 70, 82, 5, 5, 30, 5, 5, 30, 5, 3, 3, 8, 60,
        5, 6, 0, 144, 0, 130, 230, 0, 22, 15, 87, 80, 7, 20, 10, 70};
    QByteArray image;
    for (int v : ignition)
        image.append(char(v));
    for (int v : injection)
        image.append(char(v));
    for (int v : rest)
        image.append(char(v));
    return image;
}

// A set of 26 read-back frames for the start-up image, as the ECU sends them.
QList<QByteArray> expectedDefaultReadBack()
{
    const QByteArray image = expectedDefaultImage();
    QList<QByteArray> frames;
    for (int kind = 1; kind <= 18; ++kind)
        frames << frame(kind, image.mid(8 * (kind - 1), 8));
    frames << frame(19, hexBytes("37281E140C050000"));
    frames << frame(20, hexBytes("05040302010000FE"));
    frames << frame(21, hexBytes("4632281E140F0000"));
    frames << frame(22, hexBytes("00000000051E0503"));
    frames << frame(23, hexBytes("0500051E37465205"));
    frames << frame(24, hexBytes("160F575007140A46"));
    frames << frame(25, hexBytes("03083C050682E600"));
    frames << frame(26, hexBytes("9000000000000000"));
    return frames;
}

#define START_SIM(sim, line)                                                                 \
    QVERIFY2((sim).start(), qPrintable((sim).errorString()));                                \
    QVERIFY((line).open((sim).devicePath()))

// Reads whole frames of `size` until `count` have come.
QList<QByteArray> readFrames(PtyLine &line, int count, int size = 12)
{
    return split(line.read(count * size, 10000), size);
}

// Live frames from a stream that may have started before the read: skips to
// the next frame of kind 29 and returns `triples` whole triples.
QList<QByteArray> readTriples(PtyLine &line, int triples)
{
    QByteArray data = line.read(12 * (triples + 1) + 11, 10000);
    const qsizetype start = data.indexOf(QByteArray("HP\x1d", 3));
    if (start < 0)
        return {};
    data = data.mid(start);
    data += line.read(int(12 * 3 * triples - data.size()), 10000);
    return split(data.left(12 * 3 * triples), 12);
}

long cpuTicks(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray s = f.readAll();
    const qsizetype close = s.lastIndexOf(')');
    const QList<QByteArray> fields = s.mid(close + 2).split(' ');
    // fields[11] is utime, fields[12] stime (fields 14 and 15 of the file)
    return fields.size() > 12 ? fields[11].toLong() + fields[12].toLong() : -1;
}

} // namespace

class TestEcuSim : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void defaultImageBlocks_data();
    void defaultImageBlocks();
    void defaultImageWhole();
    void lineSettings();
    void upload_data();
    void upload();
    void uploadLog();
    void incompleteFrameDropped();
    void readBackDefault();
    void readBackRoundTrip_data();
    void readBackRoundTrip();
    void readBackTwice();
    void faults_data();
    void faults();
    void faultCount();
    void scannerStreamAndStop();
    void tpsSetting_data();
    void tpsSetting();
    void liveValues_data();
    void liveValues();
    void badControlLine();
    void silent_data();
    void silent();
    void garbageAndShort();
    void diagnostics();
    void logSent();
    void rateMax();
    void linkAndCleanExit_data();
    void linkAndCleanExit();
    void calibrationWindow();
    void killedDeviceGoes();
    void reopenAfterClose();
    void driveStream_data();
    void driveStream();
    void driveControlLine_data();
    void driveControlLine();
    void engineNeedAndUpload();
};

void TestEcuSim::initTestCase()
{
    QVERIFY2(!qEnvironmentVariable("VELTO_SIM").isEmpty(), "VELTO_SIM is not set");
}

void TestEcuSim::defaultImageBlocks_data()
{
    QTest::addColumn<QByteArray>("uploadFrame");
    QTest::newRow("block 1") << hexBytes("010A0A060606060606");
    QTest::newRow("block 10") << hexBytes("0A23343A404A4E5051");
    QTest::newRow("block 19") << hexBytes("1337322D2825221E1B");
    QTest::newRow("block 24") << hexBytes("1800000000FFFE0000");
    QTest::newRow("block 29") << hexBytes("1D000037465205051E");
    QTest::newRow("block 30") << hexBytes("1E05051E050303083C");
    QTest::newRow("block 31") << hexBytes("1F050600900082E600");
    QTest::newRow("block 32") << hexBytes("20160F575007140A46");
}

void TestEcuSim::defaultImageBlocks()
{
    QFETCH(QByteArray, uploadFrame);
    QCOMPARE(uploadFrame.size(), 9);
    SimProcess sim;
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    const QByteArray image = sim.dumpImage();
    QCOMPARE(image.size(), 256);
    const int block = uploadFrame[0];
    QCOMPARE(image.mid(8 * (block - 1), 8).toHex(' '), uploadFrame.mid(1).toHex(' '));
}

void TestEcuSim::defaultImageWhole()
{
    SimProcess sim;
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    QCOMPARE(sim.dumpImage().toHex(' '), expectedDefaultImage().toHex(' '));
}

void TestEcuSim::lineSettings()
{
    SimProcess sim;
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    QVERIFY(sim.devicePath().startsWith(QLatin1String("/dev/pts/")));
    // Opened without setting anything, the device is raw 38400 8N1 already.
    const int fd = ::open(QFile::encodeName(sim.devicePath()).constData(), O_RDWR | O_NOCTTY);
    QVERIFY(fd >= 0);
    termios t{};
    QCOMPARE(tcgetattr(fd, &t), 0);
    ::close(fd);
    QCOMPARE(cfgetospeed(&t), speed_t(B38400));
    QCOMPARE(cfgetispeed(&t), speed_t(B38400));
    QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
    QCOMPARE(t.c_lflag & (ICANON | ECHO | ISIG), tcflag_t(0));
    QCOMPARE(t.c_oflag & OPOST, tcflag_t(0));
}

void TestEcuSim::upload_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<int>("units");        // frames, commands and dropped bytes to wait for
    QTest::addColumn<QByteArray>("image"); // expected image afterwards

    const QByteArray def = expectedDefaultImage();
    const QByteArray a = hexBytes("0102030405060708");
    const QByteArray b = hexBytes("F0E0D0C0B0A09080");

    QByteArray two = def;
    two.replace(0, 8, a);
    two.replace(72, 8, b);
    QTest::newRow("frames and end command")
        << uploadFrame(1, a) + uploadFrame(10, b) + command(0x48) << 3 << two;
    QTest::newRow("frames without end command")
        << uploadFrame(1, a) + uploadFrame(10, b) << 2 << def;

    QByteArray full;
    QByteArray all;
    for (int block = 1; block <= 32; ++block) {
        QByteArray eight;
        for (int i = 0; i < 8; ++i)
            eight.append(char(block * 7 + i * 3));
        full += uploadFrame(block, eight);
        all += eight;
    }
    QTest::newRow("whole upload") << full + command(0x48) << 33 << all;

    QByteArray both = def;
    both.replace(0, 8, a);
    both.replace(8 * 31, 8, b);
    QTest::newRow("second upload keeps the first")
        << uploadFrame(1, a) + command(0x48) + uploadFrame(32, b) + command(0x48) << 4 << both;

    QByteArray last = def;
    last.replace(8, 8, b);
    QTest::newRow("same block twice, last wins")
        << uploadFrame(2, a) + uploadFrame(2, b) + command(0x48) << 3 << last;

    QByteArray one = def;
    one.replace(0, 8, a);
    QTest::newRow("stray bytes before a frame are dropped")
        << bytes({0x7E, 0x48, 0xFF}) + uploadFrame(1, a) + command(0x48) << 5 << one;
    QTest::newRow("command with a wrong tail does not commit")
        << uploadFrame(1, a) + bytes({0x00, 0x48, 'a', 'a', 'a', 'b'}) << 2 << def;
    QTest::newRow("other commands do not commit")
        << uploadFrame(1, a) + command(0xD9) + command(0x7F) + command(0xD9) << 4 << def;
}

void TestEcuSim::upload()
{
    QFETCH(QByteArray, stream);
    QFETCH(int, units);
    QFETCH(QByteArray, image);
    SimProcess sim;
    PtyLine line;
    START_SIM(sim, line);
    QVERIFY(line.write(stream));
    QTRY_COMPARE_WITH_TIMEOUT(sim.countEvents(QStringLiteral("frame ")) +
                                  sim.countEvents(QStringLiteral("command ")) +
                                  sim.countEvents(QStringLiteral("bad-command ")) +
                                  sim.countEvents(QStringLiteral("dropped ")),
                              units, 5000);
    QCOMPARE(sim.dumpImage().toHex(' '), image.toHex(' '));
}

void TestEcuSim::uploadLog()
{
    SimProcess sim;
    PtyLine line;
    START_SIM(sim, line);
    const QByteArray f1 = hexBytes("010A0A060606060606");
    const QByteArray f2 = hexBytes("20160F575007140A46");
    QVERIFY(line.write(f1 + f2 + command(0x48) + command(0x33) + bytes({0x99})));
    QVERIFY(sim.waitForEvents(QStringLiteral("dropped ")));
    QCOMPARE(sim.uploadFrames(), (QList<QByteArray>{f1, f2}));
    QCOMPARE(sim.commands(), (QList<quint8>{0x48, 0x33}));

    const QRegularExpression frameLine(
        QStringLiteral("^\\d+\\.\\d{6} frame 01 0A 0A 06 06 06 06 06 06$"));
    const QRegularExpression commandLine(QStringLiteral("^\\d+\\.\\d{6} command 48$"));
    const QRegularExpression droppedLine(QStringLiteral("^\\d+\\.\\d{6} dropped 99$"));
    const QStringList lines = sim.logLines();
    QVERIFY2(!lines.filter(frameLine).isEmpty(), qPrintable(lines.join('\n')));
    QVERIFY2(!lines.filter(commandLine).isEmpty(), qPrintable(lines.join('\n')));
    QVERIFY2(!lines.filter(droppedLine).isEmpty(), qPrintable(lines.join('\n')));
    // Without --log-sent the answers are not logged.
    QVERIFY(line.read(26 * 12).size() == 26 * 12);
    QCOMPARE(sim.countEvents(QStringLiteral("sent ")), 0);
}

void TestEcuSim::incompleteFrameDropped()
{
    // A frame cut short does not swallow the start of the next one.
    SimProcess sim;
    PtyLine line;
    START_SIM(sim, line);
    QVERIFY(line.write(hexBytes("0102030405")));
    QVERIFY(sim.waitForEvents(QStringLiteral("incomplete 01 02 03 04 05")));
    const QByteArray eight = hexBytes("1112131415161718");
    QVERIFY(line.write(uploadFrame(2, eight) + command(0x48)));
    QVERIFY(sim.waitForEvents(QStringLiteral("commit")));
    QByteArray expected = expectedDefaultImage();
    expected.replace(8, 8, eight);
    QCOMPARE(sim.dumpImage().toHex(' '), expected.toHex(' '));
    QCOMPARE(sim.uploadFrames(), (QList<QByteArray>{uploadFrame(2, eight)}));
}

void TestEcuSim::readBackDefault()
{
    SimProcess sim;
    PtyLine line;
    START_SIM(sim, line);
    QVERIFY(line.write(command(0x33)));
    const QList<QByteArray> frames = readFrames(line, 26);
    const QList<QByteArray> expected = expectedDefaultReadBack();
    QCOMPARE(frames.size(), 26);
    for (int i = 0; i < 26; ++i)
        QCOMPARE(frames[i].toHex(' '), expected[i].toHex(' '));
    QCOMPARE(frames[24].toHex(' '), QByteArray("48 50 19 03 08 3c 05 06 82 e6 00 46"));
    QCOMPARE(frames[0].toHex(' '), QByteArray("48 50 01 0a 0a 06 06 06 06 06 06 46"));
    // Nothing more after kind 26.
    QVERIFY(line.readUntilQuiet(200).isEmpty());
}

void TestEcuSim::readBackRoundTrip_data()
{
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("kind"); // 0: the byte is not read back
    QTest::addColumn<int>("index");

    QTest::newRow("ignition cell 0") << 0 << 44 << 1 << 0;
    QTest::newRow("ignition cell 71") << 71 << 45 << 9 << 7;
    QTest::newRow("injection cell 0") << 72 << 99 << 10 << 0;
    QTest::newRow("injection cell 71") << 143 << 250 << 18 << 7;
    QTest::newRow("ti curve 0 °C") << 144 << 60 << 19 << 0;
    QTest::newRow("ti curve 105 °C") << 165 << 3 << 19 << 7;
    QTest::newRow("ti curve between typed points") << 145 << 77 << 0 << 0;
    QTest::newRow("advance curve 45 °C") << 177 << 0xF0 << 20 << 3;
    QTest::newRow("idle curve 90 °C") << 210 << 9 << 21 << 6;
    QTest::newRow("atm 820") << 216 << 12 << 22 << 0;
    QTest::newRow("atm 1000") << 225 << 0xFB << 22 << 3;
    QTest::newRow("quick source") << 233 << 10 << 22 << 4;
    QTest::newRow("quick short") << 234 << 35 << 22 << 5;
    QTest::newRow("quick long") << 235 << 7 << 22 << 6;
    QTest::newRow("quick decrement") << 236 << 4 << 22 << 7;
    QTest::newRow("lambda type") << 229 << 10 << 23 << 0;
    QTest::newRow("lambda activity") << 232 << 15 << 23 << 2;
    QTest::newRow("lambda temperature") << 231 << 40 << 23 << 3;
    QTest::newRow("lambda idle") << 226 << 45 << 23 << 4;
    QTest::newRow("lambda part") << 227 << 65 << 23 << 5;
    QTest::newRow("lambda full") << 228 << 90 << 23 << 6;
    QTest::newRow("lambda source") << 230 << 10 << 23 << 7;
    QTest::newRow("cut-off off") << 248 << 25 << 24 << 0;
    QTest::newRow("ac idle") << 255 << 60 << 24 << 7;
    QTest::newRow("wheel") << 237 << 6 << 25 << 0;
    QTest::newRow("tooth") << 238 << 4 << 25 << 1;
    QTest::newRow("rpm limit") << 239 << 75 << 25 << 2;
    QTest::newRow("map combination") << 240 << 10 << 25 << 3;
    QTest::newRow("cranking advance") << 241 << 9 << 25 << 4;
    QTest::newRow("tps minimum") << 245 << 200 << 25 << 5;
    QTest::newRow("tps maximum") << 246 << 225 << 25 << 6;
    QTest::newRow("speed scale") << 242 << 2 << 25 << 7;
    QTest::newRow("coil charge") << 243 << 146 << 26 << 0;
    QTest::newRow("zero point") << 244 << 0xFD << 26 << 1;
    QTest::newRow("unused byte 247") << 247 << 1 << 0 << 0;
}

void TestEcuSim::readBackRoundTrip()
{
    QFETCH(int, offset);
    QFETCH(int, value);
    QFETCH(int, kind);
    QFETCH(int, index);
    SimProcess sim;
    PtyLine line;
    START_SIM(sim, line);
    QByteArray image = expectedDefaultImage();
    image[offset] = char(value);
    const int block = offset / 8 + 1;
    QVERIFY(line.write(uploadFrame(block, image.mid(8 * (block - 1), 8)) + command(0x48)
                       + command(0x33)));
    const QList<QByteArray> frames = readFrames(line, 26);
    QCOMPARE(frames.size(), 26);
    QList<QByteArray> expected = expectedDefaultReadBack();
    if (kind > 0)
        expected[kind - 1][3 + index] = char(value);
    for (int i = 0; i < 26; ++i)
        QCOMPARE(frames[i].toHex(' '), expected[i].toHex(' '));
}

void TestEcuSim::readBackTwice()
{
    SimProcess sim;
    PtyLine line;
    START_SIM(sim, line);
    QVERIFY(line.write(command(0x33) + command(0x33)));
    const QList<QByteArray> frames = readFrames(line, 52);
    QCOMPARE(frames.size(), 52);
    const QList<QByteArray> expected = expectedDefaultReadBack();
    QCOMPARE(frames.mid(0, 26), expected);
    QCOMPARE(frames.mid(26), expected);
}

void TestEcuSim::faults_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("lost"); // header letters lost = blanks added
    QTest::newRow("none") << QStringLiteral("none") << 0;
    QTest::newRow("lose-h") << QStringLiteral("lose-h") << 1;
    QTest::newRow("lose-hp") << QStringLiteral("lose-hp") << 2;
}

void TestEcuSim::faults()
{
    QFETCH(QString, fault);
    QFETCH(int, lost);
    SimProcess sim;
    PtyLine line;
    START_SIM(sim, line);
    QVERIFY(sim.command(QStringLiteral("fault ") + fault));
    QVERIFY(line.write(command(0x33)));
    const QList<QByteArray> frames = readFrames(line, 26);
    QCOMPARE(frames.size(), 26);
    const QList<QByteArray> expected = expectedDefaultReadBack();
    for (int i = 0; i < 26; ++i)
        QCOMPARE(frames[i].toHex(' '),
                 (expected[i].mid(lost) + QByteArray(lost, ' ')).toHex(' '));
    if (lost == 1)
        QCOMPARE(frames[0].toHex(' '), QByteArray("50 01 0a 0a 06 06 06 06 06 06 46 20"));
    if (lost == 2)
        QCOMPARE(frames[0].toHex(' '), QByteArray("01 0a 0a 06 06 06 06 06 06 46 20 20"));
}

void TestEcuSim::faultCount()
{
    SimProcess sim;
    PtyLine line;
    START_SIM(sim, line);
    QVERIFY(sim.command(QStringLiteral("fault lose-hp 2")));
    QVERIFY(line.write(command(0x33)));
    const QList<QByteArray> frames = readFrames(line, 26);
    QCOMPARE(frames.size(), 26);
    const QList<QByteArray> expected = expectedDefaultReadBack();
    QCOMPARE(frames[0], expected[0].mid(2) + "  ");
    QCOMPARE(frames[1], expected[1].mid(2) + "  ");
    QCOMPARE(frames.mid(2), expected.mid(2));
}

void TestEcuSim::scannerStreamAndStop()
{
    SimProcess sim({QStringLiteral("--rate"), QStringLiteral("50")});
    PtyLine line;
    START_SIM(sim, line);
    // Nothing is streamed before the first poll.
    QVERIFY(line.readUntilQuiet(150).isEmpty());
    QVERIFY(line.write(command(0x7F)));
    const QList<QByteArray> frames = readFrames(line, 9);
    QCOMPARE(frames.size(), 9);
    for (int i = 0; i < 9; ++i) {
        QCOMPARE(frames[i].left(2), QByteArray("HP"));
        QCOMPARE(int(quint8(frames[i][2])), 29 + i % 3);
        QCOMPARE(frames[i][11], 'F');
    }
    // A further poll keeps the stream going in step.
    QVERIFY(line.write(command(0x7F)));
    const QList<QByteArray> more = readFrames(line, 6);
    QCOMPARE(more.size(), 6);
    for (int i = 0; i < 6; ++i)
        QCOMPARE(int(quint8(more[i][2])), 29 + i % 3);

    QVERIFY(line.write(command(0xD9)));
    QVERIFY(sim.waitForEvents(QStringLiteral("command D9")));
    line.readUntilQuiet(100); // what was already on the way
    QVERIFY(line.readUntilQuiet(300).isEmpty());
    // A new poll starts it again.
    QVERIFY(line.write(command(0x7F)));
    const QList<QByteArray> again = readFrames(line, 3);
    QCOMPARE(again.size(), 3);
    QCOMPARE(int(quint8(again[0][2])), 29);
}

void TestEcuSim::tpsSetting_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("tps");
    QTest::addColumn<int>("column"); // p6, throttle opening in percent
    QTest::addColumn<int>("load");   // p7, 0..42

    // With the image's TPS limits 130 and 230 * 4 = 920.
    QTest::newRow("option 900") << QStringList{"--tps", "900"} << QString() << 900 << 97 << 41;
    QTest::newRow("command 900") << QStringList{} << "tps 900" << 900 << 97 << 41;
    QTest::newRow("closed") << QStringList{} << "tps 130" << 130 << 0 << 0;
    QTest::newRow("below closed") << QStringList{} << "tps 0" << 0 << 0 << 0;
    QTest::newRow("half") << QStringList{} << "tps 525" << 525 << 50 << 21;
    QTest::newRow("full") << QStringList{} << "tps 920" << 920 << 100 << 42;
    QTest::newRow("top of the converter") << QStringList{} << "tps 1023" << 1023 << 100 << 42;
    QTest::newRow("load set by hand") << QStringList{"--tps", "300"} << "load 14" << 300 << 22 << 14;
}

void TestEcuSim::tpsSetting()
{
    QFETCH(QStringList, args);
    QFETCH(QString, control);
    QFETCH(int, tps);
    QFETCH(int, column);
    QFETCH(int, load);
    SimProcess sim(args + QStringList{"--rate", "50"});
    PtyLine line;
    START_SIM(sim, line);
    if (!control.isEmpty())
        QVERIFY(sim.command(control));
    QVERIFY(line.write(command(0x7F)));
    const QList<QByteArray> triple = readTriples(line, 1);
    QCOMPARE(triple.size(), 3);
    const QByteArray a = triple[0];
    QCOMPARE(int(quint8(a[2])), 29);
    QCOMPARE(int(quint8(a[3 + 4])) + 256 * int(quint8(a[3 + 5])), tps);
    QCOMPARE(int(quint8(a[3 + 6])), column);
    QCOMPARE(int(quint8(a[3 + 7])), load);
}

void TestEcuSim::liveValues_data()
{
    QTest::addColumn<QStringList>("controls");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("value");

    // period = 1200000 / rpm, low byte first
    QTest::newRow("rpm 3000 period low") << QStringList{"rpm 3000"} << 30 << 5 << (400 & 0xFF);
    QTest::newRow("rpm 3000 period high") << QStringList{"rpm 3000"} << 30 << 6 << (400 >> 8);
    QTest::newRow("rpm 0 period") << QStringList{"rpm 0"} << 30 << 5 << 0;
    QTest::newRow("rpm 0 pump off") << QStringList{"rpm 0"} << 30 << 7 << 0;
    QTest::newRow("running pump on") << QStringList{"rpm 900"} << 30 << 7 << 1;
    // speed axis 500, 900, 1800, 2600, ...: 3000 is half way through row 3
    QTest::newRow("rpm 3000 speed position") << QStringList{"rpm 3000"} << 30 << 1 << 21;
    QTest::newRow("rpm 500 speed position") << QStringList{"rpm 500"} << 30 << 1 << 0;
    QTest::newRow("rpm 7000 speed position") << QStringList{"rpm 7000"} << 30 << 1 << 48;
    QTest::newRow("speed set by hand") << QStringList{"speed 3"} << 30 << 1 << 3;
    // atmosphere (mbar - 820) / 20
    QTest::newRow("atm 1000") << QStringList{"atm 1000"} << 30 << 4 << 9;
    QTest::newRow("atm 880") << QStringList{"atm 880"} << 30 << 4 << 3;
    // cell 0 of both maps (speed 0, load 0): 10 degrees at 85 °C (correction 0),
    // 3.5 ms * 40 = 140 at 85 °C (Ti correction 0)
    QTest::newRow("advance at cell 0") << QStringList{"rpm 500", "tps 130"} << 30 << 0 << 10;
    QTest::newRow("injection time at cell 0")
        << QStringList{"rpm 500", "tps 130", "temp 85"} << 30 << 2 << 140;
    QTest::newRow("temperature") << QStringList{"temp 96"} << 29 << 0 << 96;
    QTest::newRow("fan on above 87") << QStringList{"temp 96"} << 31 << 5 << 1;
    QTest::newRow("fan off at 80") << QStringList{"temp 80"} << 31 << 5 << 0;
    QTest::newRow("ac off") << QStringList{} << 31 << 6 << 0;
    QTest::newRow("ac on") << QStringList{"ac on"} << 31 << 6 << 1;
    // corrections at 0 °C: Ti 55 %, advance 5 degrees
    QTest::newRow("ti correction cold") << QStringList{"temp 0"} << 31 << 2 << 55;
    QTest::newRow("advance correction cold") << QStringList{"temp 0"} << 31 << 4 << 5;
    QTest::newRow("advance correction 100 °C, signed") << QStringList{"temp 100"} << 31 << 4 << 0xFF;
    QTest::newRow("load position by hand") << QStringList{"load 14"} << 29 << 7 << 14;
}

void TestEcuSim::liveValues()
{
    QFETCH(QStringList, controls);
    QFETCH(int, kind);
    QFETCH(int, index);
    QFETCH(int, value);
    SimProcess sim({QStringLiteral("--rate"), QStringLiteral("50")});
    PtyLine line;
    START_SIM(sim, line);
    for (const QString &c : controls)
        QVERIFY(sim.command(c));
    QVERIFY(line.write(command(0x7F)));
    const QList<QByteArray> triple = readTriples(line, 1);
    QCOMPARE(triple.size(), 3);
    const QByteArray f = triple[kind - 29];
    QCOMPARE(int(quint8(f[2])), kind);
    QCOMPARE(int(quint8(f[3 + index])), value);
}

void TestEcuSim::badControlLine()
{
    SimProcess sim({QStringLiteral("--rate"), QStringLiteral("50"), QStringLiteral("--tps"),
                    QStringLiteral("200")});
    PtyLine line;
    START_SIM(sim, line);
    QVERIFY(sim.command(QStringLiteral("tps 2000")));
    QVERIFY(sim.command(QStringLiteral("tps 12x")));
    QVERIFY(sim.command(QStringLiteral("launch rockets")));
    QCOMPARE(sim.countEvents(QStringLiteral("error ")), 3);
    QVERIFY(sim.logEvents().contains(QStringLiteral("control tps 2000")));
    QVERIFY(line.write(command(0x7F)));
    const QList<QByteArray> triple = readTriples(line, 1);
    QCOMPARE(triple.size(), 3);
    QCOMPARE(int(quint8(triple[0][7])) + 256 * int(quint8(triple[0][8])), 200);
}

void TestEcuSim::silent_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("control");
    QTest::newRow("command") << QStringList{} << QStringLiteral("silent on");
    QTest::newRow("option") << QStringList{"--silent"} << QString();
}

void TestEcuSim::silent()
{
    QFETCH(QStringList, args);
    QFETCH(QString, control);
    SimProcess sim(args + QStringList{"--rate", "50"});
    PtyLine line;
    START_SIM(sim, line);
    if (!control.isEmpty())
        QVERIFY(sim.command(control));
    QVERIFY(line.write(command(0x33) + command(0x7F)));
    QVERIFY(sim.waitForEvents(QStringLiteral("command 7F")));
    QVERIFY(line.readUntilQuiet(300).isEmpty());
    // Silent, it still takes uploads.
    const QByteArray eight = hexBytes("0909090909090909");
    QVERIFY(line.write(uploadFrame(3, eight) + command(0x48)));
    QVERIFY(sim.waitForEvents(QStringLiteral("commit")));
    QCOMPARE(sim.dumpImage().mid(16, 8), eight);

    QVERIFY(sim.command(QStringLiteral("silent off")));
    QVERIFY(line.write(command(0xD9)));
    QVERIFY(sim.waitForEvents(QStringLiteral("command D9")));
    line.readUntilQuiet(100);
    QVERIFY(line.write(command(0x33)));
    const QList<QByteArray> frames = readFrames(line, 26);
    QCOMPARE(frames.size(), 26);
    QCOMPARE(frames[2], frame(3, eight));
}

void TestEcuSim::garbageAndShort()
{
    SimProcess sim({QStringLiteral("--tps"), QStringLiteral("900")});
    PtyLine line;
    START_SIM(sim, line);
    QVERIFY(sim.command(QStringLiteral("garbage 100")));
    QCOMPARE(line.readUntilQuiet(300).size(), 100);
    QVERIFY(sim.command(QStringLiteral("short")));
    const QByteArray half = line.readUntilQuiet(300);
    QCOMPARE(half.size(), 6);
    QCOMPARE(half.left(3), QByteArray("HP\x1d"));
    QCOMPARE(sim.countEvents(QStringLiteral("error ")), 0);
}

void TestEcuSim::diagnostics()
{
    SimProcess sim;
    PtyLine line;
    START_SIM(sim, line);
    QVERIFY(line.write(uploadFrame(1, hexBytes("0A0A060606060606")) + command(0x48) + bytes({0x77})));
    QVERIFY(sim.waitForEvents(QStringLiteral("dropped 77")));
    QVERIFY(sim.command(QStringLiteral("diag")));
    const QList<QByteArray> frames = readFrames(line, 3);
    QCOMPARE(frames.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(frames[i].left(2), QByteArray("HP"));
        QCOMPARE(int(quint8(frames[i][2])), 32 + i);
        QCOMPARE(frames[i][11], 'F');
    }
    // kind 32: supply reading 1000, then upload frames, commits, read
    // requests, polls, stops and dropped bytes
    QCOMPARE(frames[0].mid(3, 8).toHex(' '), QByteArray("e8 03 01 01 00 00 00 01"));
}

void TestEcuSim::logSent()
{
    SimProcess sim({QStringLiteral("--log-sent")});
    PtyLine line;
    START_SIM(sim, line);
    QVERIFY(line.write(command(0x33)));
    QCOMPARE(readFrames(line, 26).size(), 26);
    QVERIFY(sim.waitForEvents(QStringLiteral("sent "), 26));
    const QStringList sent = sim.logEvents().filter(QRegularExpression(QStringLiteral("^sent ")));
    QCOMPARE(sent.size(), 26);
    QCOMPARE(sent[24], QStringLiteral("sent 48 50 19 03 08 3C 05 06 82 E6 00 46"));
}

void TestEcuSim::rateMax()
{
    SimProcess sim({QStringLiteral("--rate"), QStringLiteral("max")});
    PtyLine line;
    START_SIM(sim, line);
    QVERIFY(line.write(command(0x7F)));
    const QList<QByteArray> frames = readFrames(line, 600);
    QCOMPARE(frames.size(), 600);
    for (int i = 0; i < frames.size(); ++i) {
        QCOMPARE(frames[i].left(2), QByteArray("HP"));
        QCOMPARE(int(quint8(frames[i][2])), 29 + i % 3);
    }
    // Control lines still get through while the line is kept full.
    QVERIFY(sim.command(QStringLiteral("rate 20")));
    QVERIFY(line.write(command(0xD9)));
    QVERIFY(sim.waitForEvents(QStringLiteral("command D9")));
}

void TestEcuSim::linkAndCleanExit_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("SIGTERM") << QStringLiteral("SIGTERM");
    QTest::newRow("SIGINT") << QStringLiteral("SIGINT");
    QTest::newRow("quit") << QStringLiteral("quit");
}

void TestEcuSim::linkAndCleanExit()
{
    QFETCH(QString, how);
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("ttyECU"));
    const QString dump = dir.filePath(QStringLiteral("exit.bin"));
    SimProcess sim({QStringLiteral("--link"), link, QStringLiteral("--dump-on-exit"), dump});
    PtyLine line;
    START_SIM(sim, line);
    QCOMPARE(QFileInfo(link).symLinkTarget(), sim.devicePath());
    line.close();
    // The program can open the device through the link.
    QVERIFY(line.open(link));
    const QByteArray eight = hexBytes("5555555555555555");
    QVERIFY(line.write(uploadFrame(32, eight) + command(0x48)));
    QVERIFY(sim.waitForEvents(QStringLiteral("commit")));
    QVERIFY(QFileInfo::exists(sim.controlPath()));
    if (how == QLatin1String("quit")) {
        QVERIFY(sim.command(how));
        QVERIFY(sim.waitForExit());
    } else {
        QVERIFY(sim.stop(5000, how == QLatin1String("SIGINT") ? SIGINT : SIGTERM));
    }
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
    QVERIFY(!QFileInfo::exists(sim.controlPath()));
    QFile f(dump);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QByteArray expected = expectedDefaultImage();
    expected.replace(248, 8, eight);
    QCOMPARE(f.readAll().toHex(' '), expected.toHex(' '));
    QVERIFY(line.waitGone());
}

void TestEcuSim::calibrationWindow()
{
    // The TPS calibration samples the closed throttle at the first kind-29
    // frame after a poll; the stop command follows at the next watchdog tick,
    // a second after the poll. The full-throttle sample is the sixth kind-29
    // frame after the first, so at the default rate fewer than six may come in
    // that second.
    SimProcess sim;
    PtyLine line;
    START_SIM(sim, line);
    QVERIFY(line.write(command(0x7F)));
    const QByteArray first = line.read(12, 5000);
    QCOMPARE(first.left(3), QByteArray("HP\x1d"));
    QThread::msleep(1000);
    QVERIFY(line.write(command(0xD9)));
    QVERIFY(sim.waitForEvents(QStringLiteral("command D9")));
    const QList<QByteArray> later = split(line.readUntilQuiet(300), 12);
    int kind29 = 0;
    for (const QByteArray &f : later)
        kind29 += f.startsWith(QByteArray("HP\x1d"));
    QVERIFY2(kind29 >= 1 && kind29 < 6, qPrintable(QString::number(kind29)));
}

void TestEcuSim::killedDeviceGoes()
{
    SimProcess sim({QStringLiteral("--rate"), QStringLiteral("50")});
    PtyLine line;
    START_SIM(sim, line);
    QVERIFY(line.write(command(0x7F)));
    QCOMPARE(readFrames(line, 3).size(), 3);
    sim.kill();
    QVERIFY(!sim.isRunning());
    QVERIFY(line.waitGone());
    QVERIFY(!sim.command(QStringLiteral("tps 1"), 500));
}

void TestEcuSim::reopenAfterClose()
{
    SimProcess sim({QStringLiteral("--rate"), QStringLiteral("50")});
    PtyLine line;
    START_SIM(sim, line);
    QVERIFY(line.write(command(0x7F)));
    QCOMPARE(readFrames(line, 3).size(), 3);
    // The program closes the port right after its last command: the command
    // still counts.
    QVERIFY(line.write(command(0xD9)));
    line.close();
    QVERIFY(sim.waitForEvents(QStringLiteral("hangup")));
    QVERIFY(sim.waitForEvents(QStringLiteral("command D9")));

    // No device open: the simulator waits without spinning.
    const long before = cpuTicks(sim.pid());
    QThread::msleep(1000);
    const long after = cpuTicks(sim.pid());
    QVERIFY(before >= 0 && after >= 0);
    const long hz = sysconf(_SC_CLK_TCK);
    QVERIFY2(after - before < hz * 3 / 10,
             qPrintable(QStringLiteral("%1 ticks of CPU in 1 s").arg(after - before)));

    // Opened again, it answers as before, and the stream left off with the port.
    QVERIFY(line.open(sim.devicePath()));
    QVERIFY(sim.waitForEvents(QStringLiteral("connected")));
    QVERIFY(line.readUntilQuiet(200).isEmpty());
    QVERIFY(line.write(command(0x33)));
    const QList<QByteArray> frames = readFrames(line, 26);
    QCOMPARE(frames, expectedDefaultReadBack());
}

namespace {
int rpmOf(const QByteArray &kind30)
{
    const int period = quint8(kind30[3 + 5]) + 256 * quint8(kind30[3 + 6]);
    return period > 0 ? 1200000 / period : 0;
}
} // namespace

void TestEcuSim::driveStream_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("control");
    // Seven seconds in, the car pulls away in first gear.
    QTest::newRow("option") << QStringList{"--drive-at", "7"} << QString();
    QTest::newRow("control line") << QStringList{} << QStringLiteral("drive at 7");
}

void TestEcuSim::driveStream()
{
    QFETCH(QStringList, args);
    QFETCH(QString, control);
    SimProcess sim(args + QStringList{"--rate", "20"});
    PtyLine line;
    START_SIM(sim, line);
    if (!control.isEmpty())
        QVERIFY(sim.command(control));
    QVERIFY(line.write(command(0x7F)));
    const QList<QByteArray> frames = readTriples(line, 20);
    QCOMPARE(frames.size(), 60);
    QList<int> rpms, speeds;
    for (int i = 0; i < frames.size(); i += 3) {
        QCOMPARE(int(quint8(frames[i + 1][2])), 30);
        rpms << rpmOf(frames[i + 1]);
        speeds << int(qint8(frames[i + 1][3 + 1]));
        const int load = quint8(frames[i][3 + 7]);
        QVERIFY2(load >= 24 && load <= 30, qPrintable(QString::number(load)));
    }
    const QString seen = QStringLiteral("rpm %1; speed positions %2")
                             .arg(QString::number(rpms.first()) + ".." + QString::number(rpms.last()),
                                  QString::number(speeds.first()) + ".." + QString::number(speeds.last()));
    // A second of pulling in first gear: the engine speed climbs, and with it the
    // speed position, never backwards.
    QVERIFY2(rpms.last() > rpms.first() + 300, qPrintable(seen));
    for (int i = 0; i < rpms.size(); ++i) {
        QVERIFY2(rpms[i] >= 1250 && rpms[i] <= 4850, qPrintable(seen));
        if (i > 0)
            QVERIFY2(speeds[i] >= speeds[i - 1], qPrintable(seen));
    }
    QVERIFY2(speeds.last() > speeds.first(), qPrintable(seen));

    // Off again: the steady engine as it was set (900 rpm, TPS 150).
    QVERIFY(sim.command(QStringLiteral("drive off")));
    QList<QByteArray> after = readTriples(line, 12);
    QCOMPARE(after.size(), 36);
    int firstSteady = -1;
    for (int i = 0; i < after.size(); i += 3)
        if (rpmOf(after[i + 1]) == 900 && firstSteady < 0)
            firstSteady = i;
    QVERIFY(firstSteady >= 0 && firstSteady <= 18);
    for (int i = firstSteady; i < after.size(); i += 3) {
        QCOMPARE(rpmOf(after[i + 1]), 900);
        QCOMPARE(quint8(after[i][3 + 4]) + 256 * quint8(after[i][3 + 5]), 150);
        QCOMPARE(int(quint8(after[i][3])), 85);
    }
}

void TestEcuSim::driveControlLine_data()
{
    QTest::addColumn<QStringList>("control");
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("tempLo");
    QTest::addColumn<int>("tempHi");
    QTest::addColumn<int>("rpmLo");
    QTest::addColumn<int>("rpmHi");

    const QString drive = QStringLiteral("error drive needs on, off or at SECONDS");
    QTest::newRow("drive on: a cold engine at fast idle")
        << QStringList{"drive on"} << QString() << 20 << 22 << 1150 << 1250;
    QTest::newRow("drive at 200: warm, pulling") << QStringList{"drive at 200"} << QString() << 79 << 92 << 1300 << 4800;
    QTest::newRow("drive off without a drive") << QStringList{"drive off"} << QString() << 85 << 85 << 900 << 900;
    QTest::newRow("unknown word") << QStringList{"drive sideways"} << drive << 85 << 85 << 900 << 900;
    QTest::newRow("negative start") << QStringList{"drive at -3"} << drive << 85 << 85 << 900 << 900;
    QTest::newRow("no start") << QStringList{"drive at"} << drive << 85 << 85 << 900 << 900;
    // The steady points: warm from the start, idle at speed position 6 first, the
    // middle of row 4 (3400 rpm and up) 100 s in.
    QTest::newRow("cycle points, drive on: warm idle")
        << QStringList{"cycle points", "drive on"} << QString() << 85 << 85 << 930 << 1020;
    QTest::newRow("cycle points, drive at 100: row 4")
        << QStringList{"cycle points", "drive at 100"} << QString() << 85 << 85 << 3400 << 3540;
    QTest::newRow("back to the free cycle: cold idle")
        << QStringList{"cycle points", "cycle free", "drive on"} << QString() << 20 << 22 << 1150 << 1250;
    QTest::newRow("unknown cycle") << QStringList{"cycle uphill", "drive on"}
                                   << QStringLiteral("error cycle needs free or points") << 20 << 22 << 1150 << 1250;
    QTest::newRow("cycle without a word") << QStringList{"cycle"}
                                          << QStringLiteral("error cycle needs free or points") << 85 << 85 << 900 << 900;
}

void TestEcuSim::driveControlLine()
{
    QFETCH(QStringList, control);
    QFETCH(QString, error);
    QFETCH(int, tempLo);
    QFETCH(int, tempHi);
    QFETCH(int, rpmLo);
    QFETCH(int, rpmHi);
    SimProcess sim({QStringLiteral("--rate"), QStringLiteral("50")});
    PtyLine line;
    START_SIM(sim, line);
    for (const QString &c : control)
        QVERIFY(sim.command(c));
    QCOMPARE(sim.countEvents(QStringLiteral("error ")), error.isEmpty() ? 0 : 1);
    if (!error.isEmpty())
        QVERIFY(sim.logEvents().contains(error));
    QVERIFY(line.write(command(0x7F)));
    const QList<QByteArray> triple = readTriples(line, 1);
    QCOMPARE(triple.size(), 3);
    const int temp = quint8(triple[0][3]);
    const int rpm = rpmOf(triple[1]);
    QVERIFY2(temp >= tempLo && temp <= tempHi, qPrintable(QString::number(temp)));
    QVERIFY2(rpm >= rpmLo && rpm <= rpmHi, qPrintable(QString::number(rpm)));
}

namespace {

// The start-up injection map plus 10 %, in tenths of a millisecond.
int needTenths(int cell) { return qRound(quint8(expectedDefaultImage()[72 + cell]) * 1.1); }

// The need as a map file, every other field 0.
QByteArray needFileTenPercentMore()
{
    QList<QByteArray> fields(202, "0");
    for (int k = 0; k < 72; ++k) {
        const int tenths = needTenths(k);
        fields[80 + k] = QByteArray::number(tenths / 10) + ',' + QByteArray::number(tenths % 10);
    }
    return fields.join(';') + "\r\n";
}

// CorrCurto + CorrLongo of the triples that inject, and the largest CorrLongo.
struct Corrections {
    double mean = 0;
    int largestLong = 0;
    int injecting = 0;
};

Corrections correctionsOf(const QList<QByteArray> &frames)
{
    Corrections c;
    double sum = 0;
    for (int i = 0; i + 2 < frames.size(); i += 3) {
        const int ti = quint8(frames[i + 1][3 + 2]) + 256 * quint8(frames[i + 1][3 + 3]);
        if (ti == 0)
            continue;
        const int longCorr = qint8(frames[i + 2][3 + 1]);
        sum += qint8(frames[i + 2][3]) + longCorr;
        c.largestLong = std::max(c.largestLong, std::abs(longCorr));
        ++c.injecting;
    }
    c.mean = c.injecting ? sum / c.injecting : 0;
    return c;
}

} // namespace

// A warm drive 20 times faster than the clock on an engine that needs 10 % more
// than the start-up map: the loop adds 10 % and learns it. An upload of that
// need starts the learning afresh and leaves nothing to correct.
void TestEcuSim::engineNeedAndUpload()
{
    QTemporaryDir dir;
    const QString needPath = dir.filePath(QStringLiteral("need.txt"));
    {
        QFile f(needPath);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(needFileTenPercentMore());
    }
    SimProcess sim({"--kind-engine", "--engine", needPath, "--drive-at", "190", "--speedup", "20", "--rate", "50"});
    PtyLine line;
    START_SIM(sim, line);
    QVERIFY(line.write(command(0x7F)));
    readTriples(line, 50); // settling
    const Corrections before = correctionsOf(readTriples(line, 100));
    const QString seen = QStringLiteral("mean %1, long up to %2 over %3 triples");
    QVERIFY2(before.injecting > 50 && before.mean > 7.5 && before.mean < 12.5 && before.largestLong >= 3,
             qPrintable(seen.arg(before.mean).arg(before.largestLong).arg(before.injecting)));

    QVERIFY(line.write(command(0xD9)));
    line.readUntilQuiet(300);
    QByteArray blocks;
    for (int b = 10; b <= 18; ++b) {
        QByteArray eight;
        for (int i = 0; i < 8; ++i)
            eight.append(char(needTenths(8 * (b - 10) + i)));
        blocks += uploadFrame(b, eight);
    }
    QVERIFY(line.write(blocks + command(0x48)));
    QVERIFY(sim.waitForEvents(QStringLiteral("commit")));
    QVERIFY(line.write(command(0x7F)));
    const Corrections fresh = correctionsOf(readTriples(line, 5));
    QVERIFY2(fresh.largestLong <= 1, qPrintable(seen.arg(fresh.mean).arg(fresh.largestLong).arg(fresh.injecting)));
    readTriples(line, 45);
    const Corrections after = correctionsOf(readTriples(line, 100));
    QVERIFY2(after.injecting > 50 && std::abs(after.mean) < 1.5,
             qPrintable(seen.arg(after.mean).arg(after.largestLong).arg(after.injecting)));
}

QTEST_GUILESS_MAIN(TestEcuSim)
#include "tst_ecusim.moc"
