// Writes the seed inputs of the fuzz targets into the folder given as the argument, one
// subfolder per target: the frames of every kind whole and shifted, a read-back, a
// scanner run and a TPS calibration as the ECU would send them; the map file that a
// fresh screen saves and variants of it; number texts and values.
#include "datalog/logformat.h"
#include "datalog/recorder.h"
#include "fakecore.h"
#include "inputs.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <random>
#include <cstring>
#include <initializer_list>
#include <limits>

namespace {

using Payload = std::array<std::uint8_t, 8>;

QDir root;
int written = 0;

void put(const QString &target, const QString &name, const QByteArray &bytes)
{
    root.mkpath(target);
    QFile f(root.filePath(target + u'/' + name));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "make_seeds: cannot write %s\n", qPrintable(f.fileName()));
        std::exit(1);
    }
    ++written;
}

// --- frames ----------------------------------------------------------------------

namespace fr = fuzzinput::frames;

QByteArray frame(int kind, const Payload &p)
{
    QByteArray f("HP");
    f.append(char(kind));
    for (std::uint8_t b : p)
        f.append(char(b));
    f.append('F');
    return f;
}

// The same frame with its "H", or "H" and "P", lost and blanks after the "F".
QByteArray shifted(const QByteArray &whole, int lost) { return whole.mid(lost) + QByteArray(lost, ' '); }

// A step that reads these bytes (at most 12), after an optional window event.
QByteArray step(const QByteArray &read, fr::Event e = fr::ReadOnly)
{
    return QByteArray(1, char(fr::control(e, int(read.size())))) + read;
}

QByteArray event(fr::Event e) { return step({}, e); }

Payload samplePayload(int kind)
{
    switch (kind) {
    case 1: return {10, 20, 30, 40, 50, 60, 70, 80};
    case 10: return {35, 255, 0, 52, 58, 60, 61, 62};
    case 19: return {0xFE, 40, 30, 20, 12, 5, 0, 0};
    case 22: return {0, 1, 0xFF, 3, 10, 30, 5, 3};
    case 23: return {10, 0, 15, 30, 55, 70, 82, 10};
    case 24: return {22, 15, 87, 80, 7, 20, 10, 70};
    case 25: return {6, 8, 60, 10, 6, 130, 230, 1};
    case 26: return {144, 0xFF, 0, 0, 0, 0, 0, 0};
    case 29: return {94, 40, 30, 45, 200, 0, 12, 20};
    case 30: return {12, 14, 0x10, 0x01, 9, 0xE8, 0x03, 1};
    case 31: return {0xFB, 3, 5, 0xFE, 2, 1, 0, 0};
    case 32: return {0xFF, 0x03, 1, 2, 3, 4, 5, 6};
    default: return {1, 2, 3, 4, 5, 6, 7, 8};
    }
}

