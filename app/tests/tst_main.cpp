// The program as it starts: without a display it says so on one line and ends with
// code 2; with VELTO_GRAB it writes a PNG of the shown window, in which
// velto-findpicture finds the picture.
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

namespace
{
struct Run {
    int code = -1;
    QByteArray out, err;
};

Run run(const QString &program, const QStringList &args, const QProcessEnvironment &env)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    Run r;
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit)
        return r;
    r.code = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

QProcessEnvironment offscreen(const QString &grab)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("VELTO_GRAB", grab);
    return env;
}

Run findPicture(const QString &window)
{
    return run(QStringLiteral(VELTO_FINDPICTURE), {window, QStringLiteral(VELTO_PICTURE_FILE)},
               QProcessEnvironment::systemEnvironment());
}
} // namespace

class TstMain : public QObject
{
    Q_OBJECT
private slots:
    void noDisplay();
    void signalEndsTheStartUpRefusal_data();
    void signalEndsTheStartUpRefusal();
    void grabShowsThePicture();
    void grabCannotWrite();
    void vehicleAtStart_data();
    void vehicleAtStart();
    void pictureNotShown_data();
    void pictureNotShown();
};

void TstMain::noDisplay()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    const Run r = run(QStringLiteral(VELTO_EXE), {}, env);
    QCOMPARE(r.code, 2);
    QCOMPARE(r.err, QByteArray("velto: no display available: set DISPLAY or QT_QPA_PLATFORM=offscreen\n"));
    QCOMPARE(r.out, QByteArray());
}

// Whether the process catches the signal (its handler is installed).
static bool catches(qint64 pid, int signal)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signal - 1)) & 1;
    return false;
}

// velto LOG.msl with a log it refuses shows the refusal before its event loop runs:
// SIGTERM or SIGHUP then still ends the program, as it does once the window runs.
void TstMain::signalEndsTheStartUpRefusal_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

void TstMain::signalEndsTheStartUpRefusal()
{
    QFETCH(int, signal);
    QTemporaryDir dir;
    const QString log = dir.filePath("outro.msl");
    QFile f(log);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("RPM;Ti\n900;2.5\n");
    f.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(VELTO_EXE), {log});
    QVERIFY(p.waitForStarted());
    // Once the program catches the signal; the box waits for an answer that never comes.
    QTRY_VERIFY_WITH_TIMEOUT(catches(p.processId(), signal), 30000);
    ::kill(pid_t(p.processId()), signal);
    const bool ended = p.waitForFinished(30000);
    if (!ended) {
        p.kill();
        p.waitForFinished();
    }
    QVERIFY(ended);
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
}

void TstMain::grabShowsThePicture()
{
    QTemporaryDir dir;
    const QString png = dir.filePath("window.png");
    const Run r = run(QStringLiteral(VELTO_EXE), {}, offscreen(png));
    QCOMPARE(r.code, 0);
    QCOMPARE(r.out, QByteArray());
    const QImage window(png, "PNG");
    QCOMPARE(window.size(), QSize(972, 732)); // the pages and the status line under them
    // Shown once, on the page in front: Image2 at (686, 8) of the configuration page,
    // whose top left corner is at (2, 26) of the window.
    const Run found = findPicture(png);
    QCOMPARE(found.code, 0);
    QCOMPARE(found.out, QByteArray("picture at 688,34\n"));
}

void TstMain::grabCannotWrite()
{
    const Run r = run(QStringLiteral(VELTO_EXE), {}, offscreen("/nonexistent/window.png"));
    QCOMPARE(r.code, 1);
    QVERIFY2(r.err.endsWith("velto: cannot write /nonexistent/window.png\n"), r.err.constData());
}

// velto --vehicle DIR (or VELTO_VEHICLE=DIR): the vehicle's history is made and open,
// its name in the field beside "Veículo".
void TstMain::vehicleAtStart_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("variable");
    QTest::newRow("--vehicle DIR") << QStringList{"--vehicle", "@"} << false;
    QTest::newRow("--vehicle=DIR") << QStringList{"--vehicle=@"} << false;
    QTest::newRow("VELTO_VEHICLE") << QStringList{} << true;
}

void TstMain::vehicleAtStart()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, variable);
    QTemporaryDir dir;
    const QString folder = dir.filePath("Uno 1.0");
    for (QString &a : arguments)
        a.replace("@", folder);
    const Run without = run(QStringLiteral(VELTO_EXE), {}, offscreen(dir.filePath("without.png")));
    QCOMPARE(without.code, 0);
    QProcessEnvironment env = offscreen(dir.filePath("with.png"));
    if (variable)
        env.insert("VELTO_VEHICLE", folder);
    const Run r = run(QStringLiteral(VELTO_EXE), arguments, env);
    QCOMPARE(r.code, 0);
    QVERIFY(QFileInfo(folder + "/.git").isDir());
    // The field eVeiculo at (388, 382) of the configuration page, whose top left corner
    // is at (2, 26) of the window: empty without a vehicle, the name with one.
    const QRect field(2 + 388, 26 + 382, 254, 24);
    const QImage a = QImage(dir.filePath("without.png"), "PNG").copy(field);
    const QImage b = QImage(dir.filePath("with.png"), "PNG").copy(field);
    QVERIFY(!a.isNull() && !b.isNull());
    QVERIFY(a != b);
}

// The tool finds the picture only as it is, pixel for pixel.
void TstMain::pictureNotShown_data()
{
    QTest::addColumn<QString>("drawn");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("out");
    QTest::newRow("as it is") << "picture" << 0 << QByteArray("picture at 30,40\n");
    QTest::newRow("twice") << "twice" << 0 << QByteArray("picture at 30,40\npicture at 100,170\n");
    QTest::newRow("nothing") << "nothing" << 1 << QByteArray();
    QTest::newRow("one pixel differs") << "pixel" << 1 << QByteArray();
    QTest::newRow("one pixel smaller") << "scaled" << 1 << QByteArray();
    QTest::newRow("cut by the edge") << "edge" << 1 << QByteArray();
}

void TstMain::pictureNotShown()
{
    QFETCH(QString, drawn);
    QFETCH(int, code);
    QFETCH(QByteArray, out);
    QImage picture(QStringLiteral(VELTO_PICTURE_FILE), "JPEG");
    QVERIFY(!picture.isNull());
    QImage window(400, 300, QImage::Format_RGB32);
    window.fill(Qt::white);
    {
        QPainter p(&window);
        if (drawn == "picture" || drawn == "twice")
            p.drawImage(30, 40, picture);
        if (drawn == "twice")
            p.drawImage(100, 170, picture);
        if (drawn == "scaled")
            p.drawImage(30, 40, picture.scaled(picture.width() - 1, picture.height() - 1));
        if (drawn == "edge")
            p.drawImage(400 - picture.width() + 1, 40, picture);
        if (drawn == "pixel") {
            picture.setPixel(140, 50, qRgb(0, 255, 0));
            p.drawImage(30, 40, picture);
        }
    }
    QTemporaryDir dir;
    const QString png = dir.filePath("window.png");
    QVERIFY(window.save(png, "PNG"));
    const Run r = findPicture(png);
    QCOMPARE(r.code, code);
    QCOMPARE(r.out, out);
    QCOMPARE(r.err, code == 0 ? QByteArray()
                              : "velto-findpicture: the picture is not shown in " + png.toLocal8Bit() + "\n");
}

QTEST_GUILESS_MAIN(TstMain)
#include "tst_main.moc"