void frameSeeds()
{
    const QString t = QStringLiteral("fuzz_frames");
    for (int kind : {0, 1, 2, 9, 10, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 29, 30, 31, 32, 33, 34, 35, 70, 255}) {
        const QByteArray whole = frame(kind, samplePayload(kind));
        const QString k = QString::number(kind);
        put(t, "kind" + k, char(fr::PortOpen) + step(whole));
        put(t, "kind" + k + "-lost-h", char(fr::PortOpen) + step(shifted(whole, 1)));
        put(t, "kind" + k + "-lost-hp", char(fr::PortOpen) + step(shifted(whole, 2)));
        put(t, "kind" + k + "-nine", char(fr::PortOpen) + step(whole.left(8) + 'F'));
    }
    put(t, "no-f", char(fr::PortOpen) + step(QByteArray("HP\x01") + QByteArray(9, 'x')));
    put(t, "split", char(fr::PortOpen) + step(frame(1, samplePayload(1)).left(5)) + step(frame(1, samplePayload(1)).mid(5)));

    // A read-back: request, kinds 1 to 26 in order, a watchdog tick between two of them.
    QByteArray readBack(1, char(fr::PortOpen));
    readBack += event(fr::ReadRequest);
    for (int kind = 1; kind <= 26; ++kind) {
        readBack += step(frame(kind, samplePayload(kind)));
        if (kind == 13)
            readBack += event(fr::ReadBackTick);
    }
    put(t, "read-back", readBack);
    QByteArray silent(1, char(fr::PortOpen));
    silent += event(fr::ReadRequest) + step(frame(1, samplePayload(1)));
    for (int i = 0; i < 7; ++i)
        silent += event(fr::ReadBackTick);
    put(t, "read-back-silent", silent);

    // The scanner: live data between watchdog ticks, then a silent period.
    QByteArray scanner(1, char(fr::PortOpen | fr::ScannerOn));
    scanner += event(fr::Timer1Tick);
    for (int round = 0; round < 3; ++round) {
        for (int kind : {29, 30, 31}) {
            Payload p = samplePayload(kind);
            p[1] = std::uint8_t(p[1] + 6 * round);
            scanner += step(frame(kind, p));
        }
        scanner += event(fr::Timer1Tick);
    }
    scanner += event(fr::Timer1Tick) + event(fr::ToggleScanner) + event(fr::Timer1Tick);
    put(t, "scanner", scanner);

    // A TPS calibration: closed throttle at 200, full throttle at 900.
    auto tps = [](int reading) {
        Payload p = samplePayload(29);
        p[4] = std::uint8_t(reading & 0xFF);
        p[5] = std::uint8_t(reading >> 8);
        return step(frame(29, p));
    };
    QByteArray calibration(1, char(fr::PortOpen | fr::StartTpsCalibration));
    calibration += event(fr::TimerTpsTick) + tps(200) + tps(200);
    for (int i = 0; i < 3; ++i)
        calibration += event(fr::TimerTpsTick);
    for (int i = 0; i < 6; ++i)
        calibration += tps(900);
    for (int i = 0; i < 40; ++i)
        calibration += event(fr::TimerTpsTick);
    put(t, "tps-calibration", calibration);
    QByteArray cancelled(1, char(fr::PortOpen | fr::StartTpsCalibration));
    cancelled += event(fr::TimerTpsTick) + tps(300) + tps(300);
    for (int i = 0; i < 3; ++i)
        cancelled += event(fr::TimerTpsTick);
    put(t, "tps-calibration-cancelled", cancelled);
    put(t, "tps-flag", char(fr::PortOpen | fr::ScannerOn | fr::TpsFlag) + tps(100) + tps(1023) + event(fr::ToggleTpsFlag) +
                           tps(5));
}

// --- map files -------------------------------------------------------------------

QByteArray defaultMapFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("default.txt"));
    CoreRig rig;
    rig.prompt.fileAnswers.push_back(path);
    rig.guarded([&] { rig.c().btnSalvarClick(); });
    QFile f(path);
    if (!rig.prompt.messages.isEmpty() || !f.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "make_seeds: the fresh screen does not save: %s\n",
                     qPrintable(rig.prompt.messages.join(u' ')));
        std::exit(1);
    }
    return f.readAll();
}

void mapFileSeeds()
{
    const QString t = QStringLiteral("fuzz_mapfile");
    const QByteArray line = defaultMapFile();
    put(t, "default", line);
    QByteArray fields = line.chopped(2);
    put(t, "no-line-end", fields);
    put(t, "two-lines", line + "TPS X RPM;1;2\r\n");
    put(t, "lf-only", fields + '\n');
    put(t, "empty", {});
    put(t, "wheel-36-1", QByteArray(fields).replace(";60-2;", ";36-1;") + "\r\n");
    put(t, "wheel-2+2", QByteArray(fields).replace(";60-2;", ";2+2;") + "\r\n");
    put(t, "wheel-blank", QByteArray(fields).replace(";60-2;", ";60-2 ;") + "\r\n");
    put(t, "scale-9400", QByteArray(fields).replace(";6600;", ";9400;") + "\r\n");
    put(t, "scale-other", QByteArray(fields).replace(";6600;", ";7000;") + "\r\n");
    put(t, "tps-bad", fields.left(fields.lastIndexOf(';')) + ";2x\r\n");
    put(t, "tps-empty", fields.left(fields.lastIndexOf(';')) + ";\r\n");
    put(t, "one-more-field", fields + ";5\r\n");
    put(t, "one-field-less", fields.left(fields.lastIndexOf(';')) + "\r\n");
    put(t, "latin1", QByteArray(fields).replace("Normal", "Normal\xe7\xe3o") + "\r\n");
    QByteArray many = fields;
    for (int i = 0; i < 60; ++i)
        many += ";9";
    put(t, "past-256-slots", many + "\r\n");
}

// --- number texts ----------------------------------------------------------------

namespace nt = fuzzinput::numtext;

QByteArray bitsOf(long double v)
{
    unsigned char raw[sizeof(long double)];
    std::memcpy(raw, &v, sizeof v);
    return QByteArray(reinterpret_cast<const char *>(raw), nt::numberSize);
}

QByteArray decimalOf(std::int64_t mantissa, int powerOfTen)
{
    QByteArray b(nt::numberSize, '\0');
    std::memcpy(b.data(), &mantissa, 8);
    b[8] = char(powerOfTen);
    return b;
}

QByteArray numberInput(nt::Encoding e, nt::Source s, int format, const QByteArray &number, const QByteArray &text = {})
{
    return char(nt::choiceByte(e, s, format)) + number + text;
}

// Every value through every format, the decimal readings through every format, and
// every text in each encoding, its value through a format in turn and the text itself
// as a pattern.
void numberSeeds()
{
    const QString t = QStringLiteral("fuzz_numtext");
    const long double values[] = {0.0L, -0.0L, 1.5L, -2.75L, 0.05L, 25.5L, 3.6L, 1e15L, 1e-5L, 9.95L, 1e-6L,
                                  LDBL_MAX, LDBL_TRUE_MIN, LDBL_MIN, std::numeric_limits<long double>::infinity(),
                                  -std::numeric_limits<long double>::infinity(),
                                  std::numeric_limits<long double>::quiet_NaN(), 999999999999999.5L, 1023.0L / 5};
    const std::pair<const char *, QByteArray> decimals[] = {{"decimal-tie", decimalOf(25, 1) + "2,5"},
                                                            {"decimal-hundredths", decimalOf(-1005, 3) + "-1,005"}};
    for (int f = 0; f < nt::formatCount; ++f) {
        const QString format = "-f" + QString::number(f);
        int i = 0;
        for (long double v : values)
            put(t, "value" + QString::number(i++) + format, numberInput(nt::Utf8, nt::Bits, f, bitsOf(v)));
        for (const auto &[name, bytes] : decimals) {
            put(t, name + format, numberInput(nt::Utf8, nt::Decimal, f, bytes));
            put(t, name + QStringLiteral("-parsed") + format, numberInput(nt::Latin1, nt::Parsed, f, bytes));
        }
    }
    const char *const texts[] = {"0", "3,6", "-2", "+7", "1,5E3", " 12,5\t", "2147483647", "-2147483648",
                                 "2147483648", "0,05", "2,75", "1E4933", "1e-4950", "abc", "1.5", "5,", ",5",
                                 "", "-", "1E", "1,2,3", "0;-0;0", "0.00 ", "\xc3\xa7", "00012"};
    int i = 0;
    for (const char *text : texts) {
        const QString name = "text" + QString::number(i);
        const QString utf16 = QString::fromUtf8(text);
        const QByteArray encoded[] = {text, QByteArray(text),
                                      QByteArray(reinterpret_cast<const char *>(utf16.utf16()), utf16.size() * 2)};
        for (nt::Encoding e : {nt::Utf8, nt::Latin1, nt::Utf16})
            put(t, name + "-e" + QString::number(e),
                numberInput(e, nt::Parsed, i % nt::formatCount, bitsOf(1.25L), encoded[e]));
        put(t, name + "-pattern", numberInput(nt::Latin1, nt::Bits, nt::textPattern, bitsOf(1.25L), text));
        ++i;
    }
}

// --- datalogs ----------------------------------------------------------------------

// The live values of a short drive: idle, a pull through the map, overrun.
LiveValues driveSample(int i)
{
    LiveValues v;
    v.temperature = 60 + i / 2;
    v.columnMap = 10 + i;
    v.idleActuator = 40 - i % 20;
    v.probeMv = 100 + (i * 70) % 800;
    v.tpsReading = (i * 53) % 1024;
    v.columnTps = v.tpsReading / 128;
    v.loadPosition = (i * 3) % 43;
    v.advance = 10 + i % 25;
    v.speedPosition = (i * 5) % 49;
    v.pressure = 1000;
    v.rpm = 900 + 150 * i;
    v.injectionTenths = i % 9 == 8 ? 0 : 25 + i;
    v.pump = 1;
    v.markedCell = 8 * (v.speedPosition / 6) + v.loadPosition / 6;
    v.correctionShort = i % 11 - 5;
    v.correctionLong = i % 3 - 1;
    v.fan = i > 30;
    return v;
}

// A log as the recorder writes it: a row per sample and two markers.
QByteArray recordedDrive(int samples)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("drive.msl"));
    std::int64_t now = 0;
    Recorder r([&now] { return now; });
    r.start(path, "tune\r\n");
    for (int i = 0; i < samples; ++i) {
        now += 20'000'000;
        for (int kind : {29, 30, 31})
            r.frame(kind, driveSample(i));
        if (i == 5 || i == samples - 3)
            r.mark();
    }
    r.stop();
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "make_seeds: the recorder wrote no log\n");
        std::exit(1);
    }
    return f.readAll();
}

void mslSeeds()
{
    const QString t = QStringLiteral("fuzz_msl");
    const QByteArray drive = recordedDrive(40);
    put(t, "drive", drive);
    QByteArray perFrame = drive;
    perFrame.replace(logformat::perSampleLine(), "");
    put(t, "row-per-frame", perFrame);
    put(t, "torn-last-line", drive.chopped(7));
    put(t, "crlf", QByteArray(drive).replace("\n", "\r\n"));
    put(t, "decimal-comma", QByteArray(drive).replace('.', ','));
    put(t, "semicolons", QByteArray(drive).replace('\t', ';'));
    // Another layout: a few channels in another order, quoted names, no units row.
    QByteArray other = "\"Other 1.0\"\n\"RPM\"\tSonda\tTime\tCorrCurto\n";
    for (int i = 0; i < 30; ++i) {
        const LiveValues v = driveSample(i);
        other += QByteArray::number(v.rpm) + '\t' + QByteArray::number(v.probeMv) + '\t' +
                 logformat::seconds(20 * i) + '\t' + QByteArray::number(v.correctionShort) + '\n';
    }
    put(t, "other-layout", other);
    put(t, "only-time", "Time\tHora\n0.000\t1\n");
    put(t, "empty", {});
}

// --- clipboard blocks ------------------------------------------------------------

void mapBlockSeeds()
{
    const QString t = QStringLiteral("fuzz_mapblock");
    // Header: map and view, first cell, extra rows, extra columns.
    const struct {
        const char *name;
        QByteArray header;
        QByteArray text;
    } seeds[] = {
        {"sheet-crlf-tab", QByteArray("\x01\x00\x00\x00", 4), "3,5\t5,2\t\r\n3,1\t4,3\t\r\n"},
        {"semicolons", QByteArray("\x00\x09\x01\x01", 4), "10;12\n14;16\n"},
        {"spaces-points", QByteArray("\x01\x12\x00\x00", 4), "1.5  2.5\n3.5 4.5"},
        {"fill-percent", QByteArray("\x03\x00\x08\x07", 4), "37,5"},
        {"does-not-fit", QByteArray("\x00\x47\x00\x00", 4), "1\t2\n3\t4"},
        {"ragged", QByteArray("\x00\x00\x00\x00", 4), "1 2 3\n4 5\n"},
        {"out-of-range", QByteArray("\x01\x00\x00\x00", 4), "25,04\t25,06\r\n"},
    };
    for (const auto &s : seeds)
        put(t, QString::fromLatin1(s.name), s.header + s.text);
}

// --- sessions of actions and link events -----------------------------------------

void sessionSeeds()
{
    const QString t = QStringLiteral("fuzz_session");
    // Four bytes a step: random walks of several lengths, each from its own seed.
    for (int i = 0; i < 8; ++i) {
        std::mt19937 random(std::uint32_t(1000 + i));
        QByteArray bytes;
        for (int n = 0; n < 64 * (1 + i % 4); ++n)
            bytes.append(char(random()));
        put(t, QStringLiteral("walk-%1").arg(i), bytes);
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds FOLDER\n");
        return 2;
    }
    root = QDir(QString::fromLocal8Bit(argv[1]));
    if (!root.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "make_seeds: cannot make %s\n", argv[1]);
        return 1;
    }
    frameSeeds();
    mapFileSeeds();
    numberSeeds();
    mslSeeds();
    mapBlockSeeds();
    sessionSeeds();
    std::printf("make_seeds: %d seeds in %s\n", written, argv[1]);
    return 0;
}
